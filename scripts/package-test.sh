#!/usr/bin/env bash
# The package as a desk meets it: builds it (scripts/package.sh), installs it with apt-get, and as
# a new unprivileged user starts the windows program on a virtual X server (its first start makes
# ~/.local/share/talvesk; its login window must show), then imports a receivables workbook with
# the batch tool, finds the rows and undoes the import. Last it removes the package: none of its
# files may stay, and the user's data must. Needs root (CI runs as root).
#   SCREENSHOT=FILE.png  also keeps a picture of the login window
set -euo pipefail
cd "$(dirname "$0")/.."
[ "$(id -u)" -eq 0 ] || { echo "package-test.sh: run as root (it installs the package)" >&2; exit 2; }

bash scripts/package.sh
deb=$(ls build-package/talvesk_*.deb)
echo "== apt-get install ./$deb"
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "./$deb" >/dev/null
dpkg -s talvesk | grep -E '^(Version|Depends|Recommends):'

user=talvesk-check
id -u "$user" >/dev/null 2>&1 || useradd --create-home --shell /bin/sh "$user"
home=$(getent passwd "$user" | cut -d: -f6)
data="$home/.local/share/talvesk"
rm -rf "$data" # a first start every run
work=$(mktemp -d)
chown "$user" "$work"
trap 'rm -rf "$work"' EXIT
# As the user, with nothing of root's environment but the language.
as_user() { runuser -u "$user" -- env -i HOME="$home" PATH=/usr/bin:/bin LANG=C.UTF-8 "$@"; }
fail() { echo "package-test: $*" >&2; exit 1; }

echo "== the windows program's first start, under Xvfb as $user"
cat >"$work/login.sh" <<'SH'
#!/bin/sh
# login.sh OUT [ARGS]: starts talvesk ARGS, waits up to 20 s for its login window, keeps its
# picture as OUT/login.png, ends it.
out=$1
shift
talvesk "$@" 2>"$out/talvesk.err" &
pid=$!
window=
for _ in $(seq 100); do
  window=$(xdotool search --onlyvisible --name 'Talvesk' 2>/dev/null | head -n 1) && [ -n "$window" ] && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.2
done
[ -n "$window" ] && { echo "window: $(xdotool getwindowname "$window")"; sleep 1; import -window root "$out/login.png" 2>/dev/null || true; }
kill "$pid" 2>/dev/null
wait "$pid" 2>/dev/null
[ -n "$window" ]
SH
chmod 755 "$work/login.sh"
as_user xvfb-run -a -s '-screen 0 1024x768x24' "$work/login.sh" "$work" >"$work/login.out" \
  || { cat "$work/login.out" "$work/talvesk.err" >&2; fail "the login window did not show"; }
cat "$work/login.out"
grep -qx 'window: Talvesk虛擬帳號資料處理(Version 1.0)' "$work/login.out" || fail "the window shown is not the login"
if [ -n "${SCREENSHOT:-}" ] && [ -f "$work/login.png" ]; then cp "$work/login.png" "$SCREENSHOT"; fi
echo "files made by the first start:"
(cd "$data" && find . -printf '%M %u %6s %p\n' | sort -k4)
[ -s "$data/ldb/Vellaroke.mdb" ] && [ -s "$data/Env/IdPass6.ini" ] || fail "the first start made no database or credential file"
[ "$(stat -c %U "$data/ldb/Vellaroke.mdb")" = "$user" ] || fail "the database is not the user's"

echo "== a portable folder made with the installed talvesk-stage, named with --app-dir"
as_user /usr/lib/talvesk/talvesk-stage "$work/portable" /usr/share/talvesk/schema.sql
as_user xvfb-run -a -s '-screen 0 1024x768x24' "$work/login.sh" "$work" --app-dir "$work/portable" >"$work/login.out" \
  || { cat "$work/login.out" "$work/talvesk.err" >&2; fail "the login window did not show for --app-dir"; }
[ -e "$work/portable/ldb/Vellaroke.mdb.lock" ] || fail "talvesk --app-dir did not work in the folder named"
echo "talvesk --app-dir $work/portable: login shown, database locked there"

echo "== the batch tool's own first start, in \$XDG_DATA_HOME"
as_user env XDG_DATA_HOME="$home/elsewhere" talvesk-batch find >/dev/null 2>"$work/batch-first.err"
cat "$work/batch-first.err"
[ -s "$home/elsewhere/talvesk/ldb/Vellaroke.mdb" ] || fail "the batch tool did not make its folder in \$XDG_DATA_HOME"
rm -rf "$home/elsewhere"

echo "== the batch tool as $user: import, find, undo"
printf '客戶名稱,客戶編號,備註,虛擬帳號,應收金額\r\n王小明,C001,一月,95012345678901,1500\r\n陳大文,C002,一月,95012345678902,2300\r\n' >"$work/receivables.csv"
chmod 644 "$work/receivables.csv"
as_user talvesk-batch map-receivables A B C D E
imported=$(as_user talvesk-batch import-receivables "$work/receivables.csv")
echo "$imported"
found=$(as_user talvesk-batch find 950123456789)
echo "$found"
[ "$(printf '%s\n' "$found" | grep -c '9501234567890[12]')" -eq 2 ] || fail "find did not give the two imported receivables"
undone=$(as_user talvesk-batch undo)
echo "$undone"
case "$undone" in "undo: "*" import-receivables "*) ;; *) fail "undo took back no import" ;; esac
[ -z "$(as_user talvesk-batch find 950123456789)" ] || fail "the undone receivables are still found"
# The report is made by the installed talvesk-report beside the batch tool.
reported=$(as_user talvesk-batch report "$home/day.pdf")
echo "$reported"
case "$reported" in "report: "*" pages to $home/day.pdf") ;; *) fail "the installed batch tool made no report" ;; esac

echo "== apt-get remove talvesk"
DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq talvesk >/dev/null
left=$(dpkg -L talvesk 2>/dev/null || true)
echo "dpkg -L talvesk: ${left:-(nothing)}"
[ -z "$left" ] || fail "files of the removed package are listed"
for path in /usr/lib/talvesk /usr/bin/talvesk /usr/bin/talvesk-batch /usr/share/applications/talvesk.desktop; do
  [ ! -e "$path" ] && [ ! -L "$path" ] || fail "$path is still there"
done
[ -s "$data/ldb/Vellaroke.mdb" ] && [ -s "$data/Env/IdPass6.ini" ] || fail "the user's data went with the package"
echo "kept: $(cd "$data" && find . -type f | sort | tr '\n' ' ')"
echo "package-test: the package installs, runs for a new user and goes cleanly"
