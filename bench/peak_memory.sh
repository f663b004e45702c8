#!/usr/bin/env bash
# Prints the peak resident memory of whole quorvex runs on the "tall" and "area" pictures
# and checks that the tall one, despite 75 times as many block-rows, needs no more than
# the area one plus 1 MiB: memory follows the width of a block-row, not the height.
#
#   bench/peak_memory.sh [BUILD_DIR]      default: build
set -euo pipefail

build=${1:-build}
quorvex=$build/quorvex
make_input=$build/bench/make_bench_input
for program in "$quorvex" "$make_input" /usr/bin/time; do
  [[ -x $program ]] || { echo "missing $program" >&2; exit 1; }
done

dir=$(mktemp -d /tmp/quorvex-memory-XXXXXX)
trap 'rm -rf "$dir"' EXIT

declare -A peak_kib
for shape in tall area; do
  read -r width height < <("$make_input" "$shape" "$dir/$shape.tis")
  /usr/bin/time -f %M -o "$dir/$shape.rss" "$quorvex" "$dir/$shape.tis" "$width" "$height" >/dev/null
  peak_kib[$shape]=$(<"$dir/$shape.rss")
  printf '%-4s %5s x %-5s blocks: peak resident memory %6d KiB\n' "$shape" "$width" "$height" "${peak_kib[$shape]}"
  rm -f "$dir/$shape.tis" "$dir/$shape.bmp"
done

limit=$((peak_kib[area] + 1024))
if ((peak_kib[tall] <= limit)); then
  echo "tall <= area + 1 MiB: ${peak_kib[tall]} <= $limit KiB"
else
  echo "tall > area + 1 MiB: ${peak_kib[tall]} > $limit KiB" >&2
  exit 1
fi
