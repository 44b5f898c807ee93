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
apt_update_once() {
    if [ "$APT_LISTS_FRESH" != 1 ]; then
        as_root "${APT_GET[@]}" update >/tmp/kv-apt-update.log 2>&1 || {
            cat /tmp/kv-apt-update.log >&2
            echo "error: apt-get update failed" >&2
            return 1
        }
        APT_LISTS_FRESH=1
        export APT_LISTS_FRESH
    fi
}

# Installs the named packages that are missing (one apt-get call). The plan
# is simulated first: installing foreign-architecture packages can make apt
# want to remove others (gcc-multilib against some :i386 development
# packages), and a test run must never take the build tools away.
ensure_packages() {
    local missing=() p removals
    for p in "$@"; do
        packages_present "$p" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "== installing ${missing[*]}"
    apt_update_once
    removals="$(as_root "${APT_GET[@]}" -s install --no-install-recommends "${missing[@]}" 2>&1 \
        | sed -n 's/^Remv \([^ ]*\).*/\1/p')" || true
    if [ -n "$removals" ]; then
        echo "error: installing ${missing[*]} would remove: $(echo $removals)" >&2
        return 1
    fi
    as_root "${APT_GET[@]}" install --no-install-recommends "${missing[@]}" >/tmp/kv-apt.log 2>&1 || {
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
