"""Replacing a file as BM25.dump replaces a model file: a reader sees the old
file or the new one, never part of one, and a failed write leaves nothing."""

import errno
import io
import os
import secrets
import stat
from contextlib import contextmanager
from typing import BinaryIO, Iterator, Union

__all__ = ["PathType", "replacing", "sync_directory", "write_atomically"]

PathType = Union[str, os.PathLike[str]]


def _open_temporary(directory: str) -> tuple[int, str]:
    # Mode 0666 lets the umask apply as it would to the target itself.
    while True:
        temporary = os.path.join(directory, ".pyvornlex-merge-%d-%s.tmp"
                                 % (os.getpid(), secrets.token_hex(8)))
        try:
            return os.open(temporary, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC,
                           0o666), temporary
        except FileExistsError:
            continue


def _take_over_attributes(descriptor: int, existing: os.stat_result) -> None:
    """Owner and group where the caller may set them (root may give a file
    away, others only a group of theirs), then the permissions: changing the
    owner clears the set-user-ID and set-group-ID bits."""
    try:
        os.fchown(descriptor, existing.st_uid, existing.st_gid)
    except PermissionError:
        try:
            os.fchown(descriptor, -1, existing.st_gid)
        except PermissionError:
            pass
    os.fchmod(descriptor, stat.S_IMODE(existing.st_mode))


def sync_directory(directory: str) -> None:
    """After a rename or a new link only the directory records the new name:
    sync it, so that a power loss cannot bring the old file back. A directory
    that cannot be opened, or a file system that cannot sync one, is left as
    it is; any other failure of the sync is raised."""
    try:
        descriptor = os.open(directory, os.O_RDONLY | os.O_DIRECTORY | os.O_CLOEXEC)
    except OSError:
        return
    try:
        os.fsync(descriptor)
    except OSError as error:
        if error.errno not in (errno.EINVAL, errno.EROFS):
            raise
    finally:
        os.close(descriptor)


def _write_in_place(path: str, data: bytes, regular: bool) -> None:
    with open(path, "wb") as handle:
        handle.write(data)
        handle.flush()
        if regular:
            os.fsync(handle.fileno())


@contextmanager
def _in_place(path: str, regular: bool) -> Iterator[BinaryIO]:
    # The content is gathered first, so that a block that raises leaves the
    # file as it was.
    buffer = io.BytesIO()
    yield buffer
    _write_in_place(path, buffer.getvalue(), regular)


@contextmanager
def replacing(path: PathType) -> Iterator[BinaryIO]:
    """A binary file to write the new content of ``path`` into, handled as
    ``BM25.dump`` handles its file.

    On a normal exit the content is synced and renamed over ``path`` (what a
    symbolic link points to, which need not exist yet), keeping an existing
    file's permissions, and its owner and group where the caller may set
    them; then the directory is synced. When the block raises, the temporary
    file is removed and ``path`` is as it was. What a rename cannot replace
    gets the content written in place at the end, as ``open`` would: pipes
    and devices, a file with several hard links, and a writable file in a
    directory that refuses new files or the rename.
    """
    path = os.fspath(path)
    if not isinstance(path, str):
        raise TypeError("the path must be a str or os.PathLike[str], not %s"
                        % type(path).__name__)
    if "\0" in path:
        raise ValueError("embedded null character in path")
    if not path:
        raise FileNotFoundError(errno.ENOENT, "the empty path names no file", path)
    target = os.path.realpath(path)
    try:
        existing = os.stat(target)
    except FileNotFoundError:
        existing = None
    if existing is not None:
        if stat.S_ISDIR(existing.st_mode):
            raise IsADirectoryError(errno.EISDIR, os.strerror(errno.EISDIR), path)
        if not stat.S_ISREG(existing.st_mode):
            with _in_place(target, regular=False) as handle:
                yield handle
            return
        # A file we may not write stays as it is, even if its directory would
        # let us replace it.
        if not os.access(target, os.W_OK):
            raise PermissionError(errno.EACCES, os.strerror(errno.EACCES), path)
        # A rename would give only this name the new model.
        if existing.st_nlink > 1:
            with _in_place(target, regular=True) as handle:
                yield handle
            return
    directory = os.path.dirname(target) or "."
    try:
        descriptor, temporary = _open_temporary(directory)
    except PermissionError:
        if existing is None:
            raise
        with _in_place(target, regular=True) as handle:
            yield handle
        return
    try:
        with os.fdopen(descriptor, "wb") as handle:
            if existing is not None:
                _take_over_attributes(handle.fileno(), existing)
            yield handle
            handle.flush()
            os.fsync(handle.fileno())
        try:
            os.replace(temporary, target)
        except PermissionError:
            # A sticky directory forbids renaming over another user's file.
            if existing is None:
                raise
            with open(temporary, "rb") as written:
                _write_in_place(target, written.read(), regular=True)
            os.unlink(temporary)
            return
        sync_directory(directory)
    except BaseException:
        try:
            os.unlink(temporary)
        except FileNotFoundError:
            pass
        raise


def write_atomically(path: PathType, data: bytes) -> None:
    """Writes ``data`` to ``path`` as ``replacing`` does; failures raise
    ``OSError`` and leave ``path`` as it was."""
    with replacing(path) as handle:
        handle.write(data)
