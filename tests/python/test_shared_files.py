"""The companion packages' one reader and writer of the model file: tokens
that need escapes, texts off the layout, and files equal to dump's bytes."""

import random
import unittest

from _pyvornlex_files.model_file import (LayoutError, key_of_token, model_bytes, model_text,
                                         read_model, token_of_key, updated_model_text)
from pyvornlex import BM25

TRICKY = [b"tab\there", b'q"uote', b"back\\slash", b"", b"\x01", b"\x7f", b"x\0y", b"\r\n",
          b"\b\f", "北京".encode(), b"\\n", b"\\\\n", b"a\\", b"\xff\xfe", b"z" * 40]


def trained(documents, b=0.75, k1=1.2):
    model = BM25(b, k1)
    for tokens in documents:
        model.train(tokens)
    return model


class Keys(unittest.TestCase):
    def test_every_token_comes_back_from_its_key(self):
        for token in TRICKY:
            with self.subTest(token=token):
                key = key_of_token(token)
                self.assertNotIn(b"\n", key)
                self.assertEqual(token_of_key(key), token)

    def test_an_escaped_backslash_before_a_letter_stays_a_backslash(self):
        self.assertEqual(key_of_token(b"\\n"), b"\\\\n")
        self.assertEqual(token_of_key(b"\\\\n"), b"\\n")
        self.assertEqual(token_of_key(b"\\\\\\n"), b"\\\n")


class ReadAndWrite(unittest.TestCase):
    def test_read_model_gives_what_training_counted(self):
        rng = random.Random(3)
        documents = [rng.choices(TRICKY, k=rng.randint(1, 9)) for _ in range(300)]
        model = trained(documents, b=0.5, k1=2.0)
        statistics = read_model(model_bytes(model))
        counts = {}
        for document in documents:
            for token in document:
                counts[token] = counts.get(token, 0) + 1
        self.assertEqual(statistics.counts, counts)
        self.assertEqual(statistics.doc_count, 300)
        self.assertEqual(statistics.length_total, sum(map(len, documents)))
        self.assertEqual((statistics.b_text, statistics.k1_text), (b"0.500000", b"2.000000"))

    def test_model_text_is_dumps_file_byte_for_byte(self):
        rng = random.Random(4)
        for documents in ([], [[b"a"]], [rng.choices(TRICKY, k=rng.randint(1, 9))
                                         for _ in range(500)]):
            with self.subTest(documents=len(documents)):
                model = trained(documents)
                statistics = read_model(model_bytes(model))
                written = model_text(statistics.b_text, statistics.k1_text,
                                     statistics.doc_count, statistics.length_total,
                                     reversed(list(statistics.counts.items())))
                self.assertEqual(written, model_bytes(model))

    def test_an_updated_text_is_the_text_written_whole(self):
        rng = random.Random(5)
        vocabulary = TRICKY + [b"w%d" % number for number in range(40)]
        for case in range(60):
            old = {token: rng.randint(1, 9) for token in rng.sample(vocabulary, rng.randint(0, 12))}
            new = dict(old)
            for token in rng.sample(vocabulary, rng.randint(0, 10)):
                new[token] = rng.choice([0, 1, 5])
            new = {token: count for token, count in new.items() if count}
            changes = {token: new.get(token, 0) for token in set(old) | set(new)
                       if old.get(token) != new.get(token) or rng.random() < 0.2}
            before = model_text(b"0.750000", b"1.200000", 7, 20, old.items())
            with self.subTest(case=case):
                self.assertEqual(updated_model_text(before, 9, 31, changes),
                                 model_text(b"0.750000", b"1.200000", 9, 31, new.items()))

    def test_a_few_changes_to_a_large_text_are_the_text_written_whole(self):
        # Few changes against many members: each search reads keys as it goes.
        rng = random.Random(6)
        vocabulary = TRICKY + [b"w%d" % number for number in range(400)]
        old = {token: rng.randint(1, 9) for token in vocabulary}
        for case in range(30):
            changes = {token: rng.choice([0, 2]) for token in
                       rng.sample(vocabulary, rng.randint(1, 3))}
            changes[b"new%d" % case] = 4
            new = {token: count for token, count in {**old, **changes}.items() if count}
            before = model_text(b"0.750000", b"1.200000", 7, 20, old.items())
            with self.subTest(case=case):
                self.assertEqual(updated_model_text(before, 9, 31, changes),
                                 model_text(b"0.750000", b"1.200000", 9, 31, new.items()))

    def test_texts_off_the_layout_are_refused(self):
        text = model_bytes(trained([[b"a", b"b"]]))
        for other in (text.replace(b" : ", b": "), text + b"\n", text[:-1],
                      text.replace(b'"a"', b'"\\u0061"'), b""):
            with self.subTest(other=other[:40]):
                with self.assertRaises(LayoutError):
                    read_model(other)


if __name__ == "__main__":
    unittest.main()
