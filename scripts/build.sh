#!/usr/bin/env bash
# Sets up the machine, then configures and builds everything into build/ (or
# $VORN_BUILD_DIR). Extra arguments go to the CMake configure step, for
# example -DPython_EXECUTABLE=/path/to/python3.10.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${VORN_BUILD_DIR:-$root/build}

bash "$root/scripts/setup.sh"
cmake -S "$root" -B "$build_dir" "$@"
cmake --build "$build_dir" --parallel "$(nproc)"
