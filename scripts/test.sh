#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the headless tests, the
# command line and the dialog tests on a virtual display, then the headless
# tests again under AddressSanitizer and UndefinedBehaviorSanitizer and under
# ThreadSanitizer, then the Debian package, then each fuzzer briefly.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh fuzz fuse a11y
scripts/build.sh
(cd build && xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure --timeout 600 -j2)

echo "== the headless tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVAD_GUI=OFF \
    -DKELVAD_SANITIZE=ON >/dev/null
cmake --build build-asan --target kelvad_tests
(cd build-asan && ctest --output-on-failure --timeout 600 -j2)

echo "== the headless tests under ThreadSanitizer"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVAD_GUI=OFF \
    -DKELVAD_SANITIZE_THREAD=ON >/dev/null
cmake --build build-tsan --target kelvad_tests
(cd build-tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure --timeout 600 -j2)

echo "== the Debian package: built, checked, installed, run and removed"
bash tests/package_test.sh

echo "== fuzzing, ${KELVAD_FUZZ_SECONDS:-30} s a target"
scripts/fuzz.sh "${KELVAD_FUZZ_SECONDS:-30}"
