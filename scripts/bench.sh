#!/usr/bin/env bash
# Installs what is missing (rsync too), builds, and runs the benchmark, which
# prints Kelvad's figures beside find, cp, rsync and rm on the same trees.
#   bash scripts/bench.sh [--entries N] [--runs R] [scan|copy|big|small|many|changed|delete|all]
# Every timed run that writes gets a tree of its own, kept until its part ends:
# it needs about 10 GiB free in build/ and takes about an hour for "all".
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh bench
scripts/build.sh
exec build/bench/kelvad_bench --dir "$PWD/build" "$@"
