#!/usr/bin/env bash
# Installs what the build, the tools and the tests need on Debian 12, from
# Debian's own packages. Packages already present are left alone, so a
# second run costs a few seconds.
set -euo pipefail

packages=(
  build-essential binutils cmake ninja-build pkg-config
  clang clang-tidy clang-format libclang-rt-14-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev libmpfr-dev libopencolorio-dev
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64
  g++-aarch64-linux-gnu qemu-user
  libopenimageio-dev openimageio-tools time
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
