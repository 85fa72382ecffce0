"""Worker processes: the same work run in several forked processes, which
stop together.

The interpreter lock lets one thread run Python at a time, and a search is
mostly Python (see plan.py): threads serve many clients at once but use one
core. Processes forked after the costly set-up (the analyzer's
dictionaries) share its memory pages and use every core."""

from __future__ import annotations

import os
import signal
import sys
import threading
import time
import traceback
from typing import Callable

from .errors import SearchToolError

__all__ = ["run_workers"]


def _interrupt_once(signum: int, frame: object) -> None:
    """Ctrl-C reaches a worker twice, from the terminal and from the parent:
    the second must not cut its closing short."""
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    raise KeyboardInterrupt


def _watch_parent(lifeline: int) -> None:
    """Stops this worker as Ctrl-C would once the parent is gone, however it
    went (a killed parent runs no code): its end of the pipe closes with it."""
    os.read(lifeline, 1)
    os.kill(os.getpid(), signal.SIGINT)


def _child(work: Callable[[], None], lifeline: int) -> None:
    """Runs in a forked process and never returns into the caller's code."""
    signal.signal(signal.SIGINT, _interrupt_once)
    status = 1
    try:
        threading.Thread(target=_watch_parent, args=(lifeline,), daemon=True).start()
        work()
        status = 0
    except KeyboardInterrupt:
        status = 130
    except SearchToolError as error:
        print(f"error: {error}", file=sys.stderr)
    except BaseException:  # noqa: BLE001: said on standard error, then the process ends
        traceback.print_exc()
    finally:
        sys.stderr.flush()
        os._exit(status)


def _stop(children: list[int], wait: float) -> None:
    """Asks the children to stop as Ctrl-C would, one after another, waiting
    for each: two closing the database at the same moment can each leave its
    write-ahead log to the other, and the files would outlast the server.
    Those still running after `wait` seconds in all are killed."""
    deadline = time.monotonic() + wait
    for pid in children:
        os.kill(pid, signal.SIGINT)
        while os.waitpid(pid, os.WNOHANG)[0] != pid:
            if time.monotonic() > deadline:
                os.kill(pid, signal.SIGKILL)
                os.waitpid(pid, 0)
                break
            time.sleep(0.01)


def run_workers(count: int, work: Callable[[], None], wait: float = 5.0) -> None:
    """Runs `work` in `count` forked processes until this process is
    interrupted (KeyboardInterrupt comes out once every worker has stopped)
    or a worker stops (SearchToolError)."""
    if not hasattr(os, "fork"):
        raise SearchToolError("more than one worker needs fork(), which this system lacks")
    children: list[int] = []
    lifeline, held = os.pipe()  # the parent alone holds the writing end
    try:
        for _ in range(count):
            pid = os.fork()
            if pid == 0:
                os.close(held)
                _child(work, lifeline)
            children.append(pid)
        pid, status = os.wait()
        children.remove(pid)
        raise SearchToolError(f"a worker process stopped (exit status "
                              f"{os.waitstatus_to_exitcode(status)}): the server stops")
    finally:
        os.close(lifeline)
        _stop(children, wait)
        os.close(held)
