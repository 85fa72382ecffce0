"""Writing a model file as BM25.dump writes one: a reader sees the old file
or the new one, never part of one, and a failed write leaves nothing."""

import errno
import io
import os
import secrets
import stat
from contextlib import contextmanager
from typing import BinaryIO, Iterator, Union

__all__ = ["PathType", "replacing", "write_model"]

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


@contextmanager
def replacing(path: PathType) -> Iterator[BinaryIO]:
    """A binary file to write the new content of ``path`` into.

    On a normal exit the content is flushed to disk and renamed over ``path``
    (what a symbolic link points to, keeping an existing file's permissions);
    when the block raises, the temporary file is removed and ``path`` is as
    it was. Pipes and devices, which cannot be renamed over, get the content
    written in place at the end.
    """
    path = os.fspath(path)
    if not isinstance(path, str):
        raise TypeError("the path must be a str or os.PathLike[str], not %s"
                        % type(path).__name__)
    if "\0" in path:
        raise ValueError("embedded null character in path")
    if not path:
        raise FileNotFoundError(errno.ENOENT, "the empty path names no file", path)
    try:
        existing = os.stat(path)
    except FileNotFoundError:
        existing = None
    target = path
    if existing is not None:
        if stat.S_ISDIR(existing.st_mode):
            raise IsADirectoryError(errno.EISDIR, os.strerror(errno.EISDIR), path)
        if not stat.S_ISREG(existing.st_mode):
            buffer = io.BytesIO()
            yield buffer
            with open(path, "wb") as handle:
                handle.write(buffer.getbuffer())
            return
        # A file we may not write stays as it is, even if its directory would
        # let us replace it.
        if not os.access(path, os.W_OK):
            raise PermissionError(errno.EACCES, os.strerror(errno.EACCES), path)
        target = os.path.realpath(path)
    descriptor, temporary = _open_temporary(os.path.dirname(target) or ".")
    try:
        with os.fdopen(descriptor, "wb") as handle:
            if existing is not None:
                os.fchmod(handle.fileno(), stat.S_IMODE(existing.st_mode))
            yield handle
            handle.flush()
            os.fsync(handle.fileno())
        os.replace(temporary, target)
    except BaseException:
        try:
            os.unlink(temporary)
        except FileNotFoundError:
            pass
        raise


def write_model(path: PathType, text: Union[str, bytes]) -> None:
    """Writes a model text to ``path`` as ``BM25.dump`` writes a file.

    The text is written as it is (a ``str`` as UTF-8): pass what this package
    or ``dump`` produced. Failures raise ``OSError`` and leave ``path`` as it
    was.
    """
    data = text.encode("utf-8") if isinstance(text, str) else bytes(text)
    with replacing(path) as handle:
        handle.write(data)
