"""The errors that the index and search tools raise, one class per kind of
mistake a user can act on."""

__all__ = ["SearchToolError", "CorpusError", "DatabaseError", "WriterBusyError",
           "EmptyQueryError"]


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
