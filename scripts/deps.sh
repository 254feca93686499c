#!/usr/bin/env bash
# Installs the Debian packages that are missing, by set:
#   bash scripts/deps.sh build    what building and running the programs needs
#   bash scripts/deps.sh test     the tests (and what the build needs)
#   bash scripts/deps.sh bench    the benchmarks (likewise)
#   bash scripts/deps.sh fuzz     the fuzzers: clang and its sanitizer runtime
#   bash scripts/deps.sh package  the Debian package and its check (and what the build needs)
#   bash scripts/deps.sh          every set
set -euo pipefail

build=(
  cmake ninja-build g++ pkg-config ccache
  qt6-base-dev qt6-qpa-plugins libgl-dev
  qt6-translations-l10n fonts-noto-cjk
  libsqlite3-dev libpq-dev
  libzip-dev libxlsxwriter-dev
)
# postgresql: the tests start a private server of their own (scripts/postgres.sh).
test=(libgtest-dev sqlite3 poppler-utils postgresql)
bench=(libbenchmark-dev sqlite3)
fuzz=(clang libclang-rt-14-dev)
# dpkg-shlibdeps (dpkg-dev) fills the package's Depends; the package check installs it and shows
# its login on a virtual X server.
package=(dpkg-dev lintian desktop-file-utils xvfb xauth xdotool)

sets=("$@")
[ ${#sets[@]} -gt 0 ] || sets=(build test bench fuzz package)
packages=()
for set in "${sets[@]}"; do
  case "$set" in
    build) packages+=("${build[@]}") ;;
    test) packages+=("${build[@]}" "${test[@]}") ;;
    bench) packages+=("${build[@]}" "${bench[@]}") ;;
    fuzz) packages+=("${fuzz[@]}") ;;
    package) packages+=("${build[@]}" "${package[@]}") ;;
    *) echo "deps.sh: unknown set: $set (build, test, bench, fuzz, package)" >&2; exit 2 ;;
  esac
done

missing=()
for p in $(printf '%s\n' "${packages[@]}" | sort -u); do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
