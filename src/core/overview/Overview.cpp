#include "overview/Overview.h"

#include "db/Connection.h"
#include "payments/Amounts.h"
#include "platform/Error.h"

#include <QLocale>
#include <QRegularExpression>

#include <algorithm>
#include <array>
#include <cmath>
#include <exception>
#include <functional>
#include <limits>
#include <string>
#include <thread>
#include <unordered_map>

namespace talvesk::overview {

using platform::Database;
using platform::Statement;

QString stateCaption(State state)
{
    switch (state) {
    case State::Paid:
        return QStringLiteral("已入帳");
    case State::Partial:
        return QStringLiteral("部分入帳");
    case State::Unpaid:
        return QStringLiteral("未入帳");
    case State::Overpaid:
        return QStringLiteral("溢繳");
    }
    return QString();
}

qint64 Figures::receivables() const
{
    qint64 n = 0;
    for (const StateFigures &s : states)
        n += s.count;
    return n;
}

double Figures::due() const
{
    double sum = 0;
    for (const StateFigures &s : states)
        sum += s.due;
    return sum;
}

double Figures::credited() const
{
    double sum = 0;
    for (const StateFigures &s : states)
        sum += s.paid;
    return sum;
}

namespace {

bool blank(QByteArrayView text)
{
    for (const char c : text) {
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r')
            return false;
    }
    return true;
}

QByteArrayView trimmed(QByteArrayView text)
{
    while (!text.isEmpty() && (text.front() == ' ' || text.front() == '\t'))
        text = text.sliced(1);
    while (!text.isEmpty() && (text.back() == ' ' || text.back() == '\t'))
        text.chop(1);
    return text;
}

// Amounts as the bank file's import reads them, the most lenient of the imports' readings.
double amount(QByteArrayView text)
{
    return payments::leadingNumber(text, true);
}

Database openDeskFile(const platform::AppFolder &app)
{
    return Database::open(app.databaseFile(), Database::ReadOnly);
}

// A connection for one pass over the desk's table: each page is read once, so a small cache
// serves, and memory is not taken and given back a million times over.
Database openForScan(const platform::AppFolder &app)
{
    Database db = openDeskFile(app);
    db.execute("PRAGMA cache_size = -2048");
    return db;
}

// The figures of the receivables whose row ids lie in [from, to].
struct Part {
    std::array<StateFigures, kStates> states{};
    std::unordered_map<std::string, DateCredit> byDate;
};

// Adds receivables to a part, `count` rows at a time of the same payment date and amounts.
class Adding {
public:
    explicit Adding(Part &part) : part_(part) {}

    void add(State state, qint64 count, double due, double paid, QByteArrayView payDate)
    {
        StateFigures &s = part_.states[static_cast<std::size_t>(state)];
        s.count += count;
        s.due += due;
        s.paid += paid;
        if (blank(payDate))
            return;
        const QByteArrayView key = trimmed(payDate);
        if (!current_ || QByteArrayView(currentKey_) != key) {
            currentKey_.assign(key.data(), std::size_t(key.size()));
            current_ = &part_.byDate[currentKey_];
        }
        current_->count += count;
        current_->paid += paid;
    }

private:
    Part &part_;
    DateCredit *current_ = nullptr; // rows of one date tend to follow one another
    std::string currentKey_;
};

void scan(Database &db, qint64 from, qint64 to, Part &part)
{
    Adding adding(part);
    Statement rows = db.prepare("SELECT PayDate, Total, PayTotal FROM F_AccountData WHERE rowid BETWEEN ?1 AND ?2");
    rows.bind(1, from).bind(2, to);
    while (rows.next()) {
        const QByteArrayView payDate = rows.utf8(0);
        const double due = amount(rows.utf8(1));
        const double paid = amount(rows.utf8(2));
        adding.add(stateOf(payDate, due, paid), 1, due, paid, payDate);
    }
}

// The server adds up the receivables on its side, by payment date and by how each one's amounts
// compare (its state, but for a blank date, which is told here as on the file), so that a million
// rows never cross the wire. Amounts as the imports store them are whole numbers, which the server
// reads as the imports do and sums exactly: the figures are the file's. Any other text ("1,500",
// "12元") fails the server's reading of it; the sums are then asked again, the amounts that are
// plain whole numbers (digits after an optional minus, at most 15 characters) summed there and each
// other text handed over once with its rows' count, to be read here as the imports read it. That
// costs the server a test of every amount, a few times the plain sums.
// (Taking the digits off its end leaves nothing or a minus: half the cost of a pattern match.)
std::string plain(const std::string &column)
{
    return "(" + column + " IS NULL OR length(" + column + ") <= 15 AND rtrim(" + column + ", '0123456789') IN ('', '-') AND "
           + column + " <> '-')";
}

std::string whole(const std::string &column)
{
    return "coalesce(CAST(NULLIF(" + column + ", '') AS bigint), 0)";
}

// Runs `sums`, which reads every amount as a whole number, through `add`; false, with nothing
// added and the read going on, when an amount is not one.
bool wholeAmounts(Database &db, const std::string &sums, const std::function<void(Statement &)> &add)
{
    db.execute("SAVEPOINT whole_amounts");
    try {
        Statement statement = db.prepare(sums);
        add(statement);
    } catch (const platform::Error &) {
        db.execute("ROLLBACK TO SAVEPOINT whole_amounts");
        return false;
    }
    db.execute("RELEASE SAVEPOINT whole_amounts");
    return true;
}

void scanOnServer(Database &db, Part &part)
{
    // A pass reading the sums: (date, how due compares with paid (NULL for amounts read here),
    // due text, paid text, rows, sum due, sum paid).
    const auto add = [&part](Statement &sums) {
        part = Part();
        Adding adding(part);
        while (sums.next()) {
            const QByteArrayView payDate = sums.utf8(0);
            const qint64 count = sums.integer(4);
            if (!sums.isNull(1)) {
                const qint64 sign = sums.integer(1);
                const State state = blank(payDate) ? State::Unpaid
                                    : sign > 0     ? State::Partial
                                    : sign < 0     ? State::Overpaid
                                                   : State::Paid;
                const double due = sums.utf8(5).toByteArray().toDouble(), paid = sums.utf8(6).toByteArray().toDouble();
                adding.add(state, count, due, paid, payDate);
            } else {
                const double due = amount(sums.utf8(2)), paid = amount(sums.utf8(3));
                adding.add(stateOf(payDate, due, paid), count, due * double(count), paid * double(count), payDate);
            }
        }
    };
    const char *const compared = "CASE WHEN due > paid THEN 1 WHEN due < paid THEN -1 WHEN due = paid THEN 0 END";
    if (wholeAmounts(db, std::string("SELECT PayDate, ") + compared + ", NULL, NULL, count(*), sum(due), sum(paid) "
                         "FROM (SELECT PayDate, " + whole("Total") + " AS due, " + whole("PayTotal")
                         + " AS paid FROM F_AccountData) AS rows GROUP BY 1, 2", add))
        return;
    // (OFFSET 0 keeps the server from working out each row's test again for every use of it.)
    const std::string rows = "SELECT PayDate, Total, PayTotal, " + plain("Total") + " AND " + plain("PayTotal")
                             + " AS plain FROM F_AccountData OFFSET 0";
    const std::string read = "SELECT PayDate, CASE WHEN plain THEN NULL ELSE Total END AS total, "
                             "CASE WHEN plain THEN NULL ELSE PayTotal END AS payTotal, "
                             "CASE WHEN plain THEN " + whole("Total") + " END AS due, "
                             "CASE WHEN plain THEN " + whole("PayTotal") + " END AS paid FROM (" + rows + ") AS rows";
    Statement sums = db.prepare(std::string("SELECT PayDate, ") + compared
                                + ", total, payTotal, count(*), sum(due), sum(paid) FROM (" + read
                                + ") AS read GROUP BY 1, 2, 3, 4");
    add(sums);
}

// How many passes read the table side by side: one per core, up to four, each of at least
// 100,000 rows.
int passesFor(qint64 rows)
{
    const qint64 cores = std::clamp<qint64>(std::thread::hardware_concurrency(), 1, 4);
    return int(std::clamp<qint64>(rows / 100000, 1, cores));
}

} // namespace

State stateOf(QByteArrayView payDate, double due, double paid)
{
    if (blank(payDate))
        return State::Unpaid;
    const double outstanding = due - paid;
    if (outstanding > 0)
        return State::Partial;
    return outstanding < 0 ? State::Overpaid : State::Paid;
}

namespace {

// The parts' sums into the figures: the states' figures, and the latest payment dates.
void gather(std::vector<Part> &parts, Figures &figures)
{
    std::unordered_map<std::string, DateCredit> byDate;
    for (Part &part : parts) {
        for (std::size_t s = 0; s < part.states.size(); ++s) {
            figures.states[s].count += part.states[s].count;
            figures.states[s].due += part.states[s].due;
            figures.states[s].paid += part.states[s].paid;
        }
        for (auto &[key, credit] : part.byDate) {
            DateCredit &sum = byDate[key];
            sum.count += credit.count;
            sum.paid += credit.paid;
        }
    }
    for (auto &[key, credit] : byDate) {
        credit.payDate = QString::fromUtf8(key.data(), qsizetype(key.size()));
        figures.byDate.push_back(std::move(credit));
    }
    // Newest first: a longer date is a later year, then the digits decide.
    std::sort(figures.byDate.begin(), figures.byDate.end(), [](const DateCredit &a, const DateCredit &b) {
        return a.payDate.size() != b.payDate.size() ? a.payDate.size() > b.payDate.size() : a.payDate > b.payDate;
    });
    if (figures.byDate.size() > std::size_t(kCreditDates))
        figures.byDate.resize(kCreditDates);
}

// The store collections and the newest journal entries, in the read already open.
void readStoreAndJournal(Database &db, Figures &figures)
{
    if (db.isServer()) {
        // As the receivables: added up there, and when not all are whole numbers, the plain ones
        // added up there and any other text handed over once for each text.
        const auto add = [&figures](Statement &store) {
            figures.storeCount = 0;
            figures.storeAmount = 0;
            while (store.next()) {
                const qint64 count = store.integer(1);
                figures.storeCount += count;
                figures.storeAmount +=
                    store.isNull(0) ? store.utf8(2).toByteArray().toDouble() : amount(store.utf8(0)) * double(count);
            }
        };
        if (!wholeAmounts(db, "SELECT NULL, count(*), sum(" + whole("P_TOTAL") + ") FROM SMdata", add)) {
            Statement store = db.prepare("SELECT CASE WHEN plain THEN NULL ELSE P_TOTAL END, count(*), "
                                         "sum(CASE WHEN plain THEN " + whole("P_TOTAL") + " END) FROM (SELECT P_TOTAL, "
                                         + plain("P_TOTAL") + " AS plain FROM SMdata OFFSET 0) AS rows GROUP BY 1");
            add(store);
        }
    } else {
        Statement store = db.prepare("SELECT P_TOTAL FROM SMdata");
        while (store.next()) {
            ++figures.storeCount;
            figures.storeAmount += amount(store.utf8(0));
        }
    }
    std::vector<db::JournalRecord> entries = db::journalEntries(db);
    if (entries.size() > std::size_t(kLatestEntries))
        entries.resize(kLatestEntries);
    figures.latest = std::move(entries);
    if (db.isServer())
        figures.journalStamp = journalStamp(db);
}

} // namespace

QByteArray journalStamp(Database &db)
{
    if (!db::journalExists(db))
        return QByteArrayLiteral("no journal");
    Statement stamp = db.prepare("SELECT count(*), coalesce(max(id), 0), "
                                 "coalesce(sum(hashtext(state || ' ' || counts || ' ' || dropped_why)), 0) FROM Journal");
    if (!stamp.next())
        return QByteArray();
    return stamp.utf8(0).toByteArray() + ' ' + stamp.utf8(1).toByteArray() + ' ' + stamp.utf8(2).toByteArray();
}

QByteArray journalStamp(const platform::AppFolder &app)
{
    Database db = openToRead(app);
    return journalStamp(db);
}

Database openToRead(const platform::AppFolder &app)
{
    if (db::usesServer(app))
        return db::openDatabase(app, db::Reach::DeskOrServer);
    return openDeskFile(app);
}

ReadSnapshot::ReadSnapshot(Database &db) : reading_(db)
{
    // The server would compile the large sums to machine code first, which costs it more than a
    // quarter of a second each time, for statements that run once.
    if (db.isServer())
        db.execute("SET LOCAL jit = off");
}

Figures readFigures(Database &db)
{
    std::vector<Part> parts(1);
    if (db.isServer())
        scanOnServer(db, parts.front());
    else
        scan(db, std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max(), parts.front());
    Figures figures;
    gather(parts, figures);
    readStoreAndJournal(db, figures);
    return figures;
}

Figures readFigures(const platform::AppFolder &app)
{
    if (db::usesServer(app)) {
        // The server adds the table up on its side in one statement; the store and the journal
        // are read from the same snapshot.
        Database db = openToRead(app);
        ReadSnapshot snapshot(db);
        return readFigures(db);
    }
    Figures figures;
    // One read transaction for every query, so that the figures agree with one another even
    // while an import commits beside them. A table of many rows is read in parts side by side,
    // each on a connection of its own; every one of them opens its transaction while the first
    // holds its own, and no commit can land while a reader is in its transaction, so all of
    // them read the same tables (the change counters say so, or the table is read in one pass).
    //
    // A writer whose commit waits for the first reader keeps every new reader out meanwhile: a
    // part joining then would wait for the writer while the writer waits for the first reader,
    // until one of them fails as busy. So the parts' connections are opened before the first
    // reader's transaction, and join it without waiting; one that cannot join at once leaves the
    // rows to the passes already reading.
    Database db = openForScan(app);
    const auto lastRowId = [&db] {
        Statement last = db.prepare("SELECT max(rowid) FROM F_AccountData");
        return last.next() ? last.integer(0) : 0;
    };
    std::vector<Database> joining;
    for (int i = 1, passes = passesFor(lastRowId()); i < passes; ++i) {
        joining.push_back(openForScan(app));
        joining.back().execute("PRAGMA busy_timeout = 0");
    }
    db.execute("BEGIN");
    const qint64 lastRow = lastRowId();
    std::vector<Database> others;
    for (Database &other : joining) {
        try {
            other.execute("BEGIN");
            Statement first = other.prepare("SELECT 1 FROM F_AccountData LIMIT 1");
            first.next();
        } catch (const platform::Error &) {
            break;
        }
        const std::optional<quint32> theirs = other.changeCounter(), ours = db.changeCounter();
        if (!theirs || !ours || *theirs != *ours)
            break;
        others.push_back(std::move(other));
    }
    const qint64 perPass = lastRow / qint64(others.size() + 1) + 1;
    std::vector<Part> parts(others.size() + 1);
    std::vector<std::exception_ptr> failures(others.size());
    {
        std::vector<std::jthread> threads;
        for (std::size_t i = 0; i < others.size(); ++i) {
            threads.emplace_back([&, i] {
                try {
                    const qint64 from = perPass * qint64(i + 1) + 1;
                    scan(others[i], from, i + 1 == others.size() ? std::numeric_limits<qint64>::max() : from + perPass - 1,
                         parts[i + 1]);
                } catch (...) {
                    failures[i] = std::current_exception();
                }
            });
        }
        scan(db, std::numeric_limits<qint64>::min(), others.empty() ? std::numeric_limits<qint64>::max() : perPass,
             parts[0]);
    }
    for (const std::exception_ptr &failure : failures)
        if (failure)
            std::rethrow_exception(failure);
    for (Database &other : others)
        other.execute("COMMIT");

    gather(parts, figures);
    readStoreAndJournal(db, figures);
    db.execute("COMMIT");
    return figures;
}

QString storedPayDate(const QDate &date)
{
    return QStringLiteral("%1%2%3")
        .arg(date.year() - 1911, 3, 10, QChar(u'0'))
        .arg(date.month(), 2, 10, QChar(u'0'))
        .arg(date.day(), 2, 10, QChar(u'0'));
}

DayFigures readDay(Database &db, const QDate &date)
{
    DayFigures day;
    day.date = date;
    const QString prefix = date.toString(QStringLiteral("yyyy-MM-dd")) + u' ';
    for (const db::JournalRecord &entry : db::journalEntries(db)) {
        if (entry.at.startsWith(prefix))
            day.operations.push_back(entry);
    }
    std::reverse(day.operations.begin(), day.operations.end());

    Statement credited = db.prepare("SELECT PayTotal FROM F_AccountData WHERE trim(PayDate) = ?1");
    credited.bind(1, storedPayDate(date));
    while (credited.next()) {
        ++day.creditedCount;
        day.creditedSum += amount(credited.utf8(0));
    }

    const bool problemsKept = db.hasTable(QStringLiteral("JournalProblems"));
    for (const db::JournalRecord &entry : day.operations) {
        if (!problemsKept)
            break;
        const qint64 room = kReportProblems - qint64(day.problems.size());
        if (room > 0) {
            for (db::ProblemLine &line : db::problemLines(db, entry.id, room).value_or(std::vector<db::ProblemLine>{}))
                day.problems.push_back({entry.id, std::move(line)});
        }
        Statement count = db.prepare("SELECT count(*) FROM JournalProblems WHERE entry = ?1");
        count.bind(1, entry.id);
        if (count.next())
            day.moreProblems += count.integer(0);
    }
    day.moreProblems -= qint64(day.problems.size());
    return day;
}

DayFigures readDay(const platform::AppFolder &app, const QDate &date)
{
    Database db = openToRead(app);
    ReadSnapshot snapshot(db);
    return readDay(db, date);
}

QString groupedAmount(double value)
{
    const QLocale taiwan(QLocale::Chinese, QLocale::Taiwan);
    const double whole = std::round(value);
    if (std::fabs(value - whole) < 0.005 && std::fabs(value) < 1e15)
        return taiwan.toString(static_cast<qint64>(whole));
    QString text = taiwan.toString(value, 'f', 2);
    if (text.endsWith(u'0'))
        text.chop(1);
    return text;
}

QString groupedCount(qint64 value)
{
    return QLocale(QLocale::Chinese, QLocale::Taiwan).toString(value);
}

QString payDateCaption(const QString &stored)
{
    static const QRegularExpression sevenDigits(QStringLiteral("^(\\d{3})(\\d{2})(\\d{2})$"));
    const QRegularExpressionMatch m = sevenDigits.match(stored);
    return m.hasMatch() ? m.captured(1) + u'/' + m.captured(2) + u'/' + m.captured(3) : stored;
}

QString dayCaption(const QDate &date)
{
    return payDateCaption(storedPayDate(date));
}

QString countsCaption(const QString &counts, const QString &changes)
{
    QString text = counts;
    const bool failed = text.startsWith(QStringLiteral("failed after "));
    if (failed)
        text = text.mid(13);
    static const QRegularExpression workbook(QStringLiteral("^(\\d+) written, (\\d+) not processed$"));
    static const QRegularExpression textFile(QStringLiteral("^(\\d+) applied, (\\d+) abnormal$"));
    static const QRegularExpression cleared(QStringLiteral("^(\\d+) deleted$"));
    static const QRegularExpression changed(QStringLiteral("^(\\d+) new, (\\d+) updated, (\\d+) unchanged$"));
    const QRegularExpressionMatch c = changed.match(changes);
    QRegularExpressionMatch m;
    const auto n = [&m](int i) { return groupedCount(m.captured(i).toLongLong()); };
    // 新增 3、更新 1、不變 1, then the rows or lines not used in the import's own word.
    const auto withChanges = [&](const QString &leftAlone, int leftAloneAt) -> QString {
        const auto k = [&c](int i) { return groupedCount(c.captured(i).toLongLong()); };
        return QStringLiteral("新增 %1、更新 %2、不變 %3、").arg(k(1), k(2), k(3)) + leftAlone + u' ' + n(leftAloneAt);
    };
    if ((m = workbook.match(text)).hasMatch())
        text = c.hasMatch() ? withChanges(QStringLiteral("不處理"), 2)
                            : QStringLiteral("正確 %1 筆，不處理 %2 筆").arg(n(1), n(2));
    else if ((m = textFile.match(text)).hasMatch())
        text = c.hasMatch() ? withChanges(QStringLiteral("異常"), 2) : QStringLiteral("正確 %1 筆，異常 %2 筆").arg(n(1), n(2));
    else if ((m = cleared.match(text)).hasMatch())
        text = QStringLiteral("清除 %1 筆").arg(n(1));
    return failed ? QStringLiteral("中途失敗（") + text + QStringLiteral("已存入）") : text;
}

QString stateCaption(const db::JournalRecord &record)
{
    switch (record.state) {
    case db::JournalRecord::State::Done:
        return QString();
    case db::JournalRecord::State::Running:
        return QStringLiteral("未正常結束");
    case db::JournalRecord::State::Undone:
        return QStringLiteral("已復原");
    case db::JournalRecord::State::Dropped:
        return QStringLiteral("無法復原（") + record.droppedWhy + u'）';
    case db::JournalRecord::State::Failed:
        return QStringLiteral("失敗，資料未變動");
    }
    return QString();
}

} // namespace talvesk::overview
