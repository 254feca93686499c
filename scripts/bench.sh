#!/usr/bin/env bash
# Builds optimised and runs every benchmark in bench/. Each benchmark makes its own data.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh build bench
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DTALVESK_BENCH=ON -DBUILD_TESTING=OFF
cmake --build build-bench -j "$(nproc)"
shopt -s nullglob
benches=(build-bench/bench/bench_*[!n])
if [ ${#benches[@]} -eq 0 ]; then
  echo "no benchmarks built yet"
  exit 0
fi
for b in "${benches[@]}"; do
  echo "== $b"
  "$b" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true "$@"
done
