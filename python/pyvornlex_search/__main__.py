"""python -m pyvornlex_search: see cli.py."""

import sys

from .cli import main

sys.exit(main())
