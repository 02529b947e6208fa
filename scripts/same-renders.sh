# shellcheck shell=bash
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
# scratch folder removed on exit. Needs perl. The function's own variables
# begin with sr_, so that they hide none of the caller's.

same_renders() {
  local sr_linux_build
  sr_linux_build=$(cd "$1" && pwd)
  local sr_label=$2 sr_render=$3
  local sr_linux_render=$sr_linux_build/tools/morvek-render/morvek-render
  local sr_linux_module=$sr_linux_build/MorvekSuites/Exposure/MorvekExposure.so
  local sr_f
  for sr_f in "$sr_linux_render" "$sr_linux_module"; do
    [ -f "$sr_f" ] || { echo "missing $sr_f" >&2; return 1; }
  done
  same_renders_work=$(mktemp -d)
  # shellcheck disable=SC2064 # the folder's name is fixed now
  trap "rm -rf '$same_renders_work'" EXIT
  local sr_work=$same_renders_work

  # Input frames, alpha-red-green-blue, 1031 pixels wide so that every row
  # crosses the row loops' 1024-pixel chunks, and an odd height so that the
  # worker bands differ in height. 8 bits: every byte value. 16 bits: every
  # value of the range 0..32768. Float: exact 0, -0, 0.5, 1, 2, subnormals of
  # both signs, then -0.25 to 3.25 (below black and over white) in 1999 steps
  # interleaved with a pseudo-random spread of magnitudes 2^-30 to 2^6 with
  # either sign.
  local sr_w=1031 sr_h=9
  local sr_n=$((sr_w * sr_h * 4))
  perl -e 'print pack("C*", map { ($_ * 37 + 11) % 256 } 0 .. $ARGV[0] - 1)' "$sr_n" >"$sr_work/in8.raw"
  perl -e 'print pack("v*", map { ($_ * 4099) % 32769 } 0 .. $ARGV[0] - 1)' "$sr_n" >"$sr_work/in16.raw"
  perl -e 'my @v = (0, -0.0, 0.5, 1, 2, 1e-40, -1e-40, 1.4e-45);
           my $s = 12345;
           for my $i (scalar(@v) .. $ARGV[0] - 1) {
             if ($i % 2) { push @v, -0.25 + ($i % 1999) * 3.5 / 1998; next }
             $s = ($s * 1103515245 + 12345) % 2147483648;
             push @v, ($s & 1 ? -1 : 1) * (1 + ($s >> 8) % 4096 / 4096) * 2 ** (($s >> 20) % 37 - 30);
           }
           print pack("f<*", @v)' "$sr_n" >"$sr_work/in32.raw"

  # Exposure and gamma: the defaults, the slider extremes, gamma 1 with
  # several gains, and the exposures just below and at the first overflow of
  # the 8-bit and 16-bit curves' last index (255 x gain reaching 255.5,
  # 32768 x gain reaching 32768.5).
  local sr_settings=("0 1" "2.2 1" "-1.3 2.2" "3.9 0.45" "-4 10" "4 0.1" "0.7 0.1" "12.5 3"
    "0.006217297373651023 1" "0.006217297373651024 1" "4.842994811111375e-05 2.2" "4.8429948111113755e-05 2.2")
  local sr_failures=0 sr_runs=0 sr_depth sr_s sr_exposure sr_gamma sr_name
  for sr_depth in 8 16 32; do
    for sr_s in "${sr_settings[@]}"; do
      read -r sr_exposure sr_gamma <<<"$sr_s"
      sr_name="d${sr_depth}_e${sr_exposure}_g${sr_gamma}"
      local sr_args=(--depth "$sr_depth" --size "${sr_w}x${sr_h}" --exposure "$sr_exposure" --gamma "$sr_gamma" --threads 3)
      "$sr_linux_render" --plugin "$sr_linux_module" "${sr_args[@]}" "$sr_work/in$sr_depth.raw" "$sr_work/$sr_name.linux.raw" >/dev/null
      rm -f "$sr_work/out.raw"
      if ! "$sr_render" "$sr_work/in$sr_depth.raw" "$sr_work/out.raw" "${sr_args[@]}" >"$sr_work/render.log" 2>&1; then
        echo "FAIL: $sr_name: the $sr_label render failed:" >&2
        cat "$sr_work/render.log" >&2
        sr_failures=$((sr_failures + 1))
        continue
      fi
      sr_runs=$((sr_runs + 1))
      if ! cmp -s "$sr_work/$sr_name.linux.raw" "$sr_work/out.raw"; then
        local sr_diffs
        sr_diffs=$(cmp -l "$sr_work/$sr_name.linux.raw" "$sr_work/out.raw" 2>/dev/null | wc -l || true)
        echo "FAIL: $sr_name: $sr_diffs bytes differ between the x86-64 release build's and the $sr_label renders" >&2
        sr_failures=$((sr_failures + 1))
      fi
    done
  done
  if [ "$sr_failures" -ne 0 ]; then
    return 1
  fi
  echo "$sr_label and Linux x86-64 render identical frames: $sr_runs renders at 8, 16 and 32 bits"
}
