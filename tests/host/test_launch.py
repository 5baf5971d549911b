"""The Linux host launcher end to end, with real sockets and the stand-in main application."""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
import harness  # noqa: E402

LAUNCHER = os.environ["LAUNCHER"]
STAND_IN = os.environ["STAND_IN"]

DOCUMENTS = [b"/data/1crn.pdb", b"/data/with space/ligand \"A\".sdf"]


class HostLaunchTest(unittest.TestCase):
    def setUp(self):
        harness.wait_until(lambda: not harness.port_is_listening(), 30, "the port to be free")

    def install(self, with_main_application=False):
        installation = harness.Installation(LAUNCHER, STAND_IN if with_main_application else None)
        self.addCleanup(installation.close)
        return installation

    def launch(self, installation, arguments=(), **run):
        environment = installation.stand_in_environment(**run.pop("stand_in", {}))
        return harness.Run([installation.launcher, *arguments], env=environment, **run)

    def test_delivers_the_request_to_a_listening_application(self):
        installation = self.install()
        installation.start_stand_in([STAND_IN])
        run = self.launch(installation, DOCUMENTS)
        self.assertEqual(run.status, 0, run.stderr)
        self.assertEqual(installation.received_request(), harness.expected_request(DOCUMENTS))
        self.assertEqual(installation.received_arguments(), DOCUMENTS)
        self.assertEqual(run.stdout, b"OK 2\n")
        self.assertEqual(run.stderr, b"")

    def test_forwards_awkward_arguments_byte_for_byte(self):
        installation = self.install()
        installation.start_stand_in([STAND_IN])
        arguments = [b"", bytes(range(1, 256)), b"x/y/z", b"ends\\", b"<EOF>", b"a" * 20000]
        run = self.launch(installation, arguments)
        self.assertEqual(run.status, 0, run.stderr)
        self.assertEqual(installation.received_request(), harness.expected_request(arguments))
        self.assertEqual(installation.received_arguments(), arguments)

    def test_relays_a_long_reply_chunk_by_chunk(self):
        installation = self.install()
        reply = "".join(chr(ord("a") + i % 26) for i in range(1300))
        installation.start_stand_in([STAND_IN], reply=reply)
        run = self.launch(installation, [b"1crn.pdb"])
        self.assertEqual(run.status, 0, run.stderr)
        chunks = run.stdout.split(b"\n")
        self.assertEqual(chunks[-1], b"", "every chunk is followed by a line end")
        self.assertEqual(b"".join(chunks), reply.encode())
        self.assertTrue(all(0 < len(chunk) <= 512 for chunk in chunks[:-1]), chunks)
        self.assertGreaterEqual(len(chunks) - 1, 3)

    def test_reports_a_missing_main_application_without_waiting(self):
        installation = self.install()
        run = self.launch(installation, [b"1crn.pdb"])
        self.assertEqual(run.status, 1)
        self.assertEqual(run.stdout, b"")
        self.assertEqual(run.stderr,
                         b"Couldn't start Orbedo: Orbedo launcher failed to start Orbedo.exe\n"
                         b"An exception occured: Couldn't start Orbedo\n")
        self.assertLess(run.seconds, 10)

    def test_reaches_an_application_that_listens_only_after_15_seconds(self):
        installation = self.install(with_main_application=True)
        run = self.launch(installation, DOCUMENTS, stand_in={"delay": 15})
        self.assertEqual(run.status, 0, run.stderr)
        self.assertEqual(installation.received_request(), harness.expected_request(DOCUMENTS))
        self.assertEqual(run.stdout, b"OK 2\n")
        # Attempts at 0, 10 and 20 seconds: the third one connects.
        self.assertGreaterEqual(run.seconds, 20)
        self.assertLess(run.seconds, 30)

    def test_gives_up_on_an_application_that_never_listens(self):
        installation = self.install(with_main_application=True)
        run = self.launch(installation, DOCUMENTS, stand_in={"delay": "never"})
        self.assertEqual(run.status, 1)
        self.assertEqual(run.stdout, b"")
        self.assertEqual(run.stderr,
                         b"Couldn't communicate with Orbedo: Orbedo launcher failed to communicate"
                         b" with Orbedo.exe\n"
                         b"An exception occured: Couldn't communicate with Orbedo\n")
        # Four attempts with three waits between them.
        self.assertGreaterEqual(run.seconds, 30)
        self.assertLess(run.seconds, 40)
        self.assertEqual(len(harness.tagged_pids(installation.tag)), 1,
                         "the main application is started once, and left running")


if __name__ == "__main__":
    unittest.main()
