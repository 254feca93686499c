// The lookup over 1,000,000 receivables: talvesk-batch find by a name fragment and by a status,
// and the 帳款查詢 window's first page (it must be shown within 0.2 s; for a fragment few hold,
// within 0.1 s through the lookup's index, its totals within a second), each without the index
// (the whole table read) and with it; and making the index. Also the import windows' preview of
// a 100,000-row workbook (it must be shown within a second).
#include "BenchData.h"

#include "db/Connection.h"
#include "receivables/ReceivablesImport.h"
#include "results/Lookup.h"
#include "results/LookupIndex.h"
#include "platform/Files.h"
#include "results/LookupWindow.h"
#include "support/FakeDesktop.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>

#include <benchmark/benchmark.h>

using namespace talvesk;
using bench::BenchData;

namespace {

constexpr int kMillion = 1000000;

// A million receivables as the imports leave them: a third unpaid, a third paid in full, the rest
// paid in part, every fifteenth overpaid.
const platform::AppFolder &millionApp()
{
    static const platform::AppFolder app = [] {
        auto made = BenchData::instance().freshApp(QStringLiteral("million"));
        platform::Database db = db::openDatabase(made);
        platform::Transaction t(db);
        auto insert = db.prepare("INSERT INTO F_AccountData VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, '')");
        for (int i = 1; i <= kMillion; ++i) {
            const int total = 1000 + (i * 37) % 90000;
            const int paid = i % 3 == 0 ? 0 : i % 3 == 1 ? total : total / 2 + (i % 15 == 2 ? total : 0);
            insert.bind(1, QStringLiteral("客戶%1號").arg(i))
                .bind(2, QStringLiteral("C%1").arg(i, 7, 10, QChar(u'0')))
                .bind(3, QStringLiteral("114年度第%1期").arg(i % 12 + 1))
                .bind(4, QString::fromStdString(bench::account(i)))
                .bind(5, QString::number(total));
            if (i % 3 != 0)
                insert.bind(6, QStringLiteral("1130105")).bind(7, QString::number(paid)).bind(8, QString::number(total - paid));
            insert.run();
            insert.reset();
        }
        t.commit();
        return made;
    }();
    return app;
}

// The lookup reading the whole table, or through a current index.
void withoutIndex()
{
    platform::removeFileIfExists(millionApp().lookupIndexFile());
}
void indexOrNot(benchmark::State &state, bool indexed)
{
    if (!indexed)
        withoutIndex();
    else if (!results::lookupindex::refresh(millionApp()))
        state.SkipWithError("no index made");
}

// As `talvesk-batch find` does it: every match formatted as its line.
qint64 find(const results::LookupQuery &query)
{
    results::Lookup lookup(millionApp(), query);
    qint64 lines = 0, characters = 0;
    lookup.forEach([&](const results::FoundReceivable &found) {
        characters += results::lookupLine(found).size();
        ++lines;
    });
    benchmark::DoNotOptimize(characters);
    return lines;
}

void FindNameFragment1M(benchmark::State &state, bool indexed)
{
    indexOrNot(state, indexed);
    for (auto _ : state) {
        // 客戶12345號 and 客戶123450號 to 客戶123459號
        if (find({QStringLiteral("客戶12345"), results::Status::Any}) != 11)
            state.SkipWithError("wrong matches");
    }
}
BENCHMARK_CAPTURE(FindNameFragment1M, table, false)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK_CAPTURE(FindNameFragment1M, indexed, true)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// The totals line of a fragment few hold (the window counts it on a thread after the first page).
void LookupTotalsRareName1M(benchmark::State &state, bool indexed)
{
    indexOrNot(state, indexed);
    for (auto _ : state) {
        if (results::Lookup(millionApp(), {QStringLiteral("客戶99999"), results::Status::Any}).totals().count != 11)
            state.SkipWithError("wrong count");
    }
}
BENCHMARK_CAPTURE(LookupTotalsRareName1M, table, false)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK_CAPTURE(LookupTotalsRareName1M, indexed, true)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// Making the index of a million receivables from nothing, as the main window does after a change.
void LookupIndexMade1M(benchmark::State &state)
{
    millionApp();
    for (auto _ : state) {
        withoutIndex();
        if (!results::lookupindex::refresh(millionApp()))
            state.SkipWithError("no index made");
    }
}
BENCHMARK(LookupIndexMade1M)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void FindStatusPartial1M(benchmark::State &state)
{
    millionApp();
    qint64 lines = 0;
    for (auto _ : state)
        lines = find({QString(), results::Status::Partial});
    state.counters["matches"] = static_cast<double>(lines);
}
BENCHMARK(FindStatusPartial1M)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// From opening the window to its first page painted; the totals go on counting on their thread.
void firstPage(benchmark::State &state, const QString &text)
{
    millionApp();
    test::FakeDesktop desktop;
    for (auto _ : state) {
        QElapsedTimer shown;
        shown.start();
        results::LookupWindow window(millionApp(), desktop);
        if (!text.isEmpty()) {
            window.findChild<QLineEdit *>(QStringLiteral("txtSearch"))->setText(text);
            window.refresh();
        }
        window.show();
        QApplication::processEvents();
        // Stopping the totals' count when the window goes is not part of showing the page.
        state.SetIterationTime(static_cast<double>(shown.nsecsElapsed()) / 1e9);
        if (window.model().rowCount() == 0)
            state.SkipWithError("nothing shown");
    }
}

void LookupWindowFirstPage1M(benchmark::State &state)
{
    withoutIndex();
    firstPage(state, QString());
}
BENCHMARK(LookupWindowFirstPage1M)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

// A fragment only a few receivables hold: the first page is the whole table's scan.
void LookupWindowRareName1M(benchmark::State &state, bool indexed)
{
    indexOrNot(state, indexed);
    firstPage(state, QStringLiteral("客戶99999"));
}
BENCHMARK_CAPTURE(LookupWindowRareName1M, table, false)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);
BENCHMARK_CAPTURE(LookupWindowRareName1M, indexed, true)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

void Preview100kWorkbook(benchmark::State &state)
{
    auto &data = BenchData::instance();
    const auto app = data.freshApp(QStringLiteral("preview"), data.filledDatabase());
    for (auto _ : state) {
        const auto preview = workbookimport::previewRows(receivables::ReceivablesImport(app), data.receivablesBook(),
                                                         QStringLiteral("Sheet1"));
        if (preview.rows.size() != 20)
            state.SkipWithError("not 20 rows");
    }
}
BENCHMARK(Preview100kWorkbook)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

} // namespace
