#!/usr/bin/env bash
# Checks that every #include points down the layers or sideways within one:
# platform, then tree, exec, sync, then the front ends (cli, then app); res
# holds generated texts any layer may use. Prints each include that points up
# and fails when there is one.
set -euo pipefail
cd "$(dirname "$0")/.."
rank() {
    case "$1" in
        res) echo 0 ;; platform) echo 1 ;; tree) echo 2 ;; exec) echo 3 ;; sync) echo 4 ;;
        cli) echo 5 ;; app) echo 6 ;; *) echo "" ;;
    esac
}
wrong=0
for layer in platform tree exec sync cli app; do
    own=$(rank "$layer")
    while IFS= read -r line; do
        file=${line%%:*}
        target=$(sed -n 's/.*#include "\([a-z_]*\)\/.*/\1/p' <<<"${line#*:}")
        other=$(rank "$target")
        if [ -n "$other" ] && [ "$other" -gt "$own" ]; then
            echo "$file includes $target/, a layer above $layer/"
            wrong=$((wrong + 1))
        fi
    done < <(grep -Hn '#include "' "$layer"/*.h "$layer"/*.cpp | sed 's/:[0-9]*:/:/')
done
[ "$wrong" -eq 0 ] && echo "layers: every include points down" || exit 1
