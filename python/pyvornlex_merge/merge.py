"""The merge: one streaming pass over every shard at once.

Each shard lists its tokens in ascending byte order of their escaped keys, so
a k-way merge of the shards' lines meets equal tokens together and writes the
merged table in the order dump writes it, holding one line per shard. The
output is the file of a model whose statistics are the sums: document counts
and token counts add up, and the length total is the sum of the totals that
load rebuilds from each shard (count × average, rounded half away from zero);
the average is that total over the summed count, in "%f" form.

A shard whose text is not laid out as dump writes it (but that load accepts)
is loaded into a throwaway model and dumped again, and the pass starts over:
one such shard at a time is in memory, and never any table in Python.
"""

import heapq
import io
import os
import tempfile
from contextlib import ExitStack
from typing import BinaryIO, Iterable, List, Optional, Sequence, TypeVar, Union, overload

from _pyvornlex_files.atomic import PathType, replacing
from _pyvornlex_files.model_file import (INT32_MAX, LayoutError, ModelReader, average_field,
                                         header, member_line, rebuilt_total, trailer)

from .errors import CountOverflowError, MergeError
from .shards import Shard

__all__ = ["merge_files", "merge_texts"]

# Members written per write call: few calls, little memory.
_BATCH = 1024


def _shown(key: bytes) -> str:
    text = key.decode("utf-8", "backslashreplace")
    return repr(text if len(text) <= 40 else text[:40] + "...")


def _value_problems(shards: Sequence[Shard], readers: Sequence[ModelReader]) -> List[MergeError]:
    problems: List[MergeError] = []
    first, first_reader = shards[0], readers[0]
    for shard, reader in zip(shards, readers):
        for name, value, expected in (("b", reader.b, first_reader.b),
                                      ("k1", reader.k1, first_reader.k1)):
            if value != expected:
                problems.append(MergeError(
                    "%s was trained with %s = %s, %s with %s = %s: models with different "
                    "parameters do not add up" % (shard.label, name, repr(value), first.label,
                                                 name, repr(expected))))
        if reader.doc_count < 0 or reader.average < 0:
            problems.append(MergeError("%s has a negative document count or average, which "
                                       "no training gives" % shard.label))
        if reader.negative_key is not None:
            problems.append(MergeError("%s gives token %s a negative count, which no "
                                       "training gives" % (shard.label,
                                                           _shown(reader.negative_key))))
    return problems


def _merge_pass(shards: Sequence[Shard], sink: BinaryIO) -> None:
    """Writes the merged text into ``sink``, or raises: LayoutError for a
    shard off dump's layout (found first, whatever else is wrong), else the
    first MergeError found over the whole pass."""
    with ExitStack() as stack:
        readers = [ModelReader(stack.enter_context(shard.lines()), number)
                   for number, shard in enumerate(shards)]
        doc_count = sum(reader.doc_count for reader in readers)
        length_total = sum(rebuilt_total(reader.doc_count, reader.average) for reader in readers)
        sink.write(header(readers[0].b_text, doc_count, average_field(length_total, doc_count)))

        overflow: Optional[bytes] = None
        batch: List[bytes] = []
        separator = b""
        key: Optional[bytes] = None
        count = 0
        for next_key, next_count in heapq.merge(*(reader.members() for reader in readers)):
            if next_key == key:
                count += next_count
                continue
            if key is not None:
                if count > INT32_MAX and overflow is None:
                    overflow = key
                batch.append(member_line(key, count))
                if len(batch) == _BATCH:
                    sink.write(separator + b",\n".join(batch))
                    separator = b",\n"
                    batch.clear()
            key, count = next_key, next_count
        if key is not None:
            if count > INT32_MAX and overflow is None:
                overflow = key
            batch.append(member_line(key, count))
        if batch:
            sink.write(separator + b",\n".join(batch))
        sink.write(trailer(readers[0].k1_text))

    problems = _value_problems(shards, readers)
    if doc_count > INT32_MAX:
        problems.append(CountOverflowError(
            "the merged document count would be %d, past 2147483647 (the model file's "
            "32-bit limit): merge fewer shards into one model" % doc_count))
    if overflow is not None:
        problems.append(CountOverflowError(
            "token %s would occur more than 2147483647 times in the merged model (the model "
            "file's 32-bit limit): merge fewer shards into one model" % _shown(overflow)))
    if problems:
        raise problems[0]


def _merge(shards: Sequence[Shard], sink: BinaryIO) -> None:
    with ExitStack() as stack:
        scratch: Optional[str] = None
        while True:
            try:
                _merge_pass(shards, sink)
                return
            except LayoutError as error:
                shard = shards[error.shard]
                if shard.laid_out_again:
                    raise RuntimeError("pyvornlex_merge cannot read the file that dump wrote "
                                       "for %s (at %s)" % (shard.label, error)) from None
                if scratch is None:
                    scratch = stack.enter_context(
                        tempfile.TemporaryDirectory(prefix="pyvornlex-merge-"))
                shard.lay_out_again(os.path.join(scratch, "shard-%d.json" % error.shard))
                sink.seek(0)
                sink.truncate()


_Item = TypeVar("_Item")


def _listed(items: Iterable[_Item], what: str) -> List[_Item]:
    if isinstance(items, (str, bytes, bytearray, os.PathLike)):
        raise TypeError("give an iterable of %ss, not a single one" % what)
    listed = list(items)
    if not listed:
        raise MergeError("nothing to merge: no %s was given" % what)
    return listed


@overload
def merge_texts(texts: Iterable[str]) -> str: ...
@overload
def merge_texts(texts: Iterable[bytes]) -> bytes: ...
@overload
def merge_texts(texts: Iterable[Union[str, bytes]]) -> Union[str, bytes]: ...


def merge_texts(texts: Iterable[Union[str, bytes]]) -> Union[str, bytes]:
    """The model text of the merged statistics of ``texts``, byte for byte
    what ``BM25.dump`` writes for them.

    Each text is a model file's content, as ``str`` or ``bytes`` (bytes keep
    tokens that are not UTF-8). The result is a ``str`` when every text is a
    ``str``, else ``bytes``; ``BM25.load`` accepts either.

    Raises ``MergeError`` (a ``ValueError``) when there is no text, when a text
    is not a model that ``load`` accepts, when ``b`` or ``k1`` differ, or when
    a count is negative; ``CountOverflowError`` (also an ``OverflowError``)
    when a merged count would pass 2,147,483,647.
    """
    listed = _listed(texts, "model text")
    shards = [Shard.of_text(text, number, len(listed))
              for number, text in enumerate(listed, 1)]
    sink = io.BytesIO()
    _merge(shards, sink)
    merged = sink.getvalue()
    return merged.decode("utf-8") if all(isinstance(text, str) for text in listed) else merged


def merge_files(merged: PathType, shards: Iterable[PathType]) -> None:
    """Merges the model files ``shards`` into the model file ``merged``.

    The merge streams: memory holds a line per shard, not the shards' tables.
    ``merged`` is replaced as ``dump`` replaces a file (a temporary file
    beside it, flushed to disk and renamed over it), so a reader never sees
    part of it, and a refused or failed merge leaves it as it was. It may be
    one of the shards. Refusals are those of ``merge_texts``; a shard that
    cannot be read raises its ``OSError``.
    """
    paths = [os.fspath(path) for path in _listed(shards, "shard file")]
    for path in paths:
        if not isinstance(path, str):
            raise TypeError("shard paths must be str or os.PathLike[str], not %s"
                            % type(path).__name__)
    with replacing(merged) as sink:
        _merge([Shard("file %r" % path, path=path) for path in paths], sink)
