#!/usr/bin/env bash
# Builds the Debian package, checks it with lintian (no errors) and its
# AppStream metadata with appstreamcli, installs it, runs the installed kelvad,
# renders the manual page, and removes the package again.
set -uo pipefail
cd "$(dirname "$0")/.."
passed=0
failed=0
step() {  # step NAME COMMAND...
    local name="$1"
    shift
    if "$@" >/tmp/kelvad-package-step.log 2>&1; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAIL: $name"
        cat /tmp/kelvad-package-step.log
    fi
}
scripts/install-deps.sh package lint
step "the package builds" scripts/package.sh
deb=build-package/kelvad_1.0.0.1_amd64.deb
step "lintian finds no error" lintian --fail-on error "$deb"
step "the AppStream metadata is valid" appstreamcli validate --no-net package/io.github.kelvad.Kelvad.metainfo.xml
step "the manual page renders" sh -c 'man -l res/kelvad.1 >/dev/null'
step "the package installs" dpkg -i "$deb"
step "the installed kelvad runs without a display" \
    sh -c 'test "$(env -u DISPLAY /usr/bin/kelvad --version)" = "Kelvad 1.0.0.1"'
step "the package removes cleanly" sh -c 'dpkg -r kelvad && ! test -e /usr/bin/kelvad'
echo "package: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
