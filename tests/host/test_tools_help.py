"""Every program in tools/, and the benchmarks, answer --help and -h with their usage and status 0,
and do nothing else: run where they can start no other program, they write no file, in their
folder or the sources."""

import os
import subprocess
import tempfile
import unittest

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
TOOLS = [os.path.join(ROOT, "tools", name) for name in (
    "test", "demo", "install-deps", "make-icons", "make-registration", "make-package")] + [
    os.path.join(ROOT, "bench", name) for name in ("handoff", "thumbnails")]


def sources():
    files = {}
    for folder, subfolders, names in os.walk(ROOT):
        subfolders[:] = set(subfolders) - {".git", "build"}
        files.update({os.path.join(folder, name): os.stat(os.path.join(folder, name)).st_mtime_ns
                      for name in names})
    return files


class ToolsHelpTest(unittest.TestCase):
    def test_help_prints_the_usage_and_does_nothing_else(self):
        for tool in TOOLS + [os.environ["STAND_IN"]]:
            for option in ("--help", "-h"):
                with self.subTest(tool=os.path.basename(tool), option=option), \
                        tempfile.TemporaryDirectory() as folder:
                    # Only bash, which the scripts' #! line looks up: nothing else to run.
                    os.symlink("/bin/bash", os.path.join(folder, "bash"))
                    before = sources()
                    done = subprocess.run([tool, option], cwd=folder, capture_output=True,
                                          text=True, timeout=60,
                                          env={"PATH": folder, "HOME": folder, "TMPDIR": folder})
                    self.assertEqual((done.returncode, done.stderr), (0, ""))
                    self.assertRegex(done.stdout, r"^[Uu]sage: \S+")
                    self.assertEqual((os.listdir(folder), sources()), (["bash"], before))


if __name__ == "__main__":
    unittest.main()
