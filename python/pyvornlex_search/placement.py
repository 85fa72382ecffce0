"""Where a new database comes to life: in scratch files beside its path,
moved into place only when complete, and never over an existing file."""

from __future__ import annotations

import os
import tempfile

from .errors import DatabaseError

__all__ = ["check_target_free", "scratch_file", "move_into_place"]


def check_target_free(database: str) -> None:
    for path in (database, database + "-wal", database + "-journal"):
        if os.path.lexists(path):
            raise DatabaseError(
                f"{path}: already exists; add documents to an index with "
                f"'python -m pyvornlex_search add CORPUS {database}', or remove it first")
    folder = os.path.dirname(os.path.abspath(database))
    if not os.path.isdir(folder):
        raise DatabaseError(f"{database}: the folder {folder} does not exist")


def scratch_file(folder: str, database: str, suffix: str) -> str:
    """A new empty file beside the database, with the mode a new file gets."""
    handle, path = tempfile.mkstemp(prefix=os.path.basename(database) + ".", suffix=suffix,
                                    dir=folder)
    os.close(handle)
    mask = os.umask(0)
    os.umask(mask)
    os.chmod(path, 0o666 & ~mask)
    return path


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
        open(partial, "wb").close()  # the caller removes it
