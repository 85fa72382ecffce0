# Sourced by the fetch_*.sh scripts: puts a third-party file, pinned by its
# SHA-256 and cached in ~/.cache/pyvornlex, unpacked into a destination that
# is replaced whole, so that a half-unpacked earlier attempt never survives.
#
#   pinned_fetch DEST FILE SHA256 DOWNLOAD UNPACK
#
# DOWNLOAD is a command run in an empty directory that must leave FILE
# there; UNPACK is a command given the cached FILE and a directory to fill.
# A DEST already filled from the same FILE costs nothing.

pinned_fetch() {
    local dest=$1 file=$2 sha256=$3 download=$4 unpack=$5
    local stamp_text="$file $sha256"
    local stamp=$dest/.fetched
    if [[ -f $stamp && $(<"$stamp") == "$stamp_text" ]]; then
        return 0
    fi

    local cache_dir=${XDG_CACHE_HOME:-$HOME/.cache}/pyvornlex
    local cached=$cache_dir/$file
    mkdir -p "$cache_dir"
    local work
    work=$(mktemp -d)
    # shellcheck disable=SC2064  # expand now: the trap outlives this function
    trap "rm -rf '$work'" EXIT

    if [[ ! -f $cached ]]; then
        echo "pinned_fetch: downloading $file" >&2
        mkdir "$work/download"
        if ! (cd "$work/download" && "$download") || [[ ! -f $work/download/$file ]]; then
            echo "pinned_fetch: could not download $file" >&2
            return 1
        fi
        # Another build may fetch at the same time: publish the file in one step.
        mv "$work/download/$file" "$cached.$$"
        mv -f "$cached.$$" "$cached"
    fi

    local actual
    actual=$(sha256sum "$cached" | cut -d' ' -f1)
    if [[ $actual != "$sha256" ]]; then
        rm -f "$cached"
        echo "pinned_fetch: $file has SHA-256 $actual, expected $sha256; deleted it" >&2
        return 1
    fi

    mkdir -p "$work/unpacked"
    "$unpack" "$cached" "$work/unpacked"
    echo "$stamp_text" >"$work/unpacked/.fetched"
    mkdir -p "$(dirname "$dest")"
    rm -rf "$dest"
    mv "$work/unpacked" "$dest"
}
