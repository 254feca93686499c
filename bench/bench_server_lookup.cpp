// 帳款查詢 on the office's server holding a million receivables (bench/server-lookup.sh makes the
// server, its data, and the folder whose Env/Database.ini names it, in TALVESK_BENCH_APP): the
// window's first page for typical queries, from the query asked to its page shown, the totals
// going on counting on their thread meanwhile. The first page must be shown within 0.2 s.
#include "platform/Postgres.h"
#include "results/Lookup.h"
#include "results/LookupWindow.h"
#include "server/ServerSettings.h"
#include "support/FakeDesktop.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QTableView>

#include <benchmark/benchmark.h>

using namespace talvesk;
using results::SortBy;
using results::Status;

namespace {

const platform::AppFolder &app()
{
    static const platform::AppFolder folder(qEnvironmentVariable("TALVESK_BENCH_APP"));
    return folder;
}

// The window's columns in its order, for the heading clicked to sort.
int section(SortBy by)
{
    constexpr SortBy columns[] = {SortBy::Account, SortBy::Name,        SortBy::Number, SortBy::Total,
                                  SortBy::PayDate, SortBy::Paid, SortBy::Outstanding, SortBy::Status};
    for (int i = 0; i < int(std::size(columns)); ++i) {
        if (columns[i] == by)
            return i;
    }
    return -1;
}

// The window open, the query set in its controls, then timed from asking to the page painted.
void firstPage(benchmark::State &state, const QString &text, Status status, SortBy by, bool descending)
{
    if (app().root().isEmpty()) {
        state.SkipWithError("TALVESK_BENCH_APP names no folder (run bench/server-lookup.sh)");
        return;
    }
    test::FakeDesktop desktop;
    for (auto _ : state) {
        results::LookupWindow window(app(), desktop);
        window.show();
        QApplication::processEvents();
        {
            auto *search = window.findChild<QLineEdit *>(QStringLiteral("txtSearch"));
            auto *statuses = window.findChild<QComboBox *>(QStringLiteral("cmbStatus"));
            QHeaderView *headings = window.findChild<QTableView *>()->horizontalHeader();
            const QSignalBlocker a(search), b(statuses), c(headings);
            search->setText(text);
            statuses->setCurrentIndex(static_cast<int>(status));
            headings->setSortIndicator(section(by), descending ? Qt::DescendingOrder : Qt::AscendingOrder);
        }
        QElapsedTimer shown;
        shown.start();
        window.refresh();
        QApplication::processEvents();
        state.SetIterationTime(static_cast<double>(shown.nsecsElapsed()) / 1e9);
        if (window.model().rowCount() == 0)
            state.SkipWithError("nothing shown");
    }
}

// From opening the window to its first page painted: every receivable in table order.
void Opened(benchmark::State &state)
{
    test::FakeDesktop desktop;
    for (auto _ : state) {
        QElapsedTimer shown;
        shown.start();
        results::LookupWindow window(app(), desktop);
        window.show();
        QApplication::processEvents();
        state.SetIterationTime(static_cast<double>(shown.nsecsElapsed()) / 1e9);
        if (window.model().rowCount() == 0)
            state.SkipWithError("nothing shown");
    }
}
BENCHMARK(Opened)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);

// The floor: a connection of its own fetching the first 200 rows in table order, nothing more.
void Floor(benchmark::State &state)
{
    const QString server = server::serverConnectionString(app()).value_or(QString());
    for (auto _ : state) {
        platform::pg::Connection connection(server);
        if (connection.execute("SELECT rid, Bankcode, UserName, UserNum, Total, PayDate, PayTotal FROM F_AccountData "
                               "ORDER BY rid LIMIT 200").rowCount() != 200)
            state.SkipWithError("no rows");
    }
}
BENCHMARK(Floor)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

#define FIRST_PAGE(name, ...)                                                                                           \
    BENCHMARK_CAPTURE(firstPage, name, __VA_ARGS__)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1)

// Table order, nothing asked.
FIRST_PAGE(all_table_order, QString(), Status::Any, SortBy::Table, false);
// A name fragment eleven receivables hold, an account fragment, a number fragment in another case.
FIRST_PAGE(rare_name, QStringLiteral("客戶99999"), Status::Any, SortBy::Table, false);
FIRST_PAGE(account_fragment, QStringLiteral("0000123"), Status::Any, SortBy::Table, false);
FIRST_PAGE(number_lower_case, QStringLiteral("c09999"), Status::Any, SortBy::Table, false);
// A fragment nearly every receivable holds.
FIRST_PAGE(common_name, QStringLiteral("客戶"), Status::Any, SortBy::Table, false);
// A status, a common one and a rare one.
FIRST_PAGE(status_partial, QString(), Status::Partial, SortBy::Table, false);
FIRST_PAGE(status_overpaid, QString(), Status::Overpaid, SortBy::Table, false);
// The largest outstanding amounts first, and the smallest.
FIRST_PAGE(by_outstanding_desc, QString(), Status::Any, SortBy::Outstanding, true);
FIRST_PAGE(by_outstanding, QString(), Status::Any, SortBy::Outstanding, false);
// A status and the outstanding order together.
FIRST_PAGE(overpaid_by_outstanding, QString(), Status::Overpaid, SortBy::Outstanding, false);
FIRST_PAGE(overpaid_by_outstanding_desc, QString(), Status::Overpaid, SortBy::Outstanding, true);
// Orders without an index of their own: the whole table sorted.
FIRST_PAGE(by_name, QString(), Status::Any, SortBy::Name, false);
FIRST_PAGE(by_total_desc, QString(), Status::Any, SortBy::Total, true);

} // namespace
