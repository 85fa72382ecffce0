"""The offline pip install, as a new user meets it: a fresh venv,
`pip install --no-build-isolation --no-index <checkout>`, then everything is
used from a directory outside the source and build trees.

Slow (a full build of the module): CTest gives it a long timeout and the label
"install".
"""

import glob
import importlib.util
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

SOURCE_DIR = os.path.abspath(os.environ.get(
    "VORN_SOURCE_DIR", os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")))
EXAMPLES = os.path.join(SOURCE_DIR, "examples")

# Type errors a checker can only report when it reads the stubs.
MISTAKES = '''\
from pyvornlex import BM25
model = BM25()
model.train("not a list")
ids: dict[int, float] = model.encode_query(["a"])
model.dump(path="model.json")
'''


def project_version():
    module_location = importlib.util.spec_from_file_location(
        "pyvornlex_build.project",
        os.path.join(SOURCE_DIR, "pip_backend", "pyvornlex_build", "project.py"))
    project = importlib.util.module_from_spec(module_location)
    module_location.loader.exec_module(project)
    return project.read_project(SOURCE_DIR)["version"]


class OfflineInstall(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory(prefix="pyvornlex-install-")
        root = cls.scratch.name
        cls.venv = os.path.join(root, "venv")
        cls.outside = os.path.join(root, "elsewhere")
        os.mkdir(cls.outside)
        # Nothing of the test run may leak into the venv: no PYTHONPATH to the
        # build tree, no pip configuration that points at an index.
        cls.env = {k: v for k, v in os.environ.items()
                   if not k.startswith(("PYTHON", "PIP_", "VIRTUAL_ENV"))}
        cls.env.update(PYTHONDONTWRITEBYTECODE="1", PIP_CONFIG_FILE=os.devnull,
                       PIP_DISABLE_PIP_VERSION_CHECK="1", CMAKE_BUILD_PARALLEL_LEVEL="2")
        subprocess.run([sys.executable, "-m", "venv", cls.venv], check=True, env=cls.env)
        cls.python = os.path.join(cls.venv, "bin", "python")
        install = subprocess.run(
            [cls.python, "-m", "pip", "install", "--no-build-isolation", "--no-index",
             SOURCE_DIR],
            cwd=cls.outside, env=cls.env, capture_output=True, text=True, timeout=900)
        if install.returncode != 0:
            cls.scratch.cleanup()
            raise AssertionError("pip install failed:\n" + install.stdout + install.stderr)
        cls.site_packages = glob.glob(os.path.join(cls.venv, "lib", "python3.10",
                                                   "site-packages"))[0]

    @classmethod
    def tearDownClass(cls):
        cls.scratch.cleanup()

    def run_python(self, *arguments):
        return subprocess.run([self.python, *arguments], cwd=self.outside, env=self.env,
                              capture_output=True, text=True, timeout=120)

    def output_lines(self, script):
        result = self.run_python("-c", script)
        self.assertEqual(result.returncode, 0, result.stderr)
        return result.stdout.splitlines()

    def test_module_and_helper_import_from_the_venv(self):
        script = (
            "import pyvornlex, pyvornlex_data, pyvornlex_merge\n"
            "print(pyvornlex.__file__); print(pyvornlex_data.__file__)\n"
            "print(pyvornlex_merge.__file__)\n"
            "print(sorted(n for n in vars(pyvornlex) if not n.startswith('__')))\n"
            "m, twice = pyvornlex.BM25(), pyvornlex.BM25()\n"
            "for tokens in [['a', 'a', 'b'], ['a', 'c']] * 2: twice.train(tokens)\n"
            "m.train(['a', 'a', 'b']); m.train(['a', 'c'])\n"
            "print(m.encode_document(['a', 'b', 'a']))\n"
            "text = pyvornlex_merge.model_text(m)\n"
            "print(pyvornlex_merge.merge_texts([text, text]) == pyvornlex_merge.model_text(twice))\n")
        lines = self.output_lines(script)
        for path in lines[:3]:
            self.assertTrue(path.startswith(self.site_packages + os.sep), path)
        self.assertEqual(lines[3], "['BM25', 'Jieba']")
        self.assertEqual(lines[4], "{'a': 0.591715976331361, 'b': 0.42016806722689076}")
        self.assertEqual(lines[5], "True")

    def test_standard_dictionaries_come_with_the_install(self):
        script = (
            "from pyvornlex import Jieba\n"
            "from pyvornlex_data import dict_paths, dict_dir, sample_user_dict\n"
            "import os\n"
            "paths = dict_paths()\n"
            "print(dict_dir())\n"
            "print(all(os.path.isfile(p) for p in paths if p) and os.path.isfile(sample_user_dict()))\n"
            "print(Jieba(*paths).cut('他来到了网易杭研大厦'))\n")
        lines = self.output_lines(script)
        self.assertEqual(lines[0], os.path.join(self.site_packages, "pyvornlex_data", "dict"))
        self.assertEqual(lines[1:], ["True", "['他', '来到', '了', '网易', '杭研', '大厦']"])

    def test_record_lists_every_installed_file(self):
        # pip uninstall removes what RECORD lists, nothing else.
        script = ("import importlib.metadata as m\n"
                  "print(m.version('pyvornlex'))\n"
                  "for f in m.files('pyvornlex'): print(f)\n")
        version, *recorded = self.output_lines(script)
        self.assertEqual(version, project_version())
        ours = ("pyvornlex.", "pyvornlex-stubs", "pyvornlex_data", "pyvornlex_merge",
                "pyvornlex_search", "_pyvornlex_files",
                "pyvornlex-" + version)
        on_disk = {os.path.relpath(os.path.join(d, f), self.site_packages)
                   for d, _, files in os.walk(self.site_packages) for f in files
                   if os.path.relpath(d, self.site_packages).startswith(ours)
                   or (d == self.site_packages and f.startswith(ours))}
        self.assertEqual(on_disk, set(recorded))
        self.assertIn("pyvornlex-stubs/__init__.pyi", recorded)
        self.assertIn("pyvornlex_data/py.typed", recorded)
        self.assertIn("pyvornlex_merge/py.typed", recorded)
        self.assertIn("pyvornlex_merge/__main__.py", recorded)
        self.assertIn("_pyvornlex_files/model_file.py", recorded)
        self.assertIn("pyvornlex_search/py.typed", recorded)
        self.assertIn("pyvornlex_search/__main__.py", recorded)
        self.assertIn("pyvornlex_search/page.html", recorded)  # the server's page

    def test_search_package_indexes_and_searches_from_the_venv(self):
        script = (
            "import os, tempfile, pyvornlex_search\n"
            "from pyvornlex_search import build_index, SearchIndex\n"
            "print(pyvornlex_search.__file__)\n"
            "folder = tempfile.mkdtemp()\n"
            "corpus = os.path.join(folder, 'c.txt')\n"
            "open(corpus, 'w', encoding='utf-8').write('杭州西湖\\n北京冬天\\n')\n"
            "build_index(corpus, os.path.join(folder, 'c.db'))\n"
            "print([h.text for h in SearchIndex(os.path.join(folder, 'c.db')).search('西湖')])\n")
        lines = self.output_lines(script)
        self.assertTrue(lines[0].startswith(self.site_packages + os.sep), lines[0])
        self.assertEqual(lines[1], "['杭州西湖']")

    def test_examples_run_against_the_install(self):
        for name in ("search_demo.py", "parallel_training.py"):
            with self.subTest(example=name):
                result = self.run_python(os.path.join(EXAMPLES, name))
                self.assertEqual(result.returncode, 0, result.stderr)

    def test_type_checker_finds_the_stubs(self):
        mypy = shutil.which("mypy")
        if mypy is None:
            self.skipTest("mypy is not installed (bash scripts/setup.sh installs it)")
        command = [mypy, "--python-executable", self.python, "--python-version", "3.10",
                   "--cache-dir", os.path.join(self.scratch.name, "mypy-cache"),
                   "--no-error-summary"]
        typed = subprocess.run(command + ["--strict", os.path.join(EXAMPLES, "typed_search.py")],
                               cwd=self.outside, env=self.env, capture_output=True, text=True)
        self.assertEqual(typed.returncode, 0, typed.stdout + typed.stderr)
        merge = subprocess.run(command + ["--strict", "-p", "pyvornlex_merge"],
                               cwd=self.outside, env=self.env, capture_output=True, text=True)
        self.assertEqual(merge.returncode, 0, merge.stdout + merge.stderr)

        mistakes = os.path.join(self.outside, "mistakes.py")
        with open(mistakes, "w", encoding="utf-8") as handle:
            handle.write(MISTAKES)
        found = subprocess.run(command + [mistakes], cwd=self.outside, env=self.env,
                               capture_output=True, text=True).stdout
        errors = [line for line in found.splitlines() if ": error:" in line]
        self.assertEqual([line.split(":")[1] for line in errors], ["3", "4", "5"], found)
        self.assertIn('No overload variant of "train"', errors[0])
        self.assertIn('"Dict[str, float]"', errors[1])
        self.assertIn('Unexpected keyword argument "path"', errors[2])


if __name__ == "__main__":
    unittest.main()
