#!/usr/bin/env bash
# Starts the staged program in a virtual X display with a window manager and a CJK font, logs in
# as a clerk would (xdotool) and saves screenshots into docs/screenshots/. Needs xvfb, openbox,
# xdotool, imagemagick and fonts-noto-cjk. Usage: tools/screenshots.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
out=docs/screenshots
mkdir -p "$out"
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT

# A throw-away copy of the application folder, so the screenshots never touch the real data.
cp -r "$build/app/." "$work/"
rm -f "$work/Env/IdPass6.ini" "$work/ldb/Vellaroke.mdb"
"$build/talvesk-stage" "$work" src/core/db/schema.sql
"$work/talvesk-batch" --app-dir "$work" map-receivables A B C D E >/dev/null
"$work/talvesk-batch" --app-dir "$work" map-payments A "" C "" E "" >/dev/null
# A receivables workbook to import: the benchmark's generator is not built here, so write a CSV.
book="$work/receivables.csv"
{
  echo "客戶名稱,客戶編號,備註,虛擬帳號,應收金額"
  for i in $(seq 1 3000); do printf '客戶%d,C%06d,學費,95120%011d,%d\n' "$i" "$i" "$i" $((1000 + i)); done
} > "$book"
# A bank file for some of those accounts, with one record for an unknown account, and a store file.
bank="$work/bank.txt"
for i in $(seq 1 40); do
  printf '00012345678113010%dTWD %011d              95120%011d         \r\n' $((i % 9 + 1)) $((900 + i)) "$i"
done > "$bank"
printf '00012345678113010%dTWD %011d              %-25s\r\n' 5 100 99999999 >> "$bank"
store="$work/TFM0105.txt"
{
  printf '1HEADER\r\n'
  for i in $(seq 1 25); do
    printf '212345678AG01    S001    %-19s2024010520240104131231A12%020d010105%09d\r\n' STORE "$i" $((100 * i))
  done
  printf '3TRAILER\r\n'
} > "$store"

export DISPLAY=:77
Xvfb "$DISPLAY" -screen 0 1024x768x24 >/dev/null 2>&1 &
sleep 1
openbox >/dev/null 2>&1 &
sleep 1

shot() { sleep "${2:-1}"; import -window root "$out/$1.png"; }

"$work/talvesk" &
shot login 2
xdotool type --delay 60 admin
xdotool key Return
xdotool type --delay 60 1234
shot login-typed 0.5
xdotool key Return
shot main-menu 1.5
# Open 系統作業 by a click on its title in the menu bar.
# The main window is centred: 640 x 480 on this 1024 x 768 screen, menu bar just under the title.
xdotool mousemove 555 161 sleep 0.3 mousedown 1 sleep 0.1 mouseup 1
shot menu-open 1
xdotool key Escape
sleep 0.5

# 讀入應收帳款資料(EXCEL): choose the workbook in the file dialog, import, watch it finish.
xdotool mousemove 273 161 click 1
shot import-receivables 1.2
xdotool key Tab space
sleep 1.2
xdotool type --delay 20 "$book"
xdotool key Return
sleep 1
xdotool key Tab Tab space
shot import-receivables-done 2
xdotool key Return
sleep 0.3
xdotool key alt+F4
sleep 0.5

# The mapping window, from a fresh import window.
xdotool mousemove 273 161 click 1
sleep 1.2
xdotool key Tab Tab Tab space
shot mapping-receivables 1.2
xdotool key alt+F4
sleep 0.4
xdotool key alt+F4
sleep 0.4

# 處理作業 → 讀入入帳明細(EXCEL), and its mapping window.
xdotool mousemove 383 161 click 1
sleep 0.6
xdotool mousemove 420 184 click 1
shot import-payments 1.2
xdotool key Tab Tab Tab space
shot mapping-payments 1.2
xdotool key alt+F4
sleep 0.4
xdotool key alt+F4
sleep 0.4

# 處理作業 → 讀入入帳明細(TXT): open the bank file and read it.
xdotool mousemove 383 161 click 1
sleep 0.6
xdotool mousemove 420 206 click 1
sleep 1.2
xdotool key space
sleep 1.2
xdotool type --delay 20 "$bank"
xdotool key Return
sleep 0.8
xdotool key Tab space
shot read-bank-done 2
xdotool key Return
shot read-bank-counts 0.5
xdotool key alt+F4
sleep 0.4

# 超商銷帳資料處理 → 讀入便利超商銷帳磁片
xdotool mousemove 469 161 click 1
sleep 0.6
xdotool mousemove 510 184 click 1
sleep 1.2
xdotool key space
sleep 1.2
xdotool type --delay 20 "$store"
xdotool key Return
sleep 0.8
xdotool key Tab space
shot read-store-done 2
xdotool key Return
shot read-store-counts 0.5
xdotool key alt+F4
sleep 0.4

# 系統作業 → 備份資料庫 and 回復資料庫 (the drive list shows this machine's mounted volumes).
xdotool mousemove 555 161 click 1
sleep 0.6
xdotool mousemove 590 184 click 1
shot backup 1.2
xdotool key Escape
sleep 0.4
xdotool mousemove 555 161 click 1
sleep 0.6
xdotool mousemove 590 206 click 1
shot restore 1.2
xdotool key Escape
