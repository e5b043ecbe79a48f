#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for SECONDS (default 60).
#   bash scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
scripts/install-deps.sh fuzz
out=build-fuzz
mkdir -p "$out"
# The targets and the layers under them, built by CMake with clang.
CXX=clang++ cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVAD_FUZZ=ON \
    -DKELVAD_GUI=OFF -DKELVAD_TESTS=OFF >/dev/null
cmake --build "$out" --target settings_fuzzer compare_fuzzer ignore_fuzzer escape_fuzzer
for target in settings_fuzzer compare_fuzzer ignore_fuzzer escape_fuzzer; do
    mkdir -p "$out/corpus-$target"
    echo "== $target for $seconds s"
    status=0
    "$out/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 "$out/corpus-$target" \
        >"$out/$target.log" 2>&1 || status=$?
    grep -E "stat::number_of_executed_units|ERROR|SUMMARY" "$out/$target.log" || true
    if [ "$status" -ne 0 ]; then
        tail -40 "$out/$target.log"
        exit "$status"
    fi
done
