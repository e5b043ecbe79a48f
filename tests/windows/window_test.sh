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

# The preview of 45 steps, from the settings in the folder Kelvad starts in:
# it opens centred on the main dialog, tall enough to show many of its rows.
mkdir -p m s
for i in $(seq 45); do echo "$i" > "m/file$i"; done
printf '[INIT]\r\nMasterDir=%s\r\nSlaveDir=%s\r\nOption=1\r\n' \
    "$(winepath -w "$work/m" 2>/dev/null)" "$(winepath -w "$work/s" 2>/dev/null)" > kelvad.ini
WINEDEBUG=-all wine "$exe" >/dev/null 2>&1 &
pid=$!
geometry() {  # geometry NAME: X Y WIDTH HEIGHT of the visible window NAME
    local id
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1)
    [ -n "$id" ] && xdotool getwindowgeometry --shell "$id" |
        sed -n 's/^[XYWIDTHEG]*=//p' | tr '\n' ' '
}
main=""
for _ in $(seq 120); do main=$(geometry Kelvad) && break; sleep 0.5; done
window=$(xdotool search --onlyvisible --name '^Kelvad$' | head -1)
xdotool windowactivate --sync "$window" >/dev/null 2>&1 || true
xdotool key --window "$window" Return 2>/dev/null
preview=""
for _ in $(seq 60); do preview=$(geometry 'Action List') && break; sleep 0.5; done
if [ -z "$preview" ]; then
    echo "FAIL: Enter opened no preview"
    kill "$pid"
    exit 1
fi
sleep 1  # drawn
/usr/bin/python3 "$here/screenshot.py" "${shot%.png}-preview.png" || { echo "FAIL: no screenshot"; exit 1; }
read -r mx my mw mh <<<"$main"
read -r px py pw ph <<<"$preview"
if [ $(((px + pw / 2) - (mx + mw / 2))) -gt 40 ] || [ $(((mx + mw / 2) - (px + pw / 2))) -gt 40 ] ||
    [ $(((py + ph / 2) - (my + mh / 2))) -gt 40 ] || [ $(((my + mh / 2) - (py + ph / 2))) -gt 40 ] ||
    [ "$ph" -lt 400 ]; then
    echo "FAIL: the preview ($preview) is not centred on the main dialog ($main), or too low"
    kill "$pid"
    exit 1
fi
kill "$pid"
wait "$pid" 2>/dev/null
echo "window: opened, shown and closed; the preview centred on it"
