"""pyvornlex_search.analysis and .vectors as a user meets them: case and width
folded alike, stop words gone, user-dictionary words cut whole, settings that
survive JSON, fingerprints that catch a missing or changed file, the fast
cut equal to the plain one, and sparse vectors whose inner products are the
dict vectors' ones."""

import hashlib
import json
import math
import os
import sys
import tempfile
import unicodedata
import unittest

from pyvornlex import BM25, Jieba
from pyvornlex_data import dict_dir, dict_paths, sample_user_dict
from pyvornlex_search.analysis import (STANDARD_STOP_WORDS, Analysis, Analyzer, build_jieba,
                                       fold_text)
from pyvornlex_search.errors import AnalysisChangedError, SearchToolError
from pyvornlex_search.folding import _COMMON_FORMS, _MAY_CHANGE, folded_dictionary
from pyvornlex_search.vectors import (ID_SPACE, SparseVector, document_vector, document_vectors,
                                      query_vector, sparse, token_id)

from sqlite_corpus import corpus_lines

MIXED = ["LibreOffice 和 Python", "libreoffice 和 python", "LIBREOFFICE 和 PYTHON",
         "ＬｉｂｒｅＯｆｆｉｃｅ 和 ＰＹＴＨＯＮ"]
# Texts whose folding changes their length, or starts a line with a combining mark.
RESHAPED = ["Straße ﬁle ㎏ ①②", "İstanbul ǰ", "\u0301杭州西湖", "ＡＢＣ\u3000ｄｅｆ", "Ⅻ月 ㍿"]

_SHARED = {}


def definition(text):
    return unicodedata.normalize("NFKC", text).casefold()


def shared(name, make):
    """One Jieba per kind for the whole file: building one takes seconds."""
    if name not in _SHARED:
        _SHARED[name] = make()
    return _SHARED[name]


def standard_jieba():
    return shared("standard", lambda: Jieba(*dict_paths()))


def folding_jieba():
    return shared("folding", lambda: build_jieba(Analysis()))


def analyzer(analysis=Analysis(), **options):
    jieba = folding_jieba() if analysis.fold else standard_jieba()
    return Analyzer(analysis, jieba=jieba, **options)


class Scratch(unittest.TestCase):
    def setUp(self):
        self._folder = tempfile.TemporaryDirectory()
        self.folder = self._folder.name
        self.addCleanup(self._folder.cleanup)

    def write(self, name, content):
        path = os.path.join(self.folder, name)
        with open(path, "wb") as handle:
            handle.write(content.encode("utf-8") if isinstance(content, str) else content)
        return path


class Folding(unittest.TestCase):
    def test_case_and_width_give_the_same_words(self):
        folded = analyzer()
        self.assertEqual([folded.words(text) for text in MIXED], [["libreoffice", "python"]] * 4)
        kept = analyzer(Analysis(fold=False, stop_words=None))
        self.assertEqual(kept.words("PYTHON"), ["PYTHON"])
        self.assertEqual(len(kept.words("ＰＹＴＨＯＮ")), 6)  # cut character by character

    def test_fold_is_the_normalisation_alone(self):
        self.assertEqual(analyzer().fold("ＰｙＴＨＯＮ，Straße"), "python,strasse")
        self.assertEqual(analyzer(Analysis.legacy()).fold("ＰｙＴＨＯＮ"), "ＰｙＴＨＯＮ")
        for text in MIXED + RESHAPED:
            folded = analyzer().fold(text)
            self.assertEqual(fold_text(folded), folded)
            self.assertTrue(all(word in folded for word in analyzer().words(text)))

    def test_folding_is_nfkc_then_case_folding_and_keeps_lines_apart(self):
        everything = "".join(chr(point) for point in range(sys.maxunicode + 1)
                             if not 0xD800 <= point < 0xE000)
        self.assertEqual(fold_text(everything), definition(everything))
        self.assertEqual(fold_text(everything).count("\n"), 1)
        # The common forms replaced before normalisation, where they meet
        # what they could compose with.
        for character in _COMMON_FORMS:
            for text in (character + "\u0301", "e" + character, character + "\u3099",
                         "\u1100" + character):
                self.assertEqual(fold_text(text), definition(text), ascii(text))
        lines = RESHAPED + ["e", "\u0301", "ᄀ", "\u1161", "a\u0308"]
        self.assertEqual(fold_text("\n".join(lines)), "\n".join(map(fold_text, lines)))

    def test_characters_taken_as_unchanged_are(self):
        unchanged = "".join(chr(point) for point in range(sys.maxunicode + 1)
                            if not _MAY_CHANGE.match(chr(point)))
        self.assertLessEqual(set("杭州㐀abc 123.\n"), set(unchanged))
        self.assertEqual(fold_text(unchanged), unchanged)
        self.assertFalse([c for c in unchanged if unicodedata.combining(c)])

    def test_dictionary_words_with_capitals_stay_whole(self):
        self.assertEqual(analyzer().words("T恤"), ["t恤"])
        self.assertEqual(analyzer().words("ｔ恤"), ["t恤"])
        self.assertEqual(analyzer(Analysis.legacy()).words("T恤"), ["T恤"])


class FoldedDictionary(Scratch):
    def test_words_folded_and_nothing_else_changed(self):
        main = self.write("main.dict", "T恤 4 n\nC++ 3 nz\nc++ 5 nz\nＡＢ 2 n\nＡb 1 n\n杭州 9 ns\n")
        user = self.write("user.dict", "LibreOffice\r\nＡＩ芯片 5 n\n\nＡ\u3000Ｂ nz\n".encode()
                          + b"\xff\xfe 3 n\n" + "云OS".encode())
        self.assertEqual(folded_dictionary(main, [user, user]).decode("utf-8", "replace"),
                         "t恤 4 n\nab 2 n\n" + 2 * "libreoffice\r\nai芯片 5 n\n\nＡ\u3000Ｂ nz\n"
                         "\ufffd\ufffd 3 n\n云os\n")


class StopWords(Scratch):
    TEXT = "我们在杭州的西湖边喝龙井茶，目的是休息"

    def test_the_shipped_list_by_default(self):
        words = analyzer().words(self.TEXT)
        self.assertNotIn("在", words)
        self.assertNotIn("的", words)
        self.assertIn("目的", words)  # a stop word is a whole word of the cut
        self.assertIn("的", analyzer(Analysis(stop_words=None)).words(self.TEXT))
        self.assertEqual(Analysis().stop_words, STANDARD_STOP_WORDS)

    def test_an_own_list_folded_as_the_text(self):
        own = self.write("stop.txt", "\ufeff杭州\r\n\n  ＬｉｂｒｅＯｆｆｉｃｅ  \r\n西湖\n")
        folded = analyzer(Analysis(stop_words=own))
        self.assertEqual(folded.words(self.TEXT + "LIBREOFFICE"),
                         [w for w in analyzer(Analysis(stop_words=None)).words(self.TEXT)
                          if w not in ("杭州", "西湖")])
        kept = analyzer(Analysis(fold=False, stop_words=own))
        self.assertEqual(kept.words("LibreOffice和libreoffice"), ["LibreOffice", "和", "libreoffice"])

    def test_an_unreadable_list_is_refused_by_name(self):
        latin1 = self.write("latin1.txt", "café\n".encode("latin-1"))
        with self.assertRaisesRegex(ValueError, "latin1.txt: the stop-word list is not UTF-8"):
            Analyzer(Analysis(stop_words=latin1), jieba=folding_jieba())
        with self.assertRaises(FileNotFoundError) as caught:
            Analyzer(Analysis(stop_words=os.path.join(self.folder, "none.txt")))
        self.assertEqual(caught.exception.filename, os.path.join(self.folder, "none.txt"))


class UserDictionaries(Scratch):
    def test_the_sample_dictionary_cuts_its_word_whole(self):
        self.assertNotEqual(standard_jieba().cut("云计算"), ["云计算"])
        with_sample = Analyzer(Analysis(user_dictionaries=sample_user_dict()))
        self.assertEqual(with_sample.words("我们的云计算平台"), ["云计算", "平台"])

    def test_own_dictionaries_folded_or_not(self):
        first = self.write("first.dict", "蓝鲸云盘\nＡＩ芯片 5 n\r\n")
        second = self.write("second.dict", "量子纠缠态 nz\n")
        text = "蓝鲸云盘的ai芯片和AI芯片研究量子纠缠态"
        analysis = Analysis(user_dictionaries=(first, second))
        self.assertEqual(Analyzer(analysis).words(text),
                         ["蓝鲸云盘", "ai芯片", "ai芯片", "研究", "量子纠缠态"])
        unfolded = Analyzer(Analysis(fold=False, user_dictionaries=(first, second)))
        self.assertEqual(unfolded.words("ＡＩ芯片和量子纠缠态"), ["ＡＩ芯片", "量子纠缠态"])

    def test_a_missing_dictionary_is_no_fallback(self):
        missing = os.path.join(self.folder, "missing.dict")
        for fold in (True, False):
            with self.subTest(fold=fold), self.assertRaises(FileNotFoundError) as caught:
                Analyzer(Analysis(fold=fold, user_dictionaries=(sample_user_dict(), missing)))
            self.assertEqual(caught.exception.filename, missing)

    def test_paths_stored_absolute_and_refused_where_cppjieba_splits(self):
        self.assertEqual(Analysis(user_dictionaries=("a.dict",)).user_dictionaries,
                         (os.path.abspath("a.dict"),))
        self.assertEqual(Analysis(stop_words="stop.txt").stop_words, os.path.abspath("stop.txt"))
        for bad in ("x|y.dict", "x;y.dict"):
            with self.subTest(path=bad), self.assertRaisesRegex(ValueError, "'|' or ';'"):
                Analysis(user_dictionaries=(bad,))
        with self.assertRaises(ValueError):
            Analysis(user_dictionaries=("",))
        with self.assertRaises(TypeError):
            Analysis(fold=1)


class Settings(Scratch):
    def test_round_trip_through_json(self):
        analyses = [Analysis(), Analysis.legacy(), Analysis(stop_words="/lists/stop.txt"),
                    Analysis(False, ("/d/a.dict", "/d/用户.dict"), None)]
        for analysis in analyses:
            with self.subTest(analysis=analysis):
                text = analysis.to_json()
                self.assertEqual(json.loads(text)["version"], 1)
                self.assertEqual(Analysis.from_json(text), analysis)
                self.assertEqual(hash(Analysis.from_json(text)), hash(analysis))
        self.assertEqual(len(set(analyses)), len(analyses))

    def test_what_from_json_refuses(self):
        good = json.loads(Analysis().to_json())
        cases = {"version 2": dict(good, version=2), "not JSON": "{", "a version": [],
                 "not what to_json": dict(good, fold="yes")}
        for expected, value in cases.items():
            text = value if isinstance(value, str) else json.dumps(value)
            with self.subTest(expected=expected), self.assertRaisesRegex(ValueError, expected):
                Analysis.from_json(text)

    def test_the_legacy_analysis_cuts_as_before(self):
        legacy = analyzer(Analysis.legacy())
        for text in corpus_lines(60) + ["PYTHON的，。 \t文件"]:
            self.assertEqual(legacy.words(text), [
                word for word in standard_jieba().cut(text)
                if not all(unicodedata.category(c)[0] in "ZPC" for c in word)])


class Fingerprints(Scratch):
    def setUp(self):
        super().setUp()
        self.user = self.write("user.dict", "蓝鲸云盘\n")
        self.stop = self.write("stop.txt", "的\n")
        self.analysis = Analysis(user_dictionaries=(self.user,), stop_words=self.stop)
        self.record = self.analysis.fingerprints()
        self.database = os.path.join(self.folder, "my corpus.db")

    def test_unchanged_files_pass_and_standard_ones_are_not_stored_by_path(self):
        self.analysis.check_fingerprints(self.record, self.database)
        stored = json.loads(self.record)["sha256"]
        with open(self.user, "rb") as handle:
            self.assertEqual(stored[self.user], hashlib.sha256(handle.read()).hexdigest())
        self.assertEqual(sorted(key for key in stored if key.startswith("standard:")),
                         ["standard:hmm_model.utf8", "standard:jieba.dict.utf8"])
        self.assertNotIn(dict_dir(), self.record)
        self.assertIn("standard:stop_words.utf8", Analysis().fingerprints())

    def test_a_changed_file_is_named_with_the_way_out(self):
        self.write("user.dict", "蓝鲸云盘\n白鲸云盘\n")
        with self.assertRaises(AnalysisChangedError) as caught:
            self.analysis.check_fingerprints(self.record, self.database)
        message = str(caught.exception)
        self.assertIn(f"the user dictionary {self.user} changed", message)
        self.assertTrue(message.endswith(
            f"python -m pyvornlex_search reencode '{self.database}' --use-current-files"), message)
        self.assertEqual(caught.exception.changes, (("user dictionary", self.user, "changed"),))
        self.assertIsInstance(caught.exception, SearchToolError)

    def test_missing_files_are_named_and_the_hint_is_the_callers(self):
        os.remove(self.user)
        self.write("stop.txt", "的\n了\n")
        with self.assertRaises(AnalysisChangedError) as caught:
            self.analysis.check_fingerprints(self.record, "c.db", hint="run `tool fix c.db`")
        self.assertEqual(str(caught.exception),
                         f"c.db: the user dictionary {self.user} is missing; the stop-word list "
                         f"{self.stop} changed since the database was cut with it; "
                         "run `tool fix c.db`")
        self.assertEqual([state for _, _, state in caught.exception.changes],
                         ["missing", "changed"])
        os.remove(self.stop)
        with self.assertRaisesRegex(AnalysisChangedError, "missing; restore them: without"):
            self.analysis.check_fingerprints(self.record, "c.db")

    def test_records_of_other_files_or_versions_are_refused(self):
        with self.assertRaisesRegex(ValueError, "not of the files"):
            Analysis().check_fingerprints(self.record, "c.db")
        newer = json.dumps(dict(json.loads(self.record), version=2))
        with self.assertRaisesRegex(ValueError, "version 2"):
            self.analysis.check_fingerprints(newer, "c.db")


class CutMany(unittest.TestCase):
    # The first chunk of texts is cut as one text, the last one text by text
    # (one holds a line feed).
    TEXTS = (MIXED + RESHAPED + ["", "，。！", "的的的"] + [text.upper() for text in MIXED]
             + corpus_lines(700, seed=5) + ["杭州\n西湖", "a\r\nb"])

    def test_equals_words_text_by_text(self):
        for analysis in (Analysis(), Analysis(stop_words=None), Analysis.legacy(),
                         Analysis(fold=False)):
            for threads in (1, 2):
                cutter = analyzer(analysis, threads=threads)
                with self.subTest(analysis=analysis, threads=threads):
                    self.assertEqual(cutter.cut_many(self.TEXTS),
                                     [cutter.words(text) for text in self.TEXTS])
        self.assertEqual(analyzer().cut_many([]), [])


def dot(first, second):
    return sum(weight * second.get(key, 0.0) for key, weight in first.items())


class Vectors(unittest.TestCase):
    def test_token_ids_are_the_documented_hash(self):
        for word, expected in (("杭州", 2818735985), ("python", 296003083), ("", 3820012610)):
            self.assertEqual(token_id(word), expected)
            self.assertEqual(int(hashlib.sha256(word.encode()).hexdigest()[:8], 16), expected)
        self.assertEqual(token_id("杭州", 1000), 2818735985 % 1000)
        self.assertEqual(token_id("杭州", ID_SPACE - 1), 2818735985 % (ID_SPACE - 1))
        for bad in (0, ID_SPACE + 1, 2.0, True):
            with self.subTest(dimension=bad), self.assertRaises(ValueError):
                sparse({"杭州": 1.0}, bad)

    def test_inner_products_of_converted_vectors_equal_the_dict_ones(self):
        cutter = analyzer(Analysis(stop_words=None))  # negative IDFs as well
        documents = list(filter(None, cutter.cut_many(corpus_lines(300, seed=3) + MIXED
                                                      + RESHAPED)))
        model = BM25()
        for words in documents:
            model.train(words)
        vocabulary = {word for words in documents for word in words}
        self.assertEqual(len({token_id(word) for word in vocabulary}), len(vocabulary))
        queries = [cutter.words(text) for text in corpus_lines(40, seed=9) + ["杭州 python"]]
        for query in filter(None, queries):
            dict_query = model.encode_query(query)
            converted = sparse(dict_query).as_dict()
            for words in documents[::7]:
                document = model.encode_document(words)
                self.assertAlmostEqual(dot(converted, sparse(document).as_dict()),
                                       dot(dict_query, document), delta=1e-12)

    def test_indices_ascend_and_colliding_weights_add_up(self):
        # Found by trying "词0", "词1", ... in turn: the first pair that collides.
        self.assertEqual(token_id("词32587"), token_id("词145554"))
        vector = sparse({"杭州": 0.5, "词145554": 0.25, "西湖": -0.125, "词32587": 2.0})
        self.assertEqual(vector.indices, sorted({token_id(w) for w in ("杭州", "西湖", "词32587")}))
        self.assertEqual(vector.as_dict()[token_id("词32587")], 2.25)
        self.assertEqual(sparse({"a": 1.0, "b": 2.0, "c": 4}, 1), SparseVector([0], [7.0]))
        self.assertEqual(sparse({}), SparseVector([], []))

    def test_document_and_query_vectors_go_through_the_analyzer(self):
        cutter = analyzer()
        texts = ["杭州的西湖", "ＰＹＴＨＯＮ和LibreOffice", "Python 文件"]
        model = BM25()
        for words in cutter.cut_many(texts):
            model.train(words)
        self.assertEqual(document_vectors(model, cutter, texts),
                         [document_vector(model, cutter, text) for text in texts])
        self.assertEqual(document_vector(model, cutter, texts[1]),
                         sparse(model.encode_document(["python", "libreoffice"])))
        self.assertEqual(query_vector(model, cutter, "PYTHON", 10),
                         SparseVector([token_id("python", 10)], [1.0]))

        class Cancelling:  # a query whose IDFs add up to zero
            def encode_query(self, words):
                return {word: math.inf for word in words}

        with self.assertRaisesRegex(ValueError, "add up to zero"):
            query_vector(Cancelling(), cutter, "杭州 西湖")


if __name__ == "__main__":
    unittest.main()
