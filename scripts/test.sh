#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite, gives every fuzz
# target a short smoke run, then runs the suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
"$here/scripts/install-deps.sh" --test
export QT_QPA_PLATFORM=offscreen

cmake -S "$here" -B "$here/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$here/build" -j"$jobs"
ctest --test-dir "$here/build" --output-on-failure -j"$jobs"

# Every fuzz target built with clang and run for a short smoke time; a finding fails the run.
# Longer runs: scripts/fuzz.sh SECONDS.
if [[ "${KESTREL_SKIP_FUZZ:-}" != "1" ]] && command -v clang++ >/dev/null 2>&1; then
  # A fixed seed keeps the smoke run the same from one CI run to the next.
  KESTREL_FUZZ_SEED="${KESTREL_FUZZ_SEED:-1}" "$here/scripts/fuzz.sh" "${KESTREL_FUZZ_SECONDS:-10}"
fi

if [[ "${KESTREL_SKIP_SANITIZERS:-}" != "1" ]]; then
  cmake -S "$here" -B "$here/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKESTREL_SANITIZE=ON -DKESTREL_BENCH=OFF >/dev/null
  cmake --build "$here/build-asan" -j"$jobs"
  ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir "$here/build-asan" --output-on-failure -j"$jobs"
fi
