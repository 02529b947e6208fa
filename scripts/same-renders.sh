# Sourced by the render checks (check-wine.sh, check-qemu.sh,
# check-portable.sh): renders the same raw frames with the Linux release build
# and with another build of the module, at 8, 16 and 32 bits over a set of
# slider settings, and requires byte-identical frames.
#
#   . scripts/same-renders.sh
#   same_renders LINUX_BUILD_DIR LABEL RENDER_FUNCTION
#
# RENDER_FUNCTION INPUT OUTPUT OPTIONS... renders INPUT into OUTPUT with the
# other build; OPTIONS are morvek-render's. Files go to $same_renders_work, a
# scratch folder removed on exit. Needs perl.

same_renders() {
  local linux_build
  linux_build=$(cd "$1" && pwd)
  local label=$2 render=$3
  local linux_render=$linux_build/tools/morvek-render/morvek-render
  local linux_module=$linux_build/MorvekSuites/Exposure/MorvekExposure.so
  local f
  for f in "$linux_render" "$linux_module"; do
    [ -f "$f" ] || { echo "missing $f" >&2; return 1; }
  done
  same_renders_work=$(mktemp -d)
  # shellcheck disable=SC2064 # the folder's name is fixed now
  trap "rm -rf '$same_renders_work'" EXIT
  local work=$same_renders_work

  # Input frames, alpha-red-green-blue, 1031 pixels wide so that every row
  # crosses the row loops' 1024-pixel chunks, and an odd height so that the
  # worker bands differ in height. 8 bits: every byte value. 16 bits: every
  # value of the range 0..32768. Float: exact 0, -0, 0.5, 1, 2, subnormals of both
  # signs, then -0.25 to 3.25 (below black and over white) in 1999 steps
  # interleaved with a pseudo-random spread of magnitudes 2^-30 to 2^6 with
  # either sign.
  local w=1031 h=9
  local n=$((w * h * 4))
  perl -e 'print pack("C*", map { ($_ * 37 + 11) % 256 } 0 .. $ARGV[0] - 1)' "$n" >"$work/in8.raw"
  perl -e 'print pack("v*", map { ($_ * 4099) % 32769 } 0 .. $ARGV[0] - 1)' "$n" >"$work/in16.raw"
  perl -e 'my @v = (0, -0.0, 0.5, 1, 2, 1e-40, -1e-40, 1.4e-45);
           my $s = 12345;
           for my $i (scalar(@v) .. $ARGV[0] - 1) {
             if ($i % 2) { push @v, -0.25 + ($i % 1999) * 3.5 / 1998; next }
             $s = ($s * 1103515245 + 12345) % 2147483648;
             push @v, ($s & 1 ? -1 : 1) * (1 + ($s >> 8) % 4096 / 4096) * 2 ** (($s >> 20) % 37 - 30);
           }
           print pack("f<*", @v)' "$n" >"$work/in32.raw"

  # Exposure and gamma: the defaults, the slider extremes, gamma 1 with
  # several gains, and the exposures just below and at the first overflow of
  # the 8-bit and 16-bit curves' last index (255 x gain reaching 255.5,
  # 32768 x gain reaching 32768.5).
  local settings=("0 1" "2.2 1" "-1.3 2.2" "3.9 0.45" "-4 10" "4 0.1" "0.7 0.1" "12.5 3"
    "0.006217297373651023 1" "0.006217297373651024 1" "4.842994811111375e-05 2.2" "4.8429948111113755e-05 2.2")
  local failures=0 runs=0 depth s exposure gamma name
  for depth in 8 16 32; do
    for s in "${settings[@]}"; do
      read -r exposure gamma <<<"$s"
      name="d${depth}_e${exposure}_g${gamma}"
      local args=(--depth "$depth" --size "${w}x${h}" --exposure "$exposure" --gamma "$gamma" --threads 3)
      "$linux_render" --plugin "$linux_module" "${args[@]}" "$work/in$depth.raw" "$work/$name.linux.raw" >/dev/null
      rm -f "$work/out.raw"
      if ! "$render" "$work/in$depth.raw" "$work/out.raw" "${args[@]}" >"$work/render.log" 2>&1; then
        echo "FAIL: $name: the $label render failed:" >&2
        cat "$work/render.log" >&2
        failures=$((failures + 1))
        continue
      fi
      runs=$((runs + 1))
      if ! cmp -s "$work/$name.linux.raw" "$work/out.raw"; then
        local diffs
        diffs=$(cmp -l "$work/$name.linux.raw" "$work/out.raw" 2>/dev/null | wc -l || true)
        echo "FAIL: $name: $diffs bytes differ between the Linux and $label renders" >&2
        failures=$((failures + 1))
      fi
    done
  done
  if [ "$failures" -ne 0 ]; then
    return 1
  fi
  echo "$label and Linux x86-64 render identical frames: $runs renders at 8, 16 and 32 bits"
}
