#!/usr/bin/env bash
# Installs what the build, the tests and the demo need on a fresh Debian machine (as root).
set -euo pipefail
need=()
for pkg in g++ clang clang-format cmake ninja-build googletest libgtest-dev libgmock-dev libbenchmark-dev zlib1g-dev \
           mingw-w64 wine wine64 xvfb xdotool x11-utils imagemagick python3-pytest libclang-rt-14-dev valgrind gdb \
           wixl dpkg-dev file; do
  dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${need[@]}" >/dev/null
fi
