"""python -m pyvornlex_search: see cli.py."""

import signal
import sys

# Ctrl-C during the imports (the module, SQLite, the package) comes before
# any change: it gets the same one line as any other early interruption.
try:
    from .cli import main
except KeyboardInterrupt:
    print("interrupted: nothing was changed", file=sys.stderr)
    sys.exit(130)

status = main()
# A Ctrl-C while the interpreter shuts down would print a traceback under
# a run that already said how it ended.
signal.signal(signal.SIGINT, signal.SIG_IGN)
sys.exit(status)
