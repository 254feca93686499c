#!/usr/bin/env bash
# Times talvesk-batch's receivables import into the office's server over its Unix socket, beside
# the server's own COPY of the same rows into the same table (the floor), each into a database
# server-init has just made (in a UTF-8 locale, as an office's would be). A private server is
# started in a temporary folder and stopped at the end. Medians of three runs.
#   bash bench/server.sh              100,000 rows
#   bash bench/server.sh 20000        another size
set -euo pipefail
cd "$(dirname "$0")/.."
targets=make_bench_rows
. bench/private-server.sh
rows=${1:-100000}

"$build/bench/make_bench_rows" "$rows" "$work/d" >/dev/null
{ printf '客戶名稱,客戶編號,備註,虛擬帳號,應收金額\r\n'; cat "$work/d/receivables.csv"; } >"$work/import.csv"
chmod 644 "$work/d/receivables.csv"

# A new database with the program's tables, named by the desk's Env/Database.ini.
fresh() {
  psql "$server" -c "DROP DATABASE IF EXISTS bench" -c "CREATE DATABASE bench TEMPLATE template0 LOCALE 'C.UTF-8'"
  rm -rf "$work/run" && cp -r "$work/d/app" "$work/run" && mkdir -p "$work/run/Env"
  printf '[DATABASE]\r\nserver=%s\r\n' "${server/dbname=postgres/dbname=bench}" >"$work/run/Env/Database.ini"
  "$batch" --app-dir "$work/run" server-init >/dev/null
  "$batch" --app-dir "$work/run" map-receivables A B C D E >/dev/null
}
seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" >"$work/out" 2>"$work/err" || { cat "$work/out" "$work/err" >&2; exit 1; }
  end=$(date +%s.%N)
  echo "$end - $start" | bc
}
median() { sort -n | sed -n 2p; }

import=$(for i in 1 2 3; do
  fresh
  seconds "$batch" --app-dir "$work/run" import-receivables "$work/import.csv" --sheet import
done | median)
floor=$(for i in 1 2 3; do
  fresh
  seconds psql "${server/dbname=postgres/dbname=bench}" \
    -c "\\copy F_AccountData (UserName, UserNum, Memo, Bankcode, Total) FROM '$work/d/receivables.csv' CSV"
done | median)
printf '%-9s %-34s %9s %9s %7s\n' rows case seconds floor_s ratio
printf '%-9s %-34s %9.2f %9.2f %6.2fx\n' "$rows" "receivables .csv into the server" "$import" "$floor" "$(echo "$import / $floor" | bc -l)"
