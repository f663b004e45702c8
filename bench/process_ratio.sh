#!/usr/bin/env bash
# Times whole runs of quorvex on a 100 x 80 block picture of random tile data against whole
# runs of the I/O floor (quorvex_bench --io-floor: the same file traffic, no pixel work),
# taking turns, and prints the median and quartiles of the per-turn ratio quorvex / floor.
# Each turn also packs the bitmap back with quorvex-pack (no block needs reduction) and the
# ratio quorvex-pack / quorvex is printed the same way. Then prints the peak resident memory
# of quorvex on that picture and on a 4 x 6000 one, and of quorvex-pack on the first.
#
# QUORVEX_PACK_OPTIONS is given to every run of quorvex-pack, for example "--threads 1".
#
#   bench/process_ratio.sh [BUILD_DIR] [RUNS]      defaults: build 31
set -euo pipefail
build=${1:-build}
runs=${2:-31}
read -r -a pack_options <<<"${QUORVEX_PACK_OPTIONS:-}"
for program in "$build/quorvex" "$build/quorvex-pack" "$build/bench/quorvex_bench" /usr/bin/time; do
  [[ -x $program ]] || { echo "missing $program: build with Google Benchmark installed" >&2; exit 1; }
done
dir=$(mktemp -d /tmp/quorvex-process-XXXXXX)
trap 'rm -rf "$dir"' EXIT
head -c $((5120 * 100 * 80)) /dev/urandom >"$dir/area.tis"
head -c $((5120 * 4 * 6000)) /dev/urandom >"$dir/tall.tis"

microseconds() {  # wall time of one run of the command
  local start=$EPOCHREALTIME
  "$@" >/dev/null
  local end=$EPOCHREALTIME
  echo $((${end/./} - ${start/./}))
}
ratios=() packs=()
for ((i = 0; i < runs + 3; i++)); do  # the first three turns warm up
  f=$(microseconds "$build/bench/quorvex_bench" --io-floor "$dir/area.tis" "$dir/area.bmp" 100 80)
  q=$(microseconds "$build/quorvex" "$dir/area.tis" 100 80)
  p=$(microseconds "$build/quorvex-pack" "${pack_options[@]}" "$dir/area.bmp" "$dir/packed.tis")
  ((i < 3)) || ratios+=("$(awk -v q="$q" -v f="$f" 'BEGIN { print q / f }')")
  ((i < 3)) || packs+=("$(awk -v p="$p" -v q="$q" 'BEGIN { print p / q }')")
done
summary() {  # label, then the ratios
  local label=$1
  shift
  printf '%s\n' "$@" | sort -g | awk -v label="$label" '{ v[NR] = $1 } END {
    printf "whole runs %s, area, %d turns: median %.3f (quartiles %.3f .. %.3f)\n",
      label, NR, v[int((NR + 1) / 2)], v[int((NR + 3) / 4)], v[int((3 * NR + 3) / 4)] }'
}
summary "quorvex / io_floor" "${ratios[@]}"
summary "quorvex-pack / quorvex" "${packs[@]}"
# The packed tile data must convert back to the very bitmap it came from.
"$build/quorvex" "$dir/packed.tis" 100 80 >/dev/null && cmp "$dir/packed.bmp" "$dir/area.bmp"
/usr/bin/time -f "peak resident memory, quorvex-pack, area: %M KiB" "$build/quorvex-pack" "${pack_options[@]}" "$dir/area.bmp" "$dir/packed.tis" >/dev/null
for shape in "area 100 80" "tall 4 6000"; do
  read -r name width height <<<"$shape"
  /usr/bin/time -f "peak resident memory, $name: %M KiB" "$build/quorvex" "$dir/$name.tis" "$width" "$height" >/dev/null
done
