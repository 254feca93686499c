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
rm -f "$work/Env/IdPass6.ini"
"$build/talvesk-stage" "$work" src/db/schema.sql

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
