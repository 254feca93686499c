#!/usr/bin/env bash
# Builds the Windows (x86-64) programs, their tests and the installer from this Debian machine:
#   bash scripts/windows.sh            everything, into build-windows/
#   bash scripts/windows.sh --deps     only the cross-built libraries (into the cache)
#
# No Qt for Windows is packaged, so Qt, SQLite, libzip, libxlsxwriter and libpq are cross-built from
# Debian's own source packages (the versions of the main archive) into a cache folder outside the
# checkout, keyed by each one's recipe, the toolchain file, the compiler and those versions; a later
# run reuses it.
#   TALVESK_WINDOWS_CACHE   the cache's folder (default /var/cache/talvesk-windows)
#   TALVESK_WINDOWS_JOBS    parallel jobs (default: the number of cores)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cache_root="${TALVESK_WINDOWS_CACHE:-/var/cache/talvesk-windows}"
jobs="${TALVESK_WINDOWS_JOBS:-$(nproc)}"
toolchain="$root/scripts/windows/mingw-toolchain.cmake"
only_deps=0
[ "${1:-}" = "--deps" ] && only_deps=1

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

say() { printf '%s windows.sh: %s\n' "$(date +%H:%M:%S)" "$*"; }

# --- what the cross build needs -------------------------------------------------------------
tools=(
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-x86-64-dev libz-mingw-w64-dev
  wine wine64 nsis dpkg-dev cmake ninja-build pkg-config ccache perl python3 tcl xz-utils
  qt6-base-dev qt6-base-dev-tools qt6-translations-l10n sqlite3
)
missing=()
for p in "${tools[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  say "installing: ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# --- source entries, derived from the machine's own binary entries ----------------------------
# Every configured "deb" entry gets its "deb-src" twin in a file of our own; no host is named here.
src_list=/etc/apt/sources.list.d/talvesk-deb-src.sources
if ! apt-get indextargets --format '$(CREATED_BY)' 2>/dev/null | grep -q '^Sources$'; then
  say "adding deb-src entries beside the configured sources"
  tmp="$(mktemp)"
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -e "$f" ] && [ "$f" != "$src_list" ] || continue
    # deb822 stanzas: keep each stanza that has Types: deb, with deb-src as its type.
    awk 'BEGIN { RS = ""; ORS = "\n\n" }
         /(^|\n)Types:[^\n]*(^| )deb( |\n|$)/ {
           gsub(/(^|\n)Types:[^\n]*/, "\nTypes: deb-src"); sub(/^\n/, ""); print }' "$f" >>"$tmp"
  done
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -e "$f" ] || continue
    # one-line entries
    awk '$1 == "deb" { $1 = "deb-src"; print "# one-line: " $0 }' "$f" >>"$tmp"
  done
  # One-line entries become deb822 stanzas too, so one file holds them all.
  awk '/^# one-line: / {
         sub(/^# one-line: deb-src /, "");
         opts = ""; if ($1 ~ /^\[/) { opts = $0; sub(/\].*/, "]", opts); sub(/^\[[^]]*\] */, "") }
         printf "Types: deb-src\nURIs: %s\nSuites: %s\nComponents:", $1, $2;
         for (i = 3; i <= NF; i++) printf " %s", $i; printf "\n";
         if (opts ~ /signed-by=/) { s = opts; sub(/.*signed-by=/, "", s); sub(/[] ].*/, "", s); printf "Signed-By: %s\n", s }
         printf "\n"; next }
       { print }' "$tmp" | "${sudo_cmd[@]}" tee "$src_list" >/dev/null
  rm -f "$tmp"
  "${sudo_cmd[@]}" apt-get update -qq
fi

# --- the versions of the main archive ---------------------------------------------------------
# The security archive may list a newer version whose source is not served; the release's own is.
. /etc/os-release
release="${VERSION_CODENAME:?no release codename in /etc/os-release}"
# New libraries go at the end: the programs' build finds Qt by its place in this list.
sources=(sqlite3 libzip libxlsxwriter googletest qt6-base postgresql-15)
declare -A version
for s in "${sources[@]}"; do
  version[$s]="$(apt-get source --print-uris -qq "$s/$release" 2>/dev/null |
    sed -n "s/.*[/ ]${s}_\([^ ]*\)\.dsc[' ].*/\1/p" | head -n1)"
  [ -n "${version[$s]}" ] || { echo "windows.sh: no source of $s in $release" >&2; exit 1; }
done

compiler="$(x86_64-w64-mingw32-g++-posix --version | head -n1)"
"${sudo_cmd[@]}" mkdir -p "$cache_root"
[ -w "$cache_root" ] || "${sudo_cmd[@]}" chown "$(id -u):$(id -g)" "$cache_root"

# Builds one library by its recipe (scripts/windows/NAME.sh) into a folder of the cache keyed by the
# recipe, the toolchain, the compiler and the source version; prints that folder. A folder without
# its completion mark is from a run cut short and is made again.
build_library() {
  local name="$1" v="${version[$1]}"
  local recipe="$root/scripts/windows/$name.sh"
  local key
  key="$( { cat "$recipe" "$toolchain"; echo "$compiler $v"; } | sha256sum | cut -c1-12)"
  local out="$cache_root/$name-$v-$key"
  if [ ! -f "$out/.complete" ]; then
    say "building $name $v" >&2
    local started=$SECONDS
    rm -rf "$out"
    local scratch; scratch="$(mktemp -d "$cache_root/.work.XXXXXX")"
    # This runs inside the caller's $(...), where errexit does not reach: every failure returns.
    (cd "$scratch" && apt-get source -qq --download-only "$name=$v" >/dev/null 2>&1 &&
      dpkg-source --no-check -x ./*.dsc src >/dev/null) ||
      { echo "windows.sh: could not fetch and unpack the source of $name $v" >&2; return 1; }
    mkdir -p "$scratch/build"
    # Not tested by || itself: that would switch off the recipe's own errexit.
    ( src="$scratch/src" work="$scratch/build" out="$out" jobs="$jobs" toolchain="$toolchain"
      set -euo pipefail; . "$recipe" ) >&2
    local status=$?
    [ "$status" -eq 0 ] ||
      { echo "windows.sh: building $name $v failed; its sources and logs are kept in $scratch" >&2; return 1; }
    touch "$out/.complete" || return 1
    rm -rf "$scratch"
    # Builds of this library under other keys are of no further use.
    find "$cache_root" -mindepth 1 -maxdepth 1 -name "$name-*" ! -path "$out" -exec rm -rf {} +
    say "built $name in $((SECONDS - started)) s" >&2
  fi
  echo "$out"
}

prefixes=()
for s in "${sources[@]}"; do prefixes+=("$(build_library "$s")"); done
qt="${prefixes[4]}"
TALVESK_WINDOWS_PREFIXES="$(IFS=';'; echo "${prefixes[*]}")"
export TALVESK_WINDOWS_PREFIXES
[ "$only_deps" -eq 1 ] && { say "libraries ready: ${prefixes[*]}"; exit 0; }

# --- the programs, their tests and the installation folder -------------------------------------
build="$root/build-windows"
pkgconfig=()
for p in "${prefixes[@]}"; do [ -d "$p/lib/pkgconfig" ] && pkgconfig+=("$p/lib/pkgconfig"); done
pkgconfig+=(/usr/x86_64-w64-mingw32/lib/pkgconfig)
export PKG_CONFIG_LIBDIR="$(IFS=:; echo "${pkgconfig[*]}")"
unset PKG_CONFIG_PATH
export CCACHE_BASEDIR="$root"
# The folders of the libraries the programs load: Qt's, the cross-built ones', zlib's and the
# compiler's runtime.
dll_dirs=()
for p in "${prefixes[@]}"; do [ -d "$p/bin" ] && dll_dirs+=("$p/bin"); done
dll_dirs+=(/usr/x86_64-w64-mingw32/bin /usr/x86_64-w64-mingw32/lib "$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")")
# The build stages an application folder by running the Windows staging program under wine.
export WINEPREFIX="$build/wine-build" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
export WINEPATH="$(for d in "${dll_dirs[@]}"; do printf 'Z:%s;' "${d//\//\\}"; done)"
mkdir -p "$build"
# For the wine test run: where the test programs find Qt's libraries (Qt6Test among them).
printf '%s\n' "$WINEPATH" >"$build/wine-dll-path"
say "building the programs and tests into $build"
cmake -G Ninja -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTALVESK_WERROR=ON -DCMAKE_PREFIX_PATH="$qt" -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DTALVESK_BENCH=OFF -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache >/dev/null
cmake --build "$build" --parallel "$jobs"

# The folder the installer installs: the programs, then every library they load (found by walking
# their imports through Qt's, the cross-built libraries', zlib's and the compiler's folders), Qt's
# plugins for Windows and its zh_TW translation.
stage="$build/install"
rm -rf "$stage"
cmake --install "$build" --prefix "$stage" --strip >/dev/null
mkdir -p "$stage/plugins/platforms" "$stage/plugins/styles" "$stage/translations"
cp "$qt/plugins/platforms/qwindows.dll" "$qt/plugins/platforms/qoffscreen.dll" "$stage/plugins/platforms/"
cp "$qt/plugins/styles/qwindowsvistastyle.dll" "$stage/plugins/styles/"
cp /usr/share/qt6/translations/qtbase_zh_TW.qm "$stage/translations/"
declare -A seen=()
pending=("$stage"/*.exe "$stage"/plugins/*/*.dll)
while [ ${#pending[@]} -gt 0 ]; do
  file="${pending[0]}"; pending=("${pending[@]:1}")
  while read -r dll; do
    lower="${dll,,}"
    [ -n "${seen[$lower]:-}" ] && continue
    seen[$lower]=1
    # Windows matches names without regard to case (libpq's import library names LIBPQ.dll).
    for d in "${dll_dirs[@]}"; do
      found="$(find "$d" -maxdepth 1 -type f -iname "$dll" -print -quit 2>/dev/null)"
      if [ -n "$found" ]; then cp "$found" "$stage/"; pending+=("$stage/$(basename "$found")"); break; fi
    done # not found: a library of Windows itself
  done < <(x86_64-w64-mingw32-objdump -p "$file" | sed -n 's/^\s*DLL Name: //p')
done

# --- the installer ------------------------------------------------------------------------------
# NSIS installs and uninstalls file by file; the list is made from the folder itself.
files="$build/installer-files.nsh"
{
  echo '!ifdef INSTALL_SECTION'
  (cd "$stage" && find . -type d | sort) | while read -r d; do
    d="${d#./}"; [ "$d" = "." ] && d=""
    echo "  SetOutPath \"\$INSTDIR${d:+\\${d//\//\\}}\""
    (cd "$stage/${d:-.}" && find . -maxdepth 1 -type f | sort) | while read -r f; do
      echo "  File \"$stage/${d:+$d/}${f#./}\""
    done
  done
  echo '!endif'
  echo '!ifdef UNINSTALL_SECTION'
  (cd "$stage" && find . -type f | sort) | while read -r f; do f="${f#./}"; echo "  Delete \"\$INSTDIR\\${f//\//\\}\""; done
  (cd "$stage" && find . -mindepth 1 -type d | sort -r) | while read -r d; do d="${d#./}"; echo "  RMDir \"\$INSTDIR\\${d//\//\\}\""; done
  echo '!endif'
} >"$files"
version="$(sed -n 's/^project(talvesk VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
makensis -V2 -DSTAGE="$stage" -DFILES="$files" -DOUTFILE="$build/Talvesk-setup.exe" -DVERSION="$version" \
  "$root/packaging/windows/talvesk.nsi"
say "done: $build/Talvesk-setup.exe ($(du -h "$build/Talvesk-setup.exe" | cut -f1))"
