#!/usr/bin/env bash
# Builds the third-party libraries of the Windows cross-build, once, from Debian's
# own sources and with cmake/mingw-w64.cmake's compilers:
#   $KELVAD_WINDOWS_CACHE/gtest   GoogleTest and GoogleMock (from /usr/src/googletest)
#   $KELVAD_WINDOWS_CACHE/wx-msw  wxWidgets for MSW, static (from `apt-get source`,
#                                 the version the Linux build links against)
# KELVAD_WINDOWS_CACHE defaults to /var/cache/kelvad-windows. A stamp in each
# prefix records what it was built from; while that still matches, a run only
# prints the prefixes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cache=${KELVAD_WINDOWS_CACHE:-/var/cache/kelvad-windows}
toolchain=$root/cmake/mingw-w64.cmake
host=x86_64-w64-mingw32
jobs=${KELVAD_JOBS:-$(nproc)}

bash "$root/scripts/install-deps.sh" windows
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
mkdir -p "$cache"
cache=$(cd "$cache" && pwd)
# Two runs at once (a developer's and CI's) would build into the same prefixes.
exec 9>"$cache/.lock"
flock 9

# The key a prefix was built for: when it changes, the prefix is built again.
compiler_version=$("$host-g++-posix" -dumpfullversion)
toolchain_sum=$(sha256sum "$toolchain" | cut -d' ' -f1)
stamp_matches() { [ "$(cat "$1/.kelvad-stamp" 2>/dev/null)" = "$2" ]; }
# Runs a long step with its output in a log, shown only if it fails.
logged() {
    local log=$1
    shift
    if ! "$@" >"$log" 2>&1; then
        tail -n 40 "$log" >&2
        echo "windows-deps: failed: $*; the whole log is $log" >&2
        exit 1
    fi
}

# GoogleTest and GoogleMock, static, with a GTestConfig.cmake for find_package(GTest).
gtest_prefix=$cache/gtest
gtest_key="googletest $(dpkg-query -W -f='${Version}' googletest); g++ $compiler_version; toolchain $toolchain_sum"
if ! stamp_matches "$gtest_prefix" "$gtest_key"; then
    echo "windows-deps: building GoogleTest into $gtest_prefix"
    start=$SECONDS
    build=$cache/build/gtest
    rm -rf "$gtest_prefix" "$build"
    logged "$cache/gtest-configure.log" cmake -S /usr/src/googletest -B "$build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DKELVAD_WINDOWS_CACHE="$cache" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$gtest_prefix" \
        -DBUILD_SHARED_LIBS=OFF -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON
    logged "$cache/gtest-build.log" cmake --build "$build" -j "$jobs"
    logged "$cache/gtest-install.log" cmake --install "$build"
    rm -rf "$build"
    echo "$gtest_key" >"$gtest_prefix/.kelvad-stamp"
    echo "windows-deps: GoogleTest took $((SECONDS - start)) s"
fi

# wxWidgets for MSW. Debian's +dfsg tarball has no zlib, libpng, libjpeg, libtiff
# or expat, so those features are off (no PNG/JPEG/TIFF handlers, no wxXmlDocument,
# no zip streams, no wxSVGFileDC, which needs PNG); the regex (PCRE2) and
# NanoSVG copies it keeps are built in, so wxBitmapBundle::FromSVG works.
# Only the libraries Kelvad links (base, core) and what they need are built.
wx_prefix=$cache/wx-msw
wx_version=$(dpkg-query -W -f='${source:Version}' libwxgtk3.2-dev)
wx_options=(
    --with-msw --disable-shared --enable-unicode --disable-tests
    --enable-accessibility
    --with-regex=builtin --with-nanosvg
    --without-zlib --without-libpng --without-libjpeg --without-libtiff --without-expat
    --without-liblzma --without-libcurl --without-opengl
    --disable-zipstream --disable-fs_archive --disable-fs_inet
    --disable-sockets --disable-ipc --disable-protocols --disable-url --disable-webrequest
    --disable-html --disable-htmlhelp --disable-xrc --disable-aui --disable-propgrid
    --disable-ribbon --disable-richtext --disable-stc --disable-mediactrl --disable-webview
    --disable-svg --disable-debugreport --disable-sound --disable-postscript --disable-printarch
    --disable-docview --disable-mdi --disable-mdidoc --disable-help
)
wx_key="wxwidgets3.2 $wx_version; g++ $compiler_version; ${wx_options[*]}"
if ! stamp_matches "$wx_prefix" "$wx_key"; then
    echo "windows-deps: building wxWidgets $wx_version for MSW into $wx_prefix"
    start=$SECONDS
    src=$cache/src
    rm -rf "$wx_prefix" "$src" "$cache/build/wx"
    mkdir -p "$src" "$cache/build/wx"
    # The source comes from the archive the binary packages come from: add a
    # deb-src entry for it if apt has none.
    if ! grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/; then
        echo "windows-deps: adding a deb-src entry for Debian's main archive"
        uri=$(sed -n 's/^URIs:[[:space:]]*//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n 1)
        suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
        printf 'Types: deb-src\nURIs: %s\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
            "${uri:-http://deb.debian.org/debian}" "$suite" |
            $sudo tee /etc/apt/sources.list.d/kelvad-deb-src.sources >/dev/null
    fi
    if [ -z "$(apt-cache showsrc "wxwidgets3.2=$wx_version" 2>/dev/null)" ]; then
        $sudo apt-get update -qq
    fi
    (cd "$src" && logged "$cache/wx-source.log" apt-get source -q "wxwidgets3.2=$wx_version")
    tree=$(find "$src" -mindepth 1 -maxdepth 1 -type d -name 'wxwidgets3.2-*')
    cd "$cache/build/wx"
    logged "$cache/wx-configure.log" "$tree/configure" --prefix="$wx_prefix" \
        --host="$host" --build="$(gcc -dumpmachine)" \
        CC="$host-gcc-posix" CXX="$host-g++-posix" WINDRES="$host-windres" \
        "${wx_options[@]}"
    logged "$cache/wx-build.log" make -j "$jobs"
    logged "$cache/wx-install.log" make install
    cd "$cache"
    rm -rf "$src" "$cache/build/wx"
    echo "$wx_key" >"$wx_prefix/.kelvad-stamp"
    echo "windows-deps: wxWidgets took $((SECONDS - start)) s"
fi
rmdir "$cache/build" 2>/dev/null || true

echo "GoogleTest: $gtest_prefix"
echo "wxWidgets:  $wx_prefix (wx-config: $wx_prefix/bin/wx-config)"
