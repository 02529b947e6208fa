#!/usr/bin/env bash
# Renders the same raw frames with the Linux x86-64 build and, under
# qemu-user, with an aarch64 build (morvek-render loading its
# MorvekExposure.so), and requires byte-identical frames
# (scripts/same-renders.sh).
#
#   scripts/check-qemu.sh LINUX_BUILD_DIR AARCH64_BUILD_DIR [LABEL]
#
# QEMU_LD_PREFIX names the aarch64 sysroot (default /usr/aarch64-linux-gnu).
set -euo pipefail

if [ $# -lt 2 ] || [ $# -gt 3 ]; then
  echo "usage: $0 LINUX_BUILD_DIR AARCH64_BUILD_DIR [LABEL]" >&2
  exit 2
fi
arm_build=$(cd "$2" && pwd)
arm_render=$arm_build/tools/morvek-render/morvek-render
arm_module=$arm_build/MorvekSuites/Exposure/MorvekExposure.so
for f in "$arm_render" "$arm_module"; do
  [ -f "$f" ] || { echo "missing $f" >&2; exit 1; }
done
qemu=$(command -v qemu-aarch64 || command -v qemu-aarch64-static || true)
[ -n "$qemu" ] || { echo "qemu-aarch64 is not installed (package qemu-user)" >&2; exit 1; }
export QEMU_LD_PREFIX=${QEMU_LD_PREFIX:-/usr/aarch64-linux-gnu}

render_arm() {
  local input=$1 output=$2
  shift 2
  "$qemu" "$arm_render" --plugin "$arm_module" "$@" "$input" "$output"
}

# shellcheck source=scripts/same-renders.sh
. "$(dirname "$0")/same-renders.sh"
same_renders "$1" "${3:-aarch64 under qemu}" render_arm
