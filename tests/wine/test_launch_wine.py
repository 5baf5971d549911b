"""The Windows executable end to end under Wine, with its message boxes on an Xvfb display."""

import os
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
import harness  # noqa: E402
import wine  # noqa: E402

LAUNCHER = os.environ["LAUNCHER"]
STAND_IN = os.environ["STAND_IN"]
BOX_TEXT = os.environ["BOX_TEXT"]
DECOY = os.environ["DECOY"]


class WineLaunchTest(wine.WineTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.box_text = cls.session.install(BOX_TEXT, "C:\\tools\\box_text.exe")

    def start(self, windows_program, arguments=(), **extra):
        out = open(os.path.join(self.files.name, "stdout"), "wb")
        err = open(os.path.join(self.files.name, "stderr"), "wb")
        self.addCleanup(out.close)
        self.addCleanup(err.close)
        process = subprocess.Popen([wine.WINE, windows_program, *arguments], cwd=self.files.name,
                                   env=self.environment(**extra), stdin=subprocess.DEVNULL,
                                   stdout=out, stderr=err)
        self.addCleanup(process.kill)
        return process

    def start_running_stand_in(self):
        program = self.session.install(STAND_IN, "C:\\running\\Orbedo.exe")
        self.start_stand_in(self.session.windows_path(program))

    def finish(self, process):
        status = process.wait(timeout=120)
        with open(os.path.join(self.files.name, "stdout"), "rb") as out, \
                open(os.path.join(self.files.name, "stderr"), "rb") as err:
            return status, out.read(), err.read()

    def box_windows(self, caption):
        found = subprocess.run(["xdotool", "search", "--name", f"^{caption}$"],
                               env=self.session.environment(), capture_output=True, text=True)
        return found.stdout.split()

    def dismiss_box(self, caption):
        """Waits for the box with `caption`, returns its text and presses its OK button."""
        harness.wait_until(lambda: self.box_windows(caption), 60, f"the box '{caption}'")
        [window] = self.box_windows(caption)
        text = subprocess.run([wine.WINE, self.session.windows_path(self.box_text), caption],
                              env=self.session.environment(), stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=60)
        subprocess.run(["xdotool", "windowfocus", "--sync", window, "key", "Return"],
                       env=self.session.environment(), check=True, timeout=30)
        return text.stdout

    def test_delivers_arguments_as_typed_and_relays_the_reply(self):
        self.start_running_stand_in()
        launcher = self.session.install(LAUNCHER, "C:\\Orbedo\\Orbedo-Launcher.exe")
        # A file that a wildcard would match, were the argument expanded.
        open(os.path.join(self.files.name, "match.pdb"), "w").close()
        arguments = ["C:\\Data\\1crn.pdb", "b/c", "*.pdb", "caf\u00e9 \"1\"", ""]
        status, stdout, stderr = self.finish(
            self.start(self.session.windows_path(launcher), arguments))
        self.assertEqual(status, 0, stderr)
        # The ANSI code page is 1252: the Windows program sees é as the byte E9.
        expected = [a.encode("cp1252") for a in arguments]
        self.assertEqual(self.received_request(), harness.expected_request(expected))
        self.assertEqual(stdout, b"OK 5\r\n")
        self.assertEqual(stderr, b"")

    def test_reports_a_missing_main_application_in_a_box_and_on_standard_error(self):
        launcher = self.session.install(LAUNCHER, "C:\\Lonely\\Orbedo-Launcher.exe")
        process = self.start(self.session.windows_path(launcher), ["C:\\Data\\1crn.pdb"])
        text = self.dismiss_box("Couldn't start Orbedo")
        self.assertEqual(text, b"Orbedo launcher failed to start Orbedo.exe")
        status, stdout, stderr = self.finish(process)
        self.assertEqual(status, 1)
        self.assertEqual(stdout, b"")
        self.assertEqual(stderr, b"An exception occured: Couldn't start Orbedo\r\n")

    def test_starts_the_main_application_by_its_quoted_path_only(self):
        # Installed under a folder whose name has a space; C:\odd.exe is what Windows would run
        # for the unquoted command line C:\odd dir\Orbedo.exe.
        launcher = self.session.install(LAUNCHER, "C:\\odd dir\\Orbedo-Launcher.exe")
        self.session.install(STAND_IN, "C:\\odd dir\\Orbedo.exe")
        decoy = self.session.install(DECOY, "C:\\odd.exe")
        self.addCleanup(os.remove, decoy)
        marker = os.path.join(self.files.name, "decoy-ran")
        started = time.monotonic()
        status, stdout, stderr = self.finish(self.start(
            self.session.windows_path(launcher), ["C:\\Data\\1crn.pdb"],
            DECOY_MARKER=self.session.windows_path(marker)))
        self.assertEqual(status, 0, stderr)
        self.assertFalse(os.path.exists(marker), "the decoy program ran")
        self.assertEqual(self.received_request(), harness.expected_request([b"C:\\Data\\1crn.pdb"]))
        self.assertEqual(stdout, b"OK 1\r\n")
        # Started after the first failed attempt, reached by the second, ten seconds later.
        self.assertGreaterEqual(time.monotonic() - started, 10)


if __name__ == "__main__":
    unittest.main()
