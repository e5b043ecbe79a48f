#!/usr/bin/env bash
# Configures and builds Kelvad in build/. Warnings are errors under CI.
set -euo pipefail
cd "$(dirname "$0")/.."
werror=OFF
if [ -n "${CI:-}" ]; then
    werror=ON
fi
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVAD_WERROR="$werror" >/dev/null
cmake --build build
