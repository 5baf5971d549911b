"""Shared pieces of the end-to-end tests: an installation folder, the stand-in main application,
and the launcher's port, with every process a test starts ended by its own pid."""

import os
import signal
import socket
import subprocess
import tempfile
import time
import uuid

PORT = 46157
TAG = "ORBEDO_TEST_TAG"


def port_is_listening():
    with socket.socket() as probe:
        return probe.connect_ex(("127.0.0.1", PORT)) == 0


def wait_until(condition, timeout, what):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(0.05)


def tagged_pids(tag):
    """Unix pids of the processes whose environment carries `tag`: the stand-ins that a launcher
    started, which no test holds a handle to (and whose Wine process ids are not Unix pids)."""
    needle = f"{TAG}={tag}".encode() + b"\0"
    pids = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/environ", "rb") as environ:
                if needle in environ.read() + b"\0":
                    pids.append(int(entry))
        except OSError:
            pass
    return pids


def command_line(pid):
    """The command line of the process `pid`, or b"" once it has ended."""
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as command:
            return command.read()
    except OSError:
        return b""


def kill_tagged(tag):
    for pid in tagged_pids(tag):
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass


class StandInReports:
    """What the stand-in reported in the files named by `record` and `arguments`."""

    def received_request(self):
        """What it read, b"" where it read nothing at all."""
        if not os.path.exists(self.record):
            return b""
        with open(self.record, "rb") as record:
            return record.read()

    def received_arguments(self):
        with open(self.arguments, "rb") as arguments:
            return arguments.read().split(b"\0")[:-1]


class Installation(StandInReports):
    """A temporary folder holding the launcher (and, when asked, the stand-in as the main
    application), and the files through which the stand-in reports what it received."""

    def __init__(self, launcher, stand_in=None, folder_name="Orbedo"):
        self.root = tempfile.TemporaryDirectory(prefix="orbedo-test-")
        self.folder = os.path.join(self.root.name, folder_name)
        os.makedirs(self.folder)
        self.launcher = os.path.join(self.folder, "Orbedo-Launcher.exe")
        _copy(launcher, self.launcher)
        if stand_in:
            _copy(stand_in, os.path.join(self.folder, "Orbedo.exe"))
        self.tag = uuid.uuid4().hex
        self.record = os.path.join(self.root.name, "request.bin")
        self.arguments = os.path.join(self.root.name, "arguments.bin")
        self.ready = os.path.join(self.root.name, "ready")
        self.processes = []

    def stand_in_environment(self, **settings):
        environment = dict(os.environ)
        environment.update({
            TAG: self.tag,
            "STAND_IN_RECORD": self.record,
            "STAND_IN_ARGUMENTS": self.arguments,
            "STAND_IN_READY": self.ready,
            "STAND_IN_LIFETIME": "60",
        })
        environment.update({f"STAND_IN_{k.upper()}": str(v) for k, v in settings.items()})
        return environment

    def start_stand_in(self, command, **settings):
        """Starts the stand-in directly and returns once it listens."""
        process = subprocess.Popen(command, env=self.stand_in_environment(**settings),
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        self.processes.append(process)
        wait_until(lambda: os.path.exists(self.ready), 30, "the stand-in to listen")
        return process

    def close(self):
        for process in self.processes:
            if process.poll() is None:
                process.kill()
            process.wait()
        kill_tagged(self.tag)
        self.root.cleanup()


def _copy(source, target):
    with open(source, "rb") as src, open(target, "wb") as dst:
        dst.write(src.read())
    os.chmod(target, 0o755)


def expected_request(arguments):
    """The request bytes for `arguments`, written out independently of the launcher's code."""
    def escape(argument):
        out = bytearray()
        for byte in argument:
            if byte in b'\\"/\n\r\t':
                out += b"\\"
            out.append(byte)
        return bytes(out)
    return b"[" + b",".join(b'"' + escape(a) + b'"' for a in arguments) + b"]<EOF>"


def reply_to(client):
    """What the socket `client` receives until the peer closes. A peer that closes without reading
    what was sent resets the connection: no reply either."""
    try:
        return b"".join(iter(lambda: client.recv(65536), b""))
    except ConnectionResetError:
        return b""


class Run:
    """A finished run of the launcher: its exit status, output and duration."""

    def __init__(self, command, cwd=None, env=None, timeout=120):
        started = time.monotonic()
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            # Files, not pipes: a started main application must never hold the test's pipe open.
            self.status = subprocess.call(command, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                                          stdout=out, stderr=err, timeout=timeout)
            out.seek(0)
            err.seek(0)
            self.stdout = out.read()
            self.stderr = err.read()
        self.seconds = time.monotonic() - started
