"""The pieces of the in-tree build backend that the slow install test cannot
pin down: its pyproject reader, the wheel's RECORD and the wheel tag."""

import base64
import glob
import hashlib
import json
import os
import subprocess
import sys
import tempfile
import unittest
import zipfile

SOURCE_DIR = os.path.abspath(os.environ.get(
    "VORN_SOURCE_DIR", os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")))
sys.path.insert(0, os.path.join(SOURCE_DIR, "pip_backend"))

from pyvornlex_build import project, wheel  # noqa: E402


def python_with_tomllib():
    pyenv = os.environ.get("PYENV_ROOT") or os.path.expanduser("~/.pyenv")
    for pattern in (pyenv + "/versions/3.1[1-9].*/bin/python3.1?", "/usr/bin/python3.1[1-9]"):
        for candidate in sorted(glob.glob(pattern)):
            if os.access(candidate, os.X_OK):
                return candidate
    return None


class PyprojectReader(unittest.TestCase):
    def test_reads_pyproject_as_tomllib_does(self):
        python = python_with_tomllib()
        if python is None:
            self.skipTest("no Python 3.11 or newer to compare with")
        script = ("import json, sys, tomllib\n"
                  "print(json.dumps(tomllib.load(open(sys.argv[1], 'rb'))))")
        path = os.path.join(SOURCE_DIR, "pyproject.toml")
        reference = subprocess.run([python, "-c", script, path], capture_output=True,
                                   text=True, check=True).stdout
        with open(path, encoding="utf-8") as handle:
            ours = project._read_simple_toml(handle.read(), path)
        self.assertEqual(ours, json.loads(reference))

    def test_refuses_what_it_cannot_read(self):
        for text in ('[project]\nclassifiers = [\n  "a",\n]\n', "[project]\nversion = 1.0.0\n",
                     'name = "outside any table"\n'):
            with self.subTest(text=text):
                with self.assertRaisesRegex(ValueError, "pyproject.toml, line"):
                    project._read_simple_toml(text, "pyproject.toml")

    def test_file_names_use_the_normalised_name(self):
        self.assertEqual(project.distribution_name({"name": "Py.Vorn--Lex"}), "py_vorn_lex")


class WheelFile(unittest.TestCase):
    def test_record_holds_the_hash_and_size_of_every_member(self):
        with tempfile.TemporaryDirectory() as directory:
            staging = os.path.join(directory, "staging")
            os.makedirs(os.path.join(staging, "pkg"))
            with open(os.path.join(staging, "pkg", "run.sh"), "w") as handle:
                handle.write("#!/bin/sh\n")
            os.chmod(os.path.join(staging, "pkg", "run.sh"), 0o755)
            with open(os.path.join(staging, "top.py"), "w") as handle:
                handle.write("x = 1\n")
            path = os.path.join(directory, "w.whl")
            wheel.write_wheel(path, staging, "w-1.dist-info", {"METADATA": "Name: w\n"})
            with zipfile.ZipFile(path) as archive:
                names = archive.namelist()
                record = archive.read("w-1.dist-info/RECORD").decode().splitlines()
                contents = {name: archive.read(name) for name in names}
                mode = archive.getinfo("pkg/run.sh").external_attr >> 16
        self.assertEqual(names[-1], "w-1.dist-info/RECORD")
        self.assertEqual(mode & 0o777, 0o755)
        self.assertEqual(record[-1], "w-1.dist-info/RECORD,,")
        listed = {}
        for line in record[:-1]:
            name, digest, size = line.split(",")
            listed[name] = (digest, int(size))
        self.assertEqual(set(listed), set(names) - {"w-1.dist-info/RECORD"})
        for name, (digest, size) in listed.items():
            expected = base64.urlsafe_b64encode(
                hashlib.sha256(contents[name]).digest()).rstrip(b"=").decode()
            self.assertEqual((digest, size), ("sha256=" + expected, len(contents[name])))

    def test_tag_matches_the_interpreter_the_module_is_built_for(self):
        interpreter, abi, platform = wheel.wheel_tag().split("-")
        self.assertEqual((interpreter, abi), ("cp310", "cp310"))
        machine = os.uname().machine
        self.assertTrue(platform.endswith(machine), platform)


if __name__ == "__main__":
    unittest.main()
