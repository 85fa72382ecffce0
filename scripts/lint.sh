#!/usr/bin/env bash
# The static checks on the project's own C++, any finding of which fails:
# clang-format (every C++ file already formatted), clang-tidy (.clang-tidy,
# on csrc/ with the compile commands of a configured build in build-lint/,
# or $VORN_LINT_BUILD_DIR) and cppcheck (csrc/). Extra arguments go to the
# CMake configure step.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${VORN_LINT_BUILD_DIR:-$root/build-lint}
cd "$root"

bash scripts/setup.sh clang-format clang-tidy cppcheck

mapfile -t cxx_files < <(git ls-files '*.cpp' '*.h')
mapfile -t product_sources < <(git ls-files 'csrc/*.cpp')

echo "lint: clang-format, ${#cxx_files[@]} files"
clang-format --dry-run --Werror "${cxx_files[@]}"

echo "lint: clang-tidy, ${#product_sources[@]} files"
cmake -S "$root" -B "$build_dir" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON "$@" >/dev/null
# clang-tidy counts the warnings it suppressed in third-party headers on
# every file; only its findings are worth a line.
tidy() {
    clang-tidy -p "$build_dir" --quiet --warnings-as-errors='*' "$@" 2>&1 |
        { grep -v ' warnings\? generated\.$' || true; }
    return "${PIPESTATUS[0]}"
}
export -f tidy
export build_dir
printf '%s\0' "${product_sources[@]}" | xargs -0 -n 4 -P "$(nproc)" bash -c 'tidy "$@"' _

echo "lint: cppcheck"
cppcheck --enable=warning,performance,portability,style --std=c++17 --quiet --inline-suppr \
    --error-exitcode=1 --suppress=missingIncludeSystem -I csrc csrc

echo "lint: no findings"
