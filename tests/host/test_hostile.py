"""The Linux host launcher against a main application that misbehaves, and a port held by a
socket that does not listen. Run under the sanitize preset too, where LeakSanitizer turns a leak
into a failed exit status and a report on standard error."""

import os
import socket
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
import harness  # noqa: E402
from peer_cases import MisbehavingPeerCases  # noqa: E402

LAUNCHER = os.environ["LAUNCHER"]
STAND_IN = os.environ["STAND_IN"]


def open_descriptors(pid):
    """What the process has open, by descriptor number."""
    folder = f"/proc/{pid}/fd"
    descriptors = {}
    for name in os.listdir(folder):
        try:
            descriptors[name] = os.readlink(os.path.join(folder, name))
        except FileNotFoundError:
            pass
    return descriptors


class HostileHostTest(MisbehavingPeerCases, unittest.TestCase):
    LINE_END = b"\n"

    def setUp(self):
        harness.wait_until(lambda: not harness.port_is_listening(), 30, "the port to be free")
        self.installation = harness.Installation(LAUNCHER)
        self.addCleanup(self.installation.close)

    def serve(self, behaviour, **settings):
        return self.installation.start_stand_in([STAND_IN], behaviour=behaviour, **settings)

    def launch(self, arguments, timeout=120):
        return harness.Run([self.installation.launcher, *arguments],
                           env=self.installation.stand_in_environment(), timeout=timeout)

    def received_request(self):
        return self.installation.received_request()

    def received_arguments(self):
        return self.installation.received_arguments()

    def test_holds_only_its_streams_and_one_socket_while_it_waits(self):
        stand_in = self.serve("slow-read")
        with tempfile.TemporaryFile() as out:
            launcher = subprocess.Popen([self.installation.launcher, "x" * 30000],
                                        env=self.installation.stand_in_environment(),
                                        stdin=subprocess.DEVNULL, stdout=out,
                                        stderr=subprocess.DEVNULL)
            self.addCleanup(launcher.kill)
            # The slow reader takes about a second over this request.
            descriptors = {}

            def connected():
                descriptors.update(open_descriptors(launcher.pid))
                return any(target.startswith("socket:") for target in descriptors.values())

            harness.wait_until(connected, 10, "the launcher's connection")
            self.assertEqual(launcher.wait(timeout=60), 0)
        opened = [target for name, target in descriptors.items() if name not in ("0", "1", "2")]
        self.assertEqual(len(opened), 1, descriptors)
        self.assertTrue(opened[0].startswith("socket:"), descriptors)
        self.assert_served(stand_in)

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
