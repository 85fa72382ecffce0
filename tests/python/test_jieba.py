"""Jieba: normal and search segmentation with the standard dictionaries and
with tiny ones, argument handling, and cutting from several threads."""

import os
import sys
import tempfile
import threading
import time
import unittest

import pyvornlex_data
from pyvornlex import Jieba

from jieba_files import write_files

SEPARATED = "中国科学院 北京\t大学\n我，来到。中国科学院"
SENTENCES = [
    "他来到了网易杭研大厦",
    "小明硕士毕业于中国科学院计算所，后在日本京都大学深造",
    "我来自北京邮电大学。。。学号123456，用AK47",
    "令狐冲是云计算方面的专家",
    "Hello world! 混合English和中文, 3.14 与 AK47。\r\n第二行",
    SEPARATED,
]


def standard_jieba(user_dict_path=""):
    return Jieba(*pyvornlex_data.dict_paths(user_dict_path))


class StandardDictionaries(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.plain = standard_jieba()
        # The library's own tests and demo use its sample user dictionary.
        cls.sample = standard_jieba(pyvornlex_data.sample_user_dict())

    def test_library_examples(self):
        cut = self.sample.cut
        search = self.sample.cut_for_search
        self.assertEqual(cut("他来到了网易杭研大厦"), ["他", "来到", "了", "网易", "杭研", "大厦"])
        self.assertEqual(search("他来到了网易杭研大厦"), ["他", "来到", "了", "网易", "杭研", "大厦"])
        self.assertEqual(
            cut("我来自北京邮电大学。。。学号123456，用AK47"),
            ["我", "来自", "北京邮电大学", "。", "。", "。", "学号", "123456", "，", "用", "AK47"])
        self.assertEqual(
            search("小明硕士毕业于中国科学院计算所，后在日本京都大学深造"),
            ["小明", "硕士", "毕业", "于", "中国", "科学", "学院", "科学院", "中国科学院", "计算",
             "计算所", "，", "后", "在", "日本", "京都", "大学", "日本京都大学", "深造"])
        self.assertEqual(cut("男默女泪"), ["男默", "女泪"])
        self.assertEqual(cut("令狐冲是云计算方面的专家"),
                         ["令狐冲", "是", "云计算", "方面", "的", "专家"])

    def test_user_dictionary_adds_words_and_empty_path_adds_none(self):
        self.assertEqual(self.plain.cut("令狐冲是云计算方面的专家"),
                         ["令狐冲", "是", "云", "计算", "方面", "的", "专家"])
        self.assertEqual(self.plain.cut("区块链"), ["区块", "链"])
        self.assertEqual(self.sample.cut("区块链"), ["区块链"])
        self.assertEqual(self.sample.cut_for_search("区块链"), ["区块", "区块链"])

    def test_empty_user_dictionary_path_from_another_directory(self):
        # Not even a file that happens to sit in the current directory is read.
        previous = os.getcwd()
        with tempfile.TemporaryDirectory() as directory:
            with open(os.path.join(directory, "user.dict.utf8"), "w", encoding="utf-8") as file:
                file.write("区块链\n")
            os.chdir(directory)
            try:
                jieba = standard_jieba()
            finally:
                os.chdir(previous)
        self.assertEqual(jieba.cut("区块链"), ["区块", "链"])

    def test_empty_sentence(self):
        self.assertEqual(self.plain.cut(""), [])
        self.assertEqual(self.plain.cut_for_search(""), [])

    def test_words_join_back_into_the_sentence(self):
        for sentence in SENTENCES:
            with self.subTest(sentence=sentence):
                self.assertEqual("".join(self.plain.cut(sentence)), sentence)

    def test_separators_come_out_alone(self):
        for method in (self.plain.cut, self.plain.cut_for_search):
            words = method(SEPARATED)
            for separator in (" ", "\t", "\n", "，", "。"):
                with self.subTest(method=method.__name__, separator=separator):
                    self.assertEqual(words.count(separator), SEPARATED.count(separator))
                    self.assertFalse([w for w in words if separator in w and w != separator])

    def test_search_keeps_the_cut_words_in_order(self):
        for sentence in SENTENCES:
            with self.subTest(sentence=sentence):
                cut = self.plain.cut(sentence)
                search = self.plain.cut_for_search(sentence)
                extra = []
                position = 0
                for word in search:
                    if position < len(cut) and word == cut[position]:
                        # Each extra word is a 2- or 3-character part of the
                        # next cut word, which is longer than the part.
                        for part in extra:
                            self.assertIn(part, word)
                            self.assertIn(len(part), (2, 3))
                            self.assertGreater(len(word), len(part))
                        extra = []
                        position += 1
                    else:
                        extra.append(word)
                self.assertEqual(position, len(cut))
                self.assertEqual(extra, [])

    def test_argument_types(self):
        with self.assertRaises(TypeError):
            Jieba(1, 2, 3, 4, 5)
        with self.assertRaises(TypeError):
            Jieba(*pyvornlex_data.dict_paths()[:4])
        with self.assertRaises(TypeError):
            Jieba(*pyvornlex_data.dict_paths(None))
        for bad in (None, 3, ["中国"], 1.5):
            for method in (self.plain.cut, self.plain.cut_for_search):
                with self.subTest(method=method.__name__, argument=bad):
                    with self.assertRaises(TypeError):
                        method(bad)
        with self.assertRaises(TypeError):
            self.plain.cut(text="中国")
        with self.assertRaises(TypeError):
            self.plain.cut()
        self.assertEqual(self.plain.cut(sentence="中国"), ["中国"])
        self.assertEqual(self.plain.cut_for_search(sentence="中国"), ["中国"])

    def test_bytes_sentences(self):
        self.assertEqual(self.plain.cut("北京大学".encode()), self.plain.cut("北京大学"))
        # Not UTF-8 at all: the library refuses the sentence and cuts nothing.
        for method in (self.plain.cut, self.plain.cut_for_search):
            self.assertEqual(method(b"\xff\xfe\xfd"), [])
            self.assertEqual(method(b"abc\xf8"), [])
        # The library's decoder accepts a bad continuation byte; the word it
        # returns is not UTF-8, which the interpreter reports.
        with self.assertRaises(UnicodeDecodeError):
            self.plain.cut(b"\xc3(")


class TinyDictionaries(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls._directory = tempfile.TemporaryDirectory()
        cls.paths = write_files(cls._directory.name)
        cls.with_user = Jieba(**cls.paths)
        cls.without_user = Jieba(**dict(cls.paths, user_dict_path=""))

    @classmethod
    def tearDownClass(cls):
        cls._directory.cleanup()

    def test_dictionary_words_and_search_parts(self):
        self.assertEqual(self.without_user.cut("我来到北京大学"), ["我", "来到", "北京", "大学"])
        self.assertEqual(self.without_user.cut("中国科学院"), ["中国科学院"])
        self.assertEqual(self.without_user.cut_for_search("中国科学院"),
                         ["中国", "科学", "学院", "科学院", "中国科学院"])

    def test_user_dictionary(self):
        self.assertEqual(self.with_user.cut("云计算好"), ["云计算", "好"])
        self.assertEqual(self.without_user.cut("云计算好"), ["云", "计", "算", "好"])

    def test_empty_sentence_and_separators(self):
        for method in (self.with_user.cut, self.with_user.cut_for_search):
            self.assertEqual(method(""), [])
            self.assertEqual(method(" \t\n，。"), [" ", "\t", "\n", "，", "。"])
            self.assertEqual(method("北京，中国科学院。"),
                             method("北京") + ["，"] + method("中国科学院") + ["。"])


class Threads(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.jieba = standard_jieba()

    def test_concurrent_cuts_match_lone_cuts(self):
        expected = [(self.jieba.cut(s), self.jieba.cut_for_search(s)) for s in SENTENCES]
        results = {}

        def work(number):
            got = []
            for _ in range(50):
                got.append([(self.jieba.cut(s), self.jieba.cut_for_search(s)) for s in SENTENCES])
            results[number] = got

        threads = [threading.Thread(target=work, args=(n,)) for n in range(4)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        self.assertEqual(len(results), 4)
        for got in results.values():
            for run in got:
                self.assertEqual(run, expected)

    def test_lock_is_released_while_cutting(self):
        # With a huge switch interval the interpreter never takes the lock away
        # from the main thread, so the counter can only move while the cut
        # itself has let the lock go.
        unit = "我来自北京邮电大学，学号123456。"
        long_text = unit * 20000
        counter = [0]
        stop = threading.Event()

        def count():
            while not stop.is_set():
                counter[0] += 1
                time.sleep(0)  # lets the main thread take the lock back

        previous_interval = sys.getswitchinterval()
        sys.setswitchinterval(1000.0)
        thread = threading.Thread(target=count)
        thread.start()
        try:
            before = counter[0]
            words = self.jieba.cut(long_text)
            during_cut = counter[0] - before
            before = counter[0]
            for _ in range(1000):
                sum(range(100))  # pure Python work holding the lock
            during_python = counter[0] - before
        finally:
            stop.set()
            sys.setswitchinterval(previous_interval)
            thread.join()
        self.assertEqual(words, self.jieba.cut(unit) * 20000)
        self.assertEqual(during_python, 0)  # the method above is sound
        self.assertGreater(during_cut, 0)


class DataHelper(unittest.TestCase):
    def test_paths_are_absolute_and_in_constructor_order(self):
        paths = pyvornlex_data.dict_paths()
        self.assertEqual(paths._fields, ("dict_path", "hmm_path", "user_dict_path", "idf_path",
                                         "stop_word_path"))
        self.assertEqual(paths.user_dict_path, "")
        for path in paths[:2] + paths[3:] + (pyvornlex_data.sample_user_dict(),):
            self.assertTrue(os.path.isabs(path), path)
            self.assertTrue(os.path.isfile(path), path)
        self.assertEqual(pyvornlex_data.dict_paths("a|b").user_dict_path, "a|b")

    def test_paths_follow_the_package_when_it_moves(self):
        import importlib.util
        with tempfile.TemporaryDirectory() as directory:
            source = os.path.join(os.path.dirname(pyvornlex_data.__file__), "__init__.py")
            location = importlib.util.spec_from_file_location(
                "moved_data", os.path.join(directory, "__init__.py"))
            with open(source, encoding="utf-8") as src, \
                    open(location.origin, "w", encoding="utf-8") as dst:
                dst.write(src.read())
            moved = importlib.util.module_from_spec(location)
            location.loader.exec_module(moved)
            self.assertEqual(moved.dict_dir(), os.path.join(directory, "dict"))
            self.assertEqual(os.path.dirname(moved.dict_paths().idf_path),
                             os.path.join(directory, "dict"))

if __name__ == "__main__":
    unittest.main()
