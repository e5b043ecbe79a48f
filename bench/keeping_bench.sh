#!/usr/bin/env bash
# Prints what keeping costs: a run that deletes 10,000 files and replaces
# 10,000 with keeping off, with --keep-versions, and rsync with --backup-dir
# on the same trees, interleaved in turn, each on a fresh copy of the slave; then a
# no-op of N entries a side with and without a versions folder of N entries.
# Usage: bench/keeping_bench.sh KELVAD [BASE] [RUNS] [N]
set -euo pipefail
kelvad="$1"; base="${2:-/tmp}/kelvad-keep-bench-$$"; runs="${3:-3}"; n="${4:-1000000}"
mkdir -p "$base/m" "$base/template"
trap 'rm -rf "$base"' EXIT
make_files() {  # make_files DIR PREFIX COUNT CONTENT
    mkdir -p "$1"
    (cd "$1" && seq -f "$2%06g" 1 "$3" | xargs -n 1000 touch)
    (cd "$1" && for f in $(seq -f "$2%06g" 1 100 "$3"); do echo "$4" > "$f"; done)
}
for d in $(seq 0 9); do
    make_files "$base/m/d$d" keep 1000 same
    make_files "$base/m/d$d" new 1000 "master's"
    make_files "$base/template/d$d" keep 1000 same
    make_files "$base/template/d$d" new 1000 "the slave's older"
    make_files "$base/template/d$d" gone 1000 gone
done
touch -d 2020-01-01 "$base"/template/d*/new*
touch -r "$base/m/d0/keep000001" "$base"/m/d*/keep* "$base"/template/d*/keep*
seconds() { local s; s=$(date +%s.%N); "$@" >/dev/null 2>&1; echo "$(date +%s.%N) - $s" | bc; }
declare -A total
ways=(off keep rsync)
for r in $(seq 1 "$runs"); do
    # Each run starts with another way: a way that follows a large delete
    # meets a file system slow to hand out inodes.
    for i in 0 1 2; do
        way=${ways[$(((r + i) % 3))]}
        rm -rf "$base/s" "$base/backup" && cp -a "$base/template" "$base/s" && sync
        case $way in
            off) t=$(seconds "$kelvad" --sync -q --no-log --max-delete=all "$base/m" "$base/s") ;;
            keep) t=$(seconds "$kelvad" --sync -q --no-log --max-delete=all --keep-versions "$base/m" "$base/s") ;;
            rsync) t=$(seconds rsync -r -t --delete --backup --backup-dir="$base/backup" "$base/m/" "$base/s/") ;;
        esac
        total[$way]=$(echo "${total[$way]:-0} + $t" | bc)
    done
done
for way in off keep rsync; do
    printf '10,000 deleted + 10,000 replaced, %-5s: %.2f s\n' "$way" "$(echo "${total[$way]} / $runs" | bc -l)"
done
rm -rf "$base/s" "$base/backup" "$base/template"
# The no-op: N entries a side, then the same with N entries kept.
mkdir -p "$base/big/m"
for d in $(seq 0 99); do make_files "$base/big/m/d$d" f $((n / 100)) x >/dev/null; done
cp -a "$base/big/m" "$base/big/s"
for with in without with; do
    if [ "$with" = with ]; then
        mkdir -p "$base/big/s/.kelvad-versions/2026-01-01 00.00.00"
        cp -a "$base/big/m/." "$base/big/s/.kelvad-versions/2026-01-01 00.00.00/"
    fi
    "$kelvad" -n -q --no-log "$base/big/m" "$base/big/s" >/dev/null  # warm the cache
    t=0
    for r in $(seq 1 "$runs"); do
        t=$(echo "$t + $(seconds "$kelvad" --sync -q --no-log --keep-versions=forever "$base/big/m" "$base/big/s")" | bc)
    done
    printf 'no-op of %d entries a side, %s a versions folder of %d: %.2f s\n' "$n" "$with" "$n" "$(echo "$t / $runs" | bc -l)"
done
