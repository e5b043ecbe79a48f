#!/usr/bin/env bash
# Builds the Debian package, checks it with lintian (no errors) and its
# AppStream metadata with appstreamcli, renders the manual page, checks that
# apt could install it here, and installs it into a throw-away root (a dpkg
# database of its own), runs the kelvad installed there and removes it again:
# a kelvad the user installed system-wide is never touched.
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
version=$(sed -n 's/^project(kelvad VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
deb=build-package/kelvad_${version}_amd64.deb
step "lintian finds no error" lintian --fail-on error "$deb"
step "the AppStream metadata is valid" appstreamcli validate --no-net build-package/package/io.github.kelvad.Kelvad.metainfo.xml
step "the manual page renders" sh -c 'man -l build-package/res/kelvad.1 >/dev/null'
step "apt could install it with its dependencies" apt-get install --simulate "./$deb"
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" && : > "$root/var/lib/dpkg/status"
# The dependencies are this system's, which the throw-away database does not list.
step "the package installs" dpkg --root="$root" --force-depends --force-script-chrootless -i "$deb"
step "the installed kelvad runs without a display" \
    sh -c "test \"\$(env -u DISPLAY '$root/usr/bin/kelvad' --version)\" = 'Kelvad $version'"
# Without arguments the command starts the window program, which then needs a display.
step "the installed kelvad starts its window program" \
    sh -c "env -u DISPLAY '$root/usr/bin/kelvad' 2>&1 | grep -q 'Unable to initialize GTK'"
step "the package removes cleanly" sh -c "dpkg --root='$root' -r kelvad && ! test -e '$root/usr/bin/kelvad' && ! test -e '$root/usr/libexec/kelvad'"
echo "package: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
