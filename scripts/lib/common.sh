# Helpers shared by the scripts: package installation that is safe to repeat.
# Source it; it sets ROOT to the repository root.
#
#   ensure_packages NAME[:ARCH]...   installs the missing ones (one apt-get call),
#                                    refusing any plan that would remove a package
#   ensure_i386_architecture         adds i386 to dpkg's architectures

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
APT_GET=(apt-get -o DPkg::Lock::Timeout=600 -y -q)
export DEBIAN_FRONTEND=noninteractive

as_root() {
    if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

NATIVE_ARCH="$(dpkg --print-architecture)"

# The Debian mirror the system's sources name (for the Debian 11 sysroot
# and test userlands, fetched beside the system's own suites).
debian_mirror() {
    local uri
    uri=$(sed -n 's/^URIs:[[:space:]]*\([^[:space:]]*\/debian\)$/\1/p' \
        /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -1)
    [ -n "$uri" ] || uri=$(awk '$1 == "deb" && $2 ~ /\/debian$/ {print $2; exit}' \
        /etc/apt/sources.list 2>/dev/null)
    echo "${uri:-http://deb.debian.org/debian}"
}

# True when every named package is installed. NAME means the native (or
# architecture-independent) package; NAME:ARCH that architecture's package,
# so that an installed libfoo:i386 does not count for libfoo.
packages_present() {
    local p
    for p in "$@"; do
        if [[ "$p" == *:* ]]; then
            dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q "install ok installed" || return 1
        else
            dpkg-query -W -f='${Status} ${Architecture}\n' "$p" 2>/dev/null \
                | grep -Eq "install ok installed ($NATIVE_ARCH|all)$" || return 1
        fi
    done
}

# Adds the i386 architecture to dpkg when it is missing.
ensure_i386_architecture() {
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        echo "== adding the i386 architecture"
        as_root dpkg --add-architecture i386
        APT_LISTS_FRESH=0
    fi
}

APT_LISTS_FRESH=${APT_LISTS_FRESH:-0}
# Set when an index could not be fetched even after retries: the addresses
# that failed, and the apt options that choose every package from the
# distribution's own suite so that all architectures get the same versions.
APT_FAILED_INDEXES=${APT_FAILED_INDEXES:-}
APT_FALLBACK_OPTS=()
[ -z "$APT_FAILED_INDEXES" ] || APT_FALLBACK_OPTS=(-o "APT::Default-Release=$(. /etc/os-release && echo "$VERSION_CODENAME")")

# The index addresses that an `apt-get update` log says failed.
apt_failed_indexes() {
    sed -n 's/^[EW]: Failed to fetch \([^ ]*\).*/\1/p' "$1" | sort -u
}

# apt-get update, retried: a mirror in the middle of a sync serves an index
# that does not match its Release file for a while. When one still fails,
# the run goes on with the distribution's own suite for every architecture
# (a security suite whose i386 index is missing would otherwise offer amd64
# and i386 libraries of different versions, which apt cannot install
# together); ensure_packages stops with a clear message when even that
# cannot install what is asked.
apt_update_once() {
    [ "$APT_LISTS_FRESH" = 1 ] && return 0
    local attempt log=/tmp/kv-apt-update.log failed=""
    for attempt in 1 2 3; do
        if as_root "${APT_GET[@]}" -o Acquire::Retries=3 update >"$log" 2>&1; then
            failed="$(apt_failed_indexes "$log")"
            [ -z "$failed" ] && break
        else
            failed="$(apt_failed_indexes "$log")"
            [ -n "$failed" ] || failed="(see $log)"
        fi
        [ "$attempt" = 3 ] || { echo "== apt-get update: an index failed; trying again in $((attempt * 15)) s" >&2; sleep $((attempt * 15)); }
    done
    if [ -n "$failed" ]; then
        if ! grep -q '^Reading package lists' "$log"; then
            cat "$log" >&2
            echo "error: apt-get update failed; retry later" >&2
            return 1
        fi
        APT_FAILED_INDEXES="$(echo $failed)"
        APT_FALLBACK_OPTS=(-o "APT::Default-Release=$(. /etc/os-release && echo "$VERSION_CODENAME")")
        echo "warning: these package indexes could not be fetched (mirror sync in progress?): $APT_FAILED_INDEXES" >&2
        echo "warning: packages are taken from the distribution's own suite until they can be; run again later for its updates" >&2
        export APT_FAILED_INDEXES
    fi
    APT_LISTS_FRESH=1
    export APT_LISTS_FRESH
}

# Installs the named packages that are missing (one apt-get call). The plan
# is simulated first: installing foreign-architecture packages can make apt
# want to remove others (gcc-multilib against some :i386 development
# packages), and a test run must never take the build tools away.
ensure_packages() {
    local missing=() p removals plan=/tmp/kv-apt-plan.log
    for p in "$@"; do
        packages_present "$p" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "== installing ${missing[*]}"
    apt_update_once || return 1
    if ! as_root "${APT_GET[@]}" "${APT_FALLBACK_OPTS[@]}" -s install --no-install-recommends \
            "${missing[@]}" >"$plan" 2>&1; then
        if [ -n "$APT_FAILED_INDEXES" ]; then
            echo "error: cannot install ${missing[*]}: the package index $APT_FAILED_INDEXES could not be" \
                 "fetched (the mirror is probably in the middle of a sync); retry later. apt's answer: $plan" >&2
        else
            cat "$plan" >&2
            echo "error: apt cannot install ${missing[*]}" >&2
        fi
        return 1
    fi
    removals="$(sed -n 's/^Remv \([^ ]*\).*/\1/p' "$plan")"
    if [ -n "$removals" ]; then
        echo "error: installing ${missing[*]} would remove: $(echo $removals)" >&2
        return 1
    fi
    as_root "${APT_GET[@]}" "${APT_FALLBACK_OPTS[@]}" install --no-install-recommends "${missing[@]}" \
        >/tmp/kv-apt.log 2>&1 || {
        cat /tmp/kv-apt.log >&2
        echo "error: could not install ${missing[*]}" >&2
        return 1
    }
}

# Configures a CMake build tree: cmake_configure DIR ARGS... The arguments are
# remembered in the tree; a tree configured with other arguments (an older
# version of the scripts) is configured again, otherwise it is left alone and
# the build stays incremental.
cmake_configure() {
    local dir=$1; shift
    local stamp="$dir/.kv-configure-args" wanted
    wanted="$(printf '%s\n' "$@")"
    if [ -f "$dir/CMakeCache.txt" ] && [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$wanted" ]; then
        return 0
    fi
    mkdir -p "$dir"
    rm -f "$dir/CMakeCache.txt"
    cmake -S "$ROOT" -B "$dir" "$@" >"$dir/kv-configure.log" 2>&1 || {
        cat "$dir/kv-configure.log" >&2
        echo "error: cmake could not configure $dir" >&2
        return 1
    }
    printf '%s\n' "$wanted" >"$stamp"
}
