"""The vocabularies of the model-file benchmark: distinct tokens of three kinds,
their counts, and the training documents and model texts made of them. Every
draw is seeded, so that each process of a run makes the same tables."""

import random

KINDS = ("ascii", "chinese", "ids")

_LETTERS = "abcdefghijklmnopqrstuvwxyz"
# The CJK Unified Ideographs block: every Chinese character a word of the
# corpus is likely to hold, each three bytes of UTF-8.
_HAN_FIRST, _HAN_LAST = 0x4E00, 0x9FA5


def _ascii_word(draw):
    return "".join(draw.choices(_LETTERS, k=draw.randint(3, 12)))


def _chinese_word(draw):
    return "".join(chr(draw.randint(_HAN_FIRST, _HAN_LAST)) for _ in range(draw.randint(2, 4)))


def _id_text(draw):
    return str(draw.randrange(10**11, 10**12))


_MAKERS = {"ascii": _ascii_word, "chinese": _chinese_word, "ids": _id_text}


def distinct_tokens(kind, size, seed=14):
    """`size` distinct tokens of `kind` in the order they were drawn."""
    draw = random.Random(f"{kind}-{seed}")
    make = _MAKERS[kind]
    seen = set()
    tokens = []
    while len(tokens) < size:
        token = make(draw)
        if token not in seen:
            seen.add(token)
            tokens.append(token)
    return tokens


def counts_for(tokens, seed=14):
    """token -> count. Counts stay below 256, which CPython keeps as shared
    objects: json.loads makes no object for them, so this is the case that is
    hardest on the module's ratios."""
    draw = random.Random(seed)
    return {token: draw.randint(1, 200) for token in tokens}


def model_text(table, doc_count=1000, average=25.5, b=0.75, k1=1.2):
    """A model file's text in one line: what load reads, in any order."""
    members = ",".join(f'"{token}":{count}' for token, count in table.items())
    return (f'{{"_b":{b:f},"_doc_count":{doc_count},"_doc_length_average":{average:f},'
            f'"_doc_token_frequency":{{{members}}},"_k1":{k1:f}}}')


def python_document(table, doc_count=1000, average=25.5, b=0.75, k1=1.2):
    """The same statistics as Python objects, for json.dumps."""
    return {"_b": b, "_doc_count": doc_count, "_doc_length_average": average,
            "_doc_token_frequency": table, "_k1": k1}


def training_documents(tokens, repeats=2, length=100, seed=14):
    """Documents of `length` tokens in which every token occurs `repeats` times."""
    stream = [token for token in tokens for _ in range(repeats)]
    random.Random(seed).shuffle(stream)
    return [stream[start:start + length] for start in range(0, len(stream), length)]


def encoding_documents(tokens, count=5000, length=100, seed=15):
    """Documents drawn from the vocabulary, for encode_document."""
    draw = random.Random(seed)
    return [draw.choices(tokens, k=length) for _ in range(count)]
