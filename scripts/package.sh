#!/usr/bin/env bash
# Builds the Debian package build-package/talvesk_VERSION_ARCH.deb from the install rules: the
# programs alone (no tests, no benchmarks), stripped, with their menu entry, icon and manual pages;
# then lintian checks it (errors fail, warnings are shown). Prints the package's path last.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh package

jobs=$(nproc)
# The same compiler cache and flags as scripts/test.sh's build, so the package costs little more.
export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1
export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache

cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALVESK_WERROR=ON \
  -DBUILD_TESTING=OFF -DTALVESK_BENCH=OFF -DCMAKE_EXE_LINKER_FLAGS="-Wl,-z,relro,-z,now" >/dev/null
cmake --build build-package -j "$jobs"
rm -f build-package/talvesk_*.deb
(cd build-package && cpack -G DEB >/dev/null)
deb=$(ls build-package/talvesk_*.deb)
desktop-file-validate packaging/talvesk.desktop
echo "== lintian $deb"
lintian --fail-on error --display-info --show-overrides "$deb" || { echo "lintian found errors in $deb" >&2; exit 1; }
echo "$deb"
