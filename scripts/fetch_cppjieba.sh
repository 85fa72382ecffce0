#!/usr/bin/env bash
# Puts cppjieba 5.1.3 (headers, limonp's headers and the standard dictionaries)
# into DEST. They come from the npm package nodejieba 3.4.2, which carries
# cppjieba as a submodule.
set -euo pipefail
dest=${1:?usage: fetch_cppjieba.sh DEST}
# shellcheck source=scripts/pinned_fetch.sh
source "$(dirname "${BASH_SOURCE[0]}")/pinned_fetch.sh"

download() {
    npm pack --silent nodejieba@3.4.2 >/dev/null
}

unpack() {
    local inner=package/submodules/cppjieba
    tar -xzf "$1" -C "$2" --strip-components=3 \
        "$inner/include" "$inner/deps/limonp/include" "$inner/dict"
}

pinned_fetch "$dest" nodejieba-3.4.2.tgz \
    7beaa27c60025540fc8d0e4eca1aadf326aa8ac0e806b2e1a45be5fcae628fb0 download unpack
