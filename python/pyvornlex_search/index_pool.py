"""Open indexes of one database for many threads: each borrows one, with
its own read-only connection, and they all share one analyzer."""

from __future__ import annotations

import queue
import threading
import time
from contextlib import contextmanager
from typing import Iterator


from .analysis import Analyzer
from .errors import SearchToolError
from .search import SearchIndex

__all__ = ["IndexPool", "POOL_SIZE"]

# More searches at once than this would only queue for the interpreter lock.
POOL_SIZE = 8


class IndexPool:
    """Open indexes of one database, each lent to one thread at a time, all
    sharing one analyzer. Opened when first needed, up to `size`; the first
    is opened at once, so that a bad database fails before serving."""

    def __init__(self, database: str, analyzer: Analyzer, size: int = POOL_SIZE) -> None:
        self.database = database
        self._analyzer = analyzer
        self._size = size
        self._free = threading.BoundedSemaphore(size)
        self._idle: queue.LifoQueue[SearchIndex] = queue.LifoQueue()
        self._closed = False
        self._idle.put(self._open())

    def _open(self) -> SearchIndex:
        return SearchIndex(self.database, analyzer=self._analyzer)

    @contextmanager
    def index(self) -> Iterator[SearchIndex]:
        """An index for this thread alone until the block ends."""
        with self._free:
            if self._closed:
                raise SearchToolError("the server is stopping")
            try:
                index = self._idle.get_nowait()
            except queue.Empty:
                index = self._open()
            try:
                yield index
            finally:
                if self._closed:
                    index.close()
                else:
                    self._idle.put(index)

    def close(self, wait: float = 2.0) -> None:
        """Closes every index, waiting up to `wait` seconds for the lent ones
        to come back (a search takes milliseconds); one that comes back later
        is closed then. Closing the last connection removes the database's
        -wal and -shm files, as if the server had never run."""
        self._closed = True
        deadline = time.monotonic() + wait
        for _ in range(self._size):
            if not self._free.acquire(timeout=max(0.0, deadline - time.monotonic())):
                break
        while True:
            try:
                self._idle.get_nowait().close()
            except queue.Empty:
                return
