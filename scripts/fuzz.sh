#!/usr/bin/env bash
# The fuzzers' long runs: builds everything into build/ (or $VORN_BUILD_DIR),
# then runs each fuzzer for $VORN_FUZZ_LONG_SECONDS (300) on its seed corpus, as
# many at once as there are cores. The test suite runs each for a few seconds
# only; CI runs this. Extra arguments go to the CMake configure step.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${VORN_BUILD_DIR:-$root/build}
seconds=${VORN_FUZZ_LONG_SECONDS:-300}

bash "$root/scripts/build.sh" "-DVORN_FUZZ_LONG_SECONDS=$seconds" "$@"
ctest --test-dir "$build_dir" -C long -L long --output-on-failure --parallel "$(nproc)"
