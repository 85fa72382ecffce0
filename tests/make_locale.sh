#!/usr/bin/env bash
# Builds the decimal-comma locale de_DE.UTF-8 into DIR, for the tests that
# run with LOCPATH=DIR: the machine's own locales stay as they are.
set -euo pipefail
dir=${1:?usage: make_locale.sh DIR}
mkdir -p "$dir"
if [[ ! -f $dir/de_DE.UTF-8/LC_NUMERIC ]]; then
    localedef -i de_DE -f UTF-8 "$dir/de_DE.UTF-8"
fi
