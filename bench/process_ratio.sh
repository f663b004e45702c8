#!/usr/bin/env bash
# Times whole runs of the quorvex program on the "area" picture against the io_floor
# program (the same file traffic, no pixel work), taking turns, and prints medians,
# quartiles and the ratio quorvex / floor. Each turn also packs the bitmap quorvex wrote back
# into tile data with quorvex-pack (all 256 indices in every block, none needs reduction) and prints
# the ratio quorvex-pack / quorvex.
#
#   bench/process_ratio.sh [BUILD_DIR] [RUNS]      defaults: build 31
set -euo pipefail

build=${1:-build}
runs=${2:-31}
warmup=3
quorvex=$build/quorvex
pack=$build/quorvex-pack
floor=$build/bench/io_floor
make_input=$build/bench/make_bench_input
for program in "$quorvex" "$pack" "$floor" "$make_input"; do
  [[ -x $program ]] || { echo "missing $program: build with Google Benchmark installed" >&2; exit 1; }
done

dir=$(mktemp -d /tmp/quorvex-process-XXXXXX)
trap 'rm -rf "$dir"' EXIT
read -r width height < <("$make_input" area "$dir/area.tis")

# Wall time of one run in microseconds.
time_run() {
  local start=$EPOCHREALTIME
  "$@" >/dev/null
  local end=$EPOCHREALTIME
  echo $(( ${end/./} - ${start/./} ))
}

quorvex_us=() floor_us=() pack_us=()
for ((i = 0; i < warmup + runs; i++)); do
  # Both write the same output path; alternate who goes first so neither always inherits
  # the other's pending disk writes.
  if ((i % 2)); then
    q=$(time_run "$quorvex" "$dir/area.tis" "$width" "$height")
    f=$(time_run "$floor" "$dir/area.tis" "$dir/area.bmp" "$width" "$height")
  else
    f=$(time_run "$floor" "$dir/area.tis" "$dir/area.bmp" "$width" "$height")
    q=$(time_run "$quorvex" "$dir/area.tis" "$width" "$height")
  fi
  p=$(time_run "$pack" "$dir/area.bmp" "$dir/packed.tis")
  if ((i >= warmup)); then quorvex_us+=("$q"); floor_us+=("$f"); pack_us+=("$p"); fi
done

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# Reads numbers, one a line; prints median, quartiles and extremes.
summary() {
  sort -g | awk -v unit="$1" -v scale="$2" -v digits="$3" '
    { v[NR] = $1 / scale }
    END {
      f = "%." digits "f"
      printf "median " f unit "  (quartiles " f " .. " f ", range " f " .. " f ", n=%d)\n",
        v[int((NR + 1) / 2)], v[int((NR + 3) / 4)], v[int((3 * NR + 3) / 4)], v[1], v[NR], NR
    }'
}

echo "area, ${width} x ${height} blocks, whole processes, $runs runs each after $warmup warm-up runs"
printf 'quorvex            %s\n' "$(printf '%s\n' "${quorvex_us[@]}" | summary " ms" 1000 1)"
printf 'io_floor           %s\n' "$(printf '%s\n' "${floor_us[@]}" | summary " ms" 1000 1)"
# One ratio per turn: the two runs of a turn saw the same machine.
printf 'quorvex/floor      %s\n' "$(for ((i = 0; i < runs; i++)); do
  awk -v q="${quorvex_us[i]}" -v f="${floor_us[i]}" 'BEGIN { print q / f }'
done | summary "" 1 3)"
awk -v q="$(printf '%s\n' "${quorvex_us[@]}" | median)" -v f="$(printf '%s\n' "${floor_us[@]}" | median)" \
  'BEGIN { printf "ratio of medians   %.3f\n", q / f }'
printf 'quorvex-pack       %s\n' "$(printf '%s\n' "${pack_us[@]}" | summary " ms" 1000 1)"
printf 'pack/quorvex       %s\n' "$(for ((i = 0; i < runs; i++)); do
  awk -v p="${pack_us[i]}" -v q="${quorvex_us[i]}" 'BEGIN { print p / q }'
done | summary "" 1 3)"
# The packed tile data must convert back to the very bitmap it came from.
"$quorvex" "$dir/packed.tis" "$width" "$height" >/dev/null
cmp -s "$dir/packed.bmp" "$dir/area.bmp" || { echo "quorvex-pack did not pack the bitmap exactly" >&2; exit 1; }
