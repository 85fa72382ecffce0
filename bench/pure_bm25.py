"""BM25 written the way a Python user would write it: dicts and
collections.Counter, the same formulas and statistics as pyvornlex.BM25.

Runs on any Python 3 (the benchmark also imports it on the system Python,
next to python3-jieba). It computes exactly what the module computes, so that
the benchmark can demand identical results before timing either: integer ids
are counted under their decimal text, a query's weights are summed in
ascending key order (the order changes the last bits of the sum), and the
result dicts list their keys in ascending order, as the module's do.

The `unordered_*` variants skip the ordering and are timed for comparison
only; their weights can differ from the module's in the last bits.
"""

import math
from collections import Counter


class PureBM25:
    def __init__(self, b=0.75, k1=1.2):
        self.b = b
        self.k1 = k1
        self.doc_count = 0
        self.doc_length_total = 0
        self.doc_length_average = 0.0
        self.doc_token_frequency = {}

    def train(self, tokens):
        if not tokens:
            raise RuntimeError("trainning tokens_vec should not be empty")
        frequency = self.doc_token_frequency
        for token, count in Counter(tokens).items():
            frequency[token] = frequency.get(token, 0) + count
        self._add_document(len(tokens))

    def train_ids(self, ids):
        if not ids:
            raise RuntimeError("trainning tokens_vec should not be empty")
        frequency = self.doc_token_frequency
        for token, count in Counter(ids).items():
            text = str(token)
            frequency[text] = frequency.get(text, 0) + count
        self._add_document(len(ids))

    def _add_document(self, length):
        self.doc_count += 1
        self.doc_length_total += length
        self.doc_length_average = self.doc_length_total / self.doc_count

    def _require_initialized(self):
        if self.doc_count == 0 or abs(self.doc_length_average) < 1e-9:
            raise RuntimeError("BM25 has not been initialized")

    def encode_document(self, tokens):
        if not tokens:
            return {}
        self._require_initialized()
        n = len(tokens)
        normaliser = ((n / self.doc_length_average) * self.b + (1.0 - self.b)) * self.k1
        return {token: tf / (tf + normaliser) for token, tf in sorted(Counter(tokens).items())}

    # Integer keys stay integers in the result; only the statistics are keyed
    # by text.
    encode_document_ids = encode_document

    def unordered_encode_document(self, tokens):
        if not tokens:
            return {}
        self._require_initialized()
        n = len(tokens)
        normaliser = ((n / self.doc_length_average) * self.b + (1.0 - self.b)) * self.k1
        return {token: tf / (tf + normaliser) for token, tf in Counter(tokens).items()}

    def encode_query(self, tokens):
        if not tokens:
            return {}
        self._require_initialized()
        n1 = self.doc_count + 1
        frequency = self.doc_token_frequency
        log = math.log
        weights = sorted((token, log(n1 / (frequency.get(token, 1) + 0.5)))
                         for token in set(tokens))
        total = sum(weight for _, weight in weights)
        return {token: weight / total for token, weight in weights}

    def encode_query_ids(self, ids):
        if not ids:
            return {}
        self._require_initialized()
        n1 = self.doc_count + 1
        frequency = self.doc_token_frequency
        log = math.log
        weights = sorted((token, log(n1 / (frequency.get(str(token), 1) + 0.5)))
                         for token in set(ids))
        total = sum(weight for _, weight in weights)
        return {token: weight / total for token, weight in weights}

    def unordered_encode_query(self, tokens):
        if not tokens:
            return {}
        self._require_initialized()
        n1 = self.doc_count + 1
        frequency = self.doc_token_frequency
        log = math.log
        weights = {token: log(n1 / (frequency.get(token, 1) + 0.5)) for token in set(tokens)}
        total = sum(weights.values())
        return {token: weight / total for token, weight in weights.items()}
