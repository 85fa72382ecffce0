"""Reading a corpus: its files (a file, or a folder's files in the order of
their paths), and the documents of each file in one of three shapes: every
line, the whole file, or every JSON Lines record with its own id.

Files are read as a stream, so a corpus of any size passes through in
bounded memory (a whole-file document, and a file in an encoding that is
not ASCII-compatible such as UTF-16, are read whole). Text that does not
decode is skipped and counted, never guessed at; so are blank lines and
binary files (a NUL byte in the first block). A file that cannot be read
stops the run before anything is written."""

from __future__ import annotations

import codecs
import hashlib
import json
import os
from typing import IO, Any, Collection, Iterator, NamedTuple

from .errors import CorpusError

__all__ = ["SHAPES", "DocumentShape", "SourceFile", "Document", "FileReading",
           "corpus_files", "database_files"]

SHAPES = ("line", "file", "record")
_PROBE = 8192  # bytes in which a NUL marks a binary file
_UTF16_MARKS = (codecs.BOM_UTF16_LE, codecs.BOM_UTF16_BE)


class DocumentShape(NamedTuple):
    """What a document is, and how the corpus is encoded: chosen when a
    database is built, stored with it, and used by every later run."""

    kind: str = "line"  # "line": each line; "file": each file; "record": each JSON Lines record
    id_field: str = "id"  # the record's own id (records only)
    text_field: str = "text"  # the record's text (records only)
    encoding: str = "utf-8"  # of the corpus files; a byte-order mark decides for UTF-16

    def checked(self) -> DocumentShape:
        if self.kind not in SHAPES:
            raise ValueError(f"a document is a line, a file or a record, not {self.kind!r}")
        try:
            name = codecs.lookup(self.encoding).name
        except LookupError:
            raise ValueError(f"unknown encoding {self.encoding!r} (for example utf-8, "
                             "gb18030, utf-16)") from None
        if self.kind == "record" and (not self.id_field or not self.text_field):
            raise ValueError("a record needs the names of its id and text fields")
        return self._replace(encoding=name)

    def to_json(self) -> str:
        return json.dumps(self._asdict(), ensure_ascii=False, sort_keys=True)

    @classmethod
    def from_json(cls, text: str) -> DocumentShape:
        return cls(**json.loads(text))

    def describe(self) -> str:
        what = {"line": "each line", "file": "each file",
                "record": f"each JSON Lines record (id: {self.id_field!r}, text: "
                          f"{self.text_field!r})"}[self.kind]
        return f"{what}, {self.encoding}"


class SourceFile(NamedTuple):
    path: str  # absolute
    size: int
    mtime_ns: int


class Document(NamedTuple):
    line: int  # the line the document starts at in its file (1 for a whole file)
    record: str | int | None  # a record's own id
    text: str


def database_files(database: str) -> set[str]:
    """The files of a database that a corpus walk must never read: the
    database, its journals, and the scratch files of a build."""
    path = os.path.abspath(database)
    return {path, path + "-wal", path + "-shm", path + "-journal"}


def _is_scratch(path: str, database_paths: Collection[str]) -> bool:
    return any(path.startswith(database + ".") and path.endswith(".partial")
               for database in database_paths)


def corpus_files(path: str, exclude: Collection[str] = ()) -> list[SourceFile]:
    """The files of a corpus path: the path itself, or a folder's files in
    the order of their paths (as strings), hidden names and the files in
    `exclude` (absolute paths, with their scratch files) left out."""
    if not os.path.exists(path):
        raise CorpusError(f"{path}: no such file or folder")
    excluded = set(exclude)
    root = os.path.abspath(path)
    if not os.path.isdir(root):
        if root in excluded or _is_scratch(root, excluded):
            raise CorpusError(f"{path}: is the database itself, not a corpus")
        return [_source_file(root)]
    found: list[str] = []
    for folder, subfolders, names in os.walk(root, onerror=_raise_walk_error):
        subfolders[:] = [name for name in subfolders if not name.startswith(".")]
        for name in names:
            full = os.path.join(folder, name)
            if (not name.startswith(".") and full not in excluded
                    and not _is_scratch(full, excluded) and os.path.isfile(full)):
                found.append(full)
    found.sort()
    return [_source_file(name) for name in found]


def _source_file(path: str) -> SourceFile:
    try:
        status = os.stat(path)
    except OSError as error:
        raise CorpusError(f"{path}: cannot read ({error.strerror or error})") from None
    return SourceFile(path, status.st_size, status.st_mtime_ns)


def _raise_walk_error(error: OSError) -> None:
    raise CorpusError(f"{error.filename}: cannot read the folder ({error.strerror})")


class FileReading:
    """The documents of one file, read once; as they are read, the content's
    SHA-256 and what was skipped are gathered (complete once `documents()` is
    exhausted)."""

    def __init__(self, source: SourceFile, shape: DocumentShape) -> None:
        self.source = source
        self.shape = shape
        self.sha256 = b""
        self.binary = False
        self.undecodable: list[int] = []  # line numbers (0: the whole file)
        self.bad_records: list[tuple[int, str]] = []  # (line, why)
        self.blank = 0
        self.consumed = 0  # bytes read so far

    def _open(self) -> IO[bytes]:
        try:
            return open(self.source.path, "rb")
        except OSError as error:
            raise CorpusError(f"{self.source.path}: cannot read "
                              f"({error.strerror or error})") from None

    def documents(self) -> Iterator[Document]:
        digest = hashlib.sha256()
        with self._open() as handle:
            try:
                head = handle.read(_PROBE)
                digest.update(head)
                self.consumed = len(head)
                encoding = self.shape.encoding
                if head.startswith(_UTF16_MARKS):
                    encoding = "utf-16"
                elif b"\0" in head and not _wide(encoding):
                    self.binary = True
                    for block in iter(lambda: handle.read(1 << 20), b""):
                        digest.update(block)
                        self.consumed += len(block)
                    self.sha256 = digest.digest()
                    return
                if self.shape.kind == "file" or _wide(encoding):
                    rest = handle.read()
                    digest.update(rest)
                    self.consumed += len(rest)
                    texts = self._whole(head + rest, encoding)
                else:
                    texts = self._lines(head, handle, digest, encoding)
                yield from self._shaped(texts)
            except OSError as error:
                raise CorpusError(f"{self.source.path}: cannot read "
                                  f"({error.strerror or error})") from None
        self.sha256 = digest.digest()

    def _whole(self, data: bytes, encoding: str) -> Iterator[tuple[int, str | None]]:
        try:
            text = data.decode("utf-8-sig" if encoding == "utf-8" else encoding)
        except UnicodeDecodeError:
            yield 0, None  # no line of it can be told from the next
            return
        if self.shape.kind == "file":
            yield 1, text
            return
        lines = text.split("\n")
        if lines and lines[-1] == "":
            lines.pop()  # the line feed that ends the last line starts no new one
        yield from enumerate(lines, 1)

    def _lines(self, head: bytes, handle: IO[bytes], digest: Any,
               encoding: str) -> Iterator[tuple[int, str | None]]:
        """Lines of an ASCII-compatible encoding, decoded one by one."""
        if encoding == "utf-8" and head.startswith(codecs.BOM_UTF8):
            head = head[len(codecs.BOM_UTF8):]
        number = 0
        carry = head
        while True:
            block = handle.read(1 << 20)
            digest.update(block)
            self.consumed += len(block)
            data = carry + block
            if not block:
                parts = data.split(b"\n")
                if parts[-1] == b"":
                    parts.pop()
                carry = b""
            else:
                parts = data.split(b"\n")
                carry = parts.pop()
            for raw in parts:
                number += 1
                try:
                    yield number, raw.decode(encoding)
                except UnicodeDecodeError:
                    yield number, None
            if not block:
                return

    def _shaped(self, texts: Iterator[tuple[int, str | None]]) -> Iterator[Document]:
        record = self.shape.kind == "record"
        for number, text in texts:
            if text is None:
                self.undecodable.append(number)
                continue
            if text.endswith("\r") and self.shape.kind != "file":
                text = text[:-1]
            if not text.strip():
                self.blank += 1
                continue
            if not record:
                yield Document(number, None, text)
                continue
            document = self._record(number, text)
            if document is not None:
                yield document

    def _record(self, number: int, line: str) -> Document | None:
        try:
            value = json.loads(line)
        except json.JSONDecodeError as error:
            self.bad_records.append((number, f"not JSON ({error.msg})"))
            return None
        except RecursionError:
            self.bad_records.append((number, "nested too deeply"))
            return None
        if not isinstance(value, dict):
            self.bad_records.append((number, "not a JSON object"))
            return None
        key, text = value.get(self.shape.id_field), value.get(self.shape.text_field)
        if isinstance(key, bool) or not isinstance(key, (str, int)):
            self.bad_records.append((number, f"no string or integer {self.shape.id_field!r}"))
            return None
        if not isinstance(text, str):
            self.bad_records.append((number, f"no string {self.shape.text_field!r}"))
            return None
        if not text.strip():
            self.blank += 1
            return None
        return Document(number, key, text)


def _wide(encoding: str) -> bool:
    """An encoding in which a line feed is not the byte 0x0A (UTF-16, UTF-32,
    EBCDIC; a byte-order mark counts too): its files are decoded whole
    before they are split into lines."""
    return "\na".encode(encoding) != b"\na"
