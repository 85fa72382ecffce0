"""Model files and segmentation under a decimal-comma locale, set the way
desktop and command-line programs set it: setlocale(LC_ALL, "") in a process
whose environment names de_DE.UTF-8. The locale is built at test time
(CTest's locale.de_DE fixture) into the folder VORN_LOCPATH names."""

import json
import os
import subprocess
import sys
import tempfile
import unittest

LOCPATH = os.environ.get("VORN_LOCPATH", "")
COMMA_LOCALE = "de_DE.UTF-8"

# Every child starts like this: the module is imported only after the locale
# is set, and the locale is proven to have taken effect.
PRELUDE = """
import json, locale, sys
locale.setlocale(locale.LC_ALL, "")
assert locale.localeconv()["decimal_point"] == sys.argv[1], locale.localeconv()
from pyvornlex import BM25, Jieba
from pyvornlex_data import dict_paths
"""

DOCUMENTS = [["北京", "大学", "北京"], ["a", "a", "b"], ["大学", "x", "y", "z"], [7, -7, 42]]
QUERIES = [["北京", "x"], ["a", "b", "never"], ["大学"]]
TRAIN = """
model = BM25(0.5, 1.25)
for tokens in json.loads(sys.argv[2]):
    model.train(tokens)
"""
# Weights as exact hexadecimal text, so that "equal" means to the last bit.
ENCODE = """
weights = [(sorted((k, v.hex()) for k, v in model.encode_document(q).items()),
            sorted((k, v.hex()) for k, v in model.encode_query(q).items()))
           for q in json.loads(sys.argv[3])]
print(json.dumps([model.b().hex(), model.k1().hex(), weights]))
"""
# Sentences that the library cut differently when it loaded its model under
# the comma locale (its probabilities read as integers), and some more.
SENTENCES = ["这对您的", "很有可能与", "并共享给组。", "它的后端。它", "他来到了网易杭研大厦",
             "小明硕士毕业于中国科学院计算所，后在日本京都大学深造"]
CUT = """
jieba = Jieba(*dict_paths())
sentences = json.loads(sys.argv[2])
print(json.dumps([[jieba.cut(s) for s in sentences],
                  [jieba.cut_for_search(s) for s in sentences],
                  locale.localeconv()["decimal_point"]]))
"""


def run(language, decimal_point, script, *args):
    environment = dict(os.environ, LOCPATH=LOCPATH, LANG=language, LC_ALL=language)
    completed = subprocess.run([sys.executable, "-c", PRELUDE + script, decimal_point, *args],
                               env=environment, capture_output=True, text=True)
    if completed.returncode != 0:
        raise AssertionError("child failed:\n" + completed.stderr)
    return completed.stdout


def in_comma_locale(script, *args):
    return run(COMMA_LOCALE, ",", script, *args)


def in_c_locale(script, *args):
    return run("C", ".", script, *args)


@unittest.skipUnless(os.path.isdir(os.path.join(LOCPATH, COMMA_LOCALE)),
                     "run through CTest, which builds de_DE.UTF-8 into VORN_LOCPATH")
class CommaLocale(unittest.TestCase):
    def setUp(self):
        directory = tempfile.TemporaryDirectory()
        self.addCleanup(directory.cleanup)
        self.comma_file = os.path.join(directory.name, "comma.json")
        self.c_file = os.path.join(directory.name, "c.json")
        self.documents = json.dumps(DOCUMENTS)
        self.queries = json.dumps(QUERIES)

    def dump(self, runner, path):
        runner(TRAIN + "model.dump(sys.argv[3])\n", self.documents, path)
        with open(path, "rb") as file:
            return file.read()

    def encodings_of_file(self, runner, path):
        load = "model = BM25()\nmodel.load(open(sys.argv[2], encoding='utf-8').read())\n"
        return json.loads(runner(load + ENCODE, path, self.queries))

    def test_a_model_dumped_under_the_comma_locale_is_the_c_locale_file(self):
        comma_text = self.dump(in_comma_locale, self.comma_file)
        self.assertEqual(comma_text, self.dump(in_c_locale, self.c_file))
        self.assertIn(b'"_b" : 0.500000,', comma_text)
        self.assertIn(b'"_k1" : 1.250000\n}', comma_text)
        trained_here = json.loads(in_c_locale(TRAIN + ENCODE, self.documents, self.queries))
        self.assertEqual(self.encodings_of_file(in_c_locale, self.comma_file), trained_here)

    def test_a_c_locale_file_loads_whole_under_the_comma_locale(self):
        self.dump(in_c_locale, self.c_file)
        self.assertEqual(self.encodings_of_file(in_comma_locale, self.c_file),
                         self.encodings_of_file(in_c_locale, self.c_file))
        b, k1, _ = self.encodings_of_file(in_comma_locale, self.c_file)
        self.assertEqual((float.fromhex(b), float.fromhex(k1)), (0.5, 1.25))

    def test_the_segmenter_cuts_alike_and_leaves_the_host_locale_alone(self):
        sentences = json.dumps(SENTENCES)
        cuts, search_cuts, decimal_point = json.loads(in_comma_locale(CUT, sentences))
        c_cuts, c_search_cuts, _ = json.loads(in_c_locale(CUT, sentences))
        self.assertEqual(cuts, c_cuts)
        self.assertEqual(search_cuts, c_search_cuts)
        self.assertEqual(c_cuts[0], ["这", "对", "您", "的"])
        self.assertEqual(decimal_point, ",")


if __name__ == "__main__":
    unittest.main()
