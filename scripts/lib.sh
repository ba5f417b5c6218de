# Shared by scripts/run and scripts/test: installing what is missing, configuring and building.
# Sourced, not run.

MORVANE_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Debian packages the build and the tests need.
MORVANE_BUILD_PACKAGES=(cmake ninja-build g++ pkg-config libcurl4-openssl-dev libjson-c-dev qt6-base-dev)
# What the window needs to show itself and its Chinese captions: the X11 platform plugin, CJK fonts, and Qt's
# own texts (the save-file dialog's) in the user's language.
MORVANE_RUN_PACKAGES=(qt6-qpa-plugins fonts-noto-cjk qt6-translations-l10n)
# The window's tests run offscreen; the one that starts the real program as a user would drives it on Xvfb with
# xdotool and reads the clipboard with xclip. A locale with a decimal comma proves the status texts ignore it.
MORVANE_TEST_PACKAGES=(googletest libgtest-dev libgmock-dev clang-format python3-jieba xvfb xdotool xclip xauth
                       locales)
# The fuzz preset builds the libFuzzer targets with clang and its sanitizer and fuzzer runtimes.
MORVANE_FUZZ_PACKAGES=(clang libclang-rt-14-dev)

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

# Makes the locale named $1 (for example de_DE.UTF-8) available, from the sources of Debian's locales package.
morvane_ensure_locale() {
    local name=$1
    locale -a 2>/dev/null | grep -qix "${name/UTF-8/utf8}" && return 0
    morvane_say "generating the locale $name"
    localedef -i "${name%%.*}" -c -f UTF-8 "$name" 2>/dev/null || morvane_say "could not generate $name"
}

# Configures and builds one preset (default, asan, tsan, bench).
morvane_build() {
    local preset=$1
    cmake --preset "$preset" -S "$MORVANE_ROOT" >/dev/null
    cmake --build --preset "$preset" --parallel "$(nproc)"
}
