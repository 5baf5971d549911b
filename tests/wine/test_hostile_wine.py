"""The Windows executable under Wine against a main application that misbehaves, and with the
longest command line Windows accepts.

Standard output is in text mode under Windows: the line end after each relayed chunk arrives as
CR LF, so the replies here hold neither byte."""

import os
import subprocess
import sys
import tempfile
import unittest
import uuid

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
import harness  # noqa: E402
import wine  # noqa: E402

LAUNCHER = os.environ["LAUNCHER"]
STAND_IN = os.environ["STAND_IN"]

DOCUMENTS = ["C:\\Data\\1crn.pdb", "C:\\Data\\ligand \"A\".sdf"]
FLOOD_SIZE = 10 << 20
# Windows limits a command line to 32,767 characters with the terminating NUL.
LONGEST_COMMAND_LINE = 32766


def relayed_chunks(stdout):
    chunks = stdout.split(b"\r\n")
    assert chunks[-1] == b"", f"output does not end with a line end: {stdout[-40:]!r}"
    return chunks[:-1]


def arguments_filling(program, length):
    """Many path-like arguments, the last one padded, that with `program` make a command line of
    exactly `length` characters as Wine builds it: the program's path in quotes, then each
    argument after a space, unquoted as none holds a space, tab or quote."""
    used = len(program) + 2
    arguments = []
    while length - used > 200:
        index = len(arguments)
        argument = (f"C:\\Data\\run-{index:04}\\frame.pdb" if index % 2 else
                    f"/srv/orbedo/{index:04}/ligand.sdf")
        arguments.append(argument)
        used += 1 + len(argument)
    arguments.append("C:\\last\\" + "z" * (length - used - 1 - len("C:\\last\\")))
    return arguments


class HostileWineTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.session = wine.WineSession()
        cls.launcher = cls.session.windows_path(
            cls.session.install(LAUNCHER, "C:\\Orbedo\\Orbedo-Launcher.exe"))
        cls.stand_in = cls.session.windows_path(
            cls.session.install(STAND_IN, "C:\\running\\Orbedo.exe"))

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
        return self.session.environment(**{
            harness.TAG: self.tag,
            "STAND_IN_RECORD": self.session.windows_path(self.record),
            "STAND_IN_ARGUMENTS": self.session.windows_path(self.arguments),
            "STAND_IN_READY": self.session.windows_path(self.ready),
            "STAND_IN_LIFETIME": "60",
            **extra})

    def serve(self, behaviour, **settings):
        """Starts the stand-in with `behaviour` and returns it once it listens."""
        process = subprocess.Popen(
            [wine.WINE, self.stand_in],
            env=self.environment(STAND_IN_BEHAVIOUR=behaviour,
                                 **{f"STAND_IN_{k.upper()}": str(v) for k, v in settings.items()}),
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(process.wait)
        self.addCleanup(process.kill)
        harness.wait_until(lambda: os.path.exists(self.ready), 60, "the stand-in to listen")
        return process

    def launch(self, arguments):
        return harness.Run([wine.WINE, self.launcher, *arguments], cwd=self.files.name,
                           env=self.environment())

    def assert_served(self, stand_in):
        self.assertEqual(stand_in.wait(timeout=60), 0, "the stand-in did not serve as configured")

    def assert_relayed(self, run, reply):
        chunks = relayed_chunks(run.stdout)
        self.assertEqual(b"".join(chunks), reply)
        self.assertTrue(all(0 < len(chunk) <= 512 for chunk in chunks),
                        sorted({len(chunk) for chunk in chunks}))

    def read(self, path):
        with open(path, "rb") as file:
            return file.read()

    def test_a_peer_that_closes_without_reading(self):
        # As on the host: the one send of a short request succeeds; the close ends an empty reply.
        stand_in = self.serve("close-unread")
        run = self.launch(DOCUMENTS)
        self.assertEqual(run.status, 0, run.stderr)
        self.assertEqual((run.stdout, run.stderr), (b"", b""))
        self.assert_served(stand_in)

    def test_a_peer_that_resets_the_connection_after_reading(self):
        stand_in = self.serve("reset-after-read")
        run = self.launch(DOCUMENTS)
        self.assertEqual(run.status, 0, run.stderr)
        self.assertEqual((run.stdout, run.stderr), (b"", b""))
        self.assertEqual(self.read(self.record),
                         harness.expected_request([a.encode("cp1252") for a in DOCUMENTS]))
        self.assert_served(stand_in)

    def test_a_reply_trickled_a_byte_at_a_time(self):
        reply = b"OK 2, one byte at a time"
        stand_in = self.serve("trickle", reply=reply.decode())
        run = self.launch(DOCUMENTS)
        self.assertEqual(run.status, 0, run.stderr)
        self.assert_relayed(run, reply)
        self.assertEqual(run.stderr, b"")
        self.assert_served(stand_in)

    def test_a_reply_of_10_mib(self):
        pattern = b"0123456789abcdefghijklmnopqrstuvwxyz"
        stand_in = self.serve("flood", reply=pattern.decode())
        run = self.launch(DOCUMENTS)
        self.assertEqual(run.status, 0, run.stderr)
        self.assert_relayed(run, (pattern * (FLOOD_SIZE // len(pattern) + 1))[:FLOOD_SIZE])
        self.assertEqual(run.stderr, b"")
        self.assert_served(stand_in)

    def test_a_slow_reader_gets_a_long_request_whole(self):
        arguments = ["C:\\" + "d\\" * 4000, "/srv/" + "x" * 9990, "y/" * 5000]
        request = harness.expected_request([a.encode() for a in arguments])
        self.assertGreater(len(request), 30000)
        stand_in = self.serve("slow-read")
        run = self.launch(arguments)
        self.assertEqual(run.status, 0, run.stderr)
        self.assertEqual(self.read(self.record), request)
        self.assertEqual((run.stdout, run.stderr), (b"OK 3\r\n", b""))
        self.assert_served(stand_in)

    def test_the_longest_command_line_arrives_intact(self):
        arguments = arguments_filling(self.launcher, LONGEST_COMMAND_LINE)
        self.assertGreater(len(arguments), 900)
        stand_in = self.serve("answer", requests=2)
        run = self.launch(arguments)
        self.assertEqual(run.status, 0, run.stderr)
        self.assertEqual(self.read(self.arguments).split(b"\0")[:-1],
                         [a.encode() for a in arguments])
        self.assertEqual(run.stdout, f"OK {len(arguments)}\r\n".encode())

        # One character more and Wine starts nothing, so the command line above is the longest.
        os.remove(self.arguments)
        longer = arguments_filling(self.launcher, LONGEST_COMMAND_LINE + 1)
        run = self.launch(longer)
        self.assertNotEqual(run.status, 0)
        self.assertEqual(run.stdout, b"")
        self.assertFalse(os.path.exists(self.arguments), "the launcher ran and delivered")
        stand_in.kill()


if __name__ == "__main__":
    unittest.main()
