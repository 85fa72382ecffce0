"""Configuring the build for an interpreter other than 3.10 stops with a clear message."""

import glob
import os
import shutil
import subprocess
import tempfile
import unittest

SOURCE_DIR = os.environ.get("VORN_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))


class InterpreterChoice(unittest.TestCase):
    def test_other_version_is_refused_at_configure(self):
        others = sorted(glob.glob(os.path.expanduser("~/.pyenv/versions/3.11.*/bin/python3.11")))
        others += [p for p in ("/usr/bin/python3.11",) if os.path.exists(p)]
        if not others or shutil.which("cmake") is None:
            self.skipTest("no other interpreter or no cmake")
        with tempfile.TemporaryDirectory() as build_dir:
            result = subprocess.run(
                ["cmake", "-S", SOURCE_DIR, "-B", build_dir, "-DPython_EXECUTABLE=" + others[0]],
                capture_output=True, text=True, timeout=120)
        self.assertNotEqual(result.returncode, 0)
        message = " ".join(result.stderr.split())
        self.assertIn("pyvornlex is built for Python 3.10", message)
        self.assertIn("is Python '3.11'", message)


if __name__ == "__main__":
    unittest.main()
