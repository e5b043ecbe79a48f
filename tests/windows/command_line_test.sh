#!/usr/bin/env bash
# The command line of kelvad.exe under Wine: usage and refusals with their exit
# statuses, a dry run that prints Windows paths and changes nothing, a real sync
# (read-only files replaced and deleted, names in any script, a path longer
# than the old 260-character limit, a slave name in other letter case), leaving
# out, the guard, the log in %LOCALAPPDATA%, and names a Linux tree holds that
# Windows cannot. Run with WINEPREFIX set.
set -uo pipefail
exe="$1"
version=$(sed -n 's/^project(kelvad VERSION \([0-9.]*\).*/\1/p' "$(dirname "$0")/../../CMakeLists.txt")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
passed=0
failed=0
kelvad() { WINEDEBUG=-all wine "$exe" "$@"; }
win() { winepath -w "$1" 2>/dev/null; }  # the Windows name of a Linux path
check() {  # check NAME EXPECTED-STATUS EXPECTED-STDERR -- ARGS...
    local name="$1" status="$2" message="$3"
    shift 4
    kelvad "$@" >"$work/out" 2>"$work/err"
    local got=$?
    tr -d '\r' <"$work/out" >"$work/out.txt"; tr -d '\r' <"$work/err" >"$work/err.txt"
    if [ "$got" -eq "$status" ] && { [ -z "$message" ] || grep -qxF "$message" "$work/err.txt"; }; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAIL: $name: status $got (expected $status); stderr:"; cat "$work/err.txt"
    fi
}
fail() { failed=$((failed + 1)); echo "FAIL: $*"; }

mkdir -p master/dir slave/old empty
echo new > master/dir/a.txt
echo stale > slave/old/b.txt
: > file
m=$(win "$work/master"); s=$(win "$work/slave")

check "version" 0 "" -- --version
grep -qx "Kelvad $version" out.txt || fail "version text"
check "usage error" 2 "kelvad: --sync takes two directories, MASTER and SLAVE, not 1" -- --sync "$m"
check "same root" 2 "Master and slave cannot be the same (are you mad?)" -- --sync "$m" "$m"
check "missing master" 2 "Master directory doesn't exist or isn't a directory" -- --sync "$m\\none" "$s"
check "overlap" 2 "Master and slave directories overlap" -- --sync "$m" "$m\\dir"
check "overlap in other letter case" 2 "Master and slave directories overlap" -- --sync "$m" "${m^^}\\DIR"
check "empty master" 2 "Master directory is empty" -- --sync "$(win "$work/empty")" "$s"

check "dry run" 0 "" -- -n "$m" "$s"
printf 'Mkdir:\t%s\nCreate:\t%s\nRmdir:\t%s\nDelete:\t%s\n%s\n' "$s\\dir" "$s\\dir\\a.txt" "$s\\old" \
    "$s\\old\\b.txt" "1 to create, 0 to replace (4 bytes); 1 to delete; 1 directories to make, 1 to remove" >expected
cmp -s out.txt expected || { fail "dry-run lines:"; cat out.txt; }
[ -e slave/old/b.txt ] && [ ! -e slave/dir ] || fail "the dry run changed the slave"

# Read-only files: the slave's are replaced and deleted, the master's copied as such.
echo fresh > master/ro.txt && chmod a-w master/ro.txt
echo old > slave/ro.txt && chmod a-w slave/ro.txt && touch -d 2001-01-01 slave/ro.txt
echo gone > slave/ro-gone.txt && chmod a-w slave/ro-gone.txt
# Any script, a path past 260 characters, and a name in other letter case.
echo ok > "master/$(printf 'caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac')"
deep=master; for i in $(seq 12); do deep="$deep/a-rather-long-directory-name-$i"; done
mkdir -p "$deep" && echo deep > "$deep/file.txt"
echo master > master/Readme.txt && echo slave > slave/README.TXT && touch -d 2001-01-01 slave/README.TXT
check "sync" 0 "" -- --sync "$m" "$s"
grep -q "^3 created, 2 modified, 2 deleted, 13 directories made, 1 removed; .* copied in" out.txt ||
    { fail "summary:"; cat out.txt err.txt; }
diff -r master slave >/dev/null 2>&1 || [ "$(cat slave/README.TXT)" = master ] || fail "the slave differs"
[ "$(cat slave/ro.txt)" = fresh ] && [ "$(stat -c %a slave/ro.txt)" = 444 ] && [ ! -e slave/ro-gone.txt ] || fail "read-only files"
[ "$(cat "${deep/master/slave}/file.txt")" = deep ] || fail "the long path"
[ "$(cat slave/README.TXT 2>/dev/null || cat slave/Readme.txt)" = master ] || fail "the name in other case"
[ "$(ls slave | grep -ci readme)" = 1 ] || fail "two spellings of one name"
log=$(find "$WINEPREFIX/drive_c/users" -name kelvad.log | head -1)
grep -q "end: done" "$log" 2>/dev/null || fail "no log in %LOCALAPPDATA%"
# With no %LOCALAPPDATA% a run goes on unrecorded and says what is missing.
WINEDEBUG=-all wine cmd /c "set LOCALAPPDATA=&& $(win "$exe") -n $m $s" >out 2>err
tr -d '\r' <err | grep -qxF "kelvad: no place for the log (LOCALAPPDATA is not set); the run is not recorded" ||
    { fail "no place for the log:"; cat err; }
check "up to date" 0 "" -- --sync "$m" "$s"
grep -qx "Slave directory structure is up-to-date" out.txt || fail "up to date"

# Leaving out and the guard.
printf '*.tmp\n' > master/.kelvadignore && echo t > master/x.tmp
check "leaving out" 0 "" -- --sync --exclude 'dir/' "$m" "$s"
[ ! -e slave/x.tmp ] && [ -e slave/.kelvadignore ] && grep -q "; 2 left out$" out.txt ||
    { fail "leaving out"; cat out.txt; }
mkdir -p gm gs && echo stray > gm/stray.txt && for i in $(seq 12); do echo p > "gs/f$i"; done
check "mass deletion refused" 2 \
    "This run would delete 12 of the 12 files and directories in the slave; nothing was changed (--max-delete=12 allows it)" \
    -- --sync "$(win "$work/gm")" "$(win "$work/gs")"
[ "$(ls gs | wc -l)" -eq 12 ] || fail "the refused run changed the slave"

# Links made on the Linux side, which Wine shows as plain files: neither read
# through nor deleted through, and the run says so.
mkdir -p lm ls outside && echo m > lm/keep && echo secret > outside/secret && echo mine > outside/mine
ln -s ../outside/secret lm/link && ln -s ../outside/mine ls/stale
check "links below the roots" 1 "" -- --sync "$(win "$work/lm")" "$(win "$work/ls")"
[ "$(cat outside/secret outside/mine)" = "$(printf 'secret\nmine')" ] && [ ! -e ls/link ] && [ -L ls/stale ] ||
    fail "a link below a root was followed"

# Names made on the Linux side that Windows cannot hold: one with a backslash
# is left out and said, never opened as a path; the others fail their step
# with words that say so, on every run; two names equal but for case are named.
mkdir -p nm/back nm/x ns/x && echo good > nm/x/y && echo good > nm/back/slash && echo odd > 'nm/back\slash'
echo good > ns/x/y && echo stale > 'ns/x\y' && echo m > nm/keep
for name in 'dot.' 'space ' 'q?' 'pipe|' 'CON'; do echo bad > "nm/$name"; done
echo one > nm/pair.txt && echo two > nm/PAIR.TXT
nm=$(win "$work/nm"); ns=$(win "$work/ns")
for run in 1 2; do
    check "unusable names, run $run" 1 "Left out $nm\\back\\slash (the name cannot be used on Windows)" -- --sync "$nm" "$ns"
    for line in "Left out $ns\\x\\y (the name cannot be used on Windows)" \
                "Error creating $ns\\dot. (the name cannot be used on Windows)" \
                "Error creating $ns\\q? (the name cannot be used on Windows)" \
                "Error creating $ns\\CON (the name cannot be used on Windows)" \
                "Error creating $ns\\pair.txt (the master also has PAIR.TXT, which Windows takes for the same name)"; do
        grep -qxF "$line" err.txt || fail "run $run: no line \"$line\""
    done
    ! grep -q "Source file does not exist\|Target file exists\|symbolic links" err.txt || { fail "run $run: the wrong words"; cat err.txt; }
    [ "$(cat ns/back/slash ns/x/y 'ns/x\y' ns/keep)" = "$(printf 'good\ngood\nstale\nm')" ] && [ ! -e 'ns/back\slash' ] ||
        fail "run $run: a name with a backslash was opened as a path"
done

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
