#!/usr/bin/env bash
# The command line of the real binary, with no display: usage errors, short
# options and --quiet, a closed output pipe, each refusal and its
# exit status, an up-to-date pair, a failing step, a dry run that prints the
# preview's lines and changes nothing, a real sync, a plan the slave has no
# room for, a master file that vanishes after the scan, names that hold
# control characters shown escaped, moves, the
# progress line on a terminal, and SIGINT in the middle of a run of many files.
set -uo pipefail
kelvad="$1"
version=$(sed -n 's/^project(kelvad VERSION \([0-9.]*\).*/\1/p' "$(dirname "$0")/../../CMakeLists.txt")
unset DISPLAY WAYLAND_DISPLAY
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_STATE_HOME="$work/state"  # the usual log, kept out of the user's own
passed=0
failed=0
check() {  # check NAME EXPECTED-STATUS EXPECTED-STDERR -- ARGS...
    local name="$1" status="$2" message="$3"
    shift 4
    "$kelvad" "$@" >"$work/out" 2>"$work/err"
    local got=$?
    if [ "$got" -eq "$status" ] && { [ -z "$message" ] || grep -qxF "$message" "$work/err"; }; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAIL: $name: status $got (expected $status); stderr:"; cat "$work/err"
    fi
}
m="$work/master"; s="$work/slave"
mkdir -p "$m/dir" "$s/old" "$work/empty"
# What the slaves' links point at: a run that followed one would change it
# rather than the whole machine.
outside="$work/outside"
mkdir -p "$outside" && echo keep > "$outside/keep"
echo new > "$m/dir/a.txt"
echo stale > "$s/old/b.txt"
: > "$work/file"

# Usage errors: one line that says what is wrong, then the usage.
check "no roots" 2 "kelvad: --sync takes two directories, MASTER and SLAVE, not 0" -- --sync
check "unknown option" 2 "kelvad: unknown option --frobnicate" -- --frobnicate "$m" "$s"
check "unknown short option" 2 "kelvad: unknown option -x" -- -x "$m" "$s"
check "a value for an option without one" 2 "kelvad: --dry-run takes no value" -- --dry-run=x "$m" "$s"
check "one root" 2 "kelvad: --dry-run takes two directories, MASTER and SLAVE, not 1" -- -n "$m"
check "three roots" 2 "kelvad: --sync takes two directories, MASTER and SLAVE, not 3" -- --sync "$m" "$s" "$work"
check "neither --sync nor --dry-run" 2 \
    "kelvad: say --sync to bring the slave in line, or --dry-run to print the plan" -- -v "$m" "$s"
check "--no-log with --log-file" 2 "kelvad: --no-log and --log-file cannot be used together" \
    -- --sync --no-log --log-file "$work/x.log" "$m" "$s"
check "--verbose with --quiet" 2 "kelvad: --verbose and --quiet cannot be used together" -- --sync -vq "$m" "$s"
grep -q "^Usage: kelvad" "$work/err" || { failed=$((failed + 1)); echo "FAIL: no usage after the error"; }
for help in --help -h "--help --version"; do
    check "help ($help)" 0 "" -- $help
    grep -q "^Usage: kelvad" "$work/out" || { failed=$((failed + 1)); echo "FAIL: $help prints no usage"; }
done
for flag in --version -V; do
    check "version ($flag)" 0 "" -- $flag
    grep -qx "Kelvad $version" "$work/out" || { failed=$((failed + 1)); echo "FAIL: $flag text"; }
done
check "empty root" 2 "You must specify both Master and Slave directories" -- --sync "" "$s"
check "same root" 2 "Master and slave cannot be the same (are you mad?)" -- --sync "$m" "$m"
check "missing master" 2 "Master directory doesn't exist or isn't a directory" -- --sync "$work/none" "$s"
check "slave is a file" 2 "Slave directory $work/file doesn't exist or isn't a directory" -- --sync "$m" "$work/file"
check "slave without its parent" 2 "Slave directory $work/none/new doesn't exist or isn't a directory" \
    -- --sync "$m" "$work/none/new"
check "overlap" 2 "Master and slave directories overlap" -- --sync "$m" "$m/dir"
check "empty master" 2 "Master directory is empty" -- --sync "$work/empty" "$s"

# A dry run given with --sync wins: the plan is printed and nothing changed;
# --quiet keeps only the plan.
for dry in "-n" "--sync -n" "-n -q"; do
check "dry run ($dry)" 0 "" -- $dry "$m" "$s"
{ printf 'Mkdir:\t%s\nCreate:\t%s\nRmdir:\t%s\nDelete:\t%s\n' "$s/dir" "$s/dir/a.txt" "$s/old" "$s/old/b.txt"
  echo "1 to create, 0 to replace (4 bytes); 1 to delete; 1 directories to make, 1 to remove"; } > "$work/expected"
cmp -s "$work/out" "$work/expected" || { failed=$((failed + 1)); echo "FAIL: dry-run lines:"; cat "$work/out"; }
[ -e "$s/old/b.txt" ] && [ ! -e "$s/dir" ] || { failed=$((failed + 1)); echo "FAIL: the dry run changed the slave"; }
done
XDG_STATE_HOME= HOME= check "no place for the log" 0 \
    "kelvad: no place for the log (neither XDG_STATE_HOME nor HOME is set); the run is not recorded" -- -n "$m" "$s"
XDG_STATE_HOME= HOME= check "no place for the log, quiet" 0 "" -- -n -q "$m" "$s"
[ -s "$work/err" ] && { failed=$((failed + 1)); echo "FAIL: --quiet told of the log:"; cat "$work/err"; }
XDG_STATE_HOME= HOME="$work/nonexistent" check "a home that does not exist" 0 \
    "kelvad: no place for the log (XDG_STATE_HOME is not set, and the home directory $work/nonexistent does not exist); the run is not recorded" \
    -- -n "$m" "$s"
[ -e "$work/nonexistent" ] && { failed=$((failed + 1)); echo "FAIL: the log's directories were made in a missing home"; }

# A missing slave whose parent exists is made, and said unless --quiet; a dry
# run only says it would be, and plans everything as a create.
for args in "-n" "-n -q" "--sync" "--sync -q"; do
    new="$work/new ${args// /}"
    check "missing slave ($args)" 0 "" -- $args "$m" "$new"
    case "$args" in
        -n) said="Slave directory $new would be created" ;;
        --sync) said="Created slave directory $new" ;;
        *) said="" ;;
    esac
    if [ -n "$said" ]; then
        [ "$(head -n 1 "$work/out")" = "$said" ] || { failed=$((failed + 1)); echo "FAIL: $args: not said:"; cat "$work/out"; }
    else
        grep -qi "slave directory" "$work/out" && { failed=$((failed + 1)); echo "FAIL: $args said it:"; cat "$work/out"; }
    fi
    if [ "${args#-n}" != "$args" ]; then
        grep -qxF "Create:	$new/dir/a.txt" "$work/out" && [ ! -e "$new" ] ||
            { failed=$((failed + 1)); echo "FAIL: $args: the dry run made the slave or planned wrong"; cat "$work/out"; }
    else
        diff -r "$m" "$new" >/dev/null || { failed=$((failed + 1)); echo "FAIL: $args: the new slave differs"; }
    fi
done

check "sync" 0 "" -- --sync "$m" "$s"
diff -r "$m" "$s" >/dev/null || { failed=$((failed + 1)); echo "FAIL: the slave differs"; }
grep -q "^1 created, 0 modified, 1 deleted, 1 directories made, 1 removed; .* copied in" "$work/out" ||
    { failed=$((failed + 1)); echo "FAIL: summary:"; cat "$work/out"; }
# The run is recorded in the usual log: its start, roots, changes, summary and end.
log="$work/state/kelvad/kelvad.log"
for line in "start: Just Do It" "master: $m" "slave: $s" "created: $s/dir/a.txt" "deleted: $s/old/b.txt" \
    "removed directory: $s/old" "summary: 1 created, 0 modified, 1 deleted" "end: done"; do
    grep -q "^[0-9-]* [0-9:]* \[[0-9]*\] $line" "$log" || { failed=$((failed + 1)); echo "FAIL: the log lacks \"$line\""; }
done
[ "$(stat -c %a "$log")" = 600 ] || { failed=$((failed + 1)); echo "FAIL: the log is readable by others"; }
# A usual log past 4 MiB is kept as kelvad.log.1 (replacing the one before) and begun anew.
echo "older" > "$log.1" && head -c 5M /dev/zero >> "$log"
check "a log that grew large" 0 "" -- --sync -q "$m" "$s"
[ "$(stat -c %s "$log.1")" -gt 5000000 ] && [ "$(stat -c %s "$log")" -lt 10000 ] &&
    grep -q " end: up to date$" "$log" ||
    { failed=$((failed + 1)); echo "FAIL: the log was not rotated"; ls -l "$log" "$log.1"; }
# Nothing to do is no error: said on the standard output, and not at all when quiet.
check "up to date" 0 "" -- --sync "$m" "$s"
grep -qx "Slave directory structure is up-to-date" "$work/out" && [ ! -s "$work/err" ] ||
    { failed=$((failed + 1)); echo "FAIL: up to date is not on the standard output alone"; }
check "up to date, quiet" 0 "" -- --sync -q "$m" "$s"
[ ! -s "$work/out" ] && [ ! -s "$work/err" ] || { failed=$((failed + 1)); echo "FAIL: --quiet printed"; }
# A reader that goes away does not kill the run: the work is done, its status kept.
echo more > "$m/more.txt"
"$kelvad" --sync "$m" "$s" 2>/dev/null | true
[ "${PIPESTATUS[0]}" -eq 0 ] && [ -e "$s/more.txt" ] ||
    { failed=$((failed + 1)); echo "FAIL: a closed pipe: status ${PIPESTATUS[0]}"; }
rm "$m/more.txt"
check "quiet sync" 0 "" -- --sync --quiet "$m" "$s"
[ ! -s "$work/out" ] && [ ! -s "$work/err" ] && [ ! -e "$s/more.txt" ] ||
    { failed=$((failed + 1)); echo "FAIL: a quiet sync printed or did nothing"; }
[ ! -e kelvad.ini ] && [ ! -e "$work/kelvad.ini" ] || { failed=$((failed + 1)); echo "FAIL: kelvad.ini written"; }

# A step that fails: a slave directory that cannot go, as it holds a link.
mkdir -p "$s/held" && ln -s "$outside" "$s/held/link"
check "failing step" 1 "Unable to delete directory $s/held (Directory not empty)" -- --sync "$m" "$s"

# Keeping going: a directory that cannot be made (a link holds its name) fails,
# what lies below it is not tried, and the rest is done; the summary says so.
# --stop-at-first-failure stops there instead.
km="$work/km"; ks="$work/ks"
mkdir -p "$km/d" "$ks" && echo in > "$km/d/in" && echo z > "$km/z.txt" && ln -s "$outside" "$ks/d"
check "stop at the first failure" 1 "Error creating directory $ks/d (File exists)" \
    -- --sync --stop-at-first-failure "$km" "$ks"
[ ! -e "$ks/z.txt" ] && grep -q "^0 created, .*; 1 failed, 2 not tried, 0 directories not read$" "$work/out" ||
    { failed=$((failed + 1)); echo "FAIL: went on after the first failure:"; cat "$work/out"; }
check "keep going, verbose" 1 "Error creating directory $ks/d (File exists)" -- --sync -v "$km" "$ks"
grep -qx '..creating ../z.txt' "$work/err" && ! grep -q '^\.\.creating \.\./d/in$' "$work/err" ||
    { failed=$((failed + 1)); echo "FAIL: -v lists a step not tried:"; cat "$work/err"; }
rm -f "$ks/z.txt"
check "keep going, quiet" 1 "Error creating directory $ks/d (File exists)" -- --sync -q "$km" "$ks"
[ ! -s "$work/out" ] && grep -q "^1 created, .*; 1 failed, 1 not tried, 0 directories not read$" "$work/err" ||
    { failed=$((failed + 1)); echo "FAIL: a quiet run that failed gives no summary:"; cat "$work/err"; }
rm -f "$ks/z.txt"
logLines=$(wc -l < "$log")
check "keep going" 1 "Error creating directory $ks/d (File exists)" -- --sync --log-file "$work/own.log" "$km" "$ks"
[ "$(cat "$ks/z.txt")" = z ] && grep -q "^1 created, .*; 1 failed, 1 not tried, 0 directories not read$" "$work/out" ||
    { failed=$((failed + 1)); echo "FAIL: keep going:"; cat "$work/out"; }
grep -q " failed: Error creating directory $ks/d (File exists)$" "$work/own.log" &&
    grep -q " end: failed$" "$work/own.log" && [ "$(wc -l < "$log")" -eq "$logLines" ] ||
    { failed=$((failed + 1)); echo "FAIL: --log-file:"; cat "$work/own.log"; }
check "a log that cannot be opened" 2 "kelvad: cannot open the log $work/file/x.log (Not a directory)" \
    -- --sync --log-file "$work/file/x.log" "$km" "$ks"
mkfifo "$work/fifo"  # nobody reads it: refused at once, not waited on
check "a log that is a FIFO" 2 "kelvad: cannot open the log $work/fifo (No such device or address)" \
    -- --sync --log-file "$work/fifo" "$km" "$ks"
check "a log in a missing directory" 2 "kelvad: cannot open the log $work/none/x.log (No such file or directory)" \
    -- --sync --log-file "$work/none/x.log" "$km" "$ks"
[ ! -e "$work/none" ] || { failed=$((failed + 1)); echo "FAIL: --log-file made a directory"; }

# A master file deleted after the scan is named and skipped, no failure: the
# run goes on and ends with status 24. A full pipe holds the run at its first
# status line, after the scan, while the file goes (one copy at a time: a
# worker would have copied it by then).
vm="$work/vm"; vs="$work/vs"
mkdir -p "$vm" "$vs" && echo a > "$vm/a.txt" && echo gone > "$vm/gone.txt"
mkfifo "$work/held"
exec 3<>"$work/held"
head -c 65536 /dev/zero >&3
"$kelvad" --sync -v --jobs 1 --log-file "$work/vanished.log" "$vm" "$vs" >"$work/out" 2>"$work/held" 3>&- &
pid=$!
for _ in $(seq 200); do  # until it waits on the pipe (2 s at most, if that cannot be seen)
    grep -q pipe_write "/proc/$pid/wchan" 2>/dev/null && break
    sleep 0.01
done
rm "$vm/gone.txt"
tr -d '\0' < "$work/held" > "$work/err" 3>&- &
reader=$!
exec 3>&-
wait "$pid"
got=$?
wait "$reader"
if [ "$got" -eq 24 ] && grep -qxF "vanished: $vm/gone.txt" "$work/err" && [ "$(cat "$vs/a.txt")" = a ] &&
    grep -q "^1 created, .*; 1 vanished$" "$work/out" && grep -q " vanished: $vm/gone.txt$" "$work/vanished.log"; then
    passed=$((passed + 1))
else
    failed=$((failed + 1)); echo "FAIL: a vanished file: status $got"; cat "$work/err" "$work/out"
fi

# The log is never part of the mirror, wherever it lies and however it is
# named; --no-log keeps none; a log that cannot be written is said once and
# fails the run, which stays done.
lm="$work/lm"; ls="$work/ls"
mkdir -p "$lm" "$ls/logs" && echo a > "$lm/a" && ln -s "$ls" "$work/to-ls"
check "a log inside the slave" 0 "" -- --sync --log-file "$work/to-ls/logs/../logs/run.log" "$lm" "$ls"
[ -e "$ls/a" ] && grep -q " end: done$" "$ls/logs/run.log" && ! grep -q "deleted: \|left out" "$ls/logs/run.log" "$work/out" ||
    { failed=$((failed + 1)); echo "FAIL: a log inside the slave:"; cat "$work/out" "$ls/logs/run.log"; }
rm -r "$lm/a"
check "a new log inside an empty master" 2 "Master directory is empty" -- --sync --log-file "$lm/run.log" "$lm" "$ls"
grep -q " end: refused$" "$lm/run.log" || { failed=$((failed + 1)); echo "FAIL: the log in the master"; }
echo b > "$lm/b"
check "a log inside the master" 0 "" -- --sync --log-file "$lm/run.log" "$lm" "$ls"
[ -e "$ls/b" ] && [ ! -e "$ls/run.log" ] || { failed=$((failed + 1)); echo "FAIL: the master's log was copied"; }
logLines=$(wc -l < "$log")
echo c > "$lm/c"
check "--no-log" 0 "" -- --sync --no-log "$lm" "$ls"
[ -e "$ls/c" ] && [ "$(wc -l < "$log")" -eq "$logLines" ] || { failed=$((failed + 1)); echo "FAIL: --no-log"; }
head -c 600K /dev/zero > "$work/big.log" && echo d > "$lm/d"
printf '#!/bin/sh\ntrap "" XFSZ\nulimit -f 500\nexec "%s" "$@"\n' "$kelvad" > "$work/limited" && chmod +x "$work/limited"
kelvad="$work/limited" check "a log that cannot be written" 1 \
    "kelvad: cannot write the log $work/big.log (File too large); the run is not fully recorded" \
    -- --sync --log-file "$work/big.log" "$lm" "$ls"
[ -e "$ls/d" ] && [ "$(grep -c "cannot write the log" "$work/err")" -eq 1 ] ||
    { failed=$((failed + 1)); echo "FAIL: a log that cannot be written"; }

# The guard: a master that would empty the slave is refused unless allowed.
gm="$work/gm"; gs="$work/gs"
mkdir -p "$gm" "$gs" && echo stray > "$gm/stray.txt"
for i in $(seq 12); do echo precious > "$gs/f$i"; done
check "mass deletion refused" 2 \
    "This run would delete 12 of the 12 files and directories in the slave; nothing was changed (--max-delete=12 allows it)" \
    -- --sync "$gm" "$gs"
check "mass deletion over the limit" 2 \
    "This run would delete 12 of the 12 files and directories in the slave, more than the 5 allowed" \
    -- --sync --max-delete=5 "$gm" "$gs"
[ "$(ls "$gs" | wc -l)" -eq 12 ] || { failed=$((failed + 1)); echo "FAIL: the refused runs changed the slave"; }
check "bad --max-delete" 2 'kelvad: --max-delete takes a count or "all", not "some"' -- --sync --max-delete=some "$gm" "$gs"
check "mass deletion allowed" 0 "" -- --sync --max-delete=all "$gm" "$gs"
[ "$(ls "$gs")" = stray.txt ] || { failed=$((failed + 1)); echo "FAIL: --max-delete=all"; }

# Master and slave given the wrong way round: the older, shorter copy would
# replace the edited one and the new files would go. Marked in the dry run,
# refused in a sync unless allowed.
docs="$work/docs"; stick="$work/stick"
mkdir -p "$docs" "$stick"
echo draft > "$docs/f1.txt" && touch -d "2026-01-01" "$docs/f1.txt"
cp -p "$docs/f1.txt" "$stick/f1.txt" && echo "and the edit" >> "$docs/f1.txt"
for i in $(seq 10); do echo new > "$docs/n$i"; done
check "older over newer, dry run" 0 "" -- -n "$stick" "$docs"
grep -qxF "Modify:	$docs/f1.txt  (the slave's copy is newer)" "$work/out" &&
    grep -q "; 1 newer slave file to be replaced by an older one$" "$work/out" ||
    { failed=$((failed + 1)); echo "FAIL: the dry run does not mark the newer slave file"; cat "$work/out"; }
reversed="This run would delete 10 of the 11 files and directories in the slave and replace 1 newer slave file with an older one; nothing was changed"
check "older over newer and a mass deletion refused" 2 "$reversed (--max-delete=10 --allow-older allow it)" \
    -- --sync "$stick" "$docs"
check "older over newer refused" 2 "$reversed (--allow-older allows it)" \
    -- --sync --max-delete=10 "$stick" "$docs"
check "older over newer and too many deletions" 2 \
    "This run would delete 10 of the 11 files and directories in the slave, more than the 5 allowed, and replace 1 newer slave file with an older one" \
    -- --sync --max-delete=5 "$stick" "$docs"
[ "$(ls "$docs" | wc -l)" -eq 11 ] && grep -q edit "$docs/f1.txt" ||
    { failed=$((failed + 1)); echo "FAIL: a refused reversed run changed the slave"; }
check "older over newer allowed" 0 "" -- --sync --allow-older --max-delete=all "$stick" "$docs"
[ "$(ls "$docs")" = f1.txt ] && ! grep -q edit "$docs/f1.txt" ||
    { failed=$((failed + 1)); echo "FAIL: --allow-older"; }

# Keeping: what a run deletes or replaces goes into a dated folder (kept out
# of the mirror), or another folder on the same file system, or the Trash;
# folders older than the retention go at the end of a run, no others.
vm="$work/vm"; vs="$work/vs"
mkdir -p "$vm" "$vs/gone/deep" && echo new > "$vm/a.txt" && echo old > "$vs/a.txt"
touch -d 2020-01-01 "$vs/a.txt" && echo x > "$vs/gone/deep/x"
old_run=$(date -d '-40 days' '+%Y-%m-%d %H.%M.%S'); new_run=$(date -d '-2 days' '+%Y-%m-%d %H.%M.%S')
mkdir -p "$vs/.kelvad-versions/$old_run/d" "$vs/.kelvad-versions/$new_run" "$vs/.kelvad-versions/mine"
ln -s "$outside" "$vs/.kelvad-versions/$old_run/d/link"
check "bad --keep-versions" 2 'kelvad: --keep-versions takes a number of days or "forever", not "soon"' \
    -- --sync --keep-versions=soon "$vm" "$vs"
check "--trash with --keep-versions" 2 \
    "kelvad: --trash cannot be used with --keep-versions or --versions-dir (the desktop empties its Trash itself)" \
    -- --sync --trash --keep-versions "$vm" "$vs"
check "dry run keeping" 0 "" -- -n --keep-versions "$vm" "$vs"
tail -1 "$work/out" | grep -q "^0 to create, 1 to replace (4 bytes); 1 to delete, kept in .kelvad-versions/20" ||
    { failed=$((failed + 1)); echo "FAIL: dry run keeping:"; cat "$work/out"; }
check "sync keeping" 0 "" -- --sync --keep-versions "$vm" "$vs"
run=$(cd "$vs/.kelvad-versions" && ls | grep -v -e "$new_run" -e "$old_run" -e mine)
[ "$(cat "$vs/.kelvad-versions/$run/a.txt")" = old ] && [ "$(cat "$vs/.kelvad-versions/$run/gone/deep/x")" = x ] &&
    [ "$(cat "$vs/a.txt")" = new ] && [ ! -e "$vs/gone" ] && [ ! -e "$vs/.kelvad-versions/$old_run" ] &&
    [ -d "$vs/.kelvad-versions/$new_run" ] && [ -d "$vs/.kelvad-versions/mine" ] && [ -f "$outside/keep" ] &&
    grep -q "; 2 kept in .kelvad-versions/$run$" "$work/out" ||
    { failed=$((failed + 1)); echo "FAIL: sync keeping:"; (cd "$vs" && find .); cat "$work/out"; }
grep -q "pruned: $vs/.kelvad-versions/$old_run$" "$XDG_STATE_HOME/kelvad/kelvad.log" &&
    grep -q "kept: $vs/a.txt -> $vs/.kelvad-versions/$run/a.txt$" "$XDG_STATE_HOME/kelvad/kelvad.log" ||
    { failed=$((failed + 1)); echo "FAIL: keeping's log:"; tail -12 "$XDG_STATE_HOME/kelvad/kelvad.log"; }
mkdir -p "$work/versions" && echo gone > "$vs/other"
check "sync keeping elsewhere" 0 "" -- --sync --versions-dir "$work/versions" "$vm" "$vs"
[ "$(cat "$work/versions"/*/other)" = gone ] || { failed=$((failed + 1)); echo "FAIL: --versions-dir"; }
if mount -t tmpfs kelvad-test "$work/versions" 2>/dev/null; then
    echo gone > "$vs/other"
    check "versions elsewhere on another file system" 2 \
        "Versions directory $work/versions is not on the slave's file system: keeping there would take a copy" \
        -- --sync --versions-dir "$work/versions" "$vm" "$vs"
    umount "$work/versions"
    # The same file system shown again by a bind mount: no rename crosses it.
    mkdir -p "$work/bound" && mount --bind "$work/versions" "$work/bound"
    check "versions elsewhere behind a bind mount" 2 \
        "Versions directory $work/bound is on another mount of the slave's file system: keeping there would take a copy" \
        -- --sync --versions-dir "$work/bound" "$vm" "$vs"
    umount "$work/bound"
    [ -f "$vs/other" ] || { failed=$((failed + 1)); echo "FAIL: refused, yet deleted"; }
else
    echo "skipped: a tmpfs could not be mounted for --versions-dir"
fi
# A plan larger than the slave's free space is refused before anything is
# written, unless --no-space-check; what its deletions free is counted.
mkdir -p "$work/small" "$work/big/m"
if mount -t tmpfs -o size=1m kelvad-test "$work/small" 2>/dev/null; then
    head -c 2M /dev/zero > "$work/big/m/two" && echo old > "$work/small/old"
    check "no room" 2 "" -- --sync "$work/big/m" "$work/small"
    grep -qx "This run needs 2.0 MiB more in the slave, which has .* free; nothing was changed (--no-space-check allows it)" "$work/err" &&
        [ "$(ls "$work/small")" = old ] || { failed=$((failed + 1)); echo "FAIL: no room:"; cat "$work/err"; }
    # A slave still to be made has its parent's room, and is not left behind.
    for slave in "$work/small" "$work/small/new"; do
        check "no room, in the totals" 0 "" -- -n "$work/big/m" "$slave"
        grep -q "; needs 2.0 MiB, .* free in the slave$" "$work/out" || { failed=$((failed + 1)); echo "FAIL: totals"; }
    done
    check "no room for a new slave" 2 "" -- --sync "$work/big/m" "$work/small/new"
    [ ! -e "$work/small/new" ] || { failed=$((failed + 1)); echo "FAIL: the refused new slave stays"; }
    check "no room, unchecked" 1 "" -- --sync -q --no-space-check "$work/big/m" "$work/small"
    grep -q "No space left on device" "$work/err" || { failed=$((failed + 1)); echo "FAIL: --no-space-check"; }
    rm "$work/big/m/two" && head -c 600K /dev/zero > "$work/big/m/six" && head -c 700K /dev/zero > "$work/small/old"
    check "room made by the deletions" 0 "" -- --sync -q "$work/big/m" "$work/small"
    umount "$work/small"
else
    echo "skipped: a tmpfs could not be mounted for the space check"
fi
check "versions inside the master" 2 "Versions directory $vm overlaps the master" \
    -- --sync --versions-dir "$vm" "$vm" "$vs"
# The Trash of the home's file system, as the file manager reads it.
echo gone > "$vs/other"
XDG_DATA_HOME="$work/data" check "sync to the Trash" 0 "" -- --sync --trash "$vm" "$vs"
[ "$(cat "$work/data/Trash/files/other")" = gone ] &&
    grep -qx "Path=$vs/other" "$work/data/Trash/info/other.trashinfo" &&
    grep -q "^DeletionDate=20" "$work/data/Trash/info/other.trashinfo" ||
    { failed=$((failed + 1)); echo "FAIL: --trash:"; find "$work/data"; }
# A dry run makes no Trash, yet tells when there is none to use.
echo gone > "$vs/other" && mkdir -p "$work/linked" && ln -s "$work/data/Trash" "$work/linked/Trash"
XDG_DATA_HOME="$work/linked" check "dry run to a Trash that is a link" 2 \
    "The Trash cannot take what this run deletes or replaces in $vs without a copy (Too many levels of symbolic links); nothing was changed" \
    -- -n --trash "$vm" "$vs"
XDG_DATA_HOME="$work/unmade" check "dry run to a Trash not yet made" 0 "" -- -n --trash "$vm" "$vs"
[ ! -e "$work/unmade" ] || { failed=$((failed + 1)); echo "FAIL: a dry run made the Trash"; }

# Leaving out: --exclude, --exclude-from, an ignore file and a cache directory;
# what the slave holds at a path left out stays as it is.
xm="$work/xm"; xs="$work/xs"
mkdir -p "$xm/proj/build" "$xm/cache" "$xs/proj/build" "$xm/logs"
echo src > "$xm/proj/main.c"; echo obj > "$xm/proj/main.o"; echo bin > "$xm/proj/build/app"
echo "the slave's build" > "$xs/proj/build/old"; echo tmp > "$xm/a.tmp"; echo log > "$xm/logs/x.log"
mkdir -p "$xs/cache/deep" && echo old > "$xs/cache/deep/old"  # only the master's tag leaves it out
printf 'Signature: 8a477f597d28d172789f06886806bc55\n' > "$xm/cache/CACHEDIR.TAG"; echo c > "$xm/cache/blob"
printf '# objects\n*.o\nbuild/\n' > "$xm/proj/.kelvadignore"
printf '/logs/\n' > "$work/excludes"
check "dry run leaving out" 0 "" -- -n --exclude '*.tmp' --exclude-from "$work/excludes" "$xm" "$xs"
tail -1 "$work/out" | grep -qx "2 to create, 0 to replace (25 bytes); 0 to delete; 0 directories to make, 0 to remove; 5 left out" ||
    { failed=$((failed + 1)); echo "FAIL: dry run leaving out:"; cat "$work/out"; }
check "sync leaving out" 0 "" -- --sync --exclude '*.tmp' --exclude-from "$work/excludes" "$xm" "$xs"
[ "$(cd "$xs" && find . | LC_ALL=C sort | tr '\n' ' ')" = ". ./cache ./cache/deep ./cache/deep/old ./proj ./proj/.kelvadignore ./proj/build ./proj/build/old ./proj/main.c " ] &&
    grep -q "; 5 left out$" "$work/out" ||
    { failed=$((failed + 1)); echo "FAIL: sync leaving out:"; (cd "$xs" && find .); cat "$work/out"; }
printf 'ok\n\nbad[\n' > "$xm/proj/.kelvadignore"
check "a bad pattern" 2 "$xm/proj/.kelvadignore:3: bad pattern \"bad[\" (unterminated [)" -- --sync "$xm" "$xs"
check "a bad --exclude" 2 'kelvad: --exclude: bad pattern "x\\" (ends in a lone backslash)' -- --sync --exclude 'x\' "$xm" "$xs"

# Names that hold terminal commands, a newline and a carriage return are shown
# escaped: they neither retitle nor clear the terminal, forge a line or hide one.
em="$work/em"; es="$work/es"
title=$'a\e]0;PWNED\a\e[2J'; forged=$'x\nDelete:\tpasswd'; hidden=$'real\rfake'
held=$'held\e]0;PWNED\a'
mkdir -p "$em" "$es/$held" && ln -s "$outside" "$es/$held/link"
for name in "$title" "$forged" "$hidden"; do echo x > "$em/$name"; done
check "dry run of hostile names" 0 "" -- --dry-run "$em" "$es"
{ printf 'Create:\t%s\n' "$es/"'a\033]0;PWNED\a\033[2J' "$es/"'x\nDelete:\tpasswd' "$es/"'real\rfake'
  printf 'Rmdir:\t%s\n' "$es/"'held\033]0;PWNED\a'; } | LC_ALL=C sort > "$work/expected"
if [ "$(wc -l < "$work/out")" -ne 5 ] || LC_ALL=C grep -q $'[\e\r]' "$work/out" ||
    ! head -4 "$work/out" | LC_ALL=C sort | cmp -s - "$work/expected"; then
    failed=$((failed + 1)); echo "FAIL: dry run of hostile names:"; cat -A "$work/out"
fi
check "verbose sync of hostile names" 1 \
    'Unable to delete directory '"$es/"'held\033]0;PWNED\a (Directory not empty)' \
    -- --sync --verbose "$em" "$es"
if tr -d '\n' < "$work/err" | LC_ALL=C grep -q '[[:cntrl:]]' ||
    ! grep -qxF '..creating ../x\nDelete:\tpasswd' "$work/err" || [ ! -e "$es/$hidden" ]; then
    failed=$((failed + 1)); echo "FAIL: verbose sync of hostile names:"; cat -A "$work/err"
fi

# On a terminal one line shows the steps ended of all, the bytes copied of all,
# the share of the work done, the time left once it can be told, and the status.
pm="$work/pm"; ps="$work/ps"
mkdir -p "$pm" "$ps" && head -c 3M /dev/zero > "$pm/big.bin" && echo x > "$pm/small.txt"
script -qec "'$kelvad' --sync '$pm' '$ps'" /dev/null > "$work/tty" 2>&1
if ! tr '\r' '\n' < "$work/tty" | grep -qE \
    '^\[[0-2]/2\] [0-9.]+ (bytes|KiB|MiB) of 3\.0 MiB, [0-9]{1,3}%(, [0-9].* left)?  \.\.creating \.\./(big\.bin|small\.txt)'; then
    failed=$((failed + 1)); echo "FAIL: the progress line on a terminal:"; cat -A "$work/tty"
else
    passed=$((passed + 1))
fi

# As an ordinary user: a master directory that cannot be read (000, or r--
# as chmod -R 644 leaves it) is one failure named with its reason, whatever
# the slave holds there; everything else is done, status 1.
if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null; then
    u=$(mktemp -d) && chmod 755 "$u"
    printf '#!/bin/sh\nexec setpriv --reuid=65534 --regid=65534 --clear-groups env XDG_STATE_HOME=%s/state "%s" "$@"\n' \
        "$u" "$kelvad" > "$u/as-nobody" && chmod 755 "$u/as-nobody"
    for bits in 000 444; do
        rm -rf "$u/m" "$u/s" && mkdir -p "$u/m/tax" "$u/m/ok" "$u/s/tax"
        echo x > "$u/m/tax/a" && echo y > "$u/m/ok/b" && echo old > "$u/s/tax/old"
        chown -R 65534:65534 "$u/m" "$u/s" && chmod "$bits" "$u/m/tax"
        kelvad_as_root="$kelvad"; kelvad="$u/as-nobody"
        mkdir -p "$u/logs" && chown 65534:65534 "$u/logs"
        check "unreadable master directory ($bits)" 1 "Error reading directory $u/m/tax (Permission denied)" \
            -- --sync -q --log-file "$u/logs/$bits" "$u/m" "$u/s"
        kelvad="$kelvad_as_root"
        [ -f "$u/s/ok/b" ] && [ -f "$u/s/tax/old" ] ||
            { failed=$((failed + 1)); echo "FAIL: unreadable master directory ($bits): the rest not done"; }
        # The log's summary counts it, as the one printed does.
        grep -q "summary: .*, 1 directories not read" "$u/logs/$bits" ||
            { failed=$((failed + 1)); echo "FAIL: unreadable master directory ($bits): the log's summary"; }
    done
    chmod -R 755 "$u/m"
    # A log in a folder this user may not write refuses the run before it
    # changes anything (the file is made only when the first line is written).
    rm -rf "$u/s" && mkdir "$u/s" && chown 65534:65534 "$u/s"
    kelvad_as_root="$kelvad"; kelvad="$u/as-nobody"
    check "a log in a folder the user may not write" 2 \
        "kelvad: cannot open the log $u/run.log (Permission denied)" -- --sync --log-file "$u/run.log" "$u/m" "$u/s"
    kelvad="$kelvad_as_root"
    [ -z "$(ls "$u/s")" ] || { failed=$((failed + 1)); echo "FAIL: a log refused after the run changed the slave"; }
    # A read-only slave directory is kept whole, with its bits, and pruned later.
    rm -rf "$u/m" "$u/s" && mkdir -p "$u/m" "$u/s/d/ro" && echo f > "$u/s/d/ro/f" && echo k > "$u/m/k"
    chown -R 65534:65534 "$u/m" "$u/s" && chmod 555 "$u/s/d/ro"
    kelvad_as_root="$kelvad"; kelvad="$u/as-nobody"
    check "a read-only directory kept" 0 "" -- --sync -q --max-delete=all --keep-versions "$u/m" "$u/s"
    kept=$(ls -d "$u/s/.kelvad-versions"/*)
    [ "$(stat -c %a "$kept/d/ro")" = 555 ] && [ -f "$kept/d/ro/f" ] ||
        { failed=$((failed + 1)); echo "FAIL: a read-only directory kept"; }
    # A slave already up to date is pruned too.
    mv "$kept" "$u/s/.kelvad-versions/2001-01-01 00.00.00"
    check "a read-only directory pruned" 0 "" -- --sync -q --keep-versions "$u/m" "$u/s"
    [ ! -e "$u/s/.kelvad-versions/2001-01-01 00.00.00" ] ||
        { failed=$((failed + 1)); echo "FAIL: a read-only directory pruned"; }
    # A slave root this user may not write takes no versions folder: the
    # step fails, saying where it could not keep the file, and deletes nothing.
    rm -rf "$u/s/.kelvad-versions" && mkdir "$u/s/sub" && echo g > "$u/s/sub/gone"
    chown -R 65534:65534 "$u/s/sub" && chmod 555 "$u/s"
    check "a read-only slave root keeps nothing" 1 "" -- --sync -q --max-delete=all --keep-versions "$u/m" "$u/s"
    grep -q "^Unable to delete directory $u/s/sub (cannot keep it in $u/s/.kelvad-versions/20.*: Permission denied)$" "$work/err" &&
        [ -f "$u/s/sub/gone" ] || { failed=$((failed + 1)); echo "FAIL: a read-only slave root:"; cat "$work/err"; }
    chmod 755 "$u/s"
    # Moves out of read-only folders, which refuse the rename, are the copy
    # and the deletion they stood for, and the run ends done.
    rm -rf "$u/m" "$u/s" && mkdir -p "$u/m/ro/sub" && echo aaaaa > "$u/m/ro/f" && echo bbbbbbb > "$u/m/ro/sub/g"
    cp -a "$u/m" "$u/s" && chown -R 65534:65534 "$u/m" "$u/s" && chmod 555 "$u/s/ro" "$u/s/ro/sub"
    mkdir "$u/m/new" && mv "$u/m/ro/f" "$u/m/new/f" && mv "$u/m/ro/sub" "$u/m/sub2" && chown 65534:65534 "$u/m/new"
    check "moves out of read-only folders" 0 "" -- --sync -q --no-log "$u/m" "$u/s"
    diff -r "$u/m" "$u/s" >/dev/null || { failed=$((failed + 1)); echo "FAIL: moves out of read-only folders"; }
    # Copies on workers into folders that refuse their owner's writes: each
    # folder's rights are taken over by the worker, on the slave alone; the
    # master's folders, which the run's thread opens beside them, keep their
    # bits.
    rm -rf "$u/m" "$u/s" && mkdir -p "$u/m" "$u/s"
    for i in $(seq -w 1 60); do
        mkdir -p "$u/m/p$i" "$u/s/p$i" && head -c 65536 /dev/zero > "$u/m/p$i/f"
    done
    for i in $(seq -w 1 300); do mkdir -p "$u/m/w$i"; done
    chown -R 65534:65534 "$u/m" "$u/s" && chmod 700 "$u/m"/w* && chmod 555 "$u/s"/p*
    check "copies on workers into read-only folders" 0 "" -- --sync -q --no-log --jobs 2 "$u/m" "$u/s"
    [ "$(ls "$u/s"/p*/f | wc -l)" = 60 ] && [ "$(stat -c %a "$u/m"/w* | sort -u)" = 700 ] ||
        { failed=$((failed + 1)); echo "FAIL: copies on workers into read-only folders"; }
    # A user at the limit of processes gets no thread: scans, copies and the
    # flush are done on the run's own thread, and the run ends done.
    if command -v prlimit >/dev/null; then
        printf '#!/bin/sh\nexec prlimit --nproc=1 "%s" "$@"\n' "$u/as-nobody" > "$u/one-thread" && chmod 755 "$u/one-thread"
        rm -rf "$u/s" && mkdir "$u/s" && chown 65534:65534 "$u/s" && kelvad="$u/one-thread"
        check "no thread to be had" 0 "" -- --sync -q --no-log "$u/m" "$u/s"
        diff -r "$u/m" "$u/s" >/dev/null || { failed=$((failed + 1)); echo "FAIL: no thread to be had"; }
    fi
    kelvad="$kelvad_as_root"
    # A state directory that another user made a link: the log is not written
    # where it leads, and the run is not recorded.
    mkdir -p "$u/elsewhere" && ln -s "$u/elsewhere" "$u/planted" && chown -h 65534:65534 "$u/planted"
    XDG_STATE_HOME="$u/planted" check "a state directory linked by another user" 0 \
        "kelvad: cannot open the log $u/planted/kelvad/kelvad.log (Too many levels of symbolic links); the run is not recorded" \
        -- -n "$m" "$s"
    [ -z "$(ls "$u/elsewhere")" ] || { failed=$((failed + 1)); echo "FAIL: the log followed another user's link"; }
    rm -rf "$u"
else
    echo "SKIP: the unreadable master directory needs root to become an ordinary user (setpriv)"
fi

# SIGINT in the middle of many files: stopped, every file whole, and logged
# as cancelled (or stopped, when it came during the scan).
for i in $(seq 20000); do echo x > "$m/f$i"; done
"$kelvad" --sync "$m" "$s" >/dev/null 2>&1 &
pid=$!
# A background job starts with SIGINT ignored until the program catches it:
# the interrupt is sent once the first file is copied, so none is lost.
for i in $(seq 300); do [ -e "$s/f1" ] && break; sleep 0.1; done
kill -INT "$pid"
wait "$pid"
got=$?
copied=$(find "$s" -maxdepth 1 -name 'f*' | wc -l)
torn=$(find "$s" -maxdepth 1 -name 'f*' ! -size 2c | wc -l)
ended=$(grep " end: " "$log" | tail -1)
# A stop that lands after the plan but before the first copy is whole ends
# the run as cancelled with nothing copied; before the plan, as stopped.
if [ "$copied" -gt 0 ]; then expected="cancelled"; else expected="stopped|cancelled"; fi
if [ "$got" -eq 130 ] && [ "$copied" -lt 20000 ] && [ "$torn" -eq 0 ] &&
    [[ "${ended#* * \[$pid\] }" =~ ^end:\ ($expected)$ ]]; then
    passed=$((passed + 1))
else
    failed=$((failed + 1)); echo "FAIL: interrupt: status $got, $copied files, $torn not whole, $ended"
fi
# A folder renamed and a file moved into a new folder, one with a newline in its
# name: the dry run shows each as one escaped move, the run renames them (the
# same inodes), logs "moved:" and counts them.
mm="$work/moves/m"; ms="$work/moves/s"
mkdir -p "$mm/photos" && echo "a photo" > "$mm/photos/p.jpg" && echo "an image" > "$mm/x"$'\n'"y.iso"
"$kelvad" --sync -q --no-log "$mm" "$ms"
inodes=$(stat -c %i "$ms/photos/p.jpg" "$ms/x"$'\n'"y.iso")
mv "$mm/photos" "$mm/pictures" && mkdir "$mm/Archive" && mv "$mm/x"$'\n'"y.iso" "$mm/Archive/"
check "dry run of moves" 0 "" -- -n --no-log "$mm" "$ms"
{ echo "Mkdir:	$ms/Archive"; echo "Move:	$ms/x\ny.iso -> $ms/Archive/x\ny.iso"
  echo "Move:	$ms/photos -> $ms/pictures"
  echo "0 to create, 0 to replace (0 bytes); 0 to delete; 1 directories to make, 0 to remove; 2 to move (17 bytes not copied)"; } > "$work/expected"
cmp -s "$work/out" "$work/expected" || { failed=$((failed + 1)); echo "FAIL: dry run of moves:"; cat "$work/out"; }
check "moves" 0 "" -- --sync --log-file "$work/moves.log" "$mm" "$ms"
if [ "$(stat -c %i "$ms/pictures/p.jpg" "$ms/Archive/x"$'\n'"y.iso")" = "$inodes" ] &&
    grep -q " moved: $ms/photos -> $ms/pictures$" "$work/moves.log" &&
    grep -q "^0 created, 0 modified, 0 deleted, 1 directories made, 0 removed, 2 moved; 0 bytes copied" "$work/out"; then
    passed=$((passed + 1))
else
    failed=$((failed + 1)); echo "FAIL: moves were not renames:"; cat "$work/out" "$work/moves.log"
fi
[ "$(ls -A "$outside")" = keep ] && [ "$(cat "$outside/keep")" = keep ] ||
    { failed=$((failed + 1)); echo "FAIL: what the slaves' links point at was changed"; }
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
