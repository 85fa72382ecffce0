#!/usr/bin/env bash
# Builds everything and runs the search demo under examples/.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${VORN_BUILD_DIR:-$root/build}

bash "$root/scripts/build.sh" "$@"
python=$(bash "$root/scripts/configured_python.sh" "$build_dir")
PYTHONPATH="$build_dir/python" "$python" "$root/examples/search_demo.py"
