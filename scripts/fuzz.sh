#!/usr/bin/env bash
# Builds the readers' libFuzzer targets with clang (build-fuzz/) and runs each for a bounded time
# under AddressSanitizer + UBSan, starting from the seed corpus in tests/fuzz/corpus/.
#   bash scripts/fuzz.sh             30 seconds each (what CI runs)
#   bash scripts/fuzz.sh 600         ten minutes each
#   bash scripts/fuzz.sh 600 xlsx    one target
# A crash, a leak, a timeout or running out of memory fails the run; the input that did it is left
# in build-fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh build fuzz

seconds=${1:-30}
only=${2:-}
export QT_QPA_PLATFORM=offscreen
export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1
export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALVESK_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build build-fuzz -j "$(nproc)"

mkdir -p build-fuzz/findings
status=0
for target in xlsx xls ods csv textlines profile; do
  [ -z "$only" ] || [ "$only" = "$target" ] || continue
  seeds=tests/fuzz/corpus/$target
  [ "$target" = textlines ] && seeds=tests/fuzz/corpus/text
  [ "$target" = profile ] && seeds=tests/fuzz/corpus/ini
  # A working corpus of its own, so that the repository's seeds stay as they are.
  work=build-fuzz/corpus/$target
  mkdir -p "$work"
  echo "== fuzz_$target for ${seconds}s"
  if ! ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
       UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
       LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp \
       build-fuzz/tests/fuzz/fuzz_$target "$work" "$seeds" -max_total_time="$seconds" -timeout=10 \
         -rss_limit_mb=2048 -max_len=65536 -artifact_prefix=build-fuzz/findings/$target- -print_final_stats=1 \
         2> "build-fuzz/fuzz_$target.log"; then
    tail -n 60 "build-fuzz/fuzz_$target.log"
    status=1
  fi
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "build-fuzz/fuzz_$target.log" || true
done
exit $status
