#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for SECONDS (default 60).
#   bash scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
scripts/install-deps.sh fuzz
out=build-fuzz
mkdir -p "$out"
flags=(-std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -I. )
common=(platform/path_compare.cpp platform/file_ops_posix.cpp
        platform/dir_search_posix.cpp platform/status.cpp platform/tree_root.cpp platform/tree_root_posix.cpp
        platform/file_ops.cpp)
clang++ "${flags[@]}" fuzz/settings_fuzzer.cpp sync/settings.cpp "${common[@]}" -o "$out/settings_fuzzer"
clang++ "${flags[@]}" fuzz/compare_fuzzer.cpp tree/compare_trees.cpp tree/file_entry.cpp \
    tree/file_list.cpp "${common[@]}" -o "$out/compare_fuzzer"
clang++ "${flags[@]}" fuzz/ignore_fuzzer.cpp tree/ignore_rules.cpp "${common[@]}" -o "$out/ignore_fuzzer"
clang++ "${flags[@]}" fuzz/escape_fuzzer.cpp sync/display_text.cpp "${common[@]}" -o "$out/escape_fuzzer"
for target in settings_fuzzer compare_fuzzer ignore_fuzzer escape_fuzzer; do
    mkdir -p "$out/corpus-$target"
    echo "== $target for $seconds s"
    status=0
    "$out/$target" -max_total_time="$seconds" -print_final_stats=1 "$out/corpus-$target" \
        >"$out/$target.log" 2>&1 || status=$?
    grep -E "stat::number_of_executed_units|ERROR|SUMMARY" "$out/$target.log" || true
    if [ "$status" -ne 0 ]; then
        tail -40 "$out/$target.log"
        exit "$status"
    fi
done
