#!/usr/bin/env bash
# Installs what is missing, builds, and starts Kelvad in the current directory
# (its settings file is ~/.config/kelvad/kelvad.ini, or kelvad.ini in that directory when it holds one).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
"$here/scripts/install-deps.sh"
"$here/scripts/build.sh"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "There is no display. Kelvad's command line needs none:"
    echo "  $here/build/app/kelvad --help"
    echo "To try the window on a virtual display:"
    echo "  xvfb-run -a $here/build/app/kelvad"
    exit 0
fi
exec "$here/build/app/kelvad"
