#!/usr/bin/env bash
# Cross-builds json-c and Mini-XML for the target (32-bit big-endian MIPS)
# from their Debian source packages, which have no MIPS binary packages
# here. The result is installed below
#   ${PC_DEPS_CACHE:-$HOME/.cache/platform_core-deps}/mips-linux-gnu
# and kept there between runs: the script does nothing when both are
# installed already. The MIPS toolchain file (cmake/toolchain-mips-linux-gnu.cmake)
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

if [ -f "$prefix/lib/pkgconfig/json-c.pc" ] && [ -f "$prefix/lib/pkgconfig/mxml.pc" ]; then
  echo "mips-deps: json-c and Mini-XML already built in $prefix"
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

json_tree=$(unpack json-c)
cmake -S "$json_tree" -B "$src/json-c/build" \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mips-linux-gnu.cmake" \
  -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_INSTALL_LIBDIR=lib -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DBUILD_SHARED_LIBS=ON -DBUILD_STATIC_LIBS=OFF -DBUILD_TESTING=OFF -DDISABLE_WERROR=ON >/dev/null
cmake --build "$src/json-c/build" -j"$jobs" >/dev/null
cmake --install "$src/json-c/build" >/dev/null

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

test -f "$prefix/lib/pkgconfig/json-c.pc" && test -f "$prefix/lib/pkgconfig/mxml.pc"
echo "mips-deps: json-c and Mini-XML installed in $prefix"
