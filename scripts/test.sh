#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the headless ones and
# the dialog tests on a virtual display.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
cd build
xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure --timeout 600 -j2
