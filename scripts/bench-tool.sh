#!/usr/bin/env bash
# Times morvek-render against what a user would run instead on the same files:
# a plain copy with oiiotool for image files, cp for raw frames, a loop of
# oiiotool copies for a sequence. Generates footage-like files first (4K EXR
# float ZIP, PNG 8-bit RGBA, TIFF 16-bit RGB, raw float, and twelve 1080p
# EXR frames) under build/bench-tool (or the folder given as the first
# argument), then runs each program and its baseline in turn, three times
# each (MORVEK_BENCH_RUNS), and prints per case both medians, their ratio and
# its goal, and the peak memory of both on the 4K EXR. Compare ratios: the
# two programs of a case run side by side, so a busy machine slows both.
# Not part of CI.
set -euo pipefail
cd "$(dirname "$0")/.."
work=${1:-build/bench-tool}
runs=${MORVEK_BENCH_RUNS:-3}
for program in oiiotool /usr/bin/time; do
  command -v "$program" >/dev/null || { echo "bench-tool: $program is missing (scripts/install-deps.sh)" >&2; exit 1; }
done
cmake --preset release >/dev/null
cmake --build --preset release --target morvek-render MorvekExposure >/dev/null
tool=$PWD/build/release/tools/morvek-render/morvek-render
mkdir -p "$work/in/seq" "$work/out"
cd "$work"

# Footage-like content: a four-corner gradient with highlights above 1,
# Gaussian grain, and a soft-edged matte as alpha.
footage() { # SIZE SEED then oiiotool output arguments
  local size=$1 seed=$2
  shift 2
  oiiotool --pattern fill:topleft=0.05,0.1,0.3:topright=0.9,0.6,0.2:bottomleft=0.2,0.5,0.1:bottomright=1.4,1.1,0.8 \
    "$size" 3 --pattern "noise:type=gaussian:mean=0:stddev=0.03:seed=$seed" "$size" 3 --add \
    --pattern checker:width=2:height=2:color1=0:color2=1 16x9 1 --resize:filter=triangle "$size" --chnames A \
    --chappend "$@"
}
[ -f in/4k.exr ] || footage 3840x2160 1 -d float --compression zip -o in/4k.exr
[ -f in/4k.png ] || footage 3840x2160 1 -d uint8 -o in/4k.png
[ -f in/4k.tif ] || footage 3840x2160 1 --ch R,G,B -d uint16 --compression zip -o in/4k.tif
[ -f in/4k.raw ] || "$tool" in/4k.exr in/4k.raw --depth 32 >/dev/null
for i in $(seq 1 12); do
  f=$(printf 'in/seq/f.%04d.exr' "$i")
  [ -f "$f" ] || footage 1920x1080 "$((i + 1))" -d float --compression zip -o "$f"
done

# Seconds and peak KiB of one run, appended to the case's file.
measure() { # FILE then the command
  local file=$1
  shift
  /usr/bin/time -f '%e %M' -o "$file.last" "$@" >/dev/null 2>&1
  cat "$file.last" >>"$file"
}
copies='for i in $(seq -f %04g 1 12); do oiiotool in/seq/f.$i.exr -o out/copy.$i.exr || exit 1; done'

cases=(exr png tif raw seq)
rm -f out/*.times*
for run in $(seq 1 "$runs"); do
  for c in "${cases[@]}"; do
    case $c in
    exr | png | tif)
      measure "out/$c.tool.times" "$tool" "in/4k.$c" "out/render.$c" --exposure 1
      measure "out/$c.base.times" oiiotool "in/4k.$c" -o "out/copy.$c"
      ;;
    raw)
      measure out/raw.tool.times "$tool" in/4k.raw out/render.raw --size 3840x2160 --depth 32 --exposure 1
      measure out/raw.base.times cp in/4k.raw out/copy.raw
      ;;
    seq)
      measure out/seq.tool.times "$tool" --frames 1-12 in/seq/f.####.exr out/render.####.exr --exposure 1
      measure out/seq.base.times bash -c "$copies"
      ;;
    esac
  done
  echo "bench-tool: run $run of $runs done" >&2
done

median() { # FILE COLUMN
  cut -d' ' -f"$2" "$1" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}
describe() {
  case $1 in
  exr) echo '4K float ZIP EXR|oiiotool copy|1.0' ;;
  png) echo '4K 8-bit RGBA PNG|oiiotool copy|1.0' ;;
  tif) echo '4K 16-bit RGB TIFF|oiiotool copy|1.0' ;;
  raw) echo '4K raw float frame|cp|4' ;;
  seq) echo '12 frames of 1080p float EXR|loop of 12 oiiotool copies|0.75' ;;
  esac
}
echo "| job (--exposure 1) | morvek-render s | baseline | baseline s | ratio | goal |"
echo "|---|---:|---|---:|---:|---:|"
for c in "${cases[@]}"; do
  IFS='|' read -r name base goal <<<"$(describe "$c")"
  t=$(median "out/$c.tool.times" 1)
  b=$(median "out/$c.base.times" 1)
  ratio=$(awk -v t="$t" -v b="$b" 'BEGIN { printf "%.2f", t / b }')
  met=$(awk -v r="$ratio" -v g="$goal" 'BEGIN { print (r <= g ? "met" : "missed") }')
  echo "| $name | $t | $base | $b | $ratio | ≤ $goal ($met) |"
done
tm=$(median out/exr.tool.times 2)
bm=$(median out/exr.base.times 2)
ratio=$(awk -v t="$tm" -v b="$bm" 'BEGIN { printf "%.2f", t / b }')
met=$(awk -v r="$ratio" 'BEGIN { print (r <= 1.0 ? "met" : "missed") }')
echo "| peak memory, 4K EXR (MiB) | $((tm / 1024)) | oiiotool copy | $((bm / 1024)) | $ratio | ≤ 1.0 ($met) |"
