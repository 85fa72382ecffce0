#!/usr/bin/env bash
# Prepares the benchmark corpus in DIR/corpus.txt: Simplified Chinese text
# from Debian's documentation packages, fetched with apt-get download,
# stripped of markup, one paragraph a line. A corpus already there is kept.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
dir=${1:?usage: corpus.sh DIR}
corpus=$dir/corpus.txt
packages=(manpages-zh libreoffice-help-zh-cn debian-reference-zh-cn debian-faq-zh-cn
          maint-guide-zh-cn)

if [[ -s $corpus ]]; then
    exit 0
fi
mkdir -p "$dir/debs" "$dir/unpacked"
(
    cd "$dir/debs"
    missing=()
    for package in "${packages[@]}"; do
        compgen -G "${package}_*.deb" >/dev/null || missing+=("$package")
    done
    if ((${#missing[@]})); then
        # Downloading as root into a directory that apt's sandbox user cannot
        # write only draws a warning.
        # A machine whose package lists are missing or stale needs an update first.
        apt-get download "${missing[@]}" 2>&1 | grep -v '^W: Download is performed unsandboxed' ||
            true
        for package in "${missing[@]}"; do
            if ! compgen -G "${package}_*.deb" >/dev/null; then
                apt-get update -qq
                apt-get download "${missing[@]}" 2>&1 |
                    grep -v '^W: Download is performed unsandboxed' || true
                break
            fi
        done
    fi
)
for package in "${packages[@]}"; do
    deb=$(compgen -G "$dir/debs/${package}_*.deb" | head -n 1) ||
        { echo "corpus: $package could not be downloaded" >&2; exit 1; }
    rm -rf "$dir/unpacked/$package"
    dpkg-deb -x "$deb" "$dir/unpacked/$package"
done
/usr/bin/python3 "$here/make_corpus.py" "$dir/unpacked" "$corpus"
rm -rf "$dir/unpacked"
