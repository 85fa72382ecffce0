"""python -m pyvornlex_merge MERGED SHARD [SHARD ...]: merges model files."""

import argparse
import sys
from typing import List, Optional

from .errors import MergeError
from .merge import merge_files


def main(argv: Optional[List[str]] = None) -> int:
    parser = argparse.ArgumentParser(
        prog="python -m pyvornlex_merge",
        description="Merge the model files of BM25 models trained on shards of one corpus "
                    "into the model file of the whole corpus. MERGED is replaced atomically, "
                    "and left as it was when the merge is refused.")
    parser.add_argument("merged", metavar="MERGED", help="the model file to write")
    parser.add_argument("shards", metavar="SHARD", nargs="+", help="a shard's model file")
    arguments = parser.parse_args(argv)
    try:
        merge_files(arguments.merged, arguments.shards)
    except (MergeError, OSError) as error:
        print("%s: %s" % (parser.prog, error), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
