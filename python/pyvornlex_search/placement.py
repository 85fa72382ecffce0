"""Where a new database comes to life: in a scratch file beside its path,
moved into place only when complete, and never over an existing file.

The process that builds in a scratch file holds a lock on it, so that a
later build can tell the scratch file of a killed process (nobody holds its
lock) from one being written, and remove it."""

from __future__ import annotations

import fcntl
import glob
import os
import tempfile

from .errors import DatabaseError

__all__ = ["check_target_free", "Scratch", "move_into_place"]

_SUFFIX = ".partial"


def check_target_free(database: str) -> None:
    for path in (database, database + "-wal", database + "-journal"):
        if os.path.lexists(path):
            raise DatabaseError(
                f"{path}: already exists; add documents to an index with "
                f"'python -m pyvornlex_search add CORPUS {database}', keep it in step with "
                f"a folder with 'sync', or remove it first")
    folder = os.path.dirname(os.path.abspath(database))
    if not os.path.isdir(folder):
        raise DatabaseError(f"{database}: the folder {folder} does not exist")


class Scratch:
    """A new empty file beside the database, with the mode a new file gets,
    locked for as long as it is open; scratch files that killed builds of
    the same database left behind are removed first."""

    def __init__(self, database: str) -> None:
        folder = os.path.dirname(os.path.abspath(database))
        prefix = os.path.basename(database) + "."
        _remove_abandoned(os.path.join(folder, glob.escape(prefix) + "*" + _SUFFIX))
        handle, self.path = tempfile.mkstemp(prefix=prefix, suffix=_SUFFIX, dir=folder)
        self._handle: int | None = handle
        fcntl.flock(handle, fcntl.LOCK_EX)
        mask = os.umask(0)
        os.umask(mask)
        os.chmod(self.path, 0o666 & ~mask)

    def remove(self) -> None:
        """Removes the file (if still there) and lets go of its lock."""
        if self._handle is None:
            return
        try:
            os.unlink(self.path)
        except FileNotFoundError:
            pass
        os.close(self._handle)
        self._handle = None


def _remove_abandoned(pattern: str) -> None:
    for path in glob.glob(pattern):
        try:
            handle = os.open(path, os.O_RDONLY)
        except OSError:
            continue
        try:
            fcntl.flock(handle, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except OSError:
            continue  # a build is writing it
        else:
            try:
                os.unlink(path)
            except OSError:
                pass
        finally:
            os.close(handle)


def move_into_place(partial: str, database: str) -> None:
    try:
        os.link(partial, database)  # fails rather than replace a file made meanwhile
    except FileExistsError:
        raise DatabaseError(f"{database}: appeared while indexing; nothing was replaced") from None
    except OSError:
        # A file system without hard links: a rename, after one more look.
        if os.path.lexists(database):
            raise DatabaseError(f"{database}: appeared while indexing; "
                                "nothing was replaced") from None
        os.rename(partial, database)
