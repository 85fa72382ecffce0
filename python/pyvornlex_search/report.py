"""What a run that writes a database tells its caller."""

from __future__ import annotations

from typing import NamedTuple

__all__ = ["IndexReport"]


class IndexReport(NamedTuple):
    """What a run stored, removed and left out."""

    database: str
    documents: int  # documents stored by this run
    first_doc: int  # their numbers start here (numbers only grow; removed ones are not given again)
    postings: int  # postings written by this run
    not_utf8: list[tuple[str, int]]  # (file, line) skipped as not decodable in the corpus's
    #                                  encoding (UTF-8 unless chosen); line 0: the whole file
    blank_lines: int  # blank lines, records and files skipped
    wordless_lines: int  # documents skipped because they cut to no searchable word
    seconds: float
    removed: int = 0  # documents removed (sync, delete, and reencode's wordless ones)
    binary_files: tuple[str, ...] = ()  # files skipped as binary (a NUL byte in the first block)
    bad_records: tuple[tuple[str, int, str], ...] = ()  # (file, line, why): JSON Lines records skipped
    new_files: int = 0  # sync: files read for the first time
    changed_files: int = 0  # sync: files whose documents were replaced
    removed_files: int = 0  # sync: files whose documents were removed
    unchanged_files: int = 0  # sync: files skipped without reading (or whose content was the same)
