#!/usr/bin/env bash
# Installs what building, testing and running Tavrelle needs on Debian 12, and
# the fontconfig aliases that map the Japanese Windows font names to IPA fonts.
# Safe to run again: it only asks apt for packages that are missing.
set -euo pipefail

script_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

packages=(
    # toolchain
    cmake g++ make pkg-config libssl-dev
    # Qt 6 (Core, Gui, Widgets, Network, Test, moc/uic/rcc); Qt6Gui's CMake
    # package needs the OpenGL headers (GL/gl.h) from libgl-dev
    qt6-base-dev qt6-base-dev-tools libgl-dev
    # fonts: IPAPGothic / IPAGothic stand in for MS PGothic / MS Gothic
    fonts-ipafont-gothic fontconfig
    # Qt's own dialog texts in Japanese (qtbase_ja.qm)
    qt6-translations-l10n
    # OpenSSL's libcrypto: fast SHA-256
    libssl-dev
    # tests on a real FAT file system: mkfs.vfat, and a FUSE mount of it
    dosfstools fusefat
    # headless GUI runs: virtual X server, window driving, screenshots
    xvfb xauth xdotool imagemagick x11-utils
    # Debian packages (scripts/package.sh): cpack needs dpkg-shlibdeps
    dpkg-dev
    # tests of assignment folders on a FAT file system (through FUSE)
    fusefat dosfstools
    # the spreadsheet test: LibreOffice Calc without a display
    libreoffice-calc-nogui
    # formatting, and clang with its runtime libraries (fuzzing)
    clang-format clang libclang-rt-14-dev
)

fontconf_src="$script_dir/fonts-ja.conf"
fontconf_dst=/etc/fonts/conf.d/60-tavrelle-ja.conf

as_root() {
    if [[ $EUID -eq 0 ]]; then
        "$@"
    elif command -v sudo >/dev/null 2>&1; then
        sudo "$@"
    else
        echo "install-deps.sh: must run as root (sudo is not available) to run: $*" >&2
        exit 1
    fi
}

# One dpkg-query for all packages; unknown ones print nothing and are missing.
declare -A installed=()
while read -r name status; do
    [[ $status == installed ]] && installed[${name%%:*}]=1
done < <(dpkg-query -W -f='${Package} ${db:Status-Status}\n' "${packages[@]}" 2>/dev/null || true)

missing=()
for pkg in "${packages[@]}"; do
    [[ -n ${installed[$pkg]:-} ]] || missing+=("$pkg")
done

changed=0
if ((${#missing[@]})); then
    echo "install-deps.sh: installing ${missing[*]}"
    as_root env DEBIAN_FRONTEND=noninteractive apt-get update
    as_root env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y --no-install-recommends "${missing[@]}"
    changed=1
else
    echo "install-deps.sh: all packages are installed"
fi

if ! cmp -s "$fontconf_src" "$fontconf_dst"; then
    echo "install-deps.sh: installing $fontconf_dst"
    as_root install -D -m 0644 "$fontconf_src" "$fontconf_dst"
    changed=1
fi

if ((changed)); then
    as_root fc-cache
fi

if [[ $(fc-match -f '%{family}' 'MS PGothic') != *IPAPGothic* ]]; then
    echo "install-deps.sh: warning: fc-match 'MS PGothic' does not give IPAPGothic" >&2
fi
