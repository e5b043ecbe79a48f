#!/usr/bin/env bash
# kelvad.exe without arguments under Wine, on the X display in $DISPLAY: its
# main dialog opens, is saved as a screenshot (to $2), and closes on Escape, as
# a user would close it, ending the program.
set -uo pipefail
exe="$1"
here=$(cd "$(dirname "$0")" && pwd)
shot="$2"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
WINEDEBUG=-all wine "$exe" >/dev/null 2>&1 &
pid=$!
window=""
for _ in $(seq 120); do
    window=$(xdotool search --onlyvisible --name '^Kelvad$' 2>/dev/null | head -1)
    [ -n "$window" ] && break
    sleep 0.5
done
if [ -z "$window" ]; then
    echo "FAIL: the main dialog did not open within 60 s"
    kill "$pid" 2>/dev/null
    exit 1
fi
sleep 1  # drawn
/usr/bin/python3 "$here/screenshot.py" "$shot" || { echo "FAIL: no screenshot"; exit 1; }
xdotool windowactivate --sync "$window" >/dev/null 2>&1 || true
xdotool key --window "$window" Escape 2>/dev/null
for _ in $(seq 40); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.5
done
if kill -0 "$pid" 2>/dev/null; then
    echo "FAIL: Escape did not close the main dialog"
    kill "$pid"
    exit 1
fi
wait "$pid"
status=$?
[ "$status" -eq 0 ] || { echo "FAIL: kelvad.exe ended with status $status"; exit 1; }
echo "window: opened, shown and closed"
