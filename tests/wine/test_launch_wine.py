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
DECOY = os.environ["DECOY"]
START_EXACTLY = os.environ["START_EXACTLY"]
ARGUMENT_WAYS = os.environ["ARGUMENT_WAYS"]
PROCESS_SESSIONS = os.environ["PROCESS_SESSIONS"]
IN_JOB = os.environ["IN_JOB"]


def awkward_command_lines():
    """Command lines, after the program's path, that the ANSI code page (1252) holds, each with the
    request body it must give: quotes, backslashes before quotes, empty arguments, wildcards, and
    every character of the code page."""
    every_character = []
    for byte in range(1, 256):
        try:
            character = bytes([byte]).decode("cp1252")
        except UnicodeDecodeError:
            character = chr(byte)  # The five bytes 1252 leaves unassigned map to U+0081 and so on.
        # Inside quotes a backslash escapes a quote, and two before one are one backslash.
        every_character.append('"\\\\"' if character == "\\" else '"\\""' if character == '"'
                               else f'"{character}"')
    return [
        ('C:\\Data\\1crn.pdb "C:\\Data\\ligand set\\ATP.sdf"',
         b'["C:\\\\Data\\\\1crn.pdb","C:\\\\Data\\\\ligand set\\\\ATP.sdf"]'),
        ('"a\\"b" "c\\\\" d\\\\\\"e "f""g" "" *.pdb',
         b'["a\\"b","c\\\\","d\\\\\\"e","f\\"g","","*.pdb"]'),
        (" ".join(every_character),
         b"[" + b",".join(b'"' + (b"\\" if bytes([byte]) in b'\\"/\n\r\t' else b"") +
                          bytes([byte]) + b'"' for byte in range(1, 256)) + b"]"),
    ]


class WineLaunchTest(wine.WineTestCase):
    def start_running_stand_in(self):
        self.start_stand_in(self.session.install(STAND_IN, "C:\\running\\Orbedo.exe"))

    def test_delivers_arguments_as_typed_and_relays_the_reply(self):
        self.start_running_stand_in()
        launcher = self.session.install(LAUNCHER, "C:\\Orbedo\\Orbedo-Launcher.exe")
        # A file that a wildcard would match, were the argument expanded.
        open(os.path.join(self.files.name, "match.pdb"), "w").close()
        arguments = ["C:\\Data\\1crn.pdb", "b/c", "*.pdb", "caf\u00e9 \"1\"", ""]
        status, stdout, stderr = self.finish(self.start(launcher, arguments))
        self.assertEqual(status, 0, stderr)
        # The ANSI code page is 1252: the Windows program sees é as the byte E9.
        expected = [a.encode("cp1252") for a in arguments]
        self.assertEqual(self.received_request(), harness.expected_request(expected))
        self.assertEqual(stdout, b"OK 5\r\n")
        self.assertEqual(stderr, b"")

    def test_reports_a_missing_main_application_in_a_box_and_on_standard_error(self):
        launcher = self.session.install(LAUNCHER, "C:\\Lonely\\Orbedo-Launcher.exe")
        process = self.start(launcher, ["C:\\Data\\1crn.pdb"])
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
        self.addCleanup(os.remove, self.session.unix_path(decoy))
        marker = os.path.join(self.files.name, "decoy-ran")
        started = time.monotonic()
        status, stdout, stderr = self.finish(self.start(
            launcher, ["C:\\Data\\1crn.pdb"], DECOY_MARKER=self.session.windows_path(marker)))
        self.assertEqual(status, 0, stderr)
        self.assertFalse(os.path.exists(marker), "the decoy program ran")
        self.assertEqual(self.received_request(), harness.expected_request([b"C:\\Data\\1crn.pdb"]))
        self.assertEqual(stdout, b"OK 1\r\n")
        # Started after the first failed attempt, reached by the second, ten seconds later.
        self.assertGreaterEqual(time.monotonic() - started, 10)

    def test_forwards_what_the_code_page_holds_exactly_as_before(self):
        # The launcher takes its arguments from the wide command line; wherever the code page holds
        # them, the request must be the one the runtime's narrow arguments give.
        ways = self.session.install(ARGUMENT_WAYS, "C:\\tools\\argument_ways.exe")
        start = self.session.install(START_EXACTLY, "C:\\tools\\start_exactly.exe")
        self.make_document("\u03b2-sheet.pdb")
        command_file = os.path.join(self.files.name, "command-line")
        for tail, body in awkward_command_lines() + [("C:\\Data\\\u03b2-sheet.pdb", None)]:
            with open(command_file, "w", encoding="utf-8") as command:
                command.write(f'"{ways}" {tail}')
            run = harness.Run([*wine.WINE, start, self.session.windows_path(command_file)],
                              env=self.session.environment())
            self.assertEqual(run.status, 0, run.stderr)
            narrow, wide = run.stdout.split(b"\0")[:-1]
            if body:
                self.assertEqual((narrow, wide), (body, body), tail)
            else:
                # What the code page cannot hold, the narrow arguments lose: another file.
                self.assertEqual(narrow, b'["C:\\\\Data\\\\\xdf-sheet.pdb"]')
                self.assertRegex(wide, rb'^\["C:\\\\Data\\\\[!-~]+\.PDB"\]$')

    def test_starts_the_main_application_from_a_folder_the_code_page_cannot_name(self):
        # As for a per-user install under C:\Users\Дмитрий\ on a system with a Western code page.
        launcher = self.session.install(LAUNCHER, "C:\\Prog \u03b1\\Orbedo-Launcher.exe")
        self.session.install(STAND_IN, "C:\\Prog \u03b1\\Orbedo.exe")
        status, stdout, stderr = self.finish(self.start(launcher, ["C:\\Data\\1crn.pdb"]))
        self.assertEqual(status, 0, stderr)
        self.assertEqual(self.received_request(), harness.expected_request([b"C:\\Data\\1crn.pdb"]))
        self.assertEqual(stdout, b"OK 1\r\n")

    def test_starts_the_main_application_beside_itself_never_from_the_current_folder(self):
        # Two ways in which the launcher's path as invoked is too short to cut its name off: a
        # bare name found on the PATH, and an unquoted command line, which Windows runs as the
        # program C:\Program Files\Orbedo\Orbedo-Launcher.exe while its first argument stops at
        # C:\Program. The current folder holds an Orbedo.exe of its own, which must never run.
        start = self.session.install(START_EXACTLY, "C:\\tools\\start_exactly.exe")
        for folder in ("C:\\OnPath", "C:\\Program Files\\Orbedo"):
            self.session.install(LAUNCHER, f"{folder}\\Orbedo-Launcher.exe")
            self.session.install(STAND_IN, f"{folder}\\Orbedo.exe")
        with open(DECOY, "rb") as decoy, \
                open(os.path.join(self.files.name, "Orbedo.exe"), "wb") as planted:
            planted.write(decoy.read())
        marker = os.path.join(self.files.name, "planted-ran")
        unquoted = "C:\\Program Files\\Orbedo\\Orbedo-Launcher.exe"
        command_lines = {
            "bare": ("Orbedo-Launcher.exe C:\\Data\\bare.pdb", []),
            # Named, as Windows finds it, since Wine would quote it in the command line.
            "unquoted": (f"{unquoted} C:\\Data\\unquoted.pdb", [unquoted]),
        }
        # Both at once, as documents opened together: each launcher starts the Orbedo.exe beside
        # it, one of the two copies serves both.
        openings = {}
        for name, (command_line, program) in command_lines.items():
            command_file = os.path.join(self.files.name, f"{name}.cmd")
            with open(command_file, "w", encoding="utf-8") as command:
                command.write(command_line)
            with open(os.path.join(self.files.name, f"{name}.out"), "wb") as out:
                openings[name] = subprocess.Popen(
                    [*wine.WINE, start, self.session.windows_path(command_file), *program],
                    cwd=self.files.name, stdin=subprocess.DEVNULL, stdout=out, stderr=out,
                    env=self.environment(WINEPATH="C:\\OnPath", STAND_IN_REQUESTS="2",
                                         DECOY_MARKER=self.session.windows_path(marker)))
            self.addCleanup(openings[name].kill)
        self.assertEqual({name: opening.wait(timeout=120) for name, opening in openings.items()},
                         {"bare": 0, "unquoted": 0})
        self.assertFalse(os.path.exists(marker), "the Orbedo.exe of the current folder ran")
        # The cut command line also hands on the rest of the launcher's path as an argument.
        self.assertEqual(sorted(self.received_arguments()),
                         [b"C:\\Data\\bare.pdb", b"C:\\Data\\unquoted.pdb",
                          b"Files\\Orbedo\\Orbedo-Launcher.exe"])

    def test_the_started_application_outlives_the_job_of_the_launchers_starter(self):
        # As from a tool that runs its children in a job that ends them all when it closes: the
        # job is closed once the launcher has started Orbedo.exe.
        launcher = self.session.install(LAUNCHER, "C:\\Jobbed\\Orbedo-Launcher.exe")
        self.session.install(STAND_IN, "C:\\Jobbed\\Orbedo.exe")
        in_job = self.session.install(IN_JOB, "C:\\tools\\in_job.exe")
        run = harness.Run([*wine.WINE, in_job, self.session.windows_path(self.ready), launcher,
                           "C:\\Data\\1crn.pdb"], env=self.environment())
        self.assertEqual(run.status, 0, run.stderr)

        def running(program):
            return [pid for pid in harness.tagged_pids(self.tag)
                    if program in harness.command_line(pid)]
        # The launcher was in the job and ends with it; Orbedo.exe left the job and lives on.
        harness.wait_until(lambda: not running(b"Orbedo-Launcher.exe"), 30, "the launcher to end")
        time.sleep(1)
        self.assertTrue(running(b"Jobbed\\Orbedo.exe"), "Orbedo.exe ended with the job")

    def test_the_process_list_gives_the_session_of_a_process(self):
        # Wine says no owner in its table of connections, so no launch reaches the list, nor the
        # stand-in the user of its client's process: read here, as Windows lays them out, for the
        # helper's own process.
        program = self.session.install(PROCESS_SESSIONS, "C:\\tools\\process_sessions.exe")
        run = harness.Run([*wine.WINE, program], env=self.session.environment())
        self.assertEqual((run.status, run.stdout), (0, b"1 1 - 1 - "), run.stderr)


if __name__ == "__main__":
    unittest.main()
