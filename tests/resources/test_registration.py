"""The registry files committed in docs/registration are what tools/make-registration writes from
resources/icons/icons.tsv."""

import os
import subprocess
import sys
import tempfile
import unittest

MAKE_REGISTRATION = os.environ["MAKE_REGISTRATION"]
REGISTRATION = os.environ["REGISTRATION"]


class RegistrationFilesTest(unittest.TestCase):
    def test_committed_files_are_generated(self):
        with tempfile.TemporaryDirectory() as folder:
            subprocess.run([sys.executable, MAKE_REGISTRATION, folder], check=True)
            self.assertEqual(sorted(os.listdir(REGISTRATION)), sorted(os.listdir(folder)))
            for name in os.listdir(folder):
                with open(os.path.join(folder, name), "rb") as generated, \
                        open(os.path.join(REGISTRATION, name), "rb") as committed:
                    self.assertTrue(generated.read() == committed.read(),
                                    f"{name} is not what tools/make-registration writes")


if __name__ == "__main__":
    unittest.main()
