"""The module as a whole: its namespace, its exports and its version check."""

import glob
import os
import subprocess
import sys
import unittest

import pyvornlex

MODULE_FILE = os.environ.get("VORN_MODULE_FILE", pyvornlex.__file__)


def other_interpreter():
    """A Python 3.11 to load the 3.10 module into, if the machine has one."""
    root = subprocess.run(["pyenv", "root"], capture_output=True, text=True).stdout.strip() \
        if os.path.exists(os.path.expanduser("~/.pyenv")) else ""
    candidates = sorted(glob.glob(os.path.join(root or "/nonexistent", "versions/3.11.*/bin/python3.11")))
    candidates += [p for p in ("/usr/bin/python3.11",) if os.path.exists(p)]
    return candidates[0] if candidates else None


class ModuleSurface(unittest.TestCase):
    def test_namespace_holds_exactly_the_two_classes(self):
        own = {name for name in vars(pyvornlex) if not name.startswith("__")}
        expected = {"BM25", "Jieba"} if hasattr(pyvornlex, "Jieba") else {"BM25"}
        self.assertEqual(own, expected)
        self.assertFalse(hasattr(pyvornlex, "__version__"))

    def test_only_the_entry_point_is_exported(self):
        out = subprocess.run(["nm", "-D", "--defined-only", MODULE_FILE],
                             capture_output=True, text=True, check=True).stdout
        symbols = [line.split()[-1] for line in out.splitlines() if line.strip()]
        self.assertEqual(symbols, ["PyInit_pyvornlex"])

    def test_other_interpreter_versions_are_refused(self):
        python = other_interpreter()
        if python is None:
            self.skipTest("no Python 3.11 on this machine")
        script = (
            "import importlib.machinery, importlib.util, sys\n"
            "loader = importlib.machinery.ExtensionFileLoader('pyvornlex', sys.argv[1])\n"
            "location = importlib.util.spec_from_file_location('pyvornlex', sys.argv[1], loader=loader)\n"
            "try:\n"
            "    importlib.util.module_from_spec(location)\n"
            "except ImportError as error:\n"
            "    print(str(error)); print(sys.version)\n"
            "else:\n"
            "    print('imported')\n")
        result = subprocess.run([python, "-c", script, MODULE_FILE], capture_output=True,
                                text=True, timeout=60)
        message, version = result.stdout.split("\n", 1)
        self.assertEqual(
            message,
            "Python version mismatch: module was compiled for Python 3.10, but the interpreter "
            "version is incompatible: %s." % version.rstrip("\n"))


if __name__ == "__main__":
    unittest.main()
