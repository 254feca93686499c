#!/usr/bin/env bash
# Installs what is missing, builds the programs alone (no tests, no benchmarks), stages the
# application folder in build/app and starts the program.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh build
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF -DTALVESK_BENCH=OFF
cmake --build build --target stage
exec build/app/talvesk "$@"
