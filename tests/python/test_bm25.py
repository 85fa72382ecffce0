"""The Python surface of BM25: construction, accessors, overloads, results."""

import math
import random
import unittest
from collections import Counter

import pyvornlex
from pyvornlex import BM25


def trained():
    model = BM25()
    model.train(["a", "a", "b"])
    model.train(["a", "c"])
    return model


class ReferenceBM25:
    """The weighting formulas written out independently, in plain Python."""

    def __init__(self, b, k1):
        self.b, self.k1 = b, k1
        self.count, self.total, self.table = 0, 0, Counter()

    def train(self, tokens):
        self.table.update(str(t) for t in tokens)
        self.count += 1
        self.total += len(tokens)

    def document(self, tokens):
        average = self.total / self.count
        k = ((len(tokens) / average) * self.b + (1.0 - self.b)) * self.k1
        return {t: tf / (tf + k) for t, tf in sorted(Counter(tokens).items())}

    def query(self, tokens):
        n1 = float(self.count + 1)
        idf = {}
        for t in tokens:
            if t not in idf:
                f = self.table.get(str(t))
                idf[t] = math.log(n1 / 1.5) if f is None else math.log(n1 / (f + 0.5))
        total = 0.0
        for t in sorted(idf):
            total += idf[t]
        return {t: idf[t] / total for t in sorted(idf)}


class ConstructionAndAccessors(unittest.TestCase):
    def test_constructor_forms(self):
        cases = [((), {}, 0.75, 1.2), ((0.5,), {}, 0.5, 1.2), ((0.5, 2.0), {}, 0.5, 2.0),
                 ((), {"k1": 2.0}, 0.75, 2.0), ((1, 2), {}, 1.0, 2.0),
                 ((), {"k1": 3.0, "b": 0.1}, 0.1, 3.0)]
        for args, kwargs, b, k1 in cases:
            with self.subTest(args=args, kwargs=kwargs):
                model = BM25(*args, **kwargs)
                self.assertEqual((model.b(), model.k1()), (b, k1))
                self.assertIs(type(model.b()), float)

    def test_constructor_rejects_unknown_keyword_and_strings(self):
        with self.assertRaises(TypeError):
            BM25(c=1.0)
        with self.assertRaises(TypeError):
            BM25("0.5")

    def test_accessors_read_write_without_range_check(self):
        for name in ("b", "k1"):
            with self.subTest(name=name):
                model = trained()
                accessor = getattr(model, name)
                self.assertIsNone(accessor(0.3))
                self.assertEqual(accessor(), 0.3)
                accessor(-1.0)
                self.assertEqual(accessor(), -1.0)
                with self.assertRaises(TypeError):
                    accessor("x")
                with self.assertRaises(TypeError):
                    accessor(value=1.0)

    def test_class_shape(self):
        model = BM25()
        self.assertEqual(BM25.__module__, "pyvornlex")
        self.assertTrue(callable(model.b))
        with self.assertRaises(AttributeError):
            model.extra = 1
        self.assertFalse(hasattr(model, "__dict__"))

        class Sub(BM25):
            pass
        self.assertEqual(Sub(0.1).b(), 0.1)


class OverloadResolution(unittest.TestCase):
    def test_empty_list_reaches_the_string_overload(self):
        model = BM25()
        with self.assertRaisesRegex(RuntimeError, "^trainning tokens_vec should not be empty$"):
            model.train([])

    def test_accepted_token_sequences(self):
        model = BM25()
        model.train(("x", "y"))
        model.train([3, -2**63])
        model.train([b"raw", "str"])
        self.assertEqual(model.encode_query([-2**63]).keys(), {-2**63})

    def test_rejected_token_sequences(self):
        model = trained()
        for bad in ("ab", ["a", 1], [1.0, 2.0], [2**63], [None], 5):
            for method in (model.train, model.encode_document, model.encode_query):
                with self.subTest(bad=bad, method=method.__name__):
                    with self.assertRaises(TypeError):
                        method(bad)
        with self.assertRaises(TypeError):
            model.train(tokens_vec=["a"])

    def test_failed_call_leaves_model_unchanged(self):
        model = trained()
        before = model.encode_query(["a", "b", "c"])
        with self.assertRaises(TypeError):
            model.train(["a", 1])
        self.assertEqual(model.encode_query(["a", "b", "c"]), before)


class Encoding(unittest.TestCase):
    def test_worked_numbers(self):
        model = trained()
        self.assertEqual(model.encode_document(["a", "b", "a"]),
                         {"a": 0.591715976331361, "b": 0.42016806722689076})
        self.assertEqual(model.encode_query(["a", "b", "d"]),
                         {"a": -0.12510771443922847, "b": 0.5625538572196142,
                          "d": 0.5625538572196142})

    def test_keys_iterate_in_ascending_order(self):
        model = trained()
        self.assertEqual(list(model.encode_document(["b", "B", "a"])), ["B", "a", "b"])
        self.assertEqual(list(model.encode_document([3, -1, 2])), [-1, 2, 3])
        self.assertEqual(list(model.encode_query(["é", "z", "A"])), ["A", "z", "é"])

    def test_ids_and_strings_share_statistics(self):
        by_id, by_text = BM25(), BM25()
        by_id.train([42, 1])
        by_text.train(["42", "1"])
        self.assertEqual(by_id.encode_query(["42", "x"]), by_text.encode_query(["42", "x"]))
        self.assertEqual(by_text.encode_query([42, 7]), by_id.encode_query([42, 7]))

    def test_empty_and_uninitialised(self):
        model = BM25()
        for method in (model.encode_document, model.encode_query):
            self.assertEqual(method([]), {})
            with self.assertRaisesRegex(RuntimeError, "^BM25 has not been initialized$"):
                method(["a"])
            with self.assertRaisesRegex(RuntimeError, "^BM25 has not been initialized$"):
                method([1])

    def test_bytes_tokens(self):
        model = trained()
        self.assertEqual(model.encode_query([b"a"]), model.encode_query(["a"]))
        for method in (model.encode_document, model.encode_query):
            with self.assertRaises(UnicodeDecodeError):
                method([b"\xff"])

    def test_matches_independent_formulas_bit_for_bit(self):
        rng = random.Random(20261208)
        for round_ in range(30):
            b, k1 = rng.uniform(-0.5, 1.5), rng.uniform(0.0, 3.0)
            ids = round_ % 2 == 0
            vocab = [rng.randrange(-10**12, 10**12) for _ in range(40)] if ids else \
                ["t%d" % i for i in range(40)]
            model, reference = BM25(b, k1), ReferenceBM25(b, k1)
            for _ in range(rng.randrange(1, 25)):
                doc = [rng.choice(vocab) for _ in range(rng.randrange(1, 30))]
                model.train(doc)
                reference.train(doc)
            for _ in range(10):
                tokens = [rng.choice(vocab) for _ in range(rng.randrange(1, 12))]
                with self.subTest(round=round_, tokens=tokens):
                    self.assertEqual(model.encode_document(tokens), reference.document(tokens))
                    self.assertEqual(model.encode_query(tokens), reference.query(tokens))


if __name__ == "__main__":
    unittest.main()
