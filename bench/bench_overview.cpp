// The main window's overview over 1,000,000 receivables: the figures read in parts side by side
// (one per core, up to four), beside a plain count-and-sum scan of the same columns in one pass
// (the floor). The figures must be on the screen
// within 0.3 s of a command's end.
#include "BenchData.h"

#include "db/Connection.h"
#include "overview/Overview.h"
#include "shell/OverviewPanel.h"

#include <QApplication>
#include <QElapsedTimer>

#include <benchmark/benchmark.h>

using namespace talvesk;
using bench::BenchData;

namespace {

constexpr int kMillion = 1000000;

// A million receivables as the imports leave them: a third unpaid, a third paid in full, the rest
// paid in part, every fifteenth overpaid; the payments spread over 60 dates; 50,000 store records.
const platform::AppFolder &millionApp()
{
    static const platform::AppFolder app = [] {
        auto made = BenchData::instance().freshApp(QStringLiteral("overview"));
        platform::Database db = db::openDatabase(made);
        db.execute("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1000000), "
                   "r(i, total, paid) AS (SELECT i, 1000 + (i * 37) % 90000, "
                   "  CASE i % 3 WHEN 0 THEN 0 WHEN 1 THEN 1000 + (i * 37) % 90000 "
                   "  ELSE (1000 + (i * 37) % 90000) / 2 + CASE WHEN i % 15 = 2 THEN 1000 + (i * 37) % 90000 ELSE 0 END END FROM n) "
                   "INSERT INTO F_AccountData SELECT '客戶' || i || '號', printf('C%07d', i), '114年度', printf('95001%011d', i), "
                   "  CAST(total AS TEXT), CASE WHEN i % 3 = 0 THEN '' ELSE printf('1131%03d', 101 + (i / 17) % 60) END, "
                   "  CASE WHEN i % 3 = 0 THEN '' ELSE CAST(paid AS TEXT) END, "
                   "  CASE WHEN i % 3 = 0 THEN '' ELSE CAST(total - paid AS TEXT) END, '' FROM r");
        db.execute("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 50000) "
                   "INSERT INTO SMdata SELECT '2', 'C', 'R', 'M', '1131201', '1131130', 'B1', 'B2' || i, 'B3', "
                   "CAST(100 + i % 900 AS TEXT) FROM n");
        return made;
    }();
    return app;
}

void OverviewFigures1M(benchmark::State &state)
{
    millionApp();
    for (auto _ : state) {
        const overview::Figures figures = overview::readFigures(millionApp());
        if (figures.receivables() != kMillion || figures.byDate.size() != std::size_t(overview::kCreditDates))
            state.SkipWithError("wrong figures");
        benchmark::DoNotOptimize(figures.outstanding());
    }
}
BENCHMARK(OverviewFigures1M)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// The floor: the engine alone reading the same columns once, counting and summing them.
void FloorCountAndSum1M(benchmark::State &state)
{
    millionApp();
    for (auto _ : state) {
        platform::Database db = platform::Database::open(millionApp().databaseFile(), platform::Database::ReadOnly);
        platform::Statement sums = db.prepare(
            "SELECT count(*), sum(length(PayDate)), sum(CAST(Total AS REAL)), sum(CAST(PayTotal AS REAL)) FROM F_AccountData");
        if (!sums.next() || sums.integer(0) != kMillion)
            state.SkipWithError("wrong count");
    }
}
BENCHMARK(FloorCountAndSum1M)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// From the end of a command (the main window asks for a refresh) to the new figures painted in the
// main window's overview: reading on the thread, handing over, filling and painting.
void OverviewOnScreen1M(benchmark::State &state)
{
    millionApp();
    shell::OverviewPanel panel(millionApp());
    panel.resize(800, 500);
    panel.show();
    bool shown = false;
    QObject::connect(&panel, &shell::OverviewPanel::figuresShown, [&] { shown = true; });
    while (panel.reading())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        shown = false;
        panel.refresh();
        while (!shown)
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        panel.repaint();
        state.SetIterationTime(static_cast<double>(timer.nsecsElapsed()) / 1e9);
        if (!panel.figures() || panel.figures()->receivables() != kMillion)
            state.SkipWithError("wrong figures");
    }
}
BENCHMARK(OverviewOnScreen1M)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

} // namespace
