"""Lets Python 3.10 import Debian's Dask (python3-dask, built for Debian's
Python 3.11) without seeing the rest of Debian's Python packages.

Dask and what its bags, delayed objects and `processes` scheduler import are
pure Python. Debian's dist-packages folder also holds extension modules built
for 3.11 only (numpy, pandas, psutil, ...), which a 3.10 interpreter must not
try to import, so the folder goes on no path. Instead this makes a folder of
symbolic links to just Dask's packages, to put on PYTHONPATH for one run:

    python=$(bash scripts/configured_python.sh build)    # the Python 3.10 of the build
    links=$("$python" scripts/debian_dask.py /tmp/dask-links)
    PYTHONPATH=$links:build/python "$python" examples/dask_training.py corpus.txt

Imported, `link_dask(folder)` does the same and returns the folder.
dask.distributed is not among them: Debian's python3-distributed needs psutil,
which exists for 3.11 only.
"""

import os
import sys

DIST_PACKAGES = "/usr/lib/python3/dist-packages"
# Dask's own imports (python3-dask's dependencies), the YAML parser's pure
# Python half included; bag shuffles need partd and locket.
PACKAGES = ("dask", "cloudpickle", "fsspec", "packaging", "toolz", "tlz", "yaml", "partd",
            "locket")


def link_dask(folder, dist_packages=DIST_PACKAGES):
    """Fills `folder` with links to Dask's packages and returns it; raises
    FileNotFoundError naming python3-dask when they are not installed."""
    missing = [name for name in PACKAGES
               if not os.path.isdir(os.path.join(dist_packages, name))]
    if missing:
        raise FileNotFoundError(
            "%s lacks %s: install Debian's python3-dask (apt-get install "
            "--no-install-recommends python3-dask, which bash scripts/setup.sh does)"
            % (dist_packages, ", ".join(missing)))
    os.makedirs(folder, exist_ok=True)
    for name in PACKAGES:
        link = os.path.join(folder, name)
        if os.path.islink(link) and os.readlink(link) == os.path.join(dist_packages, name):
            continue
        if os.path.lexists(link):
            os.remove(link)
        os.symlink(os.path.join(dist_packages, name), link)
    return folder


def main(argv):
    if len(argv) != 2:
        print("usage: python3.10 scripts/debian_dask.py FOLDER  (prints FOLDER for PYTHONPATH)",
              file=sys.stderr)
        return 2
    try:
        print(os.path.abspath(link_dask(argv[1])))
    except OSError as error:
        print("debian_dask: %s" % error, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
