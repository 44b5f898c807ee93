#!/bin/bash
# Makes the private sysroot the portable Linux launchers are built against:
# Debian 11's glibc 2.31 headers and libraries and gcc 10's static runtime,
# for x86-64 and (through the multilib packages) i386. Linking against them
# binds every C library call to a symbol version of glibc 2.17 or older, so
# the launchers start on old systems.
#
# The packages and their SHA-256 sums are pinned in scripts/sysroot/
# bullseye.sha256. They are fetched with apt-get under a private apt
# configuration (the system's sources and lists are not touched) and
# unpacked under build/sysroot/bullseye, which is made again only when the
# pins change. Prints the sysroot's path on stdout; progress goes to stderr.
set -euo pipefail
source "$(dirname "$0")/lib/common.sh"
PINS="$ROOT/scripts/sysroot/bullseye.sha256"
OUT="$ROOT/build/sysroot"
TREE="$OUT/bullseye"
STAMP="$TREE/.kv-pins"

say() { echo "make-sysroot: $*" >&2; }
die() { say "error: $*"; exit 1; }

if [ -f "$STAMP" ] && cmp -s "$STAMP" "$PINS"; then
    echo "$TREE"
    exit 0
fi

# A private apt state: bullseye only, both architectures, nothing installed.
apt_setup() {
    local apt="$OUT/apt"
    rm -rf "$apt"
    mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$apt/etc/preferences.d" \
        "$apt/etc/apt.conf.d" "$apt/etc/trusted.gpg.d"
    : > "$apt/status"
    echo "deb [signed-by=/usr/share/keyrings/debian-archive-bullseye-stable.gpg] $(debian_mirror) bullseye main" \
        > "$apt/etc/sources.list"
    cat > "$apt/apt.conf" <<CONF
Dir::State "$apt";
Dir::State::Lists "$apt/lists";
Dir::State::status "$apt/status";
Dir::Cache "$apt/cache";
Dir::Etc "$apt/etc";
Dir::Etc::SourceList "$apt/etc/sources.list";
Dir::Etc::SourceParts "$apt/etc/sources.list.d";
Dir::Etc::Parts "$apt/etc/apt.conf.d";
Dir::Etc::PreferencesParts "$apt/etc/preferences.d";
Dir::Etc::TrustedParts "$apt/etc/trusted.gpg.d";
APT::Architecture "amd64";
APT::Architectures { "amd64"; "i386"; };
APT::Sandbox::User "root";
Acquire::Retries "3";
CONF
    echo "$apt/apt.conf"
}

fetch_debs() {
    local conf="$1" debs="$2" name arch version file missing=()
    [ -f /usr/share/keyrings/debian-archive-bullseye-stable.gpg ] \
        || die "the Debian 11 archive key is missing (package debian-archive-keyring)"
    say "fetching the Debian 11 package index from $(debian_mirror)"
    APT_CONFIG="$conf" apt-get -q update >&2 || die "apt-get update failed for Debian 11 (bullseye) at $(debian_mirror)"
    while read -r sum file; do
        [[ "$sum" == "#"* || -z "$sum" ]] && continue
        IFS=_ read -r name version arch <<<"${file%.deb}"
        version="${version//%3a/:}"
        if ! (cd "$debs" && APT_CONFIG="$conf" apt-get -q download "$name:$arch=$version" >&2); then
            missing+=("$name $version ($arch)")
        fi
    done < "$PINS"
    if [ ${#missing[@]} -gt 0 ]; then
        say "error: these Debian 11 packages could not be fetched:"
        printf '  %s\n' "${missing[@]}" >&2
        die "the portable Linux launchers are built against them; without them there is no glibc 2.17 build (is $(debian_mirror) still serving bullseye?)"
    fi
    (cd "$debs" && grep -v '^#' "$PINS" | sha256sum --quiet -c -) >&2 \
        || die "a fetched package does not match its pinned SHA-256 sum in $PINS"
}

unpack() {
    local debs="$1" deb link target
    rm -rf "$TREE"
    mkdir -p "$TREE"
    for deb in "$debs"/*.deb; do dpkg-deb -x "$deb" "$TREE"; done
    # Absolute links would point into the host; make them relative.
    while IFS= read -r link; do
        target=$(readlink "$link")
        [[ "$target" == /* ]] || continue
        ln -sfn "$(realpath -m --relative-to="$(dirname "$link")" "$TREE$target")" "$link"
    done < <(find "$TREE" -type l)
    # -m32 looks for <asm/...> without the multiarch folder.
    [ -e "$TREE/usr/include/asm" ] || ln -s x86_64-linux-gnu/asm "$TREE/usr/include/asm"
    cp "$PINS" "$STAMP"
}

main() {
    local debs conf
    mkdir -p "$OUT"
    debs="$OUT/debs"
    rm -rf "$debs" && mkdir -p "$debs"
    conf=$(apt_setup)
    fetch_debs "$conf" "$debs"
    say "unpacking $(ls "$debs" | wc -l) packages into $TREE"
    unpack "$debs"
    echo "$TREE"
}
main
