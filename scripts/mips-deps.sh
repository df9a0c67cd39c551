#!/usr/bin/env bash
# Cross-builds json-c, Mini-XML and libmicrohttpd (the web server's HTTP
# library) for the target (32-bit big-endian MIPS) from their Debian source
# packages, which have no MIPS binary packages here. The result is
# installed below
#   ${PC_DEPS_CACHE:-$HOME/.cache/platform_core-deps}/mips-linux-gnu
# and kept there between runs: the script builds only what is missing. The MIPS toolchain file (cmake/toolchain-mips-linux-gnu.cmake)
# looks for them there.
#
# Sources come through apt with a private source list and package lists
# (the machine's apt configuration is left alone).
set -euo pipefail

triple=mips-linux-gnu
cache=${PC_DEPS_CACHE:-$HOME/.cache/platform_core-deps}
prefix=$cache/$triple
src=$cache/src
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${PC_JOBS:-2}

have() { [ -f "$prefix/lib/pkgconfig/$1.pc" ]; }
if have json-c && have mxml && have libmicrohttpd; then
  echo "mips-deps: json-c, Mini-XML and libmicrohttpd already built in $prefix"
  exit 0
fi
mkdir -p "$src" "$prefix"

# A private apt view of the Debian release this machine runs, with sources.
. /etc/os-release
apt_dir=$cache/apt
mkdir -p "$apt_dir/lists/partial" "$apt_dir/archives/partial"
cat >"$apt_dir/sources.list" <<LIST
deb-src http://deb.debian.org/debian ${VERSION_CODENAME} main
deb-src http://deb.debian.org/debian ${VERSION_CODENAME}-updates main
deb-src http://deb.debian.org/debian-security ${VERSION_CODENAME}-security main
LIST
apt_opts=(-o "Dir::Etc::SourceList=$apt_dir/sources.list" -o "Dir::Etc::SourceParts=-"
          -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache::Archives=$apt_dir/archives"
          -o "APT::Sandbox::User=root")
apt-get "${apt_opts[@]}" update -qq

# Downloads source package $1 into $src/$1 and unpacks it (upstream tree,
# Debian patches applied) into $src/$1/tree; prints that path.
unpack() {
  local pkg=$1 dir=$src/$1
  mkdir -p "$dir"
  if [ ! -d "$dir/tree" ]; then
    (cd "$dir" && apt-get "${apt_opts[@]}" source --download-only -qq "$pkg" >&2)
    local orig debian
    orig=$(ls "$dir"/*.orig.tar.* | head -1)
    debian=$(ls "$dir"/*.debian.tar.* 2>/dev/null | head -1 || true)
    mkdir -p "$dir/tree"
    tar -xf "$orig" -C "$dir/tree" --strip-components=1
    if [ -n "$debian" ]; then
      tar -xf "$debian" -C "$dir/tree"
      if [ -f "$dir/tree/debian/patches/series" ]; then
        grep -v '^\s*#' "$dir/tree/debian/patches/series" | while read -r p _; do
          [ -n "$p" ] && patch -d "$dir/tree" -p1 -s <"$dir/tree/debian/patches/$p" >&2
        done
      fi
    fi
  fi
  echo "$dir/tree"
}

if ! have json-c; then
json_tree=$(unpack json-c)
cmake -S "$json_tree" -B "$src/json-c/build" \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mips-linux-gnu.cmake" \
  -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_INSTALL_LIBDIR=lib -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DBUILD_SHARED_LIBS=ON -DBUILD_STATIC_LIBS=OFF -DBUILD_TESTING=OFF -DDISABLE_WERROR=ON >/dev/null
cmake --build "$src/json-c/build" -j"$jobs" >/dev/null
cmake --install "$src/json-c/build" >/dev/null
fi

if ! have mxml; then
mxml_tree=$(unpack mxml)
# Only the shared library is built (the upstream cross target list names a
# static library that does not exist) and installed by hand.
(cd "$mxml_tree" &&
  ./configure --host=$triple --prefix="$prefix" --libdir="$prefix/lib" --enable-shared >/dev/null &&
  make -j"$jobs" "$(sed -n 's/^LIBMXML[[:space:]]*=[[:space:]]*//p' Makefile)" >/dev/null)
mkdir -p "$prefix/include" "$prefix/lib/pkgconfig"
cp "$mxml_tree/mxml.h" "$prefix/include/"
cp -P "$mxml_tree"/libmxml.so* "$prefix/lib/"
cp "$mxml_tree/mxml.pc" "$prefix/lib/pkgconfig/"
fi

# HTTP only (no TLS), the library alone.
if ! have libmicrohttpd; then
mhd_tree=$(unpack libmicrohttpd)
(cd "$mhd_tree" &&
  ./configure --host=$triple --prefix="$prefix" --libdir="$prefix/lib" --enable-shared --disable-static \
    --disable-https --without-gnutls --disable-doc --disable-examples --disable-curl --disable-nls >/dev/null &&
  make -j"$jobs" -C src/microhttpd >/dev/null && make -C src/microhttpd install >/dev/null &&
  make -C src/include install >/dev/null)
mkdir -p "$prefix/lib/pkgconfig"
cp "$mhd_tree/libmicrohttpd.pc" "$prefix/lib/pkgconfig/"
fi

have json-c && have mxml && have libmicrohttpd
echo "mips-deps: json-c, Mini-XML and libmicrohttpd installed in $prefix"
