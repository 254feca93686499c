// The main window's overview over 1,000,000 receivables: the figures read in parts side by side
// (one per core, up to four), beside a plain count-and-sum scan of the same columns in one pass
// (the floor). The figures must be on the screen
// within 0.3 s of a command's end.
// The same rows on the office's server, when $TALVESK_BENCH_POSTGRES names one (a libpq connection
// string of a database the benchmark may create another beside): the figures the server adds up,
// beside the server's own count-and-sum of the same columns.
#include "BenchData.h"

#include "db/Connection.h"
#include "overview/Overview.h"
#include "platform/Files.h"
#include "platform/Postgres.h"
#include "server/ServerSchema.h"
#include "shell/OverviewPanel.h"

#include <QDir>

#include <optional>

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

// The same million receivables in a database of their own on the server; nullopt when no server
// is named.
const std::optional<platform::AppFolder> &millionOnServer()
{
    static const std::optional<platform::AppFolder> app = []() -> std::optional<platform::AppFolder> {
        const QString server = qEnvironmentVariable("TALVESK_BENCH_POSTGRES");
        if (server.isEmpty())
            return std::nullopt;
        {
            platform::pg::Connection maintenance(server);
            maintenance.execute("DROP DATABASE IF EXISTS talvesk_bench_overview");
            maintenance.execute("CREATE DATABASE talvesk_bench_overview");
        }
        const QString connection = server + QStringLiteral(" dbname=talvesk_bench_overview");
        platform::pg::Connection db(connection);
        server::createTables(db);
        db.execute("INSERT INTO F_AccountData (UserName, UserNum, Memo, Bankcode, Total, PayDate, PayTotal, N_PayTotal, Spare) "
                   "SELECT '客戶' || i || '號', 'C' || lpad(i::text, 7, '0'), '114年度', '95001' || lpad(i::text, 11, '0'), "
                   "  total::text, CASE WHEN i % 3 = 0 THEN '' ELSE '1131' || lpad((101 + (i / 17) % 60)::text, 3, '0') END, "
                   "  CASE WHEN i % 3 = 0 THEN '' ELSE paid::text END, CASE WHEN i % 3 = 0 THEN '' ELSE (total - paid)::text END, '' "
                   "FROM (SELECT i, 1000 + (i * 37) % 90000 AS total, CASE i % 3 WHEN 0 THEN 0 WHEN 1 THEN 1000 + (i * 37) % 90000 "
                   "  ELSE (1000 + (i * 37) % 90000) / 2 + CASE WHEN i % 15 = 2 THEN 1000 + (i * 37) % 90000 ELSE 0 END END AS paid "
                   "  FROM generate_series(1, 1000000) AS i) AS r");
        db.execute("INSERT INTO SMdata (REC, C_NUM, R_NUM, R_M_NUM, TR_DATE, PAY_DATE, BARCODE1, BARCODE2, BARCODE3, P_TOTAL) "
                   "SELECT '2', 'C', 'R', 'M', '1131201', '1131130', 'B1', 'B2' || i, 'B3', (100 + i % 900)::text "
                   "FROM generate_series(1, 50000) AS i");
        db.execute("VACUUM ANALYZE");
        platform::AppFolder made = BenchData::instance().freshApp(QStringLiteral("overview-server"));
        QDir().mkpath(made.root() + QStringLiteral("/Env"));
        platform::writeFileAtomically(server::settingsFile(made),
                                      QStringLiteral("[DATABASE]\r\nserver=%1\r\n").arg(connection).toUtf8());
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
void onScreen(benchmark::State &state, const platform::AppFolder &app)
{
    shell::OverviewPanel panel(app);
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

void OverviewOnScreen1M(benchmark::State &state)
{
    onScreen(state, millionApp());
}
BENCHMARK(OverviewOnScreen1M)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

void OverviewFiguresOnServer1M(benchmark::State &state)
{
    if (!millionOnServer()) {
        state.SkipWithError("no server: set TALVESK_BENCH_POSTGRES");
        return;
    }
    for (auto _ : state) {
        const overview::Figures figures = overview::readFigures(*millionOnServer());
        if (figures.receivables() != kMillion || figures.byDate.size() != std::size_t(overview::kCreditDates))
            state.SkipWithError("wrong figures");
        benchmark::DoNotOptimize(figures.outstanding());
    }
}
BENCHMARK(OverviewFiguresOnServer1M)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// The floor on the server: its own one pass counting and summing the same columns.
void FloorCountAndSumOnServer1M(benchmark::State &state)
{
    if (!millionOnServer()) {
        state.SkipWithError("no server: set TALVESK_BENCH_POSTGRES");
        return;
    }
    platform::pg::Connection db(qEnvironmentVariable("TALVESK_BENCH_POSTGRES")
                                + QStringLiteral(" dbname=talvesk_bench_overview"));
    for (auto _ : state) {
        const platform::pg::Result sums =
            db.execute("SELECT count(*), sum(length(PayDate)), sum(CAST(Total AS numeric)), "
                       "sum(CAST(NULLIF(PayTotal, '') AS numeric)) FROM F_AccountData");
        if (sums.integer(0, 0) != kMillion)
            state.SkipWithError("wrong count");
    }
}
BENCHMARK(FloorCountAndSumOnServer1M)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// The same with one amount that is not a whole number ("1,500"): every amount is then tested on
// the server, and the other texts read here.
void OverviewFiguresOnServerWithText1M(benchmark::State &state)
{
    if (!millionOnServer()) {
        state.SkipWithError("no server: set TALVESK_BENCH_POSTGRES");
        return;
    }
    platform::pg::Connection db(qEnvironmentVariable("TALVESK_BENCH_POSTGRES")
                                + QStringLiteral(" dbname=talvesk_bench_overview"));
    db.execute("UPDATE F_AccountData SET Total = '1,000' WHERE rid = 1");
    for (auto _ : state) {
        const overview::Figures figures = overview::readFigures(*millionOnServer());
        if (figures.receivables() != kMillion || figures.byDate.size() != std::size_t(overview::kCreditDates))
            state.SkipWithError("wrong figures");
        benchmark::DoNotOptimize(figures.outstanding());
    }
    db.execute("UPDATE F_AccountData SET Total = '1037' WHERE rid = 1");
}
BENCHMARK(OverviewFiguresOnServerWithText1M)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void OverviewOnScreenOnServer1M(benchmark::State &state)
{
    if (!millionOnServer()) {
        state.SkipWithError("no server: set TALVESK_BENCH_POSTGRES");
        return;
    }
    onScreen(state, *millionOnServer());
}
BENCHMARK(OverviewOnScreenOnServer1M)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

} // namespace
