#!/usr/bin/env bash
# Starts the real kelvad with the accessibility bus on, reads what a screen
# reader would read of the main dialog, then of the preview (opened with Enter),
# and then, in a second kelvad, of the progress window through a run of many
# small files, and checks it (accessibility_tree.py). Run on a display, as
# ctest does.
set -uo pipefail
kelvad="$(realpath "$1")"
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/../support/display.sh"
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
export XDG_DATA_HOME="$work/data"  # a Trash of its own, should a run keep anything
# Starts kelvad on a kelvad.ini naming MASTER, the slave and the mode OPTION,
# and waits for its main dialog.
start() {  # start MASTER OPTION
    printf '[INIT]\nMasterDir=%s\nSlaveDir=%s\nOption=%s\n' "$1" "$work/slave" "$2" > "$work/kelvad.ini"
    "$kelvad" 2>/dev/null &
    pid=$!
    wid=$(find_window Kelvad)
    sleep 1
}
# Presses Enter on the main dialog until the window named TITLE is shown.
press_enter_until() {  # press_enter_until TITLE
    for attempt in 1 2 3 4 5; do
        [ -n "$wid" ] || wid=$(find_window Kelvad)
        xdotool windowfocus --sync "$wid" 2>/dev/null
        xdotool key --clearmodifiers Return
        [ -n "$(find_window "$1" 10)" ] && break
        kill -0 "$pid" 2>/dev/null || break  # a run that has already ended
    done
}
mkdir -p "$work/master" "$work/slave" "$work/many"
for i in 1 2 3; do echo x > "$work/master/file$i.txt"; done
cd "$work"
start "$work/master" 1
/usr/bin/python3 "$here/accessibility_tree.py" main "$work/slave" || status=1
press_enter_until "Action List"
sleep 1
/usr/bin/python3 "$here/accessibility_tree.py" preview "$work/slave" || status=1
kill "$pid"
wait "$pid" 2>/dev/null

# Just Do It on many small files: the status line would change some hundred
# times a second if every change were shown.
# Enough files that the run outlasts a look or two at the window on a busy machine.
(cd "$work/many" && seq -f 'file%06g' 60000 | xargs touch)
start "$work/many" 0
/usr/bin/python3 "$here/accessibility_tree.py" progress "$work/slave" "$work/listening" &
listener=$!
for _ in $(seq 100); do [ -e "$work/listening" ] && break; sleep 0.1; done
press_enter_until "Kelvad Progress"
wait "$listener" || status=1
exit "${status:-0}"
