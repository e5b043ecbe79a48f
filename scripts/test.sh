#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the headless tests, the
# command line and the dialog tests on a virtual display, then the headless
# tests again under AddressSanitizer and UndefinedBehaviorSanitizer and under
# ThreadSanitizer, then the Debian package, then each fuzzer briefly, then the
# Windows build under Wine (scripts/windows.sh). The last line says how it went.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh fuzz format fuse a11y
bash scripts/check-layers.sh
# Every source as clang-format lays it out (.clang-format): run
# "git ls-files '*.cpp' '*.h' | xargs clang-format -i" before committing.
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
echo "format: every source as clang-format lays it out"
scripts/build.sh
log=$(mktemp)
trap 'rm -f "$log"' EXIT

# Runs ctest in the build directory $1 (the rest: what goes before ctest) and
# prints how many tests passed; a failure ends the test command.
counted_ctest() {
    local dir="$1"
    shift
    (cd "$dir" && "$@" ctest --output-on-failure --timeout 600 -j2) | tee "$log" >&2 || return 1
    sed -n 's/^100% tests passed, 0 tests failed out of \([0-9]*\)$/\1/p' "$log"
}

all=$(counted_ctest build xvfb-run -a -s "-screen 0 1280x1024x24")

echo "== the headless tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVAD_GUI=OFF \
    -DKELVAD_SANITIZE=ON >/dev/null
cmake --build build-asan --target kelvad_tests
asan=$(counted_ctest build-asan env)

echo "== the headless tests under ThreadSanitizer"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVAD_GUI=OFF \
    -DKELVAD_SANITIZE_THREAD=ON >/dev/null
cmake --build build-tsan --target kelvad_tests
tsan=$(counted_ctest build-tsan env TSAN_OPTIONS=halt_on_error=1)

echo "== the Debian package: built, checked, installed into a throw-away root, run and removed"
bash tests/package_test.sh | tee "$log"  # a failure ends the test command (pipefail)
package=$(sed -n 's/^package: \([0-9]*\) passed, 0 failed$/\1/p' "$log")

seconds="${KELVAD_FUZZ_SECONDS:-15}"
echo "== fuzzing, $seconds s a target"
scripts/fuzz.sh "$seconds"

echo "== Windows: built with MinGW-w64 and tested under Wine"
bash scripts/windows.sh test | tee "$log"
windows=$(sed -n 's/^== windows: \([0-9]*\) tests passed under Wine.*/\1/p' "$log")
windows_checks=$(sed -n "s/.*the command line's \([0-9]*\) checks.*/\1/p" "$log")
[ -n "$windows" ] || exit 1

echo "== every test passed: $all tests, $asan again under AddressSanitizer and" \
     "UndefinedBehaviorSanitizer, $tsan under ThreadSanitizer; the package's $package checks;" \
     "4 fuzzers for $seconds s each; on Windows under Wine $windows tests, the command line's" \
     "$windows_checks checks, the window and the installer"
