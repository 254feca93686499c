#!/usr/bin/env bash
# Runs one clerk's day through the batch tool twice, with the Linux build and with the Windows
# build under wine, on the same files: a receivables workbook, a Big5 bank file with Chinese
# names, an export, a backup to a drive letter and a restore, history and undo. Then compares the
# two: every command's output (paths and times aside) and every table of the database.
#   bash tests/windows/batch-e2e.sh LINUX_BUILD WINDOWS_BUILD
# WINEPREFIX must name a prefix that is ready; the code page follows LANG (zh_TW.UTF-8: 950).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
linux_build="$(cd "$1" && pwd)"
windows_build="$(cd "$2" && pwd)"
: "${WINEPREFIX:?WINEPREFIX must name a wine prefix}"

work="$(mktemp -d)"
trap 'rm -rf "$work"; rm -f "$WINEPREFIX/dosdevices/t:"' EXIT
python3 "$here/make_files.py" "$work/files"

# One side: how to run its programs and how it names the work folder and the backup drive.
day() {
  local side="$1" batch stage app drive files
  mkdir -p "$work/$side/drive"
  if [ "$side" = linux ]; then
    batch=("$linux_build/app/talvesk-batch")
    stage=("$linux_build/talvesk-stage")
    app="$work/$side/app" drive="$work/$side/drive" files="$work/files"
  else
    batch=(wine "$windows_build/app/talvesk-batch.exe")
    stage=(wine "$windows_build/talvesk-stage.exe")
    # The backup drive is a drive letter of its own, as a USB stick is on a clerk's desk.
    ln -sfn "$work/$side/drive" "$WINEPREFIX/dosdevices/t:"
    app="Z:${work//\//\\}\\$side\\app" drive="t:" files="Z:${work//\//\\}\\files"
  fi
  local sep='\'
  [ "$side" = linux ] && sep=/
  "${stage[@]}" "$app" "$(if [ "$side" = linux ]; then echo "$root/src/core/db/schema.sql"; else echo "Z:${root//\//\\}\\src\\core\\db\\schema.sql"; fi)" >/dev/null
  run() {
    echo "\$ $*"
    local rc=0
    "${batch[@]}" --app-dir "$app" "$@" 2>&1 || rc=$?
    echo "[exit $rc]"
  }
  {
    run map-receivables A "" "" B C
    run import-receivables "$files${sep}receivables.xlsx"
    run import-bank "$files${sep}bank.txt"
    run find
    run find 林 --status overpaid
    run export-results "$drive${sep}results.xlsx"
    run backup "$drive" --slot 2
    run undo
    run find
    run restore "$drive" --slot 2
    run history
    run problems 2
    run find
  } >"$work/$side/raw.txt"
  # Paths and times are each side's own; the rest must be the same. Windows' paths are read
  # with forward slashes and without their Z: (the drive wine gives the Linux root).
  sed -e 's/\r$//' -e 's|\\|/|g' -e 's|Z:/|/|g' -e 's|\bt:/|DRIVE/|g' -e 's|\bt:$|DRIVE|g' -e 's| t: | DRIVE |g' \
      -e "s|$work/$side/app|APP|g" -e "s|$work/files|FILES|g" -e "s|$work/$side/drive|DRIVE|g" \
      -e 's/[0-9]\{4\}-[0-9][0-9]-[0-9][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9]/TIME/g' \
      "$work/$side/raw.txt" >"$work/$side/transcript.txt"
  # Every table but the journal's, which records paths and times.
  local db="$work/$side/app/ldb/Vellaroke.mdb"
  for t in $(sqlite3 "$db" "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'Journal%' ORDER BY name"); do
    echo "== $t"
    sqlite3 -header "$db" "SELECT * FROM \"$t\" ORDER BY rowid"
  done >"$work/$side/tables.txt"
  unzip -p "$work/$side/drive/results.xlsx" xl/worksheets/sheet1.xml xl/sharedStrings.xml >"$work/$side/export.xml" 2>/dev/null || true
}

day linux
day windows

failed=0
for f in transcript.txt tables.txt export.xml; do
  if cmp -s "$work/linux/$f" "$work/windows/$f"; then
    echo "same on both: $f ($(wc -l <"$work/linux/$f") lines)"
  else
    echo "DIFFERENT: $f"; diff "$work/linux/$f" "$work/windows/$f" >"$work/$f.diff" || true
    sed -n '1,40p' "$work/$f.diff"; failed=1
  fi
done
[ -s "$work/linux/export.xml" ] || { echo "no export was written"; failed=1; }
echo "--- the day under wine:"
cat "$work/windows/transcript.txt"
exit "$failed"
