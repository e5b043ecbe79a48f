#!/usr/bin/env bash
# The long runs of the reliability tests: random master/slave pairs against the
# model, SIGKILLed runs, and each fuzzer for longer.
#   bash scripts/soak.sh [PAIRS] [KILLS] [FUZZ_SECONDS]     (defaults 10000 200 600)
set -euo pipefail
cd "$(dirname "$0")/.."
pairs="${1:-10000}"
kills="${2:-200}"
fuzz="${3:-600}"
scripts/install-deps.sh fuzz
scripts/build.sh
KELVAD_SOAK_PAIRS="$pairs" build/tests/kelvad_tests --gtest_filter='Differential.*' | grep -E "pairs checked|PASSED|FAILED"
KELVAD_SOAK_KILLS="$kills" build/tests/kelvad_tests --gtest_filter='CrashSafety.*' | grep -E "kill points|PASSED|FAILED"
scripts/fuzz.sh "$fuzz"
