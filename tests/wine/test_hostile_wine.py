"""The Windows executable under Wine against a main application that misbehaves, and with the
longest command line Windows accepts.

Standard output is in text mode under Windows: the line end after each relayed chunk arrives as
CR LF, so the replies here hold neither byte."""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
import harness  # noqa: E402
import wine  # noqa: E402
from peer_cases import MisbehavingPeerCases  # noqa: E402

LAUNCHER = os.environ["LAUNCHER"]
STAND_IN = os.environ["STAND_IN"]

# Windows limits a command line to 32,767 characters with the terminating NUL.
LONGEST_COMMAND_LINE = 32766


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


class HostileWineTest(MisbehavingPeerCases, wine.WineTestCase):
    LINE_END = b"\r\n"

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.launcher = cls.session.install(LAUNCHER, "C:\\Orbedo\\Orbedo-Launcher.exe")
        cls.stand_in = cls.session.install(STAND_IN, "C:\\running\\Orbedo.exe")

    def serve(self, behaviour, **settings):
        return self.start_stand_in(self.stand_in, behaviour=behaviour, **settings)

    def launch(self, arguments, timeout=120):
        return harness.Run([*wine.WINE, self.launcher, *arguments], cwd=self.files.name,
                           env=self.environment(), timeout=timeout)

    def test_the_longest_command_line_arrives_intact(self):
        arguments = arguments_filling(self.launcher, LONGEST_COMMAND_LINE)
        self.assertGreater(len(arguments), 900)
        stand_in = self.serve("answer", requests=2)
        run = self.launch(arguments)
        self.assertEqual(run.status, 0, run.stderr)
        self.assertEqual(self.received_arguments(), [a.encode() for a in arguments])
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
