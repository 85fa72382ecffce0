"""pyvornlex_merge: merged shards against one process's training, the six
decimals of the average, refusals that write nothing, files, command line."""

import json
import os
import random
import re
import stat
import subprocess
import sys
import tempfile
import tracemalloc
import unittest

from pyvornlex import BM25
from pyvornlex_merge import (CountOverflowError, MergeError, merge_files, merge_texts,
                             model_bytes, model_text, write_model)
from _pyvornlex_files.model_file import rebuilt_total

# Tokens that the file escapes, sorts differently once escaped, or keeps raw.
TRICKY = ["tab\there", 'q"uote', "back\\slash", "", "\x01", "\x7f", "x\0y", "\r\n", "\b\f",
          "北京", "大学", "Z", "a", "ab", "a\tb", "a b", "z" * 30]


def corpus(documents, seed=15, vocabulary=TRICKY + [str(n) for n in range(60)]):
    rng = random.Random(seed)
    return [rng.choices(vocabulary, k=rng.randint(1, 12)) for _ in range(documents)]


def trained(documents, b=0.75, k1=1.2):
    model = BM25(b, k1)
    for tokens in documents:
        model.train(tokens)
    return model


def loaded(text):
    model = BM25()
    model.load(text)
    return model


def shard_text(doc_count, average, table="", b="0.750000", k1="1.200000"):
    """A model file written by hand, in dump's layout."""
    return ('{\n  "_b" : %s,\n  "_doc_count" : %d,\n  "_doc_length_average" : %s,\n'
            '  "_doc_token_frequency" : {\n%s\n  },\n  "_k1" : %s\n}'
            % (b, doc_count, average, table, k1))


class AgainstOneProcess(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.documents = corpus(3000)
        cuts = [0, 1, 1, 700, 2100, 3000]  # a one-document and an untrained shard
        cls.shards = [trained(cls.documents[a:b]) for a, b in zip(cuts, cuts[1:])]
        cls.whole = trained(cls.documents)

    def test_merged_text_is_the_file_of_the_whole_corpus(self):
        texts = [model_text(shard) for shard in self.shards]
        merged = merge_texts(texts)
        self.assertIsInstance(merged, str)
        self.assertEqual(merged, model_text(self.whole))
        self.assertEqual(merge_texts(reversed(texts)), merged)
        as_bytes = merge_texts(model_bytes(shard) for shard in self.shards)
        self.assertEqual(as_bytes, model_bytes(self.whole))
        mixed = texts[:-1] + [model_bytes(self.shards[-1])]
        self.assertEqual(merge_texts(mixed), as_bytes)

    def test_encodings_against_the_model_in_memory(self):
        merged = loaded(merge_texts(model_text(shard) for shard in self.shards))
        queries = [TRICKY, ["unseen", "北京"], [str(n) for n in range(60)]]
        for query in queries:
            self.assertEqual(merged.encode_query(query), self.whole.encode_query(query))
        # The file's average is the true one to six decimals: a document
        # weight moves by at most |d average| / (4 average).
        average = sum(map(len, self.documents)) / len(self.documents)
        bound = 5e-7 / (4 * average) + 1e-15
        for tokens in self.documents[:300]:
            expected = self.whole.encode_document(tokens)
            for token, weight in merged.encode_document(tokens).items():
                self.assertLessEqual(abs(weight - expected[token]), bound)

    def test_one_shard_and_untrained_shards_come_back_unchanged(self):
        text = model_text(self.shards[3])
        empty = model_text(BM25())
        self.assertEqual(merge_texts([text]), text)
        self.assertEqual(merge_texts([empty, text, empty]), text)
        self.assertEqual(merge_texts([empty, empty]), empty)
        self.assertIn('"_doc_token_frequency" : {\n\n  },', empty)

    def test_ids_and_their_decimal_text_are_one_token(self):
        ids, strings = trained([[7, 42, 7], [-3]]), trained([["7", "x"]])
        whole = trained([[7, 42, 7], [-3], ["7", "x"]])
        self.assertEqual(merge_texts([model_text(ids), model_text(strings)]), model_text(whole))

    def test_tokens_that_are_not_utf8_travel_as_bytes(self):
        first, second = [[b"\xff\xfe", "a"], [b"\xc3"]], [[b"\xff\xfe", b"\x80\x80"]]
        merged = merge_texts([model_bytes(trained(first)), model_bytes(trained(second))])
        self.assertEqual(merged, model_bytes(trained(first + second)))
        with self.assertRaisesRegex(ValueError, r"model_bytes\(model\)"):
            model_text(trained(first))

    def test_shard_of_a_model_loaded_and_trained_further(self):
        earlier, later = self.documents[:1000], self.documents[1000:1400]
        continued = loaded(model_text(trained(earlier)))
        for tokens in later:
            continued.train(tokens)
        self.assertEqual(merge_texts([model_text(trained(earlier)), model_text(trained(later))]),
                         model_text(continued))

    def test_trees_of_merges_equal_one_merge(self):
        a, b, c, d, e = (model_text(shard) for shard in self.shards)
        one = merge_texts([a, b, c, d, e])
        self.assertEqual(merge_texts([merge_texts([merge_texts([a, b]), c]), merge_texts([d, e])]),
                         one)
        self.assertEqual(merge_texts([merge_texts([a, e]), merge_texts([c, b, d])]), one)

    def test_many_shards(self):
        documents = corpus(400, seed=3)
        texts = [model_text(trained(documents[start:start + 7])) for start in range(0, 400, 7)]
        self.assertEqual(merge_texts(texts), model_text(trained(documents)))


class SixDecimals(unittest.TestCase):
    """load rebuilds a shard's length total as count × six-decimal average,
    rounded half away from zero; the merge must rebuild the same."""

    def assert_merge_matches_load_then_train(self, doc_count, average):
        table = '    "a" : %d' % max(doc_count, 1)
        crafted = shard_text(doc_count, average, table)
        more = [["a", "b", "c"]]
        continued = loaded(crafted)
        continued.train(more[0])
        self.assertEqual(merge_texts([crafted, model_text(trained(more))]),
                         model_text(continued))

    def test_rebuilt_totals_round_as_load_rounds(self):
        # 2 × 1.25 and 1,000,001 × 0.5 lie half-way: Python's round() would
        # take the even neighbour, load takes the one away from zero.
        for doc_count, average in [(2, "1.250000"), (1000001, "0.500000"), (3, "0.333333"),
                                   (7, "2.142857"), (1999999, "1.000001"), (1, "0.000000")]:
            with self.subTest(doc_count=doc_count, average=average):
                self.assert_merge_matches_load_then_train(doc_count, average)
        self.assertEqual(rebuilt_total(2, 1.25), 3)
        self.assertEqual(rebuilt_total(1000001, 0.5), 500001)

    @staticmethod
    def survives(doc_count, total):
        return rebuilt_total(doc_count, float("%f" % (total / doc_count))) == total

    def test_totals_survive_up_to_a_million_documents(self):
        # The worst totals sit half a step of the sixth decimal away from a
        # six-decimal average; they survive up to 1,000,000 documents (for
        # totals in the 32-bit range) and not beyond.
        for doc_count in (3, 7, 999, 123457, 999999, 1000000):
            worst = [(doc_count * step + doc_count // 2) // 10**6 for step in (1, 10**6, 2 * 10**9)]
            for total in worst + [2**31 - 1, doc_count * 1000 + 1]:
                self.assertTrue(self.survives(doc_count, total), (doc_count, total))
        self.assertFalse(self.survives(1000001, 500000))
        self.assertFalse(self.survives(2000000, 2000001))

    def test_merge_of_merges_drifts_past_a_million_documents(self):
        big = shard_text(1000000, "0.500000", '    "a" : 500000')
        one = shard_text(1, "0.000000", '    "b" : 1')
        other = model_text(trained([["c"]]))
        nested = merge_texts([merge_texts([big, one]), other])
        flat = merge_texts([big, one, other])
        # 500,000 tokens over 1,000,001 documents read back as 500,001.
        self.assertIn('"_doc_length_average" : 0.500001,', nested)
        self.assertIn('"_doc_length_average" : 0.500000,', flat)
        self.assertEqual(nested.replace("0.500001", "X"), flat.replace("0.500000", "X"))


class Refusals(unittest.TestCase):
    def setUp(self):
        self.directory = tempfile.TemporaryDirectory()
        self.output = os.path.join(self.directory.name, "merged.json")
        self.good = model_text(trained([["a", "b"], ["a"]]))

    def tearDown(self):
        self.directory.cleanup()

    def refused(self, texts, error, pattern):
        """Refused as text, and as files: no output, no stray file. "{N}" in
        the pattern stands for the name of the N-th shard."""
        def named(label):
            return re.sub(r"\{(\d)\}", lambda number: label(int(number.group(1))), pattern)

        with self.assertRaisesRegex(error, named(lambda n: "text %d of %d" % (n, len(texts)))):
            merge_texts(texts)
        paths = []
        for number, text in enumerate(texts):
            paths.append(os.path.join(self.directory.name, "shard%d.json" % number))
            with open(paths[-1], "wb") as handle:
                handle.write(text.encode() if isinstance(text, str) else text)
        before = sorted(os.listdir(self.directory.name))
        with self.assertRaisesRegex(error, named(lambda n: r"file '.*shard%d\.json'" % (n - 1))):
            merge_files(self.output, paths)
        self.assertEqual(sorted(os.listdir(self.directory.name)), before)

    def test_different_parameters(self):
        other_b = model_text(trained([["a"]], b=0.5))
        self.refused([self.good, other_b], MergeError,
                     r"{2} was trained with b = 0\.5, {1} with b = 0\.75")
        other_k1 = model_text(trained([["a"]], k1=2.0))
        self.refused([self.good, self.good, other_k1], MergeError, "{3} was trained with k1 = 2.0")

    def test_counts_past_the_32_bit_limit(self):
        full = shard_text(2**31 - 1, "1.000000", '    "a" : 1')
        self.refused([full, self.good], CountOverflowError, "document count would be 2147483649")
        token = shard_text(1, "1.000000", '    "a" : 2147483647')
        self.refused([token, self.good], CountOverflowError, "token 'a' would occur more than")
        self.assertTrue(issubclass(CountOverflowError, OverflowError))
        self.assertEqual(len(merge_texts([full])), len(full))  # the limit itself is fine

    def test_negative_counts(self):
        self.refused([shard_text(-1, "1.000000"), self.good], MergeError, "negative document")
        self.refused([shard_text(1, "1.000000", '    "a" : -2')], MergeError,
                     "gives token 'a' a negative count")

    def test_texts_that_load_refuses(self):
        cut = self.good[:self.good.index('"b"')]
        for text, says in [("", "json data should not be empty"), ("{}", "load doc_count failed"),
                           ("model.json", "load doc_count failed"),
                           ('{"_doc_count" : 1e}', "invalid stol"), (cut, "load k1 failed"),
                           (self.good.replace("0.750000", "1"), "load b failed"),
                           (shard_text(1, "1.000000", '    "a" : 2147483648'), "out of range"),
                           (shard_text(1, "1.000000", '    "\\ud83d" : 1'),
                            r"lone surrogate escape \\ud83d in a token key")]:
            with self.subTest(text=text[:20]):
                self.refused([self.good, text], MergeError,
                             "{2} is not a model that load accepts .*" + says)
        infinite = self.good.replace("0.750000", "1e400")
        self.refused([infinite], MergeError, "{1} loads, .*no file can hold .*b is not a finite")

    def test_nothing_and_things_that_are_no_texts(self):
        with self.assertRaisesRegex(MergeError, "nothing to merge"):
            merge_texts([])
        with self.assertRaisesRegex(MergeError, "nothing to merge"):
            merge_files(self.output, [])
        with self.assertRaisesRegex(TypeError, "not a single one"):
            merge_texts(self.good)
        with self.assertRaisesRegex(TypeError, "merge_files merges files"):
            merge_texts([self.good, __import__("pathlib").Path("a.json")])
        with self.assertRaisesRegex(MergeError, "without a UTF-8 form"):
            merge_texts([self.good, self.good.replace("a", "\udcff")])
        self.assertFalse(os.path.exists(self.output))

    def test_files_that_cannot_be_read_or_written(self):
        shard = os.path.join(self.directory.name, "shard.json")
        write_model(shard, self.good)
        with self.assertRaises(FileNotFoundError):
            merge_files(self.output, [shard, shard + ".missing"])
        with self.assertRaises(FileNotFoundError):
            merge_files(os.path.join(self.directory.name, "no", "merged.json"), [shard])
        with self.assertRaises(IsADirectoryError):
            merge_files(self.directory.name, [shard])
        with self.assertRaisesRegex(ValueError, "null character"):
            write_model(self.output + "\0", self.good)
        self.assertEqual(sorted(os.listdir(self.directory.name)), ["shard.json"])


class WhatLoadAccepts(unittest.TestCase):
    """Texts off dump's layout that load takes whole are merged as load reads them."""

    # json.dumps writes characters beyond ASCII and control characters as
    # "\u" escapes by default, which load reads as the characters.
    VOCABULARY = TRICKY + ["9", "10", "😀", "\\u0041"]

    def test_other_layouts_are_laid_out_again(self):
        documents = corpus(50, vocabulary=self.VOCABULARY)
        text = model_text(trained(documents))
        other = model_text(trained([["a", "北京"]]))
        expected = merge_texts([text, other])
        members = json.loads(text, strict=False)
        variants = {
            "json.dumps": json.dumps(members, ensure_ascii=False),
            "indented, sorted": json.dumps(members, ensure_ascii=False, indent=3, sort_keys=True),
            "\\u escapes": json.dumps(members),
            "\\u escapes, indented": json.dumps(members, indent=2, sort_keys=True),
            "no final brace": text[:-1],
            "a final line feed": text + "\n",
            "text after the object": text + " trailing",
            "keys out of order": text.replace('"_b" : 0.750000,\n  "_doc_count" : 50,',
                                              '"_doc_count" : 50,\n  "_b" : 0.750000,'),
            "a seventh decimal": text.replace("0.750000", "0.7500000"),
        }
        for name, variant in variants.items():
            with self.subTest(variant=name):
                self.assertNotEqual(variant, text)
                self.assertEqual(merge_texts([variant, other]), expected)
                self.assertEqual(merge_texts([other, variant.encode()]), expected.encode())

    def test_six_decimals_that_are_not_the_f_form_of_their_double(self):
        # Past 2**33 doubles lie further apart than a millionth: load reads
        # this b as the double nearest to it, which dump writes otherwise.
        text = shard_text(1, "1.000000", '    "a" : 1', b="10000000000.000001")
        self.assertEqual("%f" % float("10000000000.000001"), "10000000000.000002")
        self.assertEqual(merge_texts([text]), model_text(loaded(text)))
        self.assertIn('"_b" : 10000000000.000002,', merge_texts([text]))

    def test_a_laid_out_file_is_merged_as_files_are(self):
        with tempfile.TemporaryDirectory() as directory:
            paths = [os.path.join(directory, name) for name in ("a.json", "b.json", "m.json")]
            documents = corpus(40, vocabulary=self.VOCABULARY)
            write_model(paths[0], json.dumps(json.loads(model_text(trained(documents[:20])),
                                                        strict=False), ensure_ascii=False))
            write_model(paths[1], model_text(trained(documents[20:])))
            merge_files(paths[2], paths[:2])
            with open(paths[2], encoding="utf-8") as handle:
                self.assertEqual(handle.read(), model_text(trained(documents)))

    def test_files_written_by_json_dumps_merge_into_the_original_bytes(self):
        documents = corpus(60, vocabulary=self.VOCABULARY)
        shards = [documents[:25], documents[25:40], documents[40:]]
        expected = merge_texts([model_text(trained(shard)) for shard in shards])
        with tempfile.TemporaryDirectory() as directory:
            paths = []
            for number, shard in enumerate(shards):
                paths.append(os.path.join(directory, "shard%d.json" % number))
                members = json.loads(model_text(trained(shard)), strict=False)
                with open(paths[-1], "w", encoding="ascii") as handle:
                    handle.write(json.dumps(members, ensure_ascii=True, indent=number or None))
            merged = os.path.join(directory, "merged.json")
            merge_files(merged, paths)
            with open(merged, encoding="utf-8") as handle:
                self.assertEqual(handle.read(), expected)
        self.assertEqual(expected, model_text(trained(documents)))


class Files(unittest.TestCase):
    def setUp(self):
        self.directory = tempfile.TemporaryDirectory()
        self.root = self.directory.name

    def tearDown(self):
        self.directory.cleanup()

    def path(self, name):
        return os.path.join(self.root, name)

    def read(self, name):
        with open(self.path(name), "rb") as handle:
            return handle.read()

    def test_files_merge_as_texts_do_into_an_atomic_replacement(self):
        documents = corpus(600)
        texts = [model_bytes(trained(documents[start:start + 200])) for start in (0, 200, 400)]
        for number, text in enumerate(texts):
            write_model(self.path("s%d.json" % number), text)
        write_model(self.path("merged.json"), "old")
        os.chmod(self.path("merged.json"), 0o640)
        os.symlink("merged.json", self.path("link.json"))
        merge_files(self.path("link.json"), [self.path("s%d.json" % n) for n in range(3)])
        self.assertEqual(self.read("merged.json"), merge_texts(texts))
        self.assertTrue(os.path.islink(self.path("link.json")))
        self.assertEqual(stat.S_IMODE(os.stat(self.path("merged.json")).st_mode), 0o640)
        # The output may be a shard.
        merge_files(self.path("s0.json"), [self.path("s0.json"), self.path("s1.json")])
        self.assertEqual(self.read("s0.json"), merge_texts(texts[:2]))
        self.assertEqual(sorted(os.listdir(self.root)),
                         ["link.json", "merged.json", "s0.json", "s1.json", "s2.json"])

    def test_written_files_keep_links_and_owners_as_dump_does(self):
        texts = [model_bytes(trained(corpus(40)[:20])), model_bytes(trained(corpus(40)[20:]))]
        for number, text in enumerate(texts):
            write_model(self.path("s%d.json" % number), text)
        shards = [self.path("s0.json"), self.path("s1.json")]
        # Every name of a hard-linked file sees the merged model.
        write_model(self.path("merged.json"), "old")
        os.link(self.path("merged.json"), self.path("other-name.json"))
        merge_files(self.path("merged.json"), shards)
        self.assertEqual(self.read("other-name.json"), merge_texts(texts))
        # A link to a file not there yet creates the file through it.
        os.symlink("later.json", self.path("dangling.json"))
        merge_files(self.path("dangling.json"), shards)
        self.assertTrue(os.path.islink(self.path("dangling.json")))
        self.assertEqual(self.read("later.json"), merge_texts(texts))
        if os.geteuid() == 0:
            os.chown(self.path("later.json"), 65534, 65534)
            merge_files(self.path("later.json"), shards)
            status = os.stat(self.path("later.json"))
            self.assertEqual((status.st_uid, status.st_gid), (65534, 65534))
        self.assertFalse([name for name in os.listdir(self.root) if name.endswith(".tmp")])

    def test_merging_files_streams(self):
        # Eight shards of 40,000 tokens, some shared: the merge holds lines
        # and write batches, never a table.
        paths = []
        for number in range(8):
            model = BM25()
            tokens = ["token-%06d-%d" % (n, n % 3) for n in range(number * 20000,
                                                                     number * 20000 + 40000)]
            for start in range(0, len(tokens), 1000):
                model.train(tokens[start:start + 1000])
            paths.append(self.path("s%d.json" % number))
            model.dump(paths[-1])
        shard_size = os.path.getsize(paths[0])
        tracemalloc.start()
        try:
            merge_files(self.path("merged.json"), paths)
            peak = tracemalloc.get_traced_memory()[1]
        finally:
            tracemalloc.stop()
        self.assertLess(peak, shard_size / 2)
        self.assertEqual(loaded(self.read("merged.json")).encode_query(["token-000001-1"]),
                         {"token-000001-1": 1.0})

    def test_model_text_leaves_no_file(self):
        previous = tempfile.tempdir
        tempfile.tempdir = self.root
        try:
            model = trained([["a", "tab\t"], ["b"]])
            model.dump(self.path("dumped.json"))
            self.assertEqual(model_bytes(model), self.read("dumped.json"))
            self.assertEqual(model_text(model), self.read("dumped.json").decode())
            merge_texts([model_text(model), model_text(model).replace("0.750000", "0.75")])
            with self.assertRaisesRegex(ValueError, "not a finite number"):
                model_text(BM25(float("nan")))
        finally:
            tempfile.tempdir = previous
        self.assertEqual(os.listdir(self.root), ["dumped.json"])


class CommandLine(unittest.TestCase):
    def run_merge(self, *arguments):
        return subprocess.run([sys.executable, "-m", "pyvornlex_merge", *arguments],
                              capture_output=True, text=True, timeout=60)

    def test_merges_refuses_and_explains(self):
        with tempfile.TemporaryDirectory() as directory:
            a, b, c, merged = (os.path.join(directory, name)
                               for name in ("a.json", "b.json", "c.json", "m.json"))
            write_model(a, model_text(trained([["x", "y"]])))
            write_model(b, model_text(trained([["y"]])))
            write_model(c, model_text(trained([["y"]], k1=1.5)))
            done = self.run_merge(merged, a, b)
            self.assertEqual((done.returncode, done.stderr), (0, ""))
            with open(merged, encoding="utf-8") as handle:
                self.assertEqual(handle.read(), model_text(trained([["x", "y"], ["y"]])))
            os.remove(merged)
            refused = self.run_merge(merged, a, c)
            self.assertEqual(refused.returncode, 1)
            self.assertRegex(refused.stderr, "^python -m pyvornlex_merge: file .*c.json' was "
                                             "trained with k1 = 1.5")
            self.assertNotIn("Traceback", refused.stderr)
            self.assertFalse(os.path.exists(merged))
            self.assertEqual(self.run_merge(merged).returncode, 2)


if __name__ == "__main__":
    unittest.main()
