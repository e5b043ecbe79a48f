#!/usr/bin/env bash
# Prints what a move in the master costs the next run, each way interleaved in
# turn on a fresh copy of the slave, median and range of RUNS runs:
# - tree C (10,000 files of 0-64 KiB) moved whole into a new folder (one
#   rename), and its files moved one by one into new folders, the old ones
#   left (each file compared byte for byte, then renamed), against rsync -rt --delete on the same pair
#   and Kelvad's own no-op of the moved trees;
# - a folder of 100,000 small files renamed, against the no-op of the same trees;
# - with OLD (another build of Kelvad), a no-op of N entries a side by both.
# Usage: bench/moves_bench.sh KELVAD [BASE] [RUNS] [N] [OLD]
set -euo pipefail
kelvad="$1"; base="${2:-/tmp}/kelvad-moves-bench-$$"; runs="${3:-5}"; n="${4:-1000000}"; old="${5:-}"
mkdir -p "$base"
trap 'rm -rf "$base"' EXIT
seconds() { local s; s=$(date +%s.%N); "$@" >/dev/null 2>&1; echo "$(date +%s.%N) - $s" | bc; }
# median and range of the numbers on standard input
summary() { sort -n | awk '{v[NR]=$1} END {m=(NR%2)?v[(NR+1)/2]:(v[NR/2]+v[NR/2+1])/2; printf "%.3f s (%.3f-%.3f)", m, v[1], v[NR]}'; }
sync_q() { "$kelvad" --sync -q --no-log --max-delete=all "$@"; }

# Tree C, mirrored; then the two moved masters.
python3 "$(dirname "$0")/tree_c.py" "$base/c/m/c"
du -sh "$base/c/m" | sed 's/^/tree C: /'
sync_q "$base/c/m" "$base/c/template"
cp -a "$base/c/m" "$base/c/whole" && mkdir "$base/c/whole/new" && mv "$base/c/whole/c" "$base/c/whole/new/c"
cp -a "$base/c/m" "$base/c/files" && mkdir -p "$base/c/files/new"
for d in "$base"/c/files/c/d*; do  # the folders stay: each file is a move of its own
    mkdir "$base/c/files/new/${d##*/}" && mv "$d"/* "$base/c/files/new/${d##*/}/"
done
declare -A times
ways=(whole files rsync noop)
for r in $(seq 1 "$runs"); do
    for i in 0 1 2 3; do
        way=${ways[$(((r + i) % 4))]}
        rm -rf "$base/c/s" && cp -a "$base/c/template" "$base/c/s" && sync
        case $way in
            whole|files) t=$(seconds sync_q "$base/c/$way" "$base/c/s") ;;
            rsync) t=$(seconds rsync -rt --delete "$base/c/files/" "$base/c/s/") ;;
            noop) sync_q "$base/c/files" "$base/c/s"; t=$(seconds sync_q "$base/c/files" "$base/c/s") ;;
        esac
        times[$way]+="$t "
    done
done
for way in whole files rsync noop; do
    printf 'tree C, %-5s: %s\n' "$way" "$(echo "${times[$way]}" | tr ' ' '\n' | grep . | summary)"
done
rm -rf "$base/c"

# A folder of 100,000 small files renamed: one move.
mkdir -p "$base/r/m/photos"
for d in $(seq 0 99); do
    mkdir -p "$base/r/m/photos/d$d"
    (cd "$base/r/m/photos/d$d" && seq -f "p%04g" 1 1000 | xargs -n 1000 touch && for f in p*; do echo x > "$f"; done)
done
sync_q "$base/r/m" "$base/r/template"
cp -a "$base/r/m" "$base/r/renamed" && mv "$base/r/renamed/photos" "$base/r/renamed/pictures"
unset times; declare -A times
for r in $(seq 1 "$runs"); do
    for i in 0 1; do
        way=noop; [ $(((r + i) % 2)) -eq 0 ] && way=rename
        rm -rf "$base/r/s" && cp -a "$base/r/template" "$base/r/s" && sync
        [ "$way" = noop ] && sync_q "$base/r/renamed" "$base/r/s"
        times[$way]+="$(seconds sync_q "$base/r/renamed" "$base/r/s") "
    done
done
for way in rename noop; do
    printf '100,000 files renamed, %-6s: %s\n' "$way" "$(echo "${times[$way]}" | tr ' ' '\n' | grep . | summary)"
done
rm -rf "$base/r"

# The no-op of N entries a side, this build and OLD in turn.
[ -n "$old" ] || exit 0
mkdir -p "$base/big/m"
for d in $(seq 0 99); do
    mkdir -p "$base/big/m/d$d"; (cd "$base/big/m/d$d" && seq -f "f%06g" 1 $((n / 100)) | xargs -n 1000 touch)
done
cp -a "$base/big/m" "$base/big/s"
"$kelvad" -n -q --no-log "$base/big/m" "$base/big/s" >/dev/null  # warm the cache
unset times; declare -A times
for r in $(seq 1 "$runs"); do
    for build in new old; do
        k=$kelvad; [ "$build" = old ] && k=$old
        times[$build]+="$(seconds "$k" --sync -q --no-log "$base/big/m" "$base/big/s") "
    done
done
for build in new old; do
    printf 'no-op of %d entries a side, %s build: %s\n' "$n" "$build" "$(echo "${times[$build]}" | tr ' ' '\n' | grep . | summary)"
done
