"""The Linux host launcher end to end, with real sockets and the stand-in main application."""

import inspect
import os
import pwd
import select
import socket
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
import harness  # noqa: E402

LAUNCHER = os.environ["LAUNCHER"]
STAND_IN = os.environ["STAND_IN"]

DOCUMENTS = [b"/data/1crn.pdb", b"/data/with space/ligand \"A\".sdf"]

# A client that sends a request and writes out the reply, as another user's program.
CLIENT = f"""import socket, sys
{inspect.getsource(harness.reply_to)}
with socket.create_connection(("127.0.0.1", 46157)) as client:
    client.sendall(b'["another user"]<EOF>')
    sys.stdout.buffer.write(reply_to(client))
"""


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

    def test_starts_the_application_beside_itself_when_invoked_by_a_bare_name(self):
        # Found on the PATH from a folder that holds an Orbedo.exe of its own, which must not run.
        installation = self.install(with_main_application=True)
        elsewhere = os.path.join(installation.root.name, "documents")
        marker = os.path.join(installation.root.name, "planted-ran")
        os.makedirs(elsewhere)
        planted = os.path.join(elsewhere, "Orbedo.exe")
        with open(planted, "w") as script:
            script.write(f"#!/bin/sh\ntouch '{marker}'\n")
        os.chmod(planted, 0o755)
        environment = installation.stand_in_environment()
        environment["PATH"] = installation.folder + os.pathsep + environment["PATH"]
        run = harness.Run(["Orbedo-Launcher.exe", "1crn.pdb"], cwd=elsewhere, env=environment)
        self.assertEqual(run.status, 0, run.stderr)
        self.assertEqual(installation.received_request(), harness.expected_request([b"1crn.pdb"]))
        self.assertFalse(os.path.exists(marker), "the Orbedo.exe of the current folder ran")

    def run_as(self, user, command):
        """`command` run as `user` (the tests run as root, as in CI)."""
        if os.geteuid() != 0:
            self.skipTest("needs root to run programs as another user")
        account = pwd.getpwnam(user)
        return ["setpriv", f"--reuid={account.pw_uid}", f"--regid={account.pw_gid}",
                "--clear-groups", *command]

    def install_for_another_user(self):
        installation = self.install()
        # Another user's programs write the stand-in's reports and run the launcher from there.
        os.chmod(installation.root.name, 0o777)
        os.chmod(installation.folder, 0o755)
        return installation

    def test_hands_nothing_to_the_application_of_another_user(self):
        installation = self.install_for_another_user()
        stand_in = installation.start_stand_in(self.run_as("nobody", [STAND_IN]))
        run = self.launch(installation, DOCUMENTS)
        stand_in.wait(timeout=30)
        self.assertEqual(run.status, 1)
        self.assertEqual(run.stdout, b"")
        self.assertEqual(run.stderr,
                         b"Orbedo Launcher: Orbedo is already running in another user's session on "
                         b"this computer, so the document was not opened.\n\nA document can only "
                         b"be opened in Orbedo from the session it runs in: open it there, or ask "
                         b"that user to close Orbedo, and open it again.\n"
                         b"An exception occured: Orbedo is running in another session\n")
        self.assertEqual(installation.received_request(), b"", "the other user got the request")

    def test_hands_over_to_the_application_of_its_own_user(self):
        # Both as a user other than root: the same user, found as such in the table.
        installation = self.install_for_another_user()
        installation.start_stand_in(self.run_as("nobody", [STAND_IN]))
        run = harness.Run(self.run_as("nobody", [installation.launcher, *DOCUMENTS]),
                          env=installation.stand_in_environment())
        self.assertEqual(run.status, 0, run.stderr)
        self.assertEqual(installation.received_request(), harness.expected_request(DOCUMENTS))

    def test_the_stand_in_serves_four_at_once_and_refuses_another_user_unread(self):
        installation = self.install()
        installation.start_stand_in([STAND_IN], requests=10)
        # Six clients that send nothing: four take the stand-in's places for their 5 seconds, two
        # wait in the listener's queue, and behind them another user's client and the launcher.
        silent = [socket.create_connection(("127.0.0.1", harness.PORT)) for _ in range(6)]
        for client in silent:
            self.addCleanup(client.close)
        with open(os.path.join(installation.root.name, "other"), "w+b") as other_reply:
            other = subprocess.Popen(self.run_as("nobody", [sys.executable, "-c", CLIENT]),
                                     stdout=other_reply)
            run = self.launch(installation, DOCUMENTS)
            self.assertEqual(other.wait(timeout=30), 0)
            other_reply.seek(0)
            self.assertEqual({"another user": other_reply.read(), "launcher": run.stdout},
                             {"another user": b"", "launcher": b"OK 2\n"})
        self.assertEqual(installation.received_request(), harness.expected_request(DOCUMENTS))
        # The launcher got a place when the first four were dropped, and the next two still hold
        # theirs.
        dropped, _, _ = select.select(silent, [], [], 1)
        self.assertEqual([client in dropped for client in silent], [True] * 4 + [False] * 2)


if __name__ == "__main__":
    unittest.main()
