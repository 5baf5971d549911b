"""The registry files committed in docs/registration and the WiX sources in resources/installer
are what tools/make-registration writes from resources/icons/icons.tsv."""

import os
import subprocess
import sys
import tempfile
import unittest

MAKE_REGISTRATION = os.environ["MAKE_REGISTRATION"]
SOURCE_DIR = os.environ["SOURCE_DIR"]
FOLDERS = [os.path.join("docs", "registration"), os.path.join("resources", "installer")]


class RegistrationFilesTest(unittest.TestCase):
    def test_committed_files_are_generated(self):
        with tempfile.TemporaryDirectory() as root:
            subprocess.run([sys.executable, MAKE_REGISTRATION, root], check=True)
            for folder in FOLDERS:
                generated = sorted(os.listdir(os.path.join(root, folder)))
                self.assertEqual(sorted(os.listdir(os.path.join(SOURCE_DIR, folder))), generated,
                                 folder)
                for name in generated:
                    with open(os.path.join(root, folder, name), "rb") as new, \
                            open(os.path.join(SOURCE_DIR, folder, name), "rb") as old:
                        self.assertTrue(new.read() == old.read(),
                                        f"{name} is not what tools/make-registration writes")


if __name__ == "__main__":
    unittest.main()
