#!/usr/bin/env bash
# Puts pybind11 2.13.6 (headers and CMake package, header-only) into DEST,
# from Debian's package pybind11-dev 2.13.6-2 of the trixie release: unlike
# Debian 12's 2.10, it writes signatures in the lower-case forms
# (list[str], dict[str, float]) that the module documents. The package is
# fetched by name through apt with a private sources list and private
# package lists, so the machine's own apt sources stay as they are.
set -euo pipefail
dest=${1:?usage: fetch_pybind11.sh DEST}
# shellcheck source=scripts/pinned_fetch.sh
source "$(dirname "${BASH_SOURCE[0]}")/pinned_fetch.sh"

download() {
    mkdir -p lists/partial
    echo "deb http://deb.debian.org/debian trixie main" >sources.list
    # As root, apt would hand the download to its sandbox user, which cannot
    # write this private directory.
    local private=(-o "Dir::Etc::sourcelist=$PWD/sources.list" -o Dir::Etc::sourceparts=-
                   -o "Dir::State::Lists=$PWD/lists" -o APT::Sandbox::User="$(id -un)")
    apt-get "${private[@]}" update -qq
    apt-get "${private[@]}" download -qq pybind11-dev=2.13.6-2
}

unpack() {
    dpkg-deb -x "$1" "$2"
}

pinned_fetch "$dest" pybind11-dev_2.13.6-2_all.deb \
    07cf715fa2d735b7ba6b7e5bb6f559c4230bbc26ae6b3b5b122bfe1ac26c8f88 download unpack
