#!/usr/bin/env bash
# Installs what is missing (rsync too), builds, and runs the benchmark, which
# prints Kelvad's figures beside find, cp, rsync and rm on the same trees.
#   bash scripts/bench.sh [--entries N] [--runs R] [scan|copy|big|small|many|changed|delete|all]
# It needs a few GiB free in build/ and takes about half an hour for "all".
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh bench
scripts/build.sh
exec build/bench/kelvad_bench --dir "$PWD/build" "$@"
