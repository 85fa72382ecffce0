#!/usr/bin/env bash
# Builds everything and runs the search demo under examples/.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${VORN_BUILD_DIR:-$root/build}

bash "$root/scripts/build.sh" "$@"
python=$(sed -n 's/^Python_EXECUTABLE:FILEPATH=//p' "$build_dir/CMakeCache.txt")
PYTHONPATH="$build_dir/python" "$python" "$root/examples/search_demo.py"
