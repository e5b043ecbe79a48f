#!/usr/bin/env bash
# Prints how well the time left holds on a slow slave: a 2 GiB file copied onto
# an ext4 loop image whose writes are throttled to about 20 MB/s (the cgroup
# v2 io.max of the loop device where the machine has it, else the cgroup v1
# blkio.throttle.write_bps_device; the script says which), read off the
# terminal's progress line at a quarter, a half and three quarters of the
# bytes, against the time the run really took from there. Then the same copy
# onto the fast disk that holds BASE, timed, for each binary given. Needs root
# (loop devices, mounts, cgroups). Not part of the test run. With FILES, the
# 2 GiB are that many files of equal size instead of one.
# Usage: bench/time_left_bench.sh KELVAD [OTHER-KELVAD] [BASE] [FILES]
set -euo pipefail
binaries=("$1")
[ -n "${2:-}" ] && binaries+=("$2")
base="${3:-/tmp}/kelvad-time-left-$$"
files="${4:-1}"
rate=20000000
mkdir -p "$base/m" "$base/slow" "$base/fast"
loop=""
cleanup() {
    umount "$base/slow" 2>/dev/null || true
    [ -n "$loop" ] && { echo "$dev $unthrottled" > "$throttle" 2>/dev/null || true; losetup -d "$loop"; }
    rm -rf "$base"
}
trap cleanup EXIT
if [ "$files" -eq 1 ]; then
    head -c 2G /dev/urandom > "$base/m/big.bin"
else
    for i in $(seq "$files"); do head -c $((2048 / files))M /dev/urandom > "$base/m/part$i.bin"; done
fi
truncate -s 3G "$base/slow.img"
mkfs.ext4 -q "$base/slow.img"
loop=$(losetup -f --show "$base/slow.img")
mount "$loop" "$base/slow"
dev="$(($(stat -c 0x%t "$loop"))):$(($(stat -c 0x%T "$loop")))"
if grep -qw io /sys/fs/cgroup/cgroup.controllers 2>/dev/null; then
    throttle=/sys/fs/cgroup/kelvad-bench/io.max
    mkdir -p /sys/fs/cgroup/kelvad-bench
    echo "$dev wbps=$rate" > "$throttle" && unthrottled=wbps=max
    echo $$ > /sys/fs/cgroup/kelvad-bench/cgroup.procs
    echo "slow slave: ext4 on $loop, writes throttled to $rate B/s by cgroup v2 io.max"
else
    throttle=/sys/fs/cgroup/blkio/blkio.throttle.write_bps_device
    echo "$dev $rate" > "$throttle" && unthrottled=0
    echo "slow slave: ext4 on $loop, writes throttled to $rate B/s by cgroup v1 blkio.throttle.write_bps_device"
fi
# Runs KELVAD on a terminal and prints, at each quarter of the bytes, the time
# left it showed and the time the run then still took.
measure() {
    python3 - "$1" "$base/m" "$2" <<'EOF'
import os, pty, re, sys, time
kelvad, master, slave = sys.argv[1:4]
pid, fd = pty.fork()
if pid == 0:
    os.execv(kelvad, [kelvad, "--sync", "--no-log", master, slave])
start, lines, buf = time.monotonic(), [], b""
while True:
    try:
        chunk = os.read(fd, 4096)
    except OSError:
        break
    if not chunk:
        break
    now = time.monotonic() - start
    for part in re.split(rb"[\r\n]", buf + chunk)[:-1]:
        lines.append((now, part.decode(errors="replace")))
    buf = re.split(rb"[\r\n]", buf + chunk)[-1]
os.waitpid(pid, 0)
end = time.monotonic() - start
def seconds(text):
    m = re.search(r"(?:(\d+) min ?)?(?:(\d+) s)? left", text)
    return None if not m else int(m.group(1) or 0) * 60 + int(m.group(2) or 0)
print(f"  run took {end:.1f} s")
for quarter in (25, 50, 75):
    for at, text in lines:
        m = re.search(r", (\d+)%", text)
        if m and int(m.group(1)) >= quarter and seconds(text) is not None:
            truth = end - at
            shown = seconds(text)
            print(f"  {quarter}% at {at:5.1f} s: shown {shown:4d} s left, truly {truth:5.1f} s"
                  f" ({100 * (shown - truth) / truth:+.0f} %)")
            break
EOF
}
for kelvad in "${binaries[@]}"; do
    echo "$kelvad, slow slave:"
    rm -rf "${base:?}/slow/s" && sync
    measure "$kelvad" "$base/slow/s"
done
for kelvad in "${binaries[@]}"; do
    for run in 1 2 3; do
        rm -rf "${base:?}/fast/s" && sync && echo 3 > /proc/sys/vm/drop_caches
        s=$(date +%s.%N)
        "$kelvad" --sync -q --no-log "$base/m" "$base/fast/s"
        echo "$kelvad, fast disk, run $run: $(echo "$(date +%s.%N) - $s" | bc) s"
    done
done
