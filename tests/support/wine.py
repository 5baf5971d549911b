"""A Wine prefix and an X display of the tests' own, for running the Windows executables.

Everything started here carries the tag of the session in its environment and is ended by its
Unix pid at the close; Wine's own services inherit the tag from the first program of the prefix.
Wine's output always goes to files: its services inherit descriptors and keep pipes open."""

import os
import shutil
import subprocess
import tempfile
import unittest
import uuid

import harness

# Debian's Wine has no preloader to keep the low addresses of a Windows process free before the
# Unix libraries are mapped: with the layout randomised, a process start now and then (about one
# document opened through the shell in a thousand) finds the address of the shared user data
# taken and dies with status 1, unseen under -all. A fixed layout, which every process Wine
# starts inherits, avoids it.
WINE = ["setarch", "--addr-no-randomize", "/usr/lib/wine/wine64"]
WINESERVER = "/usr/lib/wine/wineserver"


class WineSession:
    def __init__(self, screen="1024x768"):
        self.root = tempfile.TemporaryDirectory(prefix="orbedo-wine-")
        self.prefix = os.path.join(self.root.name, "prefix")
        self.drive_c = os.path.join(self.prefix, "drive_c")
        self.tag = uuid.uuid4().hex
        self.xvfb = None
        try:
            self._start_display(screen)
            self._make_prefix()
        except BaseException:
            self.close()
            raise

    def _start_display(self, screen):
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp", "-screen", "0",
             screen + "x24"],
            pass_fds=[write_end], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as display:
            self.display = ":" + display.readline().strip()

    def _make_prefix(self):
        # The first program run in a new prefix boots it; were that program wineboot -i, the prefix
        # would be booted twice, with two service managers, and COM's activations would fail now
        # and then.
        with open(os.path.join(self.root.name, "wineboot.log"), "wb") as log:
            subprocess.run([*WINE, "cmd", "/c", "exit"], env=self.environment(),
                           stdin=subprocess.DEVNULL, stdout=log, stderr=log, timeout=180,
                           check=True)

    def environment(self, **extra):
        environment = dict(os.environ)
        environment.update({
            "WINEPREFIX": self.prefix,
            "WINEDEBUG": "-all",
            "DISPLAY": self.display,
            "LANG": "C.UTF-8",
            harness.TAG: self.tag,
        })
        environment.update(extra)
        return environment

    def windows_path(self, unix_path):
        """The path under which a Windows program sees `unix_path`."""
        unix_path = os.path.abspath(unix_path)
        if unix_path.startswith(self.drive_c + os.sep):
            return "C:\\" + os.path.relpath(unix_path, self.drive_c).replace("/", "\\")
        return "Z:" + unix_path.replace("/", "\\")

    def unix_path(self, windows_path):
        """Where the path `windows_path` (under C:) is on the Unix side."""
        assert windows_path.startswith("C:\\")
        return os.path.join(self.drive_c, *windows_path[3:].split("\\"))

    def install(self, source, windows_path):
        """Copies `source` to `windows_path` (under C:) and returns that path."""
        target = self.unix_path(windows_path)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(source, target)
        return windows_path

    def close(self):
        if os.path.isdir(self.prefix):
            subprocess.call([WINESERVER, "-k"], env=self.environment(),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        harness.kill_tagged(self.tag)
        if self.xvfb:
            self.xvfb.kill()
            self.xvfb.wait()
        self.root.cleanup()


class WineTestCase(harness.StandInReports, unittest.TestCase):
    """A test class with one Wine session for all its tests, and for each test a folder for the
    stand-in's reports and a tag that ends whatever the test started. With BOX_TEXT in the
    environment (the helper that reads a message box's text), its tests can answer message boxes."""

    @classmethod
    def setUpClass(cls):
        cls.session = WineSession()
        if "BOX_TEXT" in os.environ:
            cls.box_text = cls.session.install(os.environ["BOX_TEXT"], "C:\\tools\\box_text.exe")

    @classmethod
    def tearDownClass(cls):
        cls.session.close()

    def setUp(self):
        harness.wait_until(lambda: not harness.port_is_listening(), 30, "the port to be free")
        self.files = tempfile.TemporaryDirectory(prefix="orbedo-wine-test-")
        self.tag = uuid.uuid4().hex
        self.addCleanup(self.files.cleanup)
        self.addCleanup(harness.kill_tagged, self.tag)
        self.record = os.path.join(self.files.name, "request.bin")
        self.arguments = os.path.join(self.files.name, "arguments.bin")
        self.ready = os.path.join(self.files.name, "ready")

    def environment(self, **extra):
        """The environment of the test's Windows programs; `extra` adds or overrides."""
        return self.session.environment(**{
            harness.TAG: self.tag,
            "STAND_IN_RECORD": self.session.windows_path(self.record),
            "STAND_IN_ARGUMENTS": self.session.windows_path(self.arguments),
            "STAND_IN_READY": self.session.windows_path(self.ready),
            "STAND_IN_LIFETIME": "60",
            **extra})

    def start(self, windows_program, arguments=(), **extra):
        """Starts a Windows program, its standard output and error going to files of the test."""
        out = open(os.path.join(self.files.name, "stdout"), "wb")
        err = open(os.path.join(self.files.name, "stderr"), "wb")
        self.addCleanup(out.close)
        self.addCleanup(err.close)
        process = subprocess.Popen([*WINE, windows_program, *arguments], cwd=self.files.name,
                                   env=self.environment(**extra), stdin=subprocess.DEVNULL,
                                   stdout=out, stderr=err)
        self.addCleanup(process.kill)
        return process

    def finish(self, process):
        """The exit status, standard output and standard error of a program from start()."""
        status = process.wait(timeout=120)
        with open(os.path.join(self.files.name, "stdout"), "rb") as out, \
                open(os.path.join(self.files.name, "stderr"), "rb") as err:
            return status, out.read(), err.read()

    def make_document(self, name, content=b""):
        """Creates the document C:\\Data\\`name` and returns that path."""
        windows_path = f"C:\\Data\\{name}"
        path = self.session.unix_path(windows_path)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as document:
            document.write(content)
        return windows_path

    def box_windows(self, caption):
        found = subprocess.run(["xdotool", "search", "--name", f"^{caption}$"],
                               env=self.session.environment(), capture_output=True, text=True)
        return found.stdout.split()

    def dismiss_box(self, caption):
        """Waits for the box with `caption`, returns its text and presses its OK button."""
        harness.wait_until(lambda: self.box_windows(caption), 60, f"the box '{caption}'")
        [window] = self.box_windows(caption)
        text = subprocess.run([*WINE, self.box_text, caption], env=self.session.environment(),
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
        subprocess.run(["xdotool", "windowfocus", "--sync", window, "key", "Return"],
                       env=self.session.environment(), check=True, timeout=30)
        return text.stdout

    def start_stand_in(self, windows_program, **settings):
        """Starts the stand-in with STAND_IN_* `settings` and returns it once it listens."""
        process = subprocess.Popen(
            [*WINE, windows_program],
            env=self.environment(**{f"STAND_IN_{k.upper()}": str(v) for k, v in settings.items()}),
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(process.wait)
        self.addCleanup(process.kill)
        harness.wait_until(lambda: os.path.exists(self.ready), 60, "the stand-in to listen")
        return process
