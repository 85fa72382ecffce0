#!/usr/bin/env bash
# The performance benchmark in one command: builds pyvornlex in Release (into
# build-bench/, or $VORN_BENCH_BUILD_DIR), prepares the Chinese corpus, runs
# every comparison in interleaved rounds and writes results.md, results.json
# and ratios.png into <build>/bench/.
#
#   bash bench/run.sh                 # 5 rounds
#   VORN_BENCH_ROUNDS=3 bash bench/run.sh
#   VORN_BENCH_CORPUS=/path/to/text.txt bash bench/run.sh   # another corpus, one paragraph a line
#
# Extra arguments go to the CMake configure step, e.g.
# -DPython_EXECUTABLE=/path/to/python3.10. Exits non-zero if a target is missed.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${VORN_BENCH_BUILD_DIR:-$root/build-bench}
out_dir=$build_dir/bench

# python3-jieba and matplotlib run on the system Python, in processes of their own.
bash "$root/scripts/setup.sh" python3-jieba python3-matplotlib

cmake -S "$root/bench" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release "$@"
cmake --build "$build_dir" --parallel "$(nproc)"
python=$(bash "$root/scripts/configured_python.sh" "$build_dir")

mkdir -p "$out_dir"
corpus=${VORN_BENCH_CORPUS:-}
if [[ -z $corpus ]]; then
    bash "$root/bench/corpus.sh" "$out_dir/corpus"
    corpus=$out_dir/corpus/corpus.txt
fi

status=0
# No bytecode caches in the source tree.
export PYTHONDONTWRITEBYTECODE=1
PYTHONPATH="$build_dir/pyvornlex/python" "$python" "$root/bench/bench.py" \
    --jieba-bench "$build_dir/jieba_bench" --corpus "$corpus" --out "$out_dir" \
    --system-python /usr/bin/python3 --rounds "${VORN_BENCH_ROUNDS:-5}" || status=$?
if [[ -f $out_dir/results.json ]]; then
    /usr/bin/python3 "$root/bench/chart.py" "$out_dir/results.json" "$out_dir/ratios.png"
    echo "bench: table in $out_dir/results.md, chart in $out_dir/ratios.png"
fi
exit "$status"
