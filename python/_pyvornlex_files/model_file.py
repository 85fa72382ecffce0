"""The model file's layout, byte for byte as ``BM25.dump`` writes it: the one
place in Python that reads and writes it, for the merge and the search tool.

::

    {
      "_b" : 0.750000,
      "_doc_count" : 2,
      "_doc_length_average" : 2.500000,
      "_doc_token_frequency" : {
        "a" : 3,
        "b" : 1
      },
      "_k1" : 1.200000
    }

Floats in C's "%f" form, counts as plain integers, token keys escaped with the
seven JSON escapes and sorted by the bytes of the escaped key, ",\\n" between
members, "{\\n\\n  }," for an empty table, no line feed after the final
brace. Because every key is escaped, no line feed occurs inside a key: the
file reads line by line, and a shard streams without its table in memory.

The reader accepts this layout and nothing else; a text in another layout
that ``load`` accepts is laid out again through ``load`` and ``dump``.
"""

import io
import math
import os
import re
import tempfile
from bisect import bisect_left
from typing import (TYPE_CHECKING, Dict, Iterable, Iterator, List, Mapping, NamedTuple, Optional,
                    Sequence, Tuple)

if TYPE_CHECKING:
    from pyvornlex import BM25

__all__ = ["INT32_MAX", "LayoutError", "ModelReader", "ModelStatistics", "average_field",
           "header", "key_of_token", "member_line", "model_bytes", "model_text", "read_model",
           "read_scalars", "rebuilt_total", "token_of_key", "trailer", "updated_model_text",
           "TABLE_END"]

INT32_MAX = 2**31 - 1
_INT32_MIN = -(2**31)

_FLOAT = rb"(-?(?:0|[1-9][0-9]*)\.[0-9]{6})"
_INT = rb"(-?(?:0|[1-9][0-9]*))"
_B = re.compile(rb'  "_b" : ' + _FLOAT + rb",\n")
_DOC_COUNT = re.compile(rb'  "_doc_count" : ' + _INT + rb",\n")
_AVERAGE = re.compile(rb'  "_doc_length_average" : ' + _FLOAT + rb",\n")
_TABLE_START = b'  "_doc_token_frequency" : {\n'
TABLE_END = b"\n  },\n"
_K1 = re.compile(rb'  "_k1" : ' + _FLOAT + rb"\n")
# A key holds any byte but the seven that dump escapes, and those only escaped.
_MEMBER = re.compile(rb'    "((?:[^"\\\x08\x09\x0a\x0c\x0d]|\\["\\bfnrt])*)" : ' + _INT
                     + rb"(,?)\n")

# load() rebuilds a model's length total in a double, rounded half away from
# zero and held inside this bound (std::round and std::clamp in the module).
_TOTAL_LIMIT = 9.2e18

_ESCAPES = {b'"': b'\\"', b"\\": b"\\\\", b"\b": b"\\b", b"\t": b"\\t", b"\n": b"\\n",
            b"\f": b"\\f", b"\r": b"\\r"}
_UNESCAPES = {escaped[1:]: raw for raw, escaped in _ESCAPES.items()}
_TO_ESCAPE = re.compile(rb'["\\\x08\x09\x0a\x0c\x0d]')
_ESCAPED = re.compile(rb'\\(["\\bfnrt])')


def key_of_token(token: bytes) -> bytes:
    """A token's key in the file: the seven characters that dump escapes, escaped."""
    return _TO_ESCAPE.sub(lambda found: _ESCAPES[found.group()], token)


def token_of_key(key: bytes) -> bytes:
    """The token of a key that the reader took: the seven escapes undone in one
    left-to-right pass (so an escaped backslash before an "n" stays a backslash)."""
    return _ESCAPED.sub(lambda found: _UNESCAPES[found.group(1)], key)


class LayoutError(Exception):
    """The text of shard ``shard`` is not laid out as dump writes it (it may
    still load)."""

    def __init__(self, what: str, shard: int) -> None:
        super().__init__(what)
        self.shard = shard


def _float_field(match: Optional["re.Match[bytes]"]) -> Optional[Tuple[bytes, float]]:
    if match is None:
        return None
    text = match.group(1)
    value = float(text)
    # Past 2**33 not every six-decimal text is the "%f" form of its double.
    return (text, value) if b"%f" % value == text else None


def _int32(match: Optional["re.Match[bytes]"], group: int = 1) -> Optional[int]:
    if match is None:
        return None
    value = int(match.group(group))
    return value if _INT32_MIN <= value <= INT32_MAX else None


class ModelReader:
    """Reads model text number ``shard`` (the number names it in errors) from
    an iterator over its lines (line feeds kept).

    The scalars are read on construction; ``members()`` then yields the
    table's ``(escaped key, count)`` pairs in file order and reads the rest,
    after which ``k1_text`` and ``k1`` are set. Anything off the layout raises
    ``LayoutError``. Values are not judged here, except that the first token
    with a negative count is kept in ``negative_key``.
    """

    def __init__(self, lines: Iterator[bytes], shard: int) -> None:
        self._lines = lines
        self.shard = shard
        self._expect(self._next() == b"{\n", "the opening brace")
        b = _float_field(_B.fullmatch(self._next()))
        doc_count = _int32(_DOC_COUNT.fullmatch(self._next()))
        average = _float_field(_AVERAGE.fullmatch(self._next()))
        if b is None or doc_count is None or average is None:
            raise LayoutError("the lines of _b, _doc_count and _doc_length_average", shard)
        self.b_text, self.b = b
        self.doc_count = doc_count
        self.average_text, self.average = average
        self._expect(self._next() == _TABLE_START, "the line that opens _doc_token_frequency")
        self.k1_text = b""
        self.k1 = 0.0
        self.negative_key: Optional[bytes] = None

    def _next(self) -> bytes:
        return next(self._lines, b"")

    def _expect(self, condition: bool, what: str) -> None:
        if not condition:
            raise LayoutError(what, self.shard)

    def members(self) -> Iterator[Tuple[bytes, int]]:
        # The hot loop of a merge: a line per token, so lookups are hoisted.
        lines, fullmatch = self._lines, _MEMBER.fullmatch
        line = next(lines, b"")
        if line == b"\n":  # the empty table
            line = next(lines, b"")
        else:
            previous: Optional[bytes] = None
            while True:
                match = fullmatch(line)
                if match is None:
                    raise LayoutError("a token line", self.shard)
                key, count_text, comma = match.groups()
                count = int(count_text)
                if count < 0 or count > INT32_MAX:
                    if count < _INT32_MIN or count > INT32_MAX:
                        raise LayoutError("a token count", self.shard)
                    if self.negative_key is None:
                        self.negative_key = key
                if previous is not None and key <= previous:
                    raise LayoutError("the order of the tokens", self.shard)
                yield key, count
                previous = key
                line = next(lines, b"")
                if not comma:
                    break
        self._expect(line == b"  },\n", "the line that closes _doc_token_frequency")
        k1 = _float_field(_K1.fullmatch(self._next()))
        if k1 is None:
            raise LayoutError("the _k1 line", self.shard)
        self.k1_text, self.k1 = k1
        self._expect(self._next() == b"}" and self._next() == b"", "the closing brace")


def rebuilt_total(doc_count: int, average: float) -> int:
    """The length total that load() rebuilds from a file's count and average."""
    product = float(doc_count) * average
    if math.isnan(product):
        return 0
    if abs(product) >= _TOTAL_LIMIT:
        return int(math.copysign(_TOTAL_LIMIT, product))
    whole = math.floor(abs(product))
    # The fraction of a double is exact: no addition of 0.5 to round it.
    rounded = whole + 1 if abs(product) - whole >= 0.5 else whole
    return int(math.copysign(rounded, product))


def average_field(length_total: int, doc_count: int) -> bytes:
    """The average that a model holding these totals writes (as train computes it)."""
    average = float(length_total) / float(doc_count) if doc_count else 0.0
    return b"%f" % average


def header(b_text: bytes, doc_count: int, average_text: bytes) -> bytes:
    return (b'{\n  "_b" : ' + b_text + b',\n  "_doc_count" : %d,\n' % doc_count
            + b'  "_doc_length_average" : ' + average_text + b",\n" + _TABLE_START)


def member_line(key: bytes, count: int) -> bytes:
    """One table member without its separator (",\\n" goes between members)."""
    return b'    "' + key + b'" : %d' % count


def trailer(k1_text: bytes) -> bytes:
    """What follows the last member, from the table's end to the final brace."""
    return TABLE_END + b'  "_k1" : ' + k1_text + b"\n}"


class ModelStatistics(NamedTuple):
    """A model file's content: each number with the text it was written as,
    and every token (unescaped) with its count."""

    b_text: bytes
    doc_count: int
    average_text: bytes
    k1_text: bytes
    counts: Dict[bytes, int]

    @property
    def length_total(self) -> int:
        """The length total that load rebuilds, and training goes on from."""
        return rebuilt_total(self.doc_count, float(self.average_text))


def read_scalars(content: bytes) -> ModelReader:
    """A reader that has read the scalars before the table (b, the document
    count and the average), and nothing more."""
    return ModelReader(iter(io.BytesIO(content)), 0)


def read_model(content: bytes) -> ModelStatistics:
    """The statistics of a text in dump's layout; LayoutError for any other."""
    reader = ModelReader(iter(io.BytesIO(content)), 0)
    counts = {token_of_key(key): count for key, count in reader.members()}
    return ModelStatistics(reader.b_text, reader.doc_count, reader.average_text,
                           reader.k1_text, counts)


def model_text(b_text: bytes, k1_text: bytes, doc_count: int, length_total: int,
               counts: Iterable[Tuple[bytes, int]]) -> bytes:
    """The file that dump writes for a model of these statistics: ``counts``
    pairs tokens (unescaped, in any order) with positive counts."""
    members = sorted((key_of_token(token), count) for token, count in counts)
    table = b",\n".join(member_line(key, count) for key, count in members)
    return (header(b_text, doc_count, average_field(length_total, doc_count)) + table
            + trailer(k1_text))


def _member_key(line: bytes) -> bytes:
    return line[5:line.rindex(b'" : ')]


class _Keys(Sequence[bytes]):
    """The keys of member lines, each read when asked for."""

    def __init__(self, lines: List[bytes]) -> None:
        self._lines = lines

    def __len__(self) -> int:
        return len(self._lines)

    def __getitem__(self, at):  # type: ignore[no-untyped-def]
        return _member_key(self._lines[at])


def updated_model_text(content: bytes, doc_count: int, length_total: int,
                       changes: Mapping[bytes, int]) -> bytes:
    """The file of a model that differs from ``content`` (dump's layout) in
    its document count, its length total and the counts of the tokens in
    ``changes`` (unescaped; a count of 0 removes the token). The members
    that did not change are copied as they stand, found by bisection, so
    the cost is a copy of the text and a search per change, not a reading
    of every member."""
    reader = ModelReader(iter(io.BytesIO(content)), 0)  # checks the header
    start = content.index(_TABLE_START) + len(_TABLE_START)
    end = content.rindex(TABLE_END)
    k1 = _K1.fullmatch(content[end + len(TABLE_END):-1])
    if k1 is None or not content.endswith(b"}"):
        raise LayoutError("the _k1 line", 0)
    lines = content[start:end].split(b",\n") if end > start else []
    # Many changes read every key once; a few read a key per step of their searches.
    keys: Sequence[bytes] = (list(map(_member_key, lines)) if 20 * len(changes) >= len(lines)
                             else _Keys(lines))
    kept: list[bytes] = []
    done = 0
    for key, count in sorted((key_of_token(token), count) for token, count in changes.items()):
        at = bisect_left(keys, key, done)
        kept.extend(lines[done:at])
        done = at + 1 if at < len(lines) and keys[at] == key else at
        if count > 0:
            kept.append(member_line(key, count))
    kept.extend(lines[done:])
    return (header(reader.b_text, doc_count, average_field(length_total, doc_count))
            + b",\n".join(kept) + trailer(k1.group(1)))


def model_bytes(model: "BM25") -> bytes:
    """The bytes that ``model.dump`` writes, dumped into a private temporary
    directory that is removed again. Raises what ``dump`` raises."""
    with tempfile.TemporaryDirectory(prefix="pyvornlex-model-") as directory:
        path = os.path.join(directory, "model.json")
        model.dump(path)
        with open(path, "rb") as handle:
            return handle.read()
