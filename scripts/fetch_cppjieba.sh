#!/usr/bin/env bash
# Puts cppjieba 5.1.3 (headers, limonp's headers and the standard dictionaries)
# into DEST. They come from the npm package nodejieba 3.4.2, which carries
# cppjieba as a submodule; the tarball is pinned by its SHA-256 and cached, so
# a second build, or a DEST that is already filled, costs nothing.
set -euo pipefail

dest=${1:?usage: fetch_cppjieba.sh DEST}
package=nodejieba@3.4.2
tarball=nodejieba-3.4.2.tgz
sha256=7beaa27c60025540fc8d0e4eca1aadf326aa8ac0e806b2e1a45be5fcae628fb0
stamp_text="$tarball $sha256"
stamp=$dest/.fetched

if [[ -f $stamp && $(<"$stamp") == "$stamp_text" ]]; then
    exit 0
fi

cache_dir=${XDG_CACHE_HOME:-$HOME/.cache}/pyvornlex
cached=$cache_dir/$tarball
mkdir -p "$cache_dir"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [[ ! -f $cached ]]; then
    echo "fetch_cppjieba: downloading $package" >&2
    (cd "$work" && npm pack --silent "$package" >/dev/null)
    # Another build may fetch at the same time: publish the file in one step.
    mv "$work/$tarball" "$cached.$$"
    mv -f "$cached.$$" "$cached"
fi

actual=$(sha256sum "$cached" | cut -d' ' -f1)
if [[ $actual != "$sha256" ]]; then
    rm -f "$cached"
    echo "fetch_cppjieba: $tarball has SHA-256 $actual, expected $sha256; deleted it" >&2
    exit 1
fi

inner=package/submodules/cppjieba
mkdir -p "$work/unpacked"
tar -xzf "$cached" -C "$work/unpacked" --strip-components=3 \
    "$inner/include" "$inner/deps/limonp/include" "$inner/dict"
echo "$stamp_text" >"$work/unpacked/.fetched"

# Replace DEST whole, so that a half-unpacked earlier attempt never survives.
mkdir -p "$(dirname "$dest")"
rm -rf "$dest"
mv "$work/unpacked" "$dest"
