#!/usr/bin/env bash
# Cross-builds varnel-importer.exe (the window), cal2pst.exe, pstcheck.exe and the core's tests for
# 64-bit Windows with mingw-w64, into build/windows, and packs
# build/varnel-importer-<version>-win64.zip. libical and GoogleTest are cross-built once into
# build/windows-deps and reused from there. With --test, runs the Windows tests under wine and
# drives the window under wine on a virtual display (its store checked by a Linux pstcheck and
# compared with a Linux cal2pst's: those of the build in DIR with --linux-build DIR, otherwise of
# a small Linux build made in build/windows-linux-tools); with --linux-build, also cal2pst.exe end
# to end against the Linux build in DIR.
#
#   scripts/windows.sh [--test] [--linux-build DIR] [--jobs N]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

run_tests=0
linux_build=
jobs=2
while [[ $# -gt 0 ]]; do
  case "$1" in
    --test) run_tests=1 ;;
    --jobs) jobs=$2; shift ;;
    --linux-build) linux_build=$(realpath "$2"); shift ;;
    *) echo "usage: $0 [--test] [--linux-build DIR] [--jobs N]" >&2; exit 2 ;;
  esac
  shift
done

deps=$root/build/windows-deps
prefix=$deps/install
build=$root/build/windows
toolchain=$root/cmake/mingw-w64.cmake

as_root() {
  if [[ $(id -u) -eq 0 ]]; then
    "$@"
  elif command -v sudo >/dev/null; then
    sudo "$@"
  else
    echo "Needs root: $*" >&2
    exit 1
  fi
}

# Debian packages: the cross compiler, wine to run what it builds, GoogleTest's sources, perl for
# libical's generated sources, CLDR's table of Windows zone names, the tz database and the build
# machine's libical (the shipped zones are made from them), zip for the package, and for the
# window's test a virtual display, xdotool to press its keys, ImageMagick for a picture when it
# fails, wine's fonts (Tahoma), and the readers that check its store.
packages=(g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine64 cmake ninja-build perl googletest
  unicode-cldr-core xz-utils tzdata libical-dev pkg-config gcc zip xvfb xauth xdotool imagemagick
  fonts-wine pst-utils g++)
missing=()
for pkg in "${packages[@]}"; do
  dpkg-query -W -f='${db:Status-Status}' "$pkg" 2>/dev/null | grep -qx installed || missing+=("$pkg")
done
apt_updated=0
if [[ ${#missing[@]} -gt 0 ]]; then
  echo "Installing Debian packages: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  as_root apt-get update -q
  apt_updated=1
  as_root apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# libical, cross-built static once. Its source is Debian's (the .orig tarball of libical3's source
# package), which needs a deb-src entry: one is made from the machine's own deb entries if none is there.
libical_stamp=$prefix/.libical-built
if [[ ! -f $libical_stamp ]]; then
  mkdir -p "$deps/src"
  if ! ls "$deps"/src/libical3_*.orig.tar.* >/dev/null 2>&1; then
    if ! grep -rqsE '^(deb-src|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
      echo "Adding deb-src entries beside the machine's deb entries"
      if [[ -f /etc/apt/sources.list.d/debian.sources ]]; then
        sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
          as_root tee /etc/apt/sources.list.d/varnel-deb-src.sources >/dev/null
      else
        sed -n 's/^deb /deb-src /p' /etc/apt/sources.list |
          as_root tee /etc/apt/sources.list.d/varnel-deb-src.list >/dev/null
      fi
      apt_updated=0
    fi
    [[ $apt_updated -eq 1 ]] || as_root apt-get update -q
    # Only the upstream tarball is used: a failure to fetch the Debian changes beside it is no
    # matter as long as that tarball arrived.
    (cd "$deps/src" && apt-get source --download-only libical3) ||
      ls "$deps"/src/libical3_*.orig.tar.* >/dev/null 2>&1
  fi
  tarball=$(ls "$deps"/src/libical3_*.orig.tar.* | head -n1)
  rm -rf "$deps/src/libical" "$deps/libical-build"
  mkdir -p "$deps/src/libical"
  tar -xf "$tarball" -C "$deps/src/libical" --strip-components=1
  echo "Cross-building libical ($(basename "$tarball"))"
  cmake -S "$deps/src/libical" -B "$deps/libical-build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DVARNEL_MINGW_THIRD_PARTY=ON \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DSTATIC_ONLY=ON -DUSE_BUILTIN_TZDATA=ON -DWITH_CXX_BINDINGS=OFF -DICAL_GLIB=OFF \
    -DICAL_GLIB_VAPI=OFF -DGOBJECT_INTROSPECTION=OFF -DICAL_BUILD_DOCS=OFF -DENABLE_GTK_DOC=OFF \
    -DLIBICAL_BUILD_TESTING=OFF -DCMAKE_DISABLE_FIND_PACKAGE_ICU=ON \
    -DCMAKE_DISABLE_FIND_PACKAGE_BerkeleyDB=ON >"$deps/libical-configure.log"
  cmake --build "$deps/libical-build" -j "$jobs" >"$deps/libical-build.log"
  cmake --install "$deps/libical-build" >/dev/null
  touch "$libical_stamp"
fi

# GoogleTest from Debian's sources, cross-built once.
gtest_stamp=$prefix/.googletest-built
if [[ ! -f $gtest_stamp ]]; then
  echo "Cross-building GoogleTest"
  rm -rf "$deps/googletest-build"
  cmake -S /usr/src/googletest -B "$deps/googletest-build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DVARNEL_MINGW_THIRD_PARTY=ON \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_GMOCK=OFF \
    -DINSTALL_GTEST=ON >"$deps/googletest-configure.log"
  cmake --build "$deps/googletest-build" -j "$jobs" >"$deps/googletest-build.log"
  cmake --install "$deps/googletest-build" >/dev/null
  touch "$gtest_stamp"
fi

# The zones shipped with the programs: libical's own files apply today's rules back to 1970, so
# they are made again from this machine's tz database with its whole history (tools/zonedata).
echo "Zone files from this machine's tz database"
zones_out=$deps/zoneinfo
rm -rf "$zones_out"
cp -r "$prefix/share/libical/zoneinfo" "$zones_out"
cc -O1 -Wall -Wextra -Werror -o "$deps/zone_files" tools/zonedata/zone_files.c $(pkg-config --cflags --libs libical)
"$deps/zone_files" "$zones_out/zones.tab" "$zones_out"

echo "== Windows build (build/windows) =="
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
  -DVARNEL_QT=OFF -DVARNEL_WERROR=ON -DVARNEL_MINGW_DEPS="$prefix" -DVARNEL_LIBICAL_ZONES="$zones_out" \
  >/dev/null
cmake --build "$build" -j "$jobs"

# The package: the window, the two command-line programs, the zones beside them, the README and
# the licences.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
package=varnel-importer-$version-win64
stage=$root/build/windows-package/$package
rm -rf "$root/build/windows-package" "$root/build/$package.zip"
mkdir -p "$stage/share/libical" "$stage/LICENSES"
cp "$build/bin/varnel-importer.exe" "$build/bin/cal2pst.exe" "$build/bin/pstcheck.exe" "$stage/"
x86_64-w64-mingw32-strip "$stage/varnel-importer.exe" "$stage/cal2pst.exe" "$stage/pstcheck.exe"
cp -r "$build/bin/share/libical/zoneinfo" "$stage/share/libical/"
cp README.md "$stage/README.md"
cp LICENSE "$stage/LICENSES/varnel-importer.txt" 2>/dev/null || true
for licence in LICENSE LICENSE.txt COPYING; do
  [[ -f $deps/src/libical/$licence ]] && cp "$deps/src/libical/$licence" "$stage/LICENSES/libical-$licence.txt"
done
for licence in "$deps"/src/libical/LICENSE.*; do
  [[ -f $licence ]] && cp "$licence" "$stage/LICENSES/libical-$(basename "$licence")"
done
# The runtime linked into the programs: mingw-w64's (winpthreads among it) and GCC's.
for doc in mingw-w64-common gcc-mingw-w64-base; do
  [[ -f /usr/share/doc/$doc/copyright ]] && cp "/usr/share/doc/$doc/copyright" "$stage/LICENSES/$doc.txt"
done
(cd "$root/build/windows-package" && zip -qr "$root/build/$package.zip" "$package")
echo "Windows package: build/$package.zip"

[[ $run_tests -eq 1 ]] || exit 0

echo "== Windows tests under wine =="
# A wine prefix of our own. wineserver and wine's services (started by the first program of a
# prefix) would otherwise inherit ctest's output pipe and hold it open until its timeout: start
# them here, detached from what ctest reads.
export WINEPREFIX=$root/build/wine-prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
wineserver -p </dev/null >/dev/null 2>&1
wine cmd /c exit </dev/null >/dev/null 2>&1 || true
# The machine's zone: wine 8 takes the host's TZ (the tests set TZ=Europe/Berlin) and gives the
# first Windows zone in its registry whose rules match, of four alike for central Europe:
# "Central Europe Standard Time" (Budapest) before "W. Europe Standard Time". The three before it
# are taken out of this prefix, so that a Windows program here sees the zone a German Windows has.
zones_key='HKLM\Software\Microsoft\Windows NT\CurrentVersion\Time Zones'
for zone in "Central Europe Standard Time" "Central European Standard Time" "Romance Standard Time"; do
  wine reg delete "$zones_key\\$zone" /f </dev/null >/dev/null 2>&1 || true
done
# The compiled-in libical zone folder (a path on this machine, reached by wine through drive Z:) is
# hidden while the tests run, so that they read the zones shipped beside the .exe as on Windows.
zones=$prefix/share/libical/zoneinfo
hidden=$prefix/share/libical/zoneinfo.hidden-for-tests
restore() { [[ -d $hidden ]] && mv "$hidden" "$zones"; wineserver -k >/dev/null 2>&1 || true; }
trap restore EXIT
[[ -d $zones ]] && mv "$zones" "$hidden"
ctest --test-dir "$build" --output-on-failure -j "$jobs"

if [[ -n $linux_build ]]; then
  echo "== cal2pst.exe end to end, against the Linux build =="
  # The packaged programs, as a user unpacks them.
  /usr/bin/python3 tests/windows/test_cal2pst_exe.py wine "$stage/cal2pst.exe" "$linux_build/cli/cal2pst" \
    "$linux_build/tools/pstcheck/pstcheck" examples "$root/../shared/corpus"
fi

echo "== varnel-importer.exe under wine, driven on a virtual display =="
# pstcheck and cal2pst for Linux, to check the window's store: the given build's, or a small one.
if [[ -n $linux_build ]]; then
  linux_tools=$linux_build
else
  linux_tools=$root/build/windows-linux-tools
  cmake -S . -B "$linux_tools" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNEL_QT=OFF -DVARNEL_TESTS=OFF >/dev/null
  cmake --build "$linux_tools" -j "$jobs" --target pstcheck cal2pst >/dev/null
fi
/usr/bin/python3 tests/windows/test_window_exe.py wine "$stage/varnel-importer.exe" \
  "$linux_tools/tools/pstcheck/pstcheck" "$linux_tools/cli/cal2pst" examples
