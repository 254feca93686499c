#!/usr/bin/env bash
# Starts the staged program in a virtual X display with a window manager and a CJK font, works
# through a clerk's day (xdotool) and saves a screenshot of every window and every message box met,
# once at 1024x768 and once at 800x600, into build/screenshots/<size>/. With --readme, the main
# ones at 1024x768 also replace those in docs/screenshots/. With --server the same day runs on an
# office's server of its own (a private PostgreSQL, server-init, Env/Database.ini naming it), into
# build/screenshots/server-<size>/. Needs xvfb, openbox, xdotool, imagemagick and fonts-noto-cjk
# (and postgresql for --server). Usage: tools/screenshots.sh [--readme | --server] [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
readme=0 server=0
if [ "${1:-}" = "--readme" ]; then readme=1; shift; fi
if [ "${1:-}" = "--server" ]; then server=1; shift; fi
build=${1:-build}
root=$PWD

# The menu bar's titles, measured from the main window's top-left corner (inside its frame): they
# depend on the font only, not on the screen's size.
menu_y=-10
x_readdisk=81; x_work=191; x_store=277; x_system=363; x_exit=412

run_day() {
  local size=$1 display=$2
  local out="$root/$build/screenshots/$size"
  if [ "$server" = 1 ]; then out="$root/$build/screenshots/server-$size"; fi
  rm -rf "$out"; mkdir -p "$out"
  local work; work=$(mktemp -d)
  # A throw-away application folder and home, so the screenshots never touch real data.
  cp -r "$root/$build/app/." "$work/"
  rm -f "$work/Env/IdPass6.ini" "$work/ldb/Vellaroke.mdb" "$work/Windows.ini"
  "$root/$build/talvesk-stage" "$work" "$root/src/core/db/schema.sql"
  if [ "$server" = 1 ]; then
    # In a folder of its own: the server's user cannot enter the work folder.
    pgdir=$(mktemp -d)
    local conninfo; conninfo=$(bash "$root/scripts/postgres.sh" start "$pgdir")
    printf '[DATABASE]\r\nserver=%s\r\n' "$conninfo" > "$work/Env/Database.ini"
    "$work/talvesk-batch" --app-dir "$work" server-init >/dev/null
  fi
  "$work/talvesk-batch" --app-dir "$work" map-receivables A B C D E >/dev/null
  "$work/talvesk-batch" --app-dir "$work" map-payments A "" C "" E "" >/dev/null
  # A deep folder, so the windows show how they elide a long path (typed by xdotool: ASCII only).
  local data="$work/home/collections/fiscal-year-2024/third-quarter/tuition-and-fees/virtual-accounts"
  mkdir -p "$work/home/Documents" "$data"
  # A receivables list (CSV is a workbook format the import reads).
  local book="$data/receivables.csv"
  {
    echo "客戶名稱,客戶編號,備註,虛擬帳號,應收金額"
    for i in $(seq 1 3000); do printf '客戶%d,C%06d,學費,95120%011d,%d\n' "$i" "$i" "$i" $((1000 + i)); done
  } > "$book"
  # A bank file for some of those accounts, one record for an unknown account, and a store file.
  local bank="$data/bank.txt"
  for i in $(seq 1 40); do
    printf '00012345678113010%dTWD %011d              95120%011d         \r\n' $((i % 9 + 1)) $((900 + i)) "$i"
  done > "$bank"
  printf '00012345678113010%dTWD %011d              %-25s\r\n' 5 100 99999999 >> "$bank"
  local store="$data/TFM0105.txt"
  {
    printf '1HEADER\r\n'
    for i in $(seq 1 25); do
      printf '212345678AG01    S001    %-19s2024010520240104131231A12%020d010105%09d\r\n' STORE "$i" $((100 * i))
    done
    printf '3TRAILER\r\n'
  } > "$store"

  export DISPLAY=$display HOME="$work/home" XDG_RUNTIME_DIR="$work/run"
  mkdir -p "$XDG_RUNTIME_DIR"; chmod 700 "$XDG_RUNTIME_DIR"
  Xvfb "$DISPLAY" -screen 0 "${size}x24" >/dev/null 2>&1 &
  local xvfb=$!
  sleep 1
  openbox >/dev/null 2>&1 &
  local wm=$!
  sleep 1

  shot() { sleep "${2:-1}"; import -window root "$out/$1.png"; }
  keys() { xdotool key --delay 120 "$@"; }
  # Where the main window's inside starts, once it is up.
  local wx wy
  main_origin() {
    local id; id=$(xdotool search --sync --onlyvisible --name '^Talvesk虛擬帳號資料處理' | head -1)
    eval "$(xdotool getwindowgeometry --shell "$id")"
    wx=$X; wy=$Y
  }
  click_title() { xdotool mousemove $((wx + $1)) $((wy + menu_y)) sleep 0.3 click 1; sleep 0.6; }
  # Opens a drop-down by its title and runs its n-th command (separators are skipped by the keys).
  menu_item() {
    click_title "$1"
    local downs=(); for _ in $(seq 1 "$2"); do downs+=(Down); done
    keys "${downs[@]}" Return
  }
  choose_file() { sleep 1.2; xdotool type --delay 15 "$1"; keys Return; sleep 0.8; }

  "$work/talvesk" &
  local program=$!
  shot 01-login 2
  xdotool type --delay 60 admin; keys Return
  xdotool type --delay 60 1234
  shot 02-login-typed 0.5
  keys Return
  sleep 1.5
  main_origin
  shot 03-main-menu 0.5

  # A second copy on the same database is told and stops.
  "$work/talvesk" &
  shot 04-second-copy 2
  keys Return
  sleep 0.5

  click_title $x_system
  shot 05-menu-system 0.6
  keys Escape Escape

  # 讀入應收帳款資料(EXCEL): choose the workbook, import it, then look at its mapping window.
  click_title $x_readdisk
  shot 06-import-receivables 1.2
  keys Tab space
  shot 07-file-dialog 1.2
  choose_file "$book"
  keys Tab Tab space
  shot 08-import-receivables-done 2
  keys Return
  shot 09-import-receivables-counts 0.6
  # The focus is back in the path box: the mapping button is the fifth stop after it (after
  # 讀入檔案 and 預覽); the window shows the workbook's headings beside the letters.
  keys Tab Tab Tab Tab Tab space
  shot 10-mapping-receivables 1.2
  keys Escape
  sleep 0.4
  keys Escape
  sleep 0.4

  # 處理作業 → 讀入入帳明細(EXCEL) and its mapping window.
  menu_item $x_work 1
  shot 11-import-payments 1.2
  keys Tab Tab Tab space
  shot 12-mapping-payments 1.2
  keys Escape
  sleep 0.4
  keys Escape
  sleep 0.4

  # 處理作業 → 讀入入帳明細(TXT): open the bank file and read it.
  menu_item $x_work 2
  sleep 1.2
  keys space
  choose_file "$bank"
  shot 13-read-bank-chosen 0.5
  keys Tab space
  shot 14-read-bank-done 2
  keys Return
  shot 15-read-bank-counts 0.5
  keys Escape
  sleep 0.4

  # 處理作業 → 銷帳結果轉存EXCEL檔: nothing here opens workbooks, so its folder is offered.
  menu_item $x_work 3
  shot 16-export-results 7
  keys Escape
  sleep 0.6

  # 超商銷帳資料處理 → 讀入便利超商銷帳磁片, then its export.
  menu_item $x_store 1
  sleep 1.2
  keys space
  choose_file "$store"
  keys Tab space
  shot 17-read-store-done 2
  keys Return
  shot 18-read-store-counts 0.5
  # 預覽 of the file just read: every record is already stored as it stands (不變).
  keys Tab space
  shot 18-store-preview-again 3
  keys Escape
  sleep 0.4
  menu_item $x_store 2
  shot 19-export-store 7
  keys Escape
  sleep 0.6
  # The same export where the documents folder cannot be written: its number and description.
  mv "$HOME/Documents" "$HOME/Documents.kept"; touch "$HOME/Documents"
  menu_item $x_store 2
  shot 19-export-failed 1.5
  keys Return
  sleep 0.4
  rm "$HOME/Documents"; mv "$HOME/Documents.kept" "$HOME/Documents"
  shot 20-main-menu-status 0.3

  # 處理作業 → 銷帳結果另存新檔…: the save dialog offers the dated name; Escape leaves it.
  menu_item $x_work 4
  shot 20-save-as 1.5
  keys Escape
  sleep 0.4

  # 處理作業 → 帳款查詢: the whole list, its dates and amounts as a clerk reads them.
  menu_item $x_work 5
  shot 20-lookup 1.5
  keys Escape
  sleep 0.4

  # 系統作業 → 備份資料庫: Enter backs up to the first place offered (the Documents folder).
  menu_item $x_system 1
  shot 21-backup 1.2
  keys Return
  shot 22-backup-done 1.5
  keys Return
  shot 23-backup-slots 0.8
  # Enter again: slot 1 now holds that backup, so it asks, and Enter (No) keeps it.
  keys Return
  shot 23-backup-overwrite-question 1
  keys Return
  sleep 0.4
  keys Escape
  sleep 0.4

  # 系統作業 → 回復資料庫: slot 2 is empty; slot 1 asks, and Enter (No) keeps the database.
  menu_item $x_system 2
  shot 24-restore 1.2
  keys Tab Down Tab space
  shot 25-restore-empty-slot 1
  keys Return
  keys shift+Tab Up Tab space
  shot 26-restore-question 1
  keys Return
  sleep 0.4
  keys Escape
  sleep 0.4

  # 系統作業 → 應收帳款清檔作業: asked with the count, Enter (No) keeps the rows.
  menu_item $x_system 3
  shot 27-clear-receivables-question 1.2
  keys Return
  sleep 0.4

  # 系統作業 → 變更密碼
  menu_item $x_system 5
  shot 28-change-password 1.2
  keys alt+F4
  sleep 0.4

  # 系統作業 → 匯入記錄: every import with its file's name in a column of its own, and the line
  # above the buttons saying what undo would take back.
  menu_item $x_system 6
  shot 28-import-log 1.5
  keys Escape
  sleep 0.4

  # 結束: asked, and OK ends the program.
  click_title $x_exit
  shot 29-exit-question 1
  keys Return
  sleep 2
  kill "${program:-}" 2>/dev/null || true
  kill "${wm:-}" "${xvfb:-}" 2>/dev/null || true
  wait "${wm:-}" "${xvfb:-}" 2>/dev/null || true
  if [ "$server" = 1 ]; then bash "$root/scripts/postgres.sh" stop "$pgdir" || true; rm -rf "$pgdir"; fi
  rm -rf "$work"
}

run_day 1024x768 :77
run_day 800x600 :78

if [ "$readme" = 1 ]; then
  shots="$build/screenshots/1024x768"
  for name in 02-login-typed 05-menu-system 08-import-receivables-done 10-mapping-receivables 15-read-bank-counts \
              20-main-menu-status 23-backup-slots 26-restore-question; do
    cp "$shots/$name.png" "docs/screenshots/${name#[0-9][0-9]-}.png"
  done
  cp "$shots/20-lookup.png" docs/screenshots/lookup.png
  cp "$shots/28-import-log.png" docs/screenshots/import-log.png
  cp "$build/screenshots/800x600/03-main-menu.png" docs/screenshots/main-menu-800x600.png
fi
echo "screenshots in $build/screenshots/"
