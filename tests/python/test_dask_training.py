"""examples/dask_training.py on Dask's processes scheduler with two workers,
with Debian's python3-dask seen by Python 3.10 through a folder of links."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import pyvornlex
from pyvornlex import BM25, Jieba
from pyvornlex_data import dict_paths
from pyvornlex_merge import model_bytes

SOURCE_DIR = os.path.abspath(os.environ.get(
    "VORN_SOURCE_DIR", os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")))
sys.path[:0] = [os.path.join(SOURCE_DIR, "scripts"), os.path.join(SOURCE_DIR, "examples")]
import dask_training  # noqa: E402
import debian_dask  # noqa: E402

EXAMPLE = dask_training.__file__
MODULE_DIR = os.path.dirname(os.path.abspath(pyvornlex.__file__))
LINES = ["杭州的龙井茶很有名", "北京的冬天很冷", "", "西湖在杭州城西", "他来到了网易杭研大厦",
         "今天天气不错，我们去西湖划船。", "搜索引擎把文档切成词", "BM25 model\twith \"quotes\""]


class DaskTraining(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory(prefix="dask-test-")
        cls.links = debian_dask.link_dask(os.path.join(cls.scratch.name, "links"))
        cls.corpus = os.path.join(cls.scratch.name, "corpus.txt")
        with open(cls.corpus, "w", encoding="utf-8", newline="") as handle:
            for number in range(240):
                handle.write(LINES[number % len(LINES)] * (1 + number % 3)
                             + ("\r\n" if number % 7 == 0 else "\n"))
            handle.write("最后一行没有换行符")  # 30 of the 240 lines are blank

    @classmethod
    def tearDownClass(cls):
        cls.scratch.cleanup()

    def run_example(self, *arguments, python_path, example=EXAMPLE):
        environment = dict(os.environ, PYTHONPATH=python_path, PYTHONDONTWRITEBYTECODE="1")
        return subprocess.run([sys.executable, example, *arguments], cwd=self.scratch.name,
                              env=environment, capture_output=True, text=True, timeout=300)

    def test_two_workers_give_the_file_of_one_process(self):
        output = os.path.join(self.scratch.name, "model.json")
        result = self.run_example("--workers", "2", "--partitions", "2", "-o", output,
                                  self.corpus, python_path=self.links + os.pathsep + MODULE_DIR)
        self.assertEqual(result.returncode, 0, result.stderr)
        # Both workers trained a partition: the scheduler must not hand both
        # tasks to one process.
        self.assertIn("211 documents in 2 partitions trained by 2 worker processes (2 local)",
                      result.stdout)
        self.assertIn("verified: equal byte for byte", result.stdout)

        jieba, model = Jieba(*dict_paths()), BM25()
        with open(self.corpus, encoding="utf-8") as handle:
            for line in handle:
                if line.strip("\n"):
                    model.train(jieba.cut(line.strip("\n")))
        with open(output, "rb") as handle:
            self.assertEqual(handle.read(), model_bytes(model))

    def test_it_verifies_by_default_where_the_files_must_be_equal_and_says_when_not(self):
        limit = dask_training.EXACT_DOCUMENTS
        self.assertEqual(dask_training.verification(limit, None), (True, None))
        self.assertEqual(dask_training.verification(limit + 1, True), (True, None))
        self.assertEqual(dask_training.verification(3, False),
                         (False, "not verified (--no-verify)"))
        verify, why_not = dask_training.verification(limit + 1, None)
        self.assertFalse(verify)
        self.assertIn("not verified: %d documents, more than the %d" % (limit + 1, limit),
                      why_not)

    def test_the_links_show_dask_and_hide_debians_extension_modules(self):
        self.assertEqual(sorted(os.listdir(self.links)), sorted(debian_dask.PACKAGES))
        script = ("import importlib.util, dask.bag, dask.multiprocessing\n"
                  "numpy = importlib.util.find_spec('numpy')\n"
                  "print(dask.__file__, numpy and numpy.origin)\n")
        shown = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                               env=dict(os.environ, PYTHONPATH=self.links))
        self.assertEqual(shown.returncode, 0, shown.stderr)
        dask_file, numpy_origin = shown.stdout.split()
        self.assertTrue(dask_file.startswith(self.links + os.sep), dask_file)
        self.assertNotIn(debian_dask.DIST_PACKAGES, numpy_origin)

    def test_without_dask_it_says_how_to_get_it(self):
        # A copy away from the checkout has no scripts/ to link Dask with.
        lone = os.path.join(self.scratch.name, "lone", "dask_training.py")
        os.makedirs(os.path.dirname(lone), exist_ok=True)
        shutil.copy(EXAMPLE, lone)
        result = self.run_example(self.corpus, python_path=MODULE_DIR, example=lone)
        self.assertEqual(result.returncode, 1)
        self.assertIn("apt-get install --no-install-recommends python3-dask", result.stderr)
        self.assertNotIn("Traceback", result.stderr)

    def test_a_scheduler_address_needs_dask_distributed(self):
        result = self.run_example("--scheduler", "tcp://127.0.0.1:1", self.corpus,
                                  python_path=self.links + os.pathsep + MODULE_DIR)
        self.assertEqual(result.returncode, 1)
        self.assertIn("--scheduler needs dask.distributed", result.stderr)

    def test_debian_dask_names_the_missing_package(self):
        with self.assertRaisesRegex(FileNotFoundError,
                                    "apt-get install --no-install-recommends python3-dask"):
            debian_dask.link_dask(os.path.join(self.scratch.name, "none"),
                                    dist_packages=self.scratch.name)


if __name__ == "__main__":
    unittest.main()
