#!/usr/bin/env bash
# Cross-builds Kelvad for Windows with Debian's MinGW-w64 into build-windows/
# with its installer and, with "test", runs there under Wine, in a throw-away
# Wine prefix: the headless tests, the command line of kelvad.exe, its window
# on a virtual display, and the installer. wxWidgets for MSW and
# GoogleTest are built once from Debian's sources by scripts/windows-deps.sh, in
# a cache outside the clone (KELVAD_WINDOWS_CACHE, /var/cache/kelvad-windows).
# The last line says how it went.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/windows-deps.sh >/dev/null
werror=OFF
if [ -n "${CI:-}" ]; then
    werror=ON
fi
# The objects are kept between runs, and between clones, beside the dependencies.
export CCACHE_DIR="${KELVAD_WINDOWS_CACHE:-/var/cache/kelvad-windows}/ccache" CCACHE_BASEDIR="$PWD"
cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVAD_WERROR="$werror" -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >/dev/null
cmake --build build-windows
version=$(sed -n 's/^project(kelvad VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
installer="build-windows/kelvad-$version-setup.exe"
makensis -V2 -DVERSION="$version" -DEXE="$PWD/build-windows/app/kelvad.exe" -DICON="$PWD/res/kelvad.ico" \
    -DOUTFILE="$PWD/$installer" package/windows/kelvad.nsi
if [ "${1:-}" != test ]; then
    exit 0
fi

export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
WINEPREFIX=$(mktemp -d)
log=$(mktemp)
trap 'wineserver -k 2>/dev/null || true; rm -rf "$WINEPREFIX" "$log"' EXIT
wineboot -i >/dev/null 2>&1

echo "== the headless tests under Wine"
# Fewer random pairs and kills than on Linux: each call to the file system
# crosses to the Wine server, and the Linux run checks the same logic in full.
KELVAD_SOAK_PAIRS="${KELVAD_SOAK_PAIRS:-100}" KELVAD_SOAK_KILLS="${KELVAD_SOAK_KILLS:-2}" wine build-windows/tests/kelvad_tests.exe --gtest_brief=1 2>&1 |
    tr -d '\r' | tee "$log"
tests=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\{0,1\}\.$/\1/p' "$log")
skipped=$(sed -n 's/^\[  SKIPPED \] \([0-9]*\) tests\{0,1\}[.,].*/\1/p' "$log")
if [ -z "$tests" ] || grep -q '^\[  FAILED  \]' "$log"; then
    echo "windows: the headless tests failed under Wine" >&2
    exit 1
fi

echo "== the command line of kelvad.exe under Wine"
bash tests/windows/command_line_test.sh "$PWD/build-windows/app/kelvad.exe" | tee "$log"
checks=$(sed -n 's/^\([0-9]*\) passed, 0 failed$/\1/p' "$log")
[ -n "$checks" ] || exit 1

echo "== the window of kelvad.exe under Wine, on a virtual display"
# The prefix's server keeps the display it began with: it starts anew.
wineserver -k 2>/dev/null || true
xvfb-run -a -s "-screen 0 1024x768x24" \
    bash tests/windows/window_test.sh "$PWD/build-windows/app/kelvad.exe" "$PWD/build-windows/window.png"

echo "== the installer under Wine: installed silently, run, uninstalled"
home=$(dirname "$(find "$WINEPREFIX/drive_c/users" -maxdepth 2 -name AppData | grep -v /Public/ | head -1)")
# The settings an older version kept in the Documents folder move to the
# user's application data. Wine makes the folder a link to the Linux home,
# which the test leaves alone: the prefix gets a folder of its own.
documents="$home/Documents"
if [ -L "$documents" ]; then rm "$documents"; fi
mkdir -p "$documents" && printf '[INIT]\r\nMasterDir=C:\\old\r\n' > "$documents/kelvad.ini"
# wineserver -w waits for the programs an installer or uninstaller starts.
wine "$installer" /S && wineserver -w
[ -f "$home/AppData/Roaming/Kelvad/kelvad.ini" ] && [ ! -e "$documents/kelvad.ini" ] ||
    { echo "windows: the installer did not move kelvad.ini from $documents" >&2; exit 1; }
program="$home/AppData/Local/Programs/Kelvad"
shortcut="$home/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Kelvad.lnk"
[ -f "$program/kelvad.exe" ] && [ -f "$program/uninstall.exe" ] && [ -f "$shortcut" ] ||
    { echo "windows: the installer left no program, uninstaller or Start-menu entry" >&2; exit 1; }
wine "$program/kelvad.exe" --version | tr -d '\r' | grep -qx "Kelvad $version" ||
    { echo "windows: the installed kelvad.exe does not say its version" >&2; exit 1; }
wine "$program/uninstall.exe" /S && wineserver -w
[ ! -e "$program" ] && [ ! -e "$shortcut" ] ||
    { echo "windows: the uninstaller left the program or its Start-menu entry" >&2; exit 1; }

echo "== windows: $tests tests passed under Wine and ${skipped:-0} skipped there (Linux only);" \
     "the command line's $checks checks; the window opened and closed" \
     "(build-windows/window.png), the preview centred on it; the installer moved the old" \
     "settings, installed, ran and uninstalled"
