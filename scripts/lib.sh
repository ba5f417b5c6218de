# Shared by scripts/run and scripts/test: installing what is missing, configuring and building.
# Sourced, not run.

MORVANE_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Debian packages the build and the tests need.
MORVANE_BUILD_PACKAGES=(cmake ninja-build g++ pkg-config libcurl4-openssl-dev libjson-c-dev)
MORVANE_TEST_PACKAGES=(googletest libgtest-dev libgmock-dev clang-format python3-jieba)

morvane_say() { printf 'morvane: %s\n' "$*" >&2; }

# Installs the named Debian packages that are not installed yet; runs apt-get update once, and only when
# something is missing.
morvane_ensure_packages() {
    local missing=() pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    morvane_say "installing ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# Configures and builds one preset (default, asan, tsan, bench).
morvane_build() {
    local preset=$1
    cmake --preset "$preset" -S "$MORVANE_ROOT" >/dev/null
    cmake --build --preset "$preset" --parallel "$(nproc)"
}
