#!/usr/bin/env bash
# Builds the Debian package build-package/kelvad_VERSION_ARCH.deb: a release
# build installed under /usr, stripped, with its dependencies worked out by
# dpkg-shlibdeps. Installs what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh package
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DKELVAD_TESTS=OFF \
    -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build build-package
(cd build-package && cpack -G DEB >/dev/null)
ls build-package/kelvad_*.deb
