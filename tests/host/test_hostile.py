"""The Linux host launcher against a main application that misbehaves: one that closes without
reading, resets the connection, trickles or floods its reply, or reads slowly; and a port held by
a socket that does not listen. Run under the sanitize preset too, where LeakSanitizer turns a leak
into a failed exit status and a report on standard error."""

import os
import socket
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
import harness  # noqa: E402

LAUNCHER = os.environ["LAUNCHER"]
STAND_IN = os.environ["STAND_IN"]

DOCUMENTS = [b"/data/1crn.pdb", b"/data/with space/ligand \"A\".sdf"]
FLOOD_SIZE = 10 << 20


def relayed_chunks(stdout):
    """The chunks the launcher copied to standard output, each of which it ends with a line end."""
    chunks = stdout.split(b"\n")
    assert chunks[-1] == b"", f"output does not end with a line end: {stdout[-40:]!r}"
    return chunks[:-1]


class HostileHostTest(unittest.TestCase):
    def setUp(self):
        harness.wait_until(lambda: not harness.port_is_listening(), 30, "the port to be free")
        self.installation = harness.Installation(LAUNCHER)
        self.addCleanup(self.installation.close)

    def serve(self, behaviour, **settings):
        return self.installation.start_stand_in([STAND_IN], behaviour=behaviour, **settings)

    def launch(self, arguments):
        return harness.Run([self.installation.launcher, *arguments],
                           env=self.installation.stand_in_environment())

    def assert_served(self, stand_in):
        self.assertEqual(stand_in.wait(timeout=30), 0, "the stand-in did not serve as configured")

    def assert_relayed(self, run, reply):
        chunks = relayed_chunks(run.stdout)
        self.assertEqual(b"".join(chunks), reply)
        self.assertTrue(all(0 < len(chunk) <= 512 for chunk in chunks),
                        sorted({len(chunk) for chunk in chunks}))

    def test_a_peer_that_closes_without_reading(self):
        # The short request fits the socket's send buffer: the one send succeeds before the peer
        # can refuse anything, and its close (or the reset our data then draws) only ends the
        # reply, which is empty. So the launch counts as delivered, although nothing read it.
        stand_in = self.serve("close-unread")
        run = self.launch(DOCUMENTS)
        self.assertEqual(run.status, 0, run.stderr)
        self.assertEqual((run.stdout, run.stderr), (b"", b""))
        self.assert_served(stand_in)

    def test_a_peer_that_resets_the_connection_after_reading(self):
        stand_in = self.serve("reset-after-read")
        run = self.launch(DOCUMENTS)
        # The request was all sent and read; the reset only ends a reply that never came.
        self.assertEqual(run.status, 0, run.stderr)
        self.assertEqual((run.stdout, run.stderr), (b"", b""))
        self.assertEqual(self.installation.received_request(),
                         harness.expected_request(DOCUMENTS))
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
        # 36 bytes over and over: the 512-byte chunks cut the pattern at every offset.
        pattern = b"0123456789abcdefghijklmnopqrstuvwxyz"
        stand_in = self.serve("flood", reply=pattern.decode())
        run = self.launch(DOCUMENTS)
        self.assertEqual(run.status, 0, run.stderr)
        self.assert_relayed(run, (pattern * (FLOOD_SIZE // len(pattern) + 1))[:FLOOD_SIZE])
        self.assertEqual(run.stderr, b"")
        self.assert_served(stand_in)

    def test_a_slow_reader_gets_a_long_request_whole(self):
        arguments = [b"/data/" + b"d/" * 4000, b"C:\\" + b"x" * 9990, bytes(range(1, 256)) * 40]
        request = harness.expected_request(arguments)
        self.assertGreater(len(request), 30000)
        stand_in = self.serve("slow-read")
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            launcher = subprocess.Popen([self.installation.launcher, *arguments],
                                        env=self.installation.stand_in_environment(),
                                        stdin=subprocess.DEVNULL, stdout=out, stderr=err)
            self.addCleanup(launcher.kill)
            # The reader takes about a second; meanwhile the launcher holds its standard streams
            # and the one socket, and nothing else.
            descriptors = {}
            harness.wait_until(lambda: self.has_socket(launcher.pid, descriptors), 10,
                               "the launcher's connection")
            status = launcher.wait(timeout=60)
            out.seek(0)
            err.seek(0)
            stdout, stderr = out.read(), err.read()
        self.assertEqual(status, 0, stderr)
        opened = [target for name, target in descriptors.items() if name not in ("0", "1", "2")]
        self.assertEqual(len(opened), 1, descriptors)
        self.assertTrue(opened[0].startswith("socket:"), descriptors)
        self.assertEqual(self.installation.received_request(), request)
        self.assertEqual(self.installation.received_arguments(), arguments)
        self.assertEqual((stdout, stderr), (b"OK 3\n", b""))
        self.assert_served(stand_in)

    @staticmethod
    def has_socket(pid, descriptors):
        """Whether the process has a socket open; fills `descriptors` with what it has open."""
        folder = f"/proc/{pid}/fd"
        descriptors.clear()
        for name in os.listdir(folder):
            try:
                descriptors[name] = os.readlink(os.path.join(folder, name))
            except FileNotFoundError:
                pass
        return any(target.startswith("socket:") for target in descriptors.values())

    def test_a_port_held_by_a_socket_that_does_not_listen(self):
        # A bound socket that does not listen refuses connections: as if nothing were there, the
        # launcher goes on to start the main application, which this installation lacks.
        with socket.socket() as holder:
            holder.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            holder.bind(("127.0.0.1", harness.PORT))
            run = self.launch([b"1crn.pdb"])
        self.assertEqual(run.status, 1)
        self.assertEqual(run.stdout, b"")
        self.assertEqual(run.stderr,
                         b"Couldn't start Orbedo: Orbedo launcher failed to start Orbedo.exe\n"
                         b"An exception occured: Couldn't start Orbedo\n")


if __name__ == "__main__":
    unittest.main()
