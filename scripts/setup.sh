#!/usr/bin/env bash
# Installs what the build, the tests and the demo need, and only what is
# missing: a machine that has everything pays a few package queries.
# Arguments name further Debian packages that a caller needs as well, e.g.
#   bash scripts/setup.sh python3-jieba python3-matplotlib
set -euo pipefail

apt_packages=(
    cmake g++ make binutils pkg-config
    libdeflate-dev  # the search tool reads the deflated posting blocks of earlier layouts
    googletest libgtest-dev libgmock-dev
    clang libclang-rt-14-dev
    locales  # localedef: the tests build a decimal-comma locale
    strace   # the dump tests watch the system calls that make a file durable
    nodejs
    mypy  # the install test type-checks an example against the installed stubs
    python3-dask  # examples/dask_training.py and its test (pure Python; see scripts/debian_dask.py)
    chromium  # the search page's tests run it headless (--dump-dom, --screenshot)
    fonts-wqy-microhei  # so that the page's screenshots show its Chinese text
    "$@"
)

missing=()
for package in "${apt_packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
# npm ships inside the NodeSource nodejs package; Debian splits it out.
command -v npm >/dev/null 2>&1 || missing+=(npm)

if ((${#missing[@]})); then
    echo "setup: installing ${missing[*]}"
    sudo_cmd=()
    [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
        "${missing[@]}"
fi
