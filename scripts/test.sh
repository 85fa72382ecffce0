#!/usr/bin/env bash
# Builds everything and runs the whole test suite through CTest.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${VORN_BUILD_DIR:-$root/build}

bash "$root/scripts/build.sh" "$@"
ctest --test-dir "$build_dir" --output-on-failure --parallel "$(nproc)"
