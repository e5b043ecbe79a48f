#!/usr/bin/env bash
# Prints what a first run costs, each way interleaved in turn into an empty
# slave and flushed, median and range of RUNS runs, wall clock and CPU time
# (user + system): cp -a followed by sync -f, and Kelvad with 1, 2, 4 and 8
# copies at once (--jobs), on
# - tree C: 10,000 files of 0-64 KiB in 100 folders;
# - tree A: 100,000 empty files in 100 folders.
# BASE decides the file system: a directory on a disk, or a tmpfs mounted
# there (mount -t tmpfs none BASE) to leave the disk out. Every run writes a
# slave of its own: it needs room for RUNS x 5 copies of a tree.
# Usage: bench/copies_bench.sh KELVAD [BASE] [RUNS] [TREES]   (TREES: "C A")
set -euo pipefail
kelvad="$1"; base="${2:-/tmp}/kelvad-copies-bench-$$"; runs="${3:-5}"; trees="${4:-C A}"
mkdir -p "$base"
trap 'rm -rf "$base"' EXIT
# "wall cpu" of one run of the command, in seconds
measure() {
    local out; out=$(mktemp)
    /usr/bin/time -f '%e %U %S' -o "$out" "$@" >/dev/null 2>&1
    awk '{printf "%s %.2f\n", $1, $2 + $3}' "$out"; rm -f "$out"
}
# median and range of the numbers on standard input
summary() { sort -n | awk '{v[NR]=$1} END {m=(NR%2)?v[(NR+1)/2]:(v[NR/2]+v[NR/2+1])/2; printf "%.3f s (%.3f-%.3f)", m, v[1], v[NR]}'; }
cp_sync() { cp -a "$1" "$2" && sync -f "$2"; }
kelvad_jobs() { local j=$1; shift; "$kelvad" --sync -q --no-log --jobs "$j" "$@"; }

for tree in $trees; do
    rm -rf "$base/m"
    case $tree in
        C) python3 "$(dirname "$0")/tree_c.py" "$base/m" ;;
        A) for d in $(seq 0 99); do
               mkdir -p "$base/m/d$d"; (cd "$base/m/d$d" && seq -f "f%04g" 1 1000 | xargs -n 1000 touch)
           done ;;
    esac
    ways=(cp 1 2 4 8)
    unset wall cpu; declare -A wall cpu
    for r in $(seq 1 "$runs"); do
        for i in "${!ways[@]}"; do
            way=${ways[$(((r + i) % ${#ways[@]}))]}
            # A slave of its own, kept until the tree is done: ext4 hands out no
            # inode freed a moment ago, so a slave made just after a deletion
            # would be made several times slower.
            slave="$base/s-$r-$way"
            sync
            if [ "$way" = cp ]; then
                read -r w c < <(measure bash -c "$(declare -f cp_sync); cp_sync '$base/m' '$slave'")
            else
                read -r w c < <(measure bash -c "$(declare -f kelvad_jobs); kelvad='$kelvad' kelvad_jobs $way '$base/m' '$slave'")
            fi
            wall[$way]+="$w "; cpu[$way]+="$c "
        done
    done
    rm -rf "$base"/s-*
    for way in "${ways[@]}"; do
        name="cp -a + sync -f"; [ "$way" = cp ] || name="kelvad --jobs $way"
        printf 'tree %s, %-17s: %s, CPU %s\n' "$tree" "$name" \
            "$(echo "${wall[$way]}" | tr ' ' '\n' | grep . | summary)" \
            "$(echo "${cpu[$way]}" | tr ' ' '\n' | grep . | summary)"
    done
done
