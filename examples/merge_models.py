"""Merges model files that BM25.dump wrote for shards of one corpus into the
model file of the whole corpus, which BM25.load accepts.

    python merge_models.py MERGED.json SHARD.json [SHARD.json ...]

Token counts and document counts add up. The file keeps no length total, so
each shard's total length is its document count times its average (rounded:
the file holds the average to six decimals), and the merged average is the
summed length over the summed count. b and k1 must agree across the shards.

Run without arguments, it merges two small shards of its own and shows that
the result encodes like a model trained on the whole corpus at once.
"""

import json
import os
import sys
import tempfile

USAGE = "usage: python merge_models.py MERGED.json SHARD.json [SHARD.json ...]"
INT32_MAX = 2**31 - 1
# The seven characters that the model file escapes in token keys.
_ESCAPES = {'"': '\\"', "\\": "\\\\", "\b": "\\b", "\t": "\\t", "\n": "\\n", "\f": "\\f",
            "\r": "\\r"}


def parse_model(text):
    """The statistics in the text of a model file, as a dict with its keys."""
    # Tokens may hold raw control characters: only seven are escaped.
    return json.loads(text, strict=False)


def read_model(path):
    with open(path, "rb") as handle:
        # Tokens may be any bytes (bytes tokens are stored raw): keep them.
        return parse_model(handle.read().decode("utf-8", "surrogateescape"))


def merge(models):
    """One model dict from several; raises ValueError when b or k1 differ and
    OverflowError when a count would not fit the file's 32-bit integers."""
    if not models:
        raise ValueError("nothing to merge")
    b, k1 = models[0]["_b"], models[0]["_k1"]
    if any((m["_b"], m["_k1"]) != (b, k1) for m in models):
        raise ValueError("the shards were trained with different b or k1")
    doc_count = sum(m["_doc_count"] for m in models)
    total_length = sum(round(m["_doc_count"] * m["_doc_length_average"]) for m in models)
    frequencies = {}
    for model in models:
        for token, count in model["_doc_token_frequency"].items():
            frequencies[token] = frequencies.get(token, 0) + count
    if doc_count > INT32_MAX or any(count > INT32_MAX for count in frequencies.values()):
        raise OverflowError("a merged count exceeds 2147483647")
    return {
        "_b": b,
        "_doc_count": doc_count,
        "_doc_length_average": total_length / doc_count if doc_count else 0.0,
        "_doc_token_frequency": frequencies,
        "_k1": k1,
    }


def _key(token):
    return "".join(_ESCAPES.get(char, char) for char in token)


def model_text(model):
    """The model file text, laid out exactly as BM25.dump lays it out."""
    # Keys go in byte order of their escaped UTF-8 text.
    keys = sorted(((_key(token), count) for token, count in model["_doc_token_frequency"].items()),
                  key=lambda item: item[0].encode("utf-8", "surrogateescape"))
    table = ",\n".join('    "%s" : %d' % (key, count) for key, count in keys)
    return ('{\n  "_b" : %f,\n  "_doc_count" : %d,\n  "_doc_length_average" : %f,\n'
            '  "_doc_token_frequency" : {\n%s\n  },\n  "_k1" : %f\n}'
            % (model["_b"], model["_doc_count"], model["_doc_length_average"], table,
               model["_k1"]))


def write_model(path, text):
    """Writes to a temporary file beside `path`, then renames it into place,
    so that a reader never sees half a model."""
    directory = os.path.dirname(os.path.abspath(path))
    handle, temporary = tempfile.mkstemp(dir=directory, suffix=".tmp")
    try:
        with os.fdopen(handle, "w", encoding="utf-8", errors="surrogateescape",
                       newline="") as file:
            file.write(text)
        os.replace(temporary, path)
    except BaseException:
        os.unlink(temporary)
        raise


def merge_files(output, shard_paths):
    write_model(output, model_text(merge([read_model(p) for p in shard_paths])))


def demonstrate():
    from pyvornlex import BM25

    corpus = [["tea", "hangzhou", "tea"], ["lake", "hangzhou"], ["tea", "beijing", "hot", "pot"],
              ["search", "engine", "tea"], ['"quoted"', "tab\there"]]
    with tempfile.TemporaryDirectory() as directory:
        paths = []
        for number, shard in enumerate((corpus[:2], corpus[2:])):
            model = BM25()
            for tokens in shard:
                model.train(tokens)
            paths.append(os.path.join(directory, "shard%d.json" % number))
            model.dump(paths[-1])
        merged_path = os.path.join(directory, "merged.json")
        merge_files(merged_path, paths)
        with open(merged_path, encoding="utf-8") as file:
            merged_text = file.read()

        # One shard merged alone must come back byte for byte.
        merge_files(os.path.join(directory, "one.json"), paths[:1])
        with open(paths[0], encoding="utf-8") as a, \
                open(os.path.join(directory, "one.json"), encoding="utf-8") as b:
            assert a.read() == b.read(), "the writer must lay the file out as dump does"

    merged, whole = BM25(), BM25()
    merged.load(merged_text)
    for tokens in corpus:
        whole.train(tokens)
    query = ["tea", "hangzhou", "tab\there"]
    assert merged.encode_query(query) == whole.encode_query(query)
    assert merged.encode_document(query) == whole.encode_document(query)
    print(merged_text)
    print("query", query, "->", merged.encode_query(query))


def main(argv):
    if len(argv) == 1:
        demonstrate()
        return 0
    if len(argv) < 3:
        print(USAGE, file=sys.stderr)
        return 2
    merge_files(argv[1], argv[2:])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
