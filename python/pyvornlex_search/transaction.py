"""Changes that happen whole or not at all, and say which.

A change is one SQLite transaction (or, for a new database, a file moved
into place in one step). Ctrl-C is held back while the change commits or
rolls back: before the commit it rolls the change back and raises
KeyboardInterrupt ("nothing changed"); once the commit has begun, it waits
until the commit is done and raises CommittedButInterrupted, which carries
what the change did. So what the caller is told is always what the database
holds."""

from __future__ import annotations

import signal
import sqlite3
import threading
from contextlib import contextmanager
from typing import Callable, Iterator, TypeVar

from .errors import DatabaseError, WriterBusyError
from .layout import open_existing

__all__ = ["CommittedButInterrupted", "CommitAware", "interrupts_held", "write_transaction"]

Result = TypeVar("Result")


class CommittedButInterrupted(KeyboardInterrupt):
    """Ctrl-C came while the change was committing: the change is complete
    and `result` says what it did."""

    def __init__(self, result: object) -> None:
        super().__init__("interrupted after the change was complete")
        self.result = result


class CommitAware:
    """A SIGINT handler for a whole run (the command line installs one):
    Ctrl-C raises KeyboardInterrupt until the run's change has committed,
    and is only recorded after, so that nothing between the commit and the
    run's last word can claim that nothing changed."""

    def __init__(self) -> None:
        self.committed = False
        self.late = False  # a Ctrl-C came after the commit

    def __call__(self, number: int, frame: object) -> None:
        if not self.committed:
            raise KeyboardInterrupt
        self.late = True


class _Held:
    """Holds SIGINT back while it is entered; `received` tells whether one
    came. Only the main thread receives signals, so elsewhere it holds
    nothing back."""

    def __init__(self) -> None:
        self.received: list[int] = []
        self._previous: object = None
        self._main = threading.current_thread() is threading.main_thread()

    def __enter__(self) -> _Held:
        if self._main:
            self._previous = signal.signal(signal.SIGINT,
                                           lambda number, frame: self.received.append(number))
        return self

    def __exit__(self, *exception: object) -> None:
        if self._main:
            signal.signal(signal.SIGINT, self._previous)  # type: ignore[arg-type]

    def committed(self) -> None:
        """The change is in place: tells a CommitAware handler of the run."""
        if isinstance(self._previous, CommitAware):
            self._previous.committed = True


def interrupts_held() -> _Held:
    return _Held()


def _busy(error: sqlite3.OperationalError) -> bool:
    return "locked" in str(error) or "busy" in str(error)


@contextmanager
def _transaction(database: str, wait: float) -> Iterator[sqlite3.Connection]:
    connection = open_existing(database, wait=wait)
    try:
        try:
            connection.execute("BEGIN IMMEDIATE")
        except sqlite3.OperationalError as error:
            if _busy(error):
                raise WriterBusyError(
                    f"{database}: another process is writing this database (waited "
                    f"{wait:g} s); try again when it is done, or wait longer with "
                    "--wait SECONDS") from None
            raise DatabaseError(f"{database}: cannot write ({error})") from None
        yield connection
    finally:
        connection.close()


def write_transaction(database: str, wait: float,
                      change: Callable[[sqlite3.Connection], Result]) -> Result:
    """Runs `change` in one write transaction on the database and commits
    it; returns what `change` returned. On any exception, Ctrl-C included,
    the transaction is rolled back and the exception raised. A Ctrl-C during
    the commit raises CommittedButInterrupted after it."""
    with _transaction(database, wait) as connection:
        try:
            result = change(connection)
            with interrupts_held() as held:
                try:
                    connection.execute("COMMIT")
                except sqlite3.Error as error:
                    if held.received:
                        raise KeyboardInterrupt from None
                    raise DatabaseError(f"{database}: the change could not be written "
                                        f"({error}); nothing was changed") from None
                held.committed()
            if held.received:
                raise CommittedButInterrupted(result)
            return result
        except BaseException:
            with interrupts_held():
                if connection.in_transaction:
                    connection.execute("ROLLBACK")
            raise
