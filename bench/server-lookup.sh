#!/usr/bin/env bash
# Times 帳款查詢's first page on the office's server holding a million receivables: a private
# server is started in a temporary folder (stopped at the end), a database in a Chinese locale as
# an office's server would have (zh_TW.UTF-8 where installed, else C.UTF-8), server-init, and a
# million receivables loaded by COPY (a third unpaid, a third paid in full, the rest in part,
# every fifteenth overpaid). Then bench_server_lookup times the window's first page for typical
# queries, medians of five, beside the floor (a bare connection fetching 200 rows). Also the
# cost of the lookup's indexes to a load: COPY of 100,000 rows with them and without them.
#   bash bench/server-lookup.sh              1,000,000 rows
#   bash bench/server-lookup.sh 200000       another size
set -euo pipefail
cd "$(dirname "$0")/.."
targets=bench_server_lookup
. bench/private-server.sh
rows=${1:-1000000}
locale=C.UTF-8
if locale -a 2>/dev/null | grep -qix 'zh_TW.utf8'; then locale=zh_TW.utf8; fi

# receivables N FILE: N receivables as COPY's text format (\N: no value), the columns of
# F_AccountData in order.
receivables() {
  awk -v n="$1" 'BEGIN {
    for (i = 1; i <= n; i++) {
      total = 1000 + (i * 37) % 90000
      if (i % 3 == 0) { date = "\\N"; paid = "\\N"; left = "\\N" }
      else {
        date = "1130105"
        paid = (i % 3 == 1) ? total : int(total / 2) + (i % 15 == 2 ? total : 0)
        left = total - paid
      }
      printf "客戶%d號\tC%07d\t114年度第%d期\t95120%011d\t%d\t%s\t%s\t%s\t\n", i, i, i % 12 + 1, i, total, date, paid, left
    }
  }' >"$2"
  chmod 644 "$2"
}
columns="UserName, UserNum, Memo, Bankcode, Total, PayDate, PayTotal, N_PayTotal, Spare"

# fresh NAME: a new database NAME made by server-init, and a folder $work/NAME naming it.
fresh() {
  psql "$server" -c "DROP DATABASE IF EXISTS $1" -c "CREATE DATABASE $1 TEMPLATE template0 ENCODING 'UTF8' LOCALE '$locale'"
  rm -rf "$work/$1" && mkdir -p "$work/$1/Env" "$work/$1/ldb"
  printf '[DATABASE]\r\nserver=%s\r\n' "${server/dbname=postgres/dbname=$1}" >"$work/$1/Env/Database.ini"
  "$batch" --app-dir "$work/$1" server-init >/dev/null
}
seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null
  end=$(date +%s.%N)
  echo "$end - $start" | bc
}
median() { sort -n | sed -n 2p; }
copy() { psql "${server/dbname=postgres/dbname=$1}" -c "\\copy F_AccountData ($columns) FROM '$2'"; }

# The lookup's indexes against a load of 100,000 rows: with them (as server-init leaves the
# database) and with them dropped.
receivables 100000 "$work/100k.tsv"
with=$(for i in 1 2 3; do fresh load; seconds copy load "$work/100k.tsv"; done | median)
without=$(for i in 1 2 3; do
  fresh load
  psql "${server/dbname=postgres/dbname=load}" -c "DROP INDEX F_AccountData_Bankcode_trigrams, F_AccountData_UserName_trigrams,
    F_AccountData_UserNum_trigrams, F_AccountData_status, F_AccountData_outstanding"
  seconds copy load "$work/100k.tsv"
done | median)

receivables "$rows" "$work/rows.tsv"
fresh bench
load=$(seconds copy bench "$work/rows.tsv")
# Settled as an office's server would be: vacuumed, counted, and the load's pages written out.
psql "${server/dbname=postgres/dbname=bench}" -c "VACUUM ANALYZE F_AccountData" -c "CHECKPOINT"

TALVESK_BENCH_APP="$work/bench" QT_QPA_PLATFORM=offscreen "$build/bench/bench_server_lookup" \
  --benchmark_repetitions=5 --benchmark_report_aggregates_only=true --benchmark_format=csv 2>/dev/null >"$work/bench.csv"

echo "database locale $locale; $rows receivables loaded by COPY in ${load}s"
printf '%-44s %9s %9s %7s\n' case ms floor_ms ratio
floor=$(awk -F, '$1 ~ /^"Floor.*_median"$/ { print $3 }' "$work/bench.csv")
awk -F, -v floor="$floor" '$1 ~ /_median"$/ {
  name = $1; gsub(/"|_median|\/manual_time|\/real_time|\/iterations:1|\/repeats:5/, "", name)
  printf "%-44s %9.1f %9.1f %6.1fx\n", name, $3, floor, $3 / floor
}' "$work/bench.csv"
printf '%-44s %9.2f %9.2f %6.2fx\n' "COPY 100,000 rows: with the lookup's indexes, without" "$with" "$without" "$(echo "$with / $without" | bc -l)"
