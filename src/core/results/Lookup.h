#pragma once

#include "db/TableExport.h"
#include "platform/AppFolder.h"
#include "platform/Database.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <optional>
#include <vector>

namespace talvesk::results {

// Where a receivable stands: no payment date yet, or by what is still outstanding after the
// latest credit (above zero, zero, below zero).
enum class Status { Any, Unpaid, Partial, Paid, Overpaid };

// "unpaid", "partial", "paid", "overpaid" (the batch tool's words); nothing for Any.
QString statusName(Status status);
std::optional<Status> statusFromName(const QString &name);
// The words the window shows for a status.
QString statusCaption(Status status);

// The order of the matches: table order, or by one of the columns the window shows (amounts as
// numbers, the payment date as a date, texts as stored), the table order among equals.
enum class SortBy { Table, Account, Name, Number, Total, PayDate, Paid, Outstanding, Status };

// What the clerk asks for: receivables whose account, name or number contains `text` (every one
// when it is empty), of one status or of any, in an order.
struct LookupQuery {
    QString text;
    Status status = Status::Any;
    SortBy sortBy = SortBy::Table;
    bool descending = false;
};

// One receivable as the lookup shows it. The stored texts are shown as stored; the outstanding
// amount is worked out afresh, the amount due less the amount credited, both read as the imports
// read them ("1,500" is 1500, ".5" is one half), so it stays right after a later import changed
// the amount due.
struct FoundReceivable {
    qint64 rowid = 0;
    QString account, name, number, total, payDate, paid, outstanding;
    Status status = Status::Unpaid;
};

struct LookupTotals {
    qint64 count = 0;
    double due = 0;
    double paid = 0;
    double outstanding() const { return due - paid; }
};

// A search of F_AccountData through a read-only connection of its own (to the desk's file or to the
// office's server, whichever Env/Database.ini names): nothing it does can change the database. Pages are fetched in table order after a given row id, so a window can fetch as it
// scrolls without the cost of an offset. Throws platform::Error.
class Lookup {
public:
    Lookup(const platform::AppFolder &app, LookupQuery query);

    // Up to `max` matches, in the query's order, after the match with row id `after` (0: from the
    // start). Each page is found by its key, never by an offset, so a late page costs what the
    // first one does.
    std::vector<FoundReceivable> page(qint64 after, int max);
    // Every match, in table order (whatever the query's order), handed one at a time to `found`.
    void forEach(const std::function<void(const FoundReceivable &)> &found);
    // Counts and sums every match.
    LookupTotals totals();
    // Makes a running (or a not yet started) totals stop with an error, from any thread; a running
    // page or forEach stops too.
    void interrupt();
    // Whether the last page, forEach or totals found its matches through the lookup's index
    // (results::lookupindex) rather than by reading the whole table.
    bool usedIndex() const { return usedIndex_; }

    // The condition and its values, for an export of the same matches; the connection that runs
    // it needs addFunctions().
    db::RowFilter filter() const;
    // Teaches a connection the functions the condition uses. The office's server has them of its
    // own (server-init makes them): there it only checks that they are there (platform::Error
    // naming server-init when they are not).
    static void addFunctions(platform::Database &db);
    // What an export of the lookup writes: the results export's columns and 狀態, as the window
    // shows it (its connection needs addFunctions()).
    static db::TableLayout exportLayout();

private:
    FoundReceivable read(platform::Statement &row) const;
    void forEachOnServer(const std::function<void(const FoundReceivable &)> &found);
    class Reading;
    // The condition of a query run inside `reading`: filter(), narrowed to the index's candidates
    // when the index serves.
    db::RowFilter readingFilter(Reading &reading);

    platform::AppFolder app_;
    LookupQuery query_;
    QString like_;
    std::optional<QString> match_; // the index's query for the text, when it has one
    platform::Database db_;
    std::atomic<bool> interrupted_{false};
    bool usedIndex_ = false;
};

// A receivable as `talvesk-batch find` prints it: account, name, number, total, payment date, paid
// amount, outstanding, status, separated by tabs. A tab or line break inside a stored text becomes a
// blank, so that every receivable stays one line of eight fields.
QString lookupLine(const FoundReceivable &found);

// How the totals line reads, and the format of its amounts.
QString totalsText(const LookupTotals &totals);
QString amountText(double value);

} // namespace talvesk::results
