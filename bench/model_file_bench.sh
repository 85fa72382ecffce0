#!/usr/bin/env bash
# Model files at scale in one command: builds pyvornlex in Release (into
# build-model-bench/, or $VORN_BENCH_BUILD_DIR), then times load and dump
# against Python's json module on models of 250k, 1M and 4M distinct tokens
# of three kinds, and how the cost of every operation grows with the number
# of tokens. Prints both tables and writes model_file_results.md and .json
# into <build>/bench/. Exits non-zero if a target is missed at 1M or 4M.
#
#   bash bench/model_file_bench.sh                       # about 25 minutes, 6 GiB
#   bash bench/model_file_bench.sh --sizes 1000000 --rounds 3
#   bash bench/model_file_bench.sh --large 16000000      # train and memory at 16M too
#
# Arguments go to bench/model_file_bench.py; VORN_BENCH_CMAKE_ARGS to the
# CMake configure step (e.g. -DPython_EXECUTABLE=/path/to/python3.10).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${VORN_BENCH_BUILD_DIR:-$root/build-model-bench}

bash "$root/scripts/setup.sh"
# shellcheck disable=SC2086
cmake -S "$root" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DVORN_BUILD_TESTS=OFF \
    ${VORN_BENCH_CMAKE_ARGS:-} >/dev/null
cmake --build "$build_dir" --parallel "$(nproc)" >/dev/null
python=$(sed -n 's/^Python_EXECUTABLE:FILEPATH=//p' "$build_dir/CMakeCache.txt")

export PYTHONDONTWRITEBYTECODE=1
PYTHONPATH="$build_dir/python" exec "$python" "$root/bench/model_file_bench.py" \
    --out "$build_dir/bench" "$@"
