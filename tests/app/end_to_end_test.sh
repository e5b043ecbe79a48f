#!/usr/bin/env bash
# Starts the real kelvad in a fresh working directory whose kelvad.ini names a
# master and a slave, presses Enter (Start is the default button) as a user
# would, and checks that the slave is in line, the settings saved, and that the
# application ended with status 0. Keeping is on by default: what the run took
# away is in the Trash of $XDG_DATA_HOME, made inside the work directory.
set -uo pipefail
kelvad="$1"
fail() { echo "FAIL: $*"; exit 1; }
[ -n "${DISPLAY:-}" ] || fail "no display (run under xvfb-run)"
command -v xdotool >/dev/null || fail "xdotool is missing"
. "$(dirname "$0")/../support/display.sh"

work=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null; rm -rf "$work"' EXIT
mkdir -p "$work/master/sub dir" "$work/slave/old"
echo hello > "$work/master/sub dir/a.txt"
echo new > "$work/master/changed"
echo old > "$work/slave/changed"
touch -d '2001-01-01' "$work/slave/changed"
echo stale > "$work/slave/old/stale.txt"
printf '; kept\n[INIT]\nMasterDir=%s\nSlaveDir=%s\nOption=0\n' "$work/master" "$work/slave" > "$work/kelvad.ini"

cd "$work"
XDG_DATA_HOME="$work/data" "$kelvad" &
pid=$!
wid=$(find_window Kelvad)
[ -n "$wid" ] || fail "the main dialog did not appear"
sleep 0.5
for attempt in 1 2 3 4 5; do
    xdotool windowactivate --sync "$wid" 2>/dev/null || xdotool windowfocus --sync "$wid" 2>/dev/null
    xdotool key --clearmodifiers Return
    for _ in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || break 2
        sleep 0.1
    done
done
if kill -0 "$pid" 2>/dev/null; then
    fail "kelvad is still running after Start"
fi
wait "$pid"
status=$?
[ "$status" -eq 0 ] || fail "kelvad ended with status $status"
diff -r "$work/master" "$work/slave" || fail "the slave differs from the master"
grep -qx "MasterDir=$work/master" kelvad.ini || fail "MasterDir not saved"
grep -qx "; kept" kelvad.ini || fail "the comment was lost"
grep -qx "KeepVersions=1" kelvad.ini || fail "KeepVersions not saved"
[ "$(cat "$work/data/Trash/files/old/stale.txt")" = stale ] || fail "the removed directory is not in the Trash"
echo "1 passed, 0 failed"
