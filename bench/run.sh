#!/usr/bin/env bash
# The performance benchmark in one command: builds pyvornlex in Release (into
# build-bench/, or $VORN_BENCH_BUILD_DIR), prepares the Chinese corpus, runs
# every comparison in interleaved rounds, then the model files at scale, and
# writes results.md, model_file_results.md (and their .json) and ratios.png
# into <build>/bench/.
#
#   bash bench/run.sh                                  # both parts, about 35 minutes
#   VORN_BENCH_PARTS=corpus bash bench/run.sh          # the corpus rows only, about 7 minutes
#   VORN_BENCH_PARTS=model-files bash bench/run.sh     # the model files at scale only
#   VORN_BENCH_ROUNDS=3 bash bench/run.sh
#   VORN_BENCH_CORPUS=/path/to/text.txt bash bench/run.sh   # another corpus, one paragraph a line
#   VORN_BENCH_MODEL_FILE_ARGS="--sizes 1000000 --large 16000000" bash bench/run.sh
#
# Extra arguments go to the CMake configure step, e.g.
# -DPython_EXECUTABLE=/path/to/python3.10. Exits non-zero if a target is missed.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${VORN_BENCH_BUILD_DIR:-$root/build-bench}
out_dir=$build_dir/bench
parts=${VORN_BENCH_PARTS:-corpus,model-files}
rounds=${VORN_BENCH_ROUNDS:-5}

# python3-jieba and matplotlib run on the system Python, in processes of their own.
bash "$root/scripts/setup.sh" python3-jieba python3-matplotlib

cmake -S "$root/bench" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release "$@"
cmake --build "$build_dir" --parallel "$(nproc)"
python=$(bash "$root/scripts/configured_python.sh" "$build_dir")

mkdir -p "$out_dir"
status=0
# No bytecode caches in the source tree.
export PYTHONDONTWRITEBYTECODE=1
export PYTHONPATH=$build_dir/pyvornlex/python

if [[ ,$parts, == *,corpus,* ]]; then
    corpus=${VORN_BENCH_CORPUS:-}
    if [[ -z $corpus ]]; then
        bash "$root/bench/corpus.sh" "$out_dir/corpus"
        corpus=$out_dir/corpus/corpus.txt
    fi
    "$python" "$root/bench/bench.py" --jieba-bench "$build_dir/jieba_bench" --corpus "$corpus" \
        --out "$out_dir" --system-python /usr/bin/python3 --rounds "$rounds" || status=$?
fi
if [[ ,$parts, == *,model-files,* ]]; then
    # shellcheck disable=SC2086
    "$python" "$root/bench/model_file_bench.py" --out "$out_dir" --rounds "$rounds" \
        ${VORN_BENCH_MODEL_FILE_ARGS:-} || status=$?
fi

# The chart draws whichever parts have results, the last run of each.
results=()
for name in results.json model_file_results.json; do
    [[ -f $out_dir/$name ]] && results+=("$out_dir/$name")
done
if ((${#results[@]})); then
    /usr/bin/python3 "$root/bench/chart.py" "$out_dir/ratios.png" "${results[@]}"
    echo "bench: tables in $out_dir/results.md and model_file_results.md, chart in $out_dir/ratios.png"
fi
exit "$status"
