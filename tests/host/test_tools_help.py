"""Every program in tools/ answers --help and -h with its usage and status 0, and does nothing
else: run where it can start no other program, it writes no file, in its folder or the sources."""

import os
import subprocess
import tempfile
import unittest

STAND_IN = os.environ["STAND_IN"]
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
TOOLS = [os.path.join(ROOT, "tools", name) for name in (
    "test", "demo", "install-deps", "make-icons", "make-registration", "make-package")]


def sources():
    """{path: (size, modification time)} of the source tree, build folders aside."""
    files = {}
    for folder, subfolders, names in os.walk(ROOT):
        subfolders[:] = [name for name in subfolders if name not in (".git", "build")]
        for name in names:
            status = os.stat(os.path.join(folder, name))
            files[os.path.join(folder, name)] = status.st_size, status.st_mtime_ns
    return files


class ToolsHelpTest(unittest.TestCase):
    def test_help_prints_the_usage_and_does_nothing_else(self):
        for tool in TOOLS + [STAND_IN]:
            for option in ("--help", "-h"):
                with self.subTest(tool=os.path.basename(tool), option=option), \
                        tempfile.TemporaryDirectory() as scratch:
                    # Only bash, which the scripts' #! line looks up: no package manager, build
                    # tool or Wine to run.
                    programs, folder = os.path.join(scratch, "bin"), os.path.join(scratch, "here")
                    os.mkdir(programs)
                    os.mkdir(folder)
                    os.symlink("/bin/bash", os.path.join(programs, "bash"))
                    before = sources()
                    done = subprocess.run(
                        [tool, option], cwd=folder, capture_output=True, text=True, timeout=60,
                        env={"PATH": programs, "HOME": folder, "TMPDIR": folder})
                    self.assertEqual((done.returncode, done.stderr), (0, ""))
                    self.assertRegex(done.stdout, r"^[Uu]sage: \S+")
                    self.assertEqual(os.listdir(folder), [])
                    self.assertEqual(sources(), before)


if __name__ == "__main__":
    unittest.main()
