#!/usr/bin/env bash
# Times talvesk-batch itself on 100,000 and 1,000,000 rows, beside sqlite3's .import of the same
# rows (the floor): the receivables workbook into an empty database, the same rows as a .csv, the
# bank file against as many receivables, and the bank file against none (every record reported in
# ErrLog.txt). The bank file is also shown beside sqlite3 applying the same payments with one
# UPDATE ... FROM. Peak memory is the import process's own (/usr/bin/time). Medians of three runs.
#   bash bench/million.sh                 both sizes
#   bash bench/million.sh 1000000         one size
#   BATCH=/path/to/talvesk-batch bash bench/million.sh    another build's batch tool, same floors
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD:-build-bench}
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTALVESK_BENCH=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target talvesk-batch make_bench_rows >/dev/null
batch=${BATCH:-$build/app/talvesk-batch}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Runs a command once; prints its seconds and peak resident megabytes.
measure() {
  if ! /usr/bin/time -f '%e %M' -o "$work/time" "$@" >"$work/out" 2>"$work/err"; then
    cat "$work/out" "$work/err" >&2
    exit 1
  fi
  read -r seconds kb <"$work/time"
  echo "$seconds $((kb / 1024))"
}
# The median of three "seconds MB" lines, by seconds; the largest peak of the three.
summary() {
  local lines
  lines=$(cat)
  echo "$(echo "$lines" | sort -n | sed -n 2p | cut -d' ' -f1) $(echo "$lines" | cut -d' ' -f2 | sort -n | tail -1)"
}

printf '%-9s %-34s %9s %8s %9s %7s\n' rows case seconds peak_MB floor_s ratio
for rows in ${@:-100000 1000000}; do
  d=$work/$rows
  "$build/bench/make_bench_rows" "$rows" "$d"

  receivables=$(for i in 1 2 3; do
    rm -rf "$d/run" && cp -r "$d/app" "$d/run"
    measure "$batch" --app-dir "$d/run" import-receivables "$d/receivables.xlsx" --sheet Sheet1
  done | summary)
  # The same rows as a .csv under a heading row, as a clerk saves them from a spreadsheet.
  { printf '客戶名稱,客戶編號,備註,虛擬帳號,應收金額\r\n'; cat "$d/receivables.csv"; } >"$d/import.csv"
  receivablesCsv=$(for i in 1 2 3; do
    rm -rf "$d/run" && cp -r "$d/app" "$d/run"
    measure "$batch" --app-dir "$d/run" import-receivables "$d/import.csv" --sheet import
  done | summary)
  receivablesFloor=$(for i in 1 2 3; do
    rm -f "$d/floor.db"
    measure sqlite3 "$d/floor.db" "CREATE TABLE F(UserName TEXT, UserNum TEXT, Memo TEXT, Bankcode TEXT, Total TEXT);" \
      "CREATE INDEX F_Bankcode ON F(Bankcode);" ".mode csv" ".import '$d/receivables.csv' F"
  done | summary)

  rm -rf "$d/filled" && cp -r "$d/app" "$d/filled"
  "$batch" --app-dir "$d/filled" import-receivables "$d/receivables.xlsx" --sheet Sheet1 >/dev/null 2>&1
  bank=$(for i in 1 2 3; do
    rm -rf "$d/run" && cp -r "$d/filled" "$d/run"
    measure "$batch" --app-dir "$d/run" import-bank "$d/bank.txt"
  done | summary)
  unknown=$(for i in 1 2 3; do
    rm -rf "$d/run" && cp -r "$d/app" "$d/run"
    measure "$batch" --app-dir "$d/run" import-bank "$d/bank.txt"
  done | summary)
  bankFloor=$(for i in 1 2 3; do
    rm -f "$d/floor-bank.db"
    measure sqlite3 "$d/floor-bank.db" "CREATE TABLE P(PayDate TEXT, PayTotal TEXT, Bankcode TEXT);" \
      "CREATE INDEX P_Bankcode ON P(Bankcode);" ".mode csv" ".import '$d/bank.csv' P"
  done | summary)

  # For context beside the floor: sqlite3 itself applying the same payments to the same
  # receivables, in one UPDATE ... FROM over the imported rows.
  applyFloor=$(for i in 1 2 3; do
    rm -f "$d/apply.db" && cp "$d/filled/ldb/Vellaroke.mdb" "$d/apply.db"
    measure sqlite3 "$d/apply.db" "CREATE TEMP TABLE P(PayDate TEXT, PayTotal TEXT, Bankcode TEXT);" ".mode csv" \
      ".import '$d/bank.csv' P" \
      "UPDATE F_AccountData SET PayDate = P.PayDate, PayTotal = P.PayTotal, N_PayTotal = F_AccountData.Total - P.PayTotal FROM P WHERE F_AccountData.Bankcode = P.Bankcode;"
  done | summary)

  for line in "receivables workbook, empty db|$receivables|$receivablesFloor" \
    "receivables .csv, empty db|$receivablesCsv|$receivablesFloor" "bank file vs as many receivables|$bank|$bankFloor" \
    "  same, beside sqlite3 UPDATE...FROM|$bank|$applyFloor" "bank file, no receivables (ErrLog)|$unknown|$bankFloor"; do
    IFS='|' read -r name run floor <<<"$line"
    read -r s mb <<<"$run"
    read -r fs _ <<<"$floor"
    printf '%-9s %-34s %9s %8s %9s %7s\n' "$rows" "$name" "$s" "$mb" "$fs" "$(echo "scale=2; $s / $fs" | bc)"
  done
  rm -rf "$d"
done
