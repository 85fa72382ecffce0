#!/usr/bin/env bash
# Prints the Python interpreter that the CMake build in BUILD_DIR was
# configured for, the one its module runs under.
set -euo pipefail
build_dir=${1:?usage: configured_python.sh BUILD_DIR}
python=$(sed -n 's/^Python_EXECUTABLE:FILEPATH=//p' "$build_dir/CMakeCache.txt")
if [[ -z $python ]]; then
    echo "configured_python: $build_dir is not a configured pyvornlex build" >&2
    exit 1
fi
echo "$python"
