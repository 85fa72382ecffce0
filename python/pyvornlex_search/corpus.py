"""Reading a corpus: one document per line of a file, or of every file in a
folder (its tree, in name order, leaving out hidden names).

A line that is not valid UTF-8 is skipped and counted, never guessed at; so
are blank lines. A file that cannot be read stops the run before anything is
written."""

from __future__ import annotations

import os
from typing import NamedTuple

from .errors import CorpusError

__all__ = ["Line", "CorpusText", "read_corpus", "corpus_files"]


class Line(NamedTuple):
    source: int  # index into CorpusText.sources
    number: int  # 1-based line number in that file
    text: str


class CorpusText(NamedTuple):
    sources: list[str]
    lines: list[Line]
    not_utf8: list[tuple[int, int]]  # (source, line number) of each skipped line
    blank: int


def corpus_files(path: str) -> list[str]:
    """The files of a corpus path: the path itself, or a folder's files in name order."""
    if not os.path.exists(path):
        raise CorpusError(f"{path}: no such file or folder")
    if not os.path.isdir(path):
        return [path]
    found: list[str] = []
    for folder, subfolders, names in os.walk(path, onerror=_raise_walk_error):
        subfolders[:] = sorted(name for name in subfolders if not name.startswith("."))
        found.extend(os.path.join(folder, name) for name in sorted(names)
                     if not name.startswith("."))
    return [name for name in found if os.path.isfile(name)]


def _raise_walk_error(error: OSError) -> None:
    raise CorpusError(f"{error.filename}: cannot read the folder ({error.strerror})")


def _read_bytes(path: str) -> bytes:
    try:
        with open(path, "rb") as handle:
            return handle.read()
    except OSError as error:
        raise CorpusError(f"{path}: cannot read ({error.strerror or error})") from None


def read_corpus(path: str) -> CorpusText:
    """Every document line of the corpus at `path`, with what was skipped."""
    sources = corpus_files(path)
    lines: list[Line] = []
    not_utf8: list[tuple[int, int]] = []
    blank = 0
    for source, name in enumerate(sources):
        data = _read_bytes(name)
        if data.startswith(b"\xef\xbb\xbf"):
            data = data[3:]
        try:
            texts: list[str | None] = list(data.decode("utf-8").split("\n"))
        except UnicodeDecodeError:
            texts = [_decode_or_none(raw) for raw in data.split(b"\n")]
        if texts and texts[-1] == "":
            texts.pop()  # the line feed that ends the last line starts no new one
        for number, text in enumerate(texts, 1):
            if text is None:
                not_utf8.append((source, number))
                continue
            if text.endswith("\r"):
                text = text[:-1]
            if not text.strip():
                blank += 1
                continue
            lines.append(Line(source, number, text))
    return CorpusText(sources, lines, not_utf8, blank)


def _decode_or_none(raw: bytes) -> str | None:
    try:
        return raw.decode("utf-8")
    except UnicodeDecodeError:
        return None
