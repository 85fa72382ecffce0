#!/usr/bin/env bash
# The performance benchmark in one command: builds pyvornlex in Release (into
# build-bench/, or $VORN_BENCH_BUILD_DIR), prepares the Chinese corpus, runs
# each part, writes its report into <build>/bench/ and then into the docs
# (docs/performance-results.md and the chart docs/performance-ratios.png).
# The parts:
#   corpus       segmentation and BM25 against their references, in interleaved
#                rounds (results.md, results.json)
#   model-files  dump and load at scale against Python's json, the cost per
#                token as the table grows (model_file_results.md, .json)
#   search       pyvornlex_search: indexing, queries, size (search_results.txt)
#   dask         training through Dask against one process (dask_results.md)
#
#   bash bench/run.sh                                  # every part, about 40 minutes
#   VORN_BENCH_PARTS=corpus bash bench/run.sh          # the corpus rows only, about 7 minutes
#   VORN_BENCH_PARTS=model-files,search bash bench/run.sh
#   VORN_BENCH_ROUNDS=3 bash bench/run.sh
#   VORN_BENCH_CORPUS=/path/to/text.txt bash bench/run.sh   # another corpus, one paragraph a line
#   VORN_BENCH_MODEL_FILE_ARGS="--sizes 1000000 --large 16000000" bash bench/run.sh
#
# The docs take a part's report only from a run fit to publish: the bench
# corpus and at least 5 rounds (VORN_BENCH_DOCS=yes publishes any run,
# VORN_BENCH_DOCS=no none). Extra arguments go to the CMake configure step,
# e.g. -DPython_EXECUTABLE=/path/to/python3.10. Exits non-zero if a target is
# missed.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${VORN_BENCH_BUILD_DIR:-$root/build-bench}
out_dir=$build_dir/bench
parts=${VORN_BENCH_PARTS:-corpus,model-files,search,dask}
rounds=${VORN_BENCH_ROUNDS:-5}
wants() { [[ ,$parts, == *,$1,* ]]; }

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

corpus=${VORN_BENCH_CORPUS:-}
if [[ -z $corpus ]] && { wants corpus || wants search || wants dask; }; then
    bash "$root/bench/corpus.sh" "$out_dir/corpus"
    corpus=$out_dir/corpus/corpus.txt
fi
ran=()
if wants corpus; then
    "$python" "$root/bench/bench.py" --jieba-bench "$build_dir/jieba_bench" --corpus "$corpus" \
        --out "$out_dir" --system-python /usr/bin/python3 --rounds "$rounds" || status=$?
    ran+=(corpus)
fi
if wants model-files; then
    # shellcheck disable=SC2086
    "$python" "$root/bench/model_file_bench.py" --out "$out_dir" --rounds "$rounds" \
        ${VORN_BENCH_MODEL_FILE_ARGS:-} || status=$?
    ran+=(model-files)
fi
if wants search; then
    "$python" "$root/bench/sqlite_search_bench.py" "$corpus" |
        tee "$out_dir/search_results.txt" || status=$?
    ran+=(search)
fi
if wants dask; then
    "$python" "$root/bench/dask_scaling.py" "$corpus" --rounds "$rounds" \
        --module-dir "$PYTHONPATH" | tee "$out_dir/dask_results.md" || status=$?
    ran+=(dask)
fi

# The chart draws whichever of the first two parts have results, the last run of each.
results=()
for name in results.json model_file_results.json; do
    [[ -f $out_dir/$name ]] && results+=("$out_dir/$name")
done
if ((${#results[@]})); then
    /usr/bin/python3 "$root/bench/chart.py" "$out_dir/ratios.png" "${results[@]}"
fi
echo "bench: reports in $out_dir"

publish=${VORN_BENCH_DOCS:-}
if [[ -z $publish ]]; then
    publish=no
    [[ -z ${VORN_BENCH_CORPUS:-} ]] && ((rounds >= 5)) && publish=yes
fi
if [[ $publish == yes ]] && ((${#ran[@]})); then
    # The command that repeats this run, as the docs show it.
    command="bash bench/run.sh"
    for name in VORN_BENCH_MODEL_FILE_ARGS VORN_BENCH_ROUNDS VORN_BENCH_CORPUS VORN_BENCH_PARTS; do
        [[ -n ${!name:-} ]] && command="$name=\"${!name}\" $command"
    done
    "$python" "$root/bench/docs_page.py" "$root/docs/performance-results.md" "$out_dir" \
        --command "$command" "${ran[@]}"
    # The chart goes with the tables only when it draws both parts.
    if ((${#results[@]} == 2)); then
        cp "$out_dir/ratios.png" "$root/docs/performance-ratios.png"
    fi
    echo "bench: docs/performance-results.md holds the reports of ${ran[*]}"
else
    echo "bench: the docs keep their figures (VORN_BENCH_DOCS=yes publishes a run on another" \
         "corpus or of fewer than 5 rounds)"
fi
exit "$status"
