#!/usr/bin/env bash
# Builds libspng, the PNG decoder of quorvex-pack, from Debian's source package as a static
# library for a target that cannot use Debian's binary package, so that every platform decodes
# PNG with the version Linux builds use (the one libspng-dev has here, else the archive's).
#
#   tools/build_libspng.sh [--zlib] PREFIX [CMAKE_ARGUMENTS...]
#
# PREFIX receives include/spng.h and lib/libspng_static.a (with --zlib also zlib.h, zconf.h
# and lib/libz.a, built from Debian's zlib source the same way); CMAKE_ARGUMENTS go to every
# configure step, a toolchain among them. QUORVEX_CMAKE replaces the configure command
# ("emcmake cmake" for the web). Then configure quorvex with -DQUORVEX_SPNG_PREFIX=PREFIX.
#
#   Windows (zlib from libz-mingw-w64-dev):
#     tools/build_libspng.sh build-windows/libspng -DCMAKE_TOOLCHAIN_FILE=$PWD/cmake/mingw-w64-x86_64.cmake
#   The web (emscripten):
#     QUORVEX_CMAKE="emcmake cmake" tools/build_libspng.sh --zlib build-web/libspng
#
# The sources come through apt-get source with a deb-src entry of this system's release in a
# private apt state under PREFIX, so neither root nor a change to /etc/apt is needed;
# QUORVEX_DEB_SRC gives another entry. Nothing else is fetched. A second run reuses them.
set -euo pipefail

with_zlib=false
if [[ ${1:-} == --zlib ]]; then
  with_zlib=true
  shift
fi
(($# >= 1)) || { echo "usage: $0 [--zlib] PREFIX [CMAKE_ARGUMENTS...]" >&2; exit 2; }
mkdir -p "$1"
prefix=$(cd "$1" && pwd)
shift
read -r -a configure <<<"${QUORVEX_CMAKE:-cmake}"
work=$prefix/source
mkdir -p "$work/lists/partial" "$work/cache/archives/partial" "$prefix/include" "$prefix/lib"

. /etc/os-release
echo "${QUORVEX_DEB_SRC:-deb-src http://deb.debian.org/debian ${VERSION_CODENAME:?} main}" >"$work/sources.list"
apt=(apt-get -o "Dir::Etc::SourceList=$work/sources.list" -o Dir::Etc::SourceParts=/dev/null
  -o "Dir::State::Lists=$work/lists" -o "Dir::Cache=$work/cache" -o Debug::NoLocking=1)

# Fetches and unpacks Debian's source package $1 (at version $2 when given) into $work/$1.
fetch() {
  local package=$1 version=${2:-}
  [[ -d $work/$package ]] && return
  [[ -n $(ls "$work/lists/"*Sources* 2>/dev/null) ]] || "${apt[@]}" update
  (cd "$work" && "${apt[@]}" source --download-only "$package${version:+=$version}")
  dpkg-source --no-check -x "$(ls "$work/${package}"_*.dsc | tail -1)" "$work/$package"
}

# The version the Linux build links, where its package is installed: one line, as the package
# may be installed for several architectures (the cross leg adds i386's and arm64's).
spng_version=$(dpkg-query -W -f='${source:Version}\n' libspng-dev 2>/dev/null | head -1 || true)
fetch libspng "$spng_version"

zlib_arguments=()
if $with_zlib; then
  fetch zlib
  # zlib's own CMake file wants the Windows resource file Debian's source leaves out: the
  # codec's C files (not the gz* file functions, which libspng does not use) are built as one
  # static library instead.
  mkdir -p "$work/zlib-cmake"
  printf '%s\n' 'cmake_minimum_required(VERSION 3.13)' 'project(zlib_static C)' \
    'file(GLOB sources ${ZLIB_SOURCE}/*.c)' 'list(FILTER sources EXCLUDE REGEX "/gz[a-z]*\\.c$")' \
    'add_library(z STATIC ${sources})' \
    'target_include_directories(z PRIVATE ${ZLIB_SOURCE})' >"$work/zlib-cmake/CMakeLists.txt"
  "${configure[@]}" -S "$work/zlib-cmake" -B "$work/zlib-build" -DCMAKE_BUILD_TYPE=Release \
    -DZLIB_SOURCE="$work/zlib" "$@"
  cmake --build "$work/zlib-build" -j2
  cp "$work/zlib/zlib.h" "$work/zlib/zconf.h" "$prefix/include/"
  cp "$work/zlib-build/libz.a" "$prefix/lib/libz.a"
  zlib_arguments=(-DZLIB_INCLUDE_DIR="$prefix/include" -DZLIB_LIBRARY="$prefix/lib/libz.a")
fi

# libspng's own CMake file: its static library alone (its shared one must stay configured, as
# the file sets the static one's include folder through it), without the examples.
"${configure[@]}" -S "$work/libspng" -B "$work/libspng-build" -DCMAKE_BUILD_TYPE=Release -DBUILD_EXAMPLES=OFF \
  "${zlib_arguments[@]}" "$@"
cmake --build "$work/libspng-build" --target spng_static -j2
cp "$work/libspng/spng/spng.h" "$prefix/include/"
cp "$(find "$work/libspng-build" -maxdepth 1 -name '*spng_static*' | head -1)" "$prefix/lib/libspng_static.a"
echo "libspng ${spng_version:-of the archive} built into $prefix"
