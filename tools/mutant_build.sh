#!/bin/bash
# The build command of a mutation run (see docs/development.md): builds the copy in $SRC, and
# fails a build whose programs come out byte for byte as those of the unchanged source. Such an
# edit (code the compiler drops, a line only Windows compiles) cannot change what any program
# does, so the run counts it with the edits that do not build instead of as a survivor. Each one
# is listed in build-mutate/same-programs.log with the edit, so that it can be read.
set -euo pipefail
src=${SRC:?the copy to build, as the mutation tool sets it}
build=$src/build-mutate
cmake -S "$src" -B "$build" -DQUORVEX_BENCH=OFF -DCMAKE_CXX_FLAGS=-D_GLIBCXX_ASSERTIONS \
  -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >/dev/null
cmake --build "$build" -j2 >/dev/null

cd "$src"
product=(app conversion streams packing layout)
programs() { find "$build" -maxdepth 2 -type f -perm -u+x -not -path '*/CMakeFiles/*' | sort | xargs sha256sum; }
source_sum=$(find "${product[@]}" -type f | sort | xargs cat | sha256sum)
# The unchanged source is built first: keep its programs' sums and a copy of it to compare with.
if [[ ! -f $build/unchanged.sha256 || $source_sum == "$(head -1 "$build/unchanged.sha256")" ]]; then
  { echo "$source_sum"; programs; } >"$build/unchanged.sha256"
  rm -rf "$build/unchanged" && mkdir "$build/unchanged" && cp -r "${product[@]}" "$build/unchanged/"
  exit 0
fi
if [[ "$(programs)" == "$(tail -n +2 "$build/unchanged.sha256")" ]]; then
  for folder in "${product[@]}"; do
    diff -r "$build/unchanged/$folder" "$folder" >>"$build/same-programs.log" || true
  done
  exit 1
fi
