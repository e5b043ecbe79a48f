#!/usr/bin/env bash
# Starts the real kelvad with the accessibility bus on, reads what a screen
# reader would read of the main dialog, then of the preview (opened with Enter),
# and checks it (accessibility_tree.py). Run on a display, as ctest does.
set -uo pipefail
kelvad="$(realpath "$1")"
here="$(cd "$(dirname "$0")" && pwd)"
if [ -z "${KELVAD_A11Y_SESSION:-}" ]; then
    command -v dbus-run-session >/dev/null && [ -x /usr/libexec/at-spi-bus-launcher ] ||
        { echo "skipped: no D-Bus session or accessibility bus here"; exit 0; }
    exec env KELVAD_A11Y_SESSION=1 dbus-run-session -- "$0" "$@"
fi
export GTK_MODULES=gail:atk-bridge NO_AT_BRIDGE=0
/usr/libexec/at-spi-bus-launcher --launch-immediately 2>/dev/null &
bus=$!
work=$(mktemp -d)
trap 'kill "$pid" "$bus" 2>/dev/null; rm -rf "$work"' EXIT
mkdir -p "$work/master" "$work/slave"
for i in 1 2 3; do echo x > "$work/master/file$i.txt"; done
printf '[INIT]\nMasterDir=%s\nSlaveDir=%s\nOption=1\n' "$work/master" "$work/slave" > "$work/kelvad.ini"
cd "$work"
"$kelvad" 2>/dev/null &
pid=$!
wid=$(timeout 30 xdotool search --sync --onlyvisible --name '^Kelvad$' | head -n 1)
sleep 1
/usr/bin/python3 "$here/accessibility_tree.py" main "$work/slave" || status=1
for attempt in 1 2 3 4 5; do
    xdotool windowfocus --sync "$wid" 2>/dev/null
    xdotool key --clearmodifiers Return
    timeout 2 xdotool search --sync --onlyvisible --name '^Action List$' >/dev/null && break
done
sleep 1
/usr/bin/python3 "$here/accessibility_tree.py" preview "$work/slave" || status=1
exit "${status:-0}"
