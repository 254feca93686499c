#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test twice: a plain optimised build, then one
# under AddressSanitizer and UBSan. Both runs share one private PostgreSQL server, stopped however
# this script ends.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh build test bench

postgres_dir=$(mktemp -d "${TMPDIR:-/tmp}/talvesk-pg.XXXXXX")
trap 'bash scripts/postgres.sh stop "$postgres_dir" || true; rm -rf "$postgres_dir"' EXIT
trap 'exit 1' INT TERM HUP
TALVESK_TEST_POSTGRES=$(bash scripts/postgres.sh start "$postgres_dir")
export TALVESK_TEST_POSTGRES
echo "== PostgreSQL for the tests: $TALVESK_TEST_POSTGRES"

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
# A compiler cache shared by every checkout on the machine: paths are taken relative to the
# checkout, so another clone of the same sources compiles from the cache.
export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1
export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache

echo "== build and test (build/)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALVESK_WERROR=ON -DBUILD_TESTING=ON -DTALVESK_BENCH=ON
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== build and test under AddressSanitizer + UBSan (build-asan/)"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTALVESK_WERROR=ON -DTALVESK_SANITIZE=ON -DBUILD_TESTING=ON -DTALVESK_BENCH=OFF
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"
