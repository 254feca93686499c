// The workbook imports on 100,000 rows, beside the floor: sqlite3's own .import of the same rows
// from a CSV file into an indexed table.
#include "BenchData.h"
#include "Floor.h"

#include "payments/PaymentsImport.h"
#include "workbook/Workbook.h"
#include "receivables/ReceivablesImport.h"

#include <QCoreApplication>
#include <QFile>

#include <benchmark/benchmark.h>

using namespace talvesk;
using bench::BenchData;

static void ReadWorkbook100k(benchmark::State &state)
{
    const QString path = BenchData::instance().receivablesBook();
    const QString columns[] = {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C"), QStringLiteral("D"), QStringLiteral("E")};
    for (auto _ : state) {
        auto book = workbook::Workbook::open(path);
        auto sheet = book->worksheet(QStringLiteral("Sheet1"));
        const qint64 rows = sheet->lastUsedRow();
        qint64 chars = 0;
        for (qint64 r = sheet->nextUsedRow(2); r > 0 && r <= rows; r = sheet->nextUsedRow(r + 1)) {
            for (const QString &c : columns)
                chars += workbook::cellText(*sheet, r, c).size();
        }
        benchmark::DoNotOptimize(chars);
    }
    state.counters["peak_MB"] = bench::peakMemoryMb();
}
BENCHMARK(ReadWorkbook100k)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

static void ImportReceivablesIntoEmpty100k(benchmark::State &state)
{
    auto &data = BenchData::instance();
    for (auto _ : state) {
        state.PauseTiming();
        const auto app = data.freshApp(QStringLiteral("empty-run"));
        state.ResumeTiming();
        const auto counts = receivables::ReceivablesImport(app).run(data.receivablesBook(), QStringLiteral("Sheet1"), {});
        if (counts.written != bench::kRows)
            state.SkipWithError("not every row was written");
    }
    state.counters["peak_MB"] = bench::peakMemoryMb();
}
BENCHMARK(ImportReceivablesIntoEmpty100k)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

static void ImportReceivablesAgain100k(benchmark::State &state)
{
    auto &data = BenchData::instance();
    const QString filled = data.filledDatabase();
    for (auto _ : state) {
        state.PauseTiming();
        const auto app = data.freshApp(QStringLiteral("again-run"), filled);
        state.ResumeTiming();
        receivables::ReceivablesImport(app).run(data.receivablesBook(), QStringLiteral("Sheet1"), {});
    }
    state.counters["peak_MB"] = bench::peakMemoryMb();
}
BENCHMARK(ImportReceivablesAgain100k)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

static void ImportPayments100k(benchmark::State &state)
{
    auto &data = BenchData::instance();
    const QString filled = data.filledDatabase();
    for (auto _ : state) {
        state.PauseTiming();
        const auto app = data.freshApp(QStringLiteral("payments-run"), filled);
        state.ResumeTiming();
        const auto counts = payments::PaymentsImport(app).run(data.paymentsBook(), QStringLiteral("Sheet1"), {});
        if (counts.written != bench::kRows * 9 / 10)
            state.SkipWithError("unexpected count of matched payments");
    }
    state.counters["peak_MB"] = bench::peakMemoryMb();
}
BENCHMARK(ImportPayments100k)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// The floor: the sqlite3 shell loading the same 100,000 rows from CSV into an indexed table.
static void SqliteImportFloor100k(benchmark::State &state)
{
    auto &data = BenchData::instance();
    bench::sqliteFloor(state, data.path(QStringLiteral("floor.db")),
                       "CREATE TABLE F(UserName TEXT, UserNum TEXT, Memo TEXT, Bankcode TEXT, Total TEXT);\n"
                       "CREATE INDEX F_Bankcode ON F(Bankcode);\n.mode csv\n.import '"
                           + QFile::encodeName(data.receivablesCsv()) + "' F\n");
}
BENCHMARK(SqliteImportFloor100k)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    BenchData::instance(); // make the data before anything is timed
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
