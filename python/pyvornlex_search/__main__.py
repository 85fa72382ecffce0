"""python -m pyvornlex_search: see cli.py."""

import signal
import sys

# Ctrl-C is held back while the package imports: a native module that it
# reaches as it initialises fails to import ("initialization failed"),
# which would end in a traceback. Once the run has said how it ended, it is
# ignored: the interpreter's shutdown would otherwise let it kill the
# process, whose status would then deny what was printed.
_received = []
signal.signal(signal.SIGINT, lambda number, frame: _received.append(number))
from .cli import main  # noqa: E402: after the handler, on purpose

if _received:
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    print("interrupted: nothing was changed", file=sys.stderr)
    sys.exit(130)
status = main()
signal.signal(signal.SIGINT, signal.SIG_IGN)
sys.exit(status)
