#!/usr/bin/env bash
# Installs the Debian packages that building and testing Kelvad need, if any
# are missing: as root directly, otherwise through sudo.
set -euo pipefail

packages=(g++ cmake ninja-build pkg-config libwxgtk3.2-dev libgtk-3-dev libgtest-dev xvfb xauth xdotool)
# "fuzz": also what the libFuzzer targets need; "format": the formatter the test
# run checks the sources with; "fuse": the file systems that the
# tests mount as slaves; "package": what scripts/package.sh needs; "lint": the
# checkers the test run applies to the package; "bench": the peers the benchmark runs;
# "windows": the MinGW-w64 cross compilers, Wine to run what they build, NSIS, and
# what scripts/windows-deps.sh needs to fetch and build Debian's wxWidgets and
# GoogleTest sources for Windows (dpkg-dev unpacks the source package; fonts-wine
# gives Wine the fonts its windows draw with; ccache keeps the cross-compiled
# objects between runs; python3-gi and gir1.2-gtk-3.0 take the screenshot of the
# window).
for extra in "$@"; do
    case "$extra" in
        fuzz) packages+=(clang libclang-rt-14-dev) ;;
        format) packages+=(clang-format) ;;
        fuse) packages+=(exfat-fuse exfatprogs ntfs-3g bindfs) ;;
        package) packages+=(dpkg-dev librsvg2-bin file) ;;
        lint) packages+=(lintian appstream) ;;
        a11y) packages+=(at-spi2-core dbus python3-gi gir1.2-atspi-2.0) ;;
        bench) packages+=(rsync python3-xlib) ;;
        windows) packages+=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 fonts-wine nsis
                            dpkg-dev xz-utils make googletest ccache python3-gi gir1.2-gtk-3.0) ;;
    esac
done
missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi
echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
$sudo apt-get update -qq
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
