#!/usr/bin/env bash
# Installs the Debian packages the project needs, when any is missing.
set -euo pipefail
# host build and tests; the target build (cross compiler, emulator, GoogleTest
# sources); formatting and the test isolation tools.
packages=(cmake g++ clang make pkg-config ccache git googletest libgtest-dev libbenchmark-dev
          libjson-c-dev libmxml-dev libedit-dev
          g++-mips-linux-gnu qemu-user
          clang-format util-linux iproute2
          libclang-rt-dev
          libpcap-dev   # the BPF anchor of the packet benchmark
          libssl-dev    # the OpenSSL oracle of the crypto tests
          libmicrohttpd-dev curl iputils-ping chromium)  # the web server, and its tests from outside
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
