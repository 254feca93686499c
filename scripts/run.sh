#!/usr/bin/env bash
# Installs what is missing, builds, stages the application folder in build/app and starts the program.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
exec build/app/talvesk "$@"
