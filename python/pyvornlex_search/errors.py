"""The errors that the index and search tools raise, one class per kind of
mistake a user can act on."""

from typing import Iterable

__all__ = ["SearchToolError", "CorpusError", "DatabaseError", "WriterBusyError",
           "EmptyQueryError", "AnalysisChangedError"]


class SearchToolError(Exception):
    """Base class: every error of pyvornlex_search derives from it."""


class CorpusError(SearchToolError):
    """The corpus is missing, unreadable, or holds no document."""


class DatabaseError(SearchToolError):
    """The database is missing, not one of ours, of a newer layout, or in the way."""


class WriterBusyError(DatabaseError):
    """Another process kept writing the database for longer than the wait."""


class EmptyQueryError(SearchToolError, ValueError):
    """The query cuts to no word that can be searched."""


class AnalysisChangedError(SearchToolError):
    """A file that a database's analysis reads (a dictionary, the HMM model, a
    stop-word list) is missing, unreadable, or not what the database was cut
    with. `changes` holds one (role, path, state) per file, state being
    "missing", "unreadable" or "changed"."""

    def __init__(self, message: str, changes: Iterable[tuple[str, str, str]] = ()) -> None:
        super().__init__(message)
        self.changes = tuple(changes)
