#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks the result as a developer meets it: the
# library's SONAME and the programs' run paths, then a small host program built from a copy of
# host/ against the installed tree alone, once through find_package(vqscwlib) and once through
# pkg-config, and run.
# Usage: install_test.sh BUILD_DIR HOST_SOURCE_DIR LIBDIR CXX PUBLIC_HEADER_DIR [HOST_FLAGS]
# HOST_FLAGS: compiler and linker flags the host needs besides (a sanitizer build's).
set -euo pipefail
build=$1 host_source=$2 libdir=$3 cxx=$4 public_headers=$5 host_flags=${6:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
fail() { echo "FAIL: $*"; exit 1; }

cmake --install "$build" --prefix "$prefix" >"$work/install.log" || {
  cat "$work/install.log"; fail "cmake --install"; }

# The library: libvqscwlib.so -> libvqscwlib.so.3 -> libvqscwlib.so.3.0, SONAME libvqscwlib.so.3.
lib=$prefix/$libdir
[ "$(readlink "$lib/libvqscwlib.so")" = libvqscwlib.so.3 ] || fail "libvqscwlib.so link"
[ "$(readlink "$lib/libvqscwlib.so.3")" = libvqscwlib.so.3.0 ] || fail "libvqscwlib.so.3 link"
[ -f "$lib/libvqscwlib.so.3.0" ] || fail "no libvqscwlib.so.3.0"
soname=$(readelf -d "$lib/libvqscwlib.so.3.0" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[ "$soname" = libvqscwlib.so.3 ] || fail "SONAME is '$soname'"

# Every program is there with its manual page, and runs from a relative run path or none.
for program in tunely tunely-snapshot vqscw-dump vqscw-terminal vqscw-spy vqscw-monitor vqscw-reg
do
  [ -x "$prefix/bin/$program" ] || fail "$program not installed"
  [ -n "$(zcat "$prefix/share/man/man1/$program.1.gz")" ] || fail "no manual page of $program"
  runpath=$(readelf -d "$prefix/bin/$program" | sed -n 's/.*(R\(UN\)\{0,1\}PATH).*\[\(.*\)\]/\2/p')
  case "$runpath" in
    "" | "\$ORIGIN/../$libdir") ;;
    *) fail "$program has run path '$runpath'" ;;
  esac
done
# The headers are the public ones and only they.
headers=$(cd "$prefix/include" && find . -type f | sort | tr '\n' ' ')
expected=$(cd "$public_headers" && find . -type f -name '*.h' | sort | tr '\n' ' ')
[ "$headers" = "$expected" ] || fail "installed headers: $headers (expected: $expected)"
[ -f "$prefix/share/applications/tunely.desktop" ] || fail "no desktop entry"
[ -f "$prefix/share/icons/hicolor/scalable/apps/tunely.svg" ] || fail "no icon"
# The installed tools load the installed library: vqscw-dump prints a body through it.
out=$(env -u LD_LIBRARY_PATH "$prefix/bin/vqscw-dump" 524541440001414456440701)
[ "$out" = "DGRM [READ ADVD=01]" ] || fail "installed vqscw-dump printed '$out'"

# The host, through the CMake package. Its sources are copied so nothing of this tree is near.
cp -r "$host_source" "$work/host"
cmake -S "$work/host" -B "$work/cmake-build" -G Ninja -DCMAKE_CXX_COMPILER="$cxx" \
      -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_CXX_FLAGS="$host_flags" -DCMAKE_EXE_LINKER_FLAGS="$host_flags" \
      >"$work/configure.log" || {
  cat "$work/configure.log"; fail "configuring the host with find_package"; }
cmake --build "$work/cmake-build" >"$work/build.log" || {
  cat "$work/build.log"; fail "building the host with find_package"; }
"$work/cmake-build/host" || fail "the host built with find_package"

# The host, through pkg-config.
export PKG_CONFIG_PATH=$lib/pkgconfig
[ "$(pkg-config --modversion vqscwlib)" = 3.0 ] || fail "pkg-config version"
# shellcheck disable=SC2046,SC2086
"$cxx" -std=c++20 -Wall -Wextra -Werror $host_flags "$work/host/host.cpp" -o "$work/host-pc" \
       $(pkg-config --cflags --libs vqscwlib) \
       -Wl,-rpath,"$(pkg-config --variable=libdir vqscwlib)" || fail "building the host with pkg-config"
"$work/host-pc" || fail "the host built with pkg-config"
echo "installed tree and both hosts are good"
