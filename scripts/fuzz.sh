#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a fixed time (seconds, default 60).
# Findings are written to build-fuzz/findings/<target>/; copy each into a regression test.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
"$here/scripts/install-deps.sh" --test
CC=clang CXX=clang++ cmake -S "$here" -B "$here/build-fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKESTREL_FUZZ=ON -DKESTREL_TESTS=OFF -DKESTREL_BENCH=OFF >/dev/null
cmake --build "$here/build-fuzz" -j"$(nproc)" --target $(cd "$here/fuzz" && ls fuzz_*.cpp | sed 's/\.cpp$//')
status=0
for src in "$here"/fuzz/fuzz_*.cpp; do
  name=$(basename "$src" .cpp)
  seeds="$here/fuzz/corpus/${name#fuzz_}"
  work="$here/build-fuzz/corpus/$name"
  findings="$here/build-fuzz/findings/$name"
  mkdir -p "$work" "$findings"
  echo "== $name (${seconds}s)"
  if ! QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 "$here/build-fuzz/fuzz/$name" "$work" "$seeds" \
      -max_total_time="$seconds" ${KESTREL_FUZZ_SEED:+-seed=$KESTREL_FUZZ_SEED} -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$findings/" -print_final_stats=1 2>"$here/build-fuzz/$name.log"; then
    status=1
    echo "   FINDING: see $findings and build-fuzz/$name.log"
  fi
  grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "$here/build-fuzz/$name.log" | sed 's/^/   /'
done
exit $status
