"""Progress of a long run on standard error: documents done, documents per
second and, when the size of the work is known, the time left; at most a
few updates a second, on one line that each update overwrites."""

from __future__ import annotations

import sys
import time
from typing import TextIO

__all__ = ["ProgressLine"]


class ProgressLine:
    """A progress callback (documents, bytes) for writer runs. `total_bytes`
    (the files to read) or `total_documents` (documents to cut again) make
    the share done and the time left known."""

    def __init__(self, action: str, *, total_bytes: int = 0, total_documents: int = 0,
                 stream: TextIO | None = None, interval: float = 0.25) -> None:
        self._action = action
        self._total_bytes = total_bytes
        self._total_documents = total_documents
        self._stream = stream if stream is not None else sys.stderr
        self._interval = interval
        self._started = self._shown = time.monotonic()
        self.documents = self.bytes = 0
        self._width = 0

    def __call__(self, documents: int, read: int) -> None:
        self.documents += documents
        self.bytes += read
        now = time.monotonic()
        if now - self._shown >= self._interval:
            self._shown = now
            self._show(now)

    def _share(self) -> float | None:
        if self._total_bytes:
            return min(1.0, self.bytes / self._total_bytes)
        if self._total_documents:
            return min(1.0, self.documents / self._total_documents)
        return None

    def _show(self, now: float) -> None:
        elapsed = max(now - self._started, 1e-9)
        text = f"{self._action} {self.documents:,} documents, {self.documents / elapsed:,.0f}/s"
        share = self._share()
        if share is not None and share > 0:
            left = elapsed * (1 - share) / share
            text += f", {share:.0%}, {_duration(left)} left"
        self._stream.write("\r" + text.ljust(self._width))
        self._stream.flush()
        self._width = len(text)

    def close(self) -> None:
        """Clears the line, so that what the command prints next starts clean."""
        if self._width:
            self._stream.write("\r" + " " * self._width + "\r")
            self._stream.flush()
            self._width = 0


def _duration(seconds: float) -> str:
    if seconds < 60:
        return f"{seconds:.0f} s"
    if seconds < 3600:
        return f"{seconds / 60:.0f} min"
    return f"{seconds / 3600:.1f} h"
