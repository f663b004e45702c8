#!/usr/bin/env bash
# Times whole runs of quorvex-layout against whole runs of quorvex converting the same file at
# its true layout, 100 x 80 blocks, taking turns, and prints the median and quartiles of the
# per-turn ratio quorvex-layout / quorvex, then the peak resident memory of both. Two files:
# "random", the random tile data of process_ratio.sh (no layout to find: quorvex-layout must
# say it cannot tell), and "painted", the painted picture of reduce_speed.py scaled to 6400 x
# 5120 pixels and packed by quorvex-pack (quorvex-layout must find 100 x 80).
#
#   bench/layout_speed.sh [BUILD_DIR] [RUNS]      defaults: build 31
set -euo pipefail
build=${1:-build}
runs=${2:-31}
bench=$(cd "$(dirname "$0")" && pwd)
for program in "$build/quorvex" "$build/quorvex-pack" "$build/quorvex-layout" /usr/bin/time; do
  [[ -x $program ]] || { echo "missing $program" >&2; exit 1; }
done
dir=$(mktemp -d /tmp/quorvex-layout-XXXXXX)
trap 'rm -rf "$dir"' EXIT
head -c $((5120 * 100 * 80)) /dev/urandom >"$dir/random.tis"
/usr/bin/python3 -c "
import sys; sys.path.insert(0, '$bench')
from PIL import Image
from reduce_speed import painted
Image.fromarray(painted()).resize((6400, 5120), Image.LANCZOS).save('$dir/painted.png')"
"$build/quorvex-pack" "$dir/painted.png" "$dir/painted.tis" >/dev/null
rm "$dir/painted.png"
"$build/quorvex-layout" --numbers "$dir/painted.tis" 2>/dev/null | grep -qx "100 80" ||
  { echo "quorvex-layout did not find 100 x 80 in the painted picture" >&2; exit 1; }
if "$build/quorvex-layout" "$dir/random.tis" >/dev/null; then echo "quorvex-layout found a layout in random bytes" >&2; exit 1; fi

microseconds() {  # wall time of one run of the command, whatever its status
  local start=$EPOCHREALTIME
  "$@" >/dev/null || true
  local end=$EPOCHREALTIME
  echo $((${end/./} - ${start/./}))
}
for name in random painted; do
  ratios=()
  for ((i = 0; i < runs + 3; i++)); do  # the first three turns warm up
    q=$(microseconds "$build/quorvex" "$dir/$name.tis" 100 80)
    l=$(microseconds "$build/quorvex-layout" "$dir/$name.tis")
    ((i < 3)) || ratios+=("$(awk -v l="$l" -v q="$q" 'BEGIN { print l / q }')")
  done
  printf '%s\n' "${ratios[@]}" | sort -g | awk -v name="$name" '{ v[NR] = $1 } END {
    printf "whole runs quorvex-layout / quorvex, %s, %d turns: median %.3f (quartiles %.3f .. %.3f)\n",
      name, NR, v[int((NR + 1) / 2)], v[int((NR + 3) / 4)], v[int((3 * NR + 3) / 4)] }'
  /usr/bin/time -f "peak resident memory, quorvex-layout, $name: %M KiB" "$build/quorvex-layout" "$dir/$name.tis" >/dev/null || true
  /usr/bin/time -f "peak resident memory, quorvex, $name: %M KiB" "$build/quorvex" "$dir/$name.tis" 100 80 >/dev/null
done
