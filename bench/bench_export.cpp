// Exporting 100,000 receivables to a new workbook.
#include "BenchData.h"

#include "db/TableExport.h"
#include "results/Results.h"

#include <QCoreApplication>
#include <QFile>

#include <benchmark/benchmark.h>

using namespace talvesk;
using bench::BenchData;

static void ExportResults100k(benchmark::State &state)
{
    auto &data = BenchData::instance();
    const auto app = data.freshApp(QStringLiteral("export-run"), data.filledDatabase());
    const QString out = data.path(QStringLiteral("results.xlsx"));
    for (auto _ : state) {
        state.PauseTiming();
        QFile::remove(out);
        state.ResumeTiming();
        if (db::exportTable(app, results::resultsLayout(), out).rows != bench::kRows)
            state.SkipWithError("not every row was exported");
    }
    state.counters["peak_MB"] = bench::peakMemoryMb();
}
BENCHMARK(ExportResults100k)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    BenchData::instance().filledDatabase();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
