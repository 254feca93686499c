#include "results/Lookup.h"

#include "db/Connection.h"
#include "payments/Amounts.h"
#include "results/LookupIndex.h"
#include "results/LookupOnServer.h"
#include "results/Results.h"
#include "platform/Error.h"

#include <algorithm>
#include <array>

namespace talvesk::results {

namespace {

const std::string kColumns = "rowid, Bankcode, UserName, UserNum, Total, PayDate, PayTotal";

// Amounts as the bank file's import reads them, the most lenient of the imports' readings.
double amount(const QString &text)
{
    return payments::leadingNumber(text, true);
}

Status statusOf(const QString &payDate, double outstanding)
{
    if (payDate.trimmed().isEmpty())
        return Status::Unpaid;
    if (outstanding > 0)
        return Status::Partial;
    return outstanding < 0 ? Status::Overpaid : Status::Paid;
}

// A column's value as text, a number as the engine writes it; NULL is no text at all.
QString argumentText(const platform::Value &value)
{
    if (value.isNull())
        return QString();
    if (value.type == platform::Value::Text || value.type == platform::Value::Blob)
        return QString::fromUtf8(value.view());
    return QString::fromUtf8(value.toText());
}

// talvesk_amount(Total)
platform::Value amountFunction(std::span<const platform::Value> values)
{
    return platform::Value::fromReal(amount(argumentText(values[0])));
}

// talvesk_status(PayDate, Total, PayTotal)
platform::Value statusFunction(std::span<const platform::Value> values)
{
    const double outstanding = amount(argumentText(values[1])) - amount(argumentText(values[2]));
    return platform::Value::fromInteger(static_cast<int>(statusOf(argumentText(values[0]), outstanding)));
}

// talvesk_status_caption(PayDate, Total, PayTotal): the words the window shows for the status,
// for an export of the lookup. The result views text that lives as long as the program.
platform::Value statusCaptionFunction(std::span<const platform::Value> values)
{
    static const std::array<QByteArray, 5> captions = [] {
        std::array<QByteArray, 5> utf8;
        for (Status s : {Status::Any, Status::Unpaid, Status::Partial, Status::Paid, Status::Overpaid})
            utf8[static_cast<std::size_t>(s)] = statusCaption(s).toUtf8();
        return utf8;
    }();
    const double outstanding = amount(argumentText(values[1])) - amount(argumentText(values[2]));
    return platform::Value::fromText(captions[static_cast<std::size_t>(statusOf(argumentText(values[0]), outstanding))]);
}

// talvesk_date(PayDate): the stored date (1130905) as a number, so that a year of two digits
// (990101) comes before one of three; -1 when there is none.
platform::Value dateFunction(std::span<const platform::Value> values)
{
    qint64 date = 0;
    bool any = false;
    for (const QChar c : argumentText(values[0])) {
        if (c.isDigit() && date < 100000000000LL) {
            date = date * 10 + c.digitValue();
            any = true;
        }
    }
    return platform::Value::fromInteger(any ? date : -1);
}

// The expression a page is ordered by. Texts in the order of their bytes, as the desk's engine
// compares them (the server's own collation would put them in another order); the outstanding
// amount on the server by its function, whose index keeps the order.
std::string sortKey(SortBy by, bool server)
{
    const std::string bytewise = server ? ") COLLATE \"C\"" : ")";
    switch (by) {
    case SortBy::Table:
        break;
    case SortBy::Account:
        return "coalesce(Bankcode, ''" + bytewise;
    case SortBy::Name:
        return "coalesce(UserName, ''" + bytewise;
    case SortBy::Number:
        return "coalesce(UserNum, ''" + bytewise;
    case SortBy::Total:
        return "talvesk_amount(Total)";
    case SortBy::PayDate:
        return "talvesk_date(PayDate)";
    case SortBy::Paid:
        return "talvesk_amount(PayTotal)";
    case SortBy::Outstanding:
        return server ? "talvesk_outstanding(Total, PayTotal)" : "(talvesk_amount(Total) - talvesk_amount(PayTotal))";
    case SortBy::Status:
        return "talvesk_status(PayDate, Total, PayTotal)";
    }
    return "rowid";
}

// LIKE's own wildcards in the clerk's text stand for themselves.
QString likePattern(const QString &text)
{
    QString escaped;
    for (const QChar c : text) {
        if (c == u'%' || c == u'_' || c == u'\\')
            escaped += u'\\';
        escaped += c;
    }
    return u'%' + escaped + u'%';
}

// The order of a page: by its key, then by row id. The desk's engine puts a key that is no
// number at all (infinity less itself) first; the server is told to do the same.
std::string orderBy(SortBy by, bool descending, bool server)
{
    const char *direction = descending ? " DESC" : "";
    if (by == SortBy::Table)
        return std::string(" ORDER BY rowid") + direction;
    const char *nulls = !server ? "" : descending ? " NULLS LAST" : " NULLS FIRST";
    return " ORDER BY " + sortKey(by, server) + direction + nulls + ", rowid" + direction;
}

// A connection that only reads: the desk's file opened read-only, or the server with every
// transaction read-only. Throws platform::Error.
platform::Database openToRead(const platform::AppFolder &app)
{
    if (!db::usesServer(app))
        return platform::Database::open(app.databaseFile(), platform::Database::ReadOnly);
    platform::Database server = db::openDatabase(app, db::Reach::DeskOrServer);
    server.execute("SET default_transaction_read_only = on");
    return server;
}

// A sum as the engine writes it: the server spells infinity out, the desk's engine as "Inf".
double sumOf(QString text)
{
    if (text.endsWith(QLatin1String("Infinity")))
        text.chop(5);
    return text.toDouble();
}

// Rows read at once by forEach on the server, which hands over a statement's rows whole.
constexpr qint64 kRowsPerPart = 20000;

QString oneLine(QString text)
{
    for (QChar &c : text) {
        if (c == u'\t' || c == u'\n' || c == u'\r')
            c = u' ';
    }
    return text;
}

} // namespace

QString statusName(Status status)
{
    switch (status) {
    case Status::Unpaid:
        return QStringLiteral("unpaid");
    case Status::Partial:
        return QStringLiteral("partial");
    case Status::Paid:
        return QStringLiteral("paid");
    case Status::Overpaid:
        return QStringLiteral("overpaid");
    case Status::Any:
        break;
    }
    return QString();
}

std::optional<Status> statusFromName(const QString &name)
{
    for (Status s : {Status::Unpaid, Status::Partial, Status::Paid, Status::Overpaid}) {
        if (statusName(s) == name)
            return s;
    }
    return std::nullopt;
}

QString statusCaption(Status status)
{
    switch (status) {
    case Status::Unpaid:
        return QStringLiteral("未入帳");
    case Status::Partial:
        return QStringLiteral("部分入帳");
    case Status::Paid:
        return QStringLiteral("已繳清");
    case Status::Overpaid:
        return QStringLiteral("溢繳");
    case Status::Any:
        break;
    }
    return QStringLiteral("全部");
}

void Lookup::addFunctions(platform::Database &db)
{
    if (db.isServer()) {
        // The server has them of its own, made by server-init.
        onserver::requireLookupObjects(db);
        return;
    }
    db.addFunction("talvesk_amount", 1, platform::Database::Deterministic, &amountFunction);
    db.addFunction("talvesk_status", 3, platform::Database::Deterministic, &statusFunction);
    db.addFunction("talvesk_status_caption", 3, platform::Database::Deterministic, &statusCaptionFunction);
    db.addFunction("talvesk_date", 1, platform::Database::Deterministic, &dateFunction);
}

db::TableLayout Lookup::exportLayout()
{
    db::TableLayout layout = resultsLayout();
    layout.columns << QStringLiteral("talvesk_status_caption(PayDate, Total, PayTotal)");
    layout.captions << QStringLiteral("狀態");
    return layout;
}

Lookup::Lookup(const platform::AppFolder &app, LookupQuery query)
    : app_(app), query_(std::move(query)), like_(likePattern(query_.text)), db_(openToRead(app))
{
    // The server finds fragments through its own trigram indexes.
    if (!db_.isServer())
        match_ = lookupindex::matchQuery(query_.text);
    addFunctions(db_);
}

db::RowFilter Lookup::filter() const
{
    db::RowFilter filter;
    QStringList conditions;
    if (!query_.text.isEmpty() && db_.isServer()) {
        // ILIKE in the C collation ignores the case of ASCII letters only, as the desk's LIKE
        // does; the trigram indexes are of the same collation. The server holds no text with a
        // NUL in it, so a fragment holding one finds nothing.
        if (query_.text.contains(QChar(0))) {
            conditions << QStringLiteral("FALSE");
        } else {
            const bool letters = std::any_of(query_.text.begin(), query_.text.end(), [](QChar c) {
                return c.unicode() < 128 && c.isLetter();
            });
            const QString like = letters ? QStringLiteral("ILIKE") : QStringLiteral("LIKE");
            conditions << QStringLiteral("(Bankcode %1 ?1 COLLATE \"C\" OR UserName %1 ?1 COLLATE \"C\" OR UserNum %1 ?1 COLLATE \"C\")")
                              .arg(like);
            filter.values << like_;
        }
    } else if (!query_.text.isEmpty()) {
        // LIKE ignores the case of ASCII letters only, and costs nearly twice instr's time over a
        // million rows: a text without such letters (digits, Chinese) is found by instr instead,
        // with the same result.
        const bool letters = std::any_of(query_.text.begin(), query_.text.end(), [](QChar c) {
            return c.unicode() < 128 && c.isLetter();
        });
        if (letters) {
            conditions << QStringLiteral("(Bankcode LIKE ?1 ESCAPE '\\' OR UserName LIKE ?1 ESCAPE '\\' "
                                         "OR UserNum LIKE ?1 ESCAPE '\\')");
            filter.values << like_;
        } else {
            conditions << QStringLiteral("(instr(Bankcode, ?1) > 0 OR instr(UserName, ?1) > 0 OR instr(UserNum, ?1) > 0)");
            filter.values << query_.text;
        }
    }
    if (query_.status != Status::Any) {
        // Bound as every value is; the function gives an integer, which text never equals.
        filter.values << QString::number(static_cast<int>(query_.status));
        conditions << QStringLiteral("talvesk_status(PayDate, Total, PayTotal) = CAST(?%1 AS INTEGER)").arg(filter.values.size());
    }
    filter.where = conditions.join(QStringLiteral(" AND ")).toStdString();
    filter.prepare = &Lookup::addFunctions;
    return filter;
}

// One query's read transaction, with the index attached for it when there is one to ask: the
// index is used only if, inside this transaction, it is of the database as it stands.
class Lookup::Reading {
public:
    // The index is attached outside any transaction, as the engine requires, and detached after it.
    Reading(platform::Database &db, const platform::AppFolder &app, bool indexWanted)
        : attachment_{db, indexWanted && lookupindex::attach(db, app)}, reading_(db)
    {
    }
    bool attached() const { return attachment_.attached; }

private:
    struct Attachment {
        platform::Database &db;
        bool attached;
        ~Attachment()
        {
            if (attached)
                lookupindex::detach(db);
        }
    } attachment_;
    platform::ReadTransaction reading_; // ends before the index is detached
};

namespace {

// More candidates than this, and the text is common enough that reading the table finds its
// matches as soon.
constexpr qint64 kMaxCandidates = 20000;

} // namespace

db::RowFilter Lookup::readingFilter(Reading &reading)
{
    db::RowFilter f = filter();
    usedIndex_ = false;
    if (!match_ || !reading.attached() || !lookupindex::attachedIsCurrent(db_))
        return f;
    platform::Statement candidates = db_.prepare(
        "SELECT count(*) FROM (SELECT rowid FROM lookupindex.LookupIndex WHERE LookupIndex MATCH ?1 LIMIT ?2)");
    candidates.bind(1, *match_).bind(2, kMaxCandidates);
    if (!candidates.next() || candidates.integer(0) >= kMaxCandidates)
        return f;
    // The index only narrows: each candidate is still held to the lookup's own condition.
    f.values << *match_;
    f.where = "rowid IN (SELECT rowid FROM lookupindex.LookupIndex WHERE LookupIndex MATCH ?"
              + std::to_string(f.values.size()) + ") AND " + f.where;
    usedIndex_ = true;
    return f;
}

FoundReceivable Lookup::read(platform::Statement &row) const
{
    FoundReceivable found;
    found.rowid = row.text(0).toLongLong();
    found.account = row.text(1);
    found.name = row.text(2);
    found.number = row.text(3);
    found.total = row.text(4);
    found.payDate = row.text(5);
    found.paid = row.text(6);
    const double outstanding = amount(found.total) - amount(found.paid);
    found.outstanding = payments::outstandingText(outstanding);
    found.status = statusOf(found.payDate, outstanding);
    return found;
}

std::vector<FoundReceivable> Lookup::page(qint64 after, int max)
{
    Reading reading(db_, app_, match_.has_value());
    const db::RowFilter f = readingFilter(reading);
    std::string sql = "SELECT " + kColumns + " FROM F_AccountData WHERE ";
    const int afterParameter = static_cast<int>(f.values.size()) + 1;
    const int limitParameter = afterParameter + 1;
    const std::string afterRow = "?" + std::to_string(afterParameter);
    const bool server = db_.isServer();
    if (query_.sortBy == SortBy::Table) {
        sql += after == 0 ? "1 = 1" : "rowid " + std::string(query_.descending ? "<" : ">") + " " + afterRow;
    } else {
        // The page goes on from the last row shown, by its key computed afresh from its row, with
        // the row id to tell equal keys apart.
        const std::string key = sortKey(query_.sortBy, server);
        sql += after == 0 ? "1 = 1"
                          : "(" + key + ", rowid) " + (query_.descending ? "<" : ">") + " ((SELECT " + key
                                + " FROM F_AccountData WHERE rowid = " + afterRow + "), " + afterRow + ")";
    }
    if (!f.where.empty())
        sql += " AND " + f.where;
    sql += orderBy(query_.sortBy, query_.descending, server);
    sql += " LIMIT ?" + std::to_string(limitParameter);
    platform::Statement rows = db_.prepare(sql);
    for (int i = 0; i < f.values.size(); ++i)
        rows.bind(i + 1, f.values.at(i));
    // Bound even when the statement does not name it: the server wants every parameter bound.
    rows.bind(afterParameter, after);
    rows.bind(limitParameter, qint64(max));
    std::vector<FoundReceivable> found;
    while (rows.next())
        found.push_back(read(rows));
    return found;
}

void Lookup::forEach(const std::function<void(const FoundReceivable &)> &found)
{
    if (db_.isServer()) {
        forEachOnServer(found);
        return;
    }
    Reading reading(db_, app_, match_.has_value());
    const db::RowFilter f = readingFilter(reading);
    std::string sql = "SELECT " + kColumns + " FROM F_AccountData";
    if (!f.where.empty())
        sql += " WHERE " + f.where;
    sql += " ORDER BY rowid";
    platform::Statement rows = db_.prepare(sql);
    for (int i = 0; i < f.values.size(); ++i)
        rows.bind(i + 1, f.values.at(i));
    while (rows.next())
        found(read(rows));
}

// The server hands over a statement's rows whole: the matches are read a part at a time, each
// after the last row of the one before, all in one snapshot of the database.
void Lookup::forEachOnServer(const std::function<void(const FoundReceivable &)> &found)
{
    const platform::ReadTransaction reading(db_);
    const db::RowFilter f = filter();
    const std::string after = "?" + std::to_string(f.values.size() + 1), limit = "?" + std::to_string(f.values.size() + 2);
    platform::Statement rows = db_.prepare("SELECT " + kColumns + " FROM F_AccountData WHERE rowid > " + after
                                           + (f.where.empty() ? "" : " AND " + f.where) + " ORDER BY rowid LIMIT " + limit);
    for (qint64 last = 0, count = kRowsPerPart; count == kRowsPerPart;) {
        for (int i = 0; i < f.values.size(); ++i)
            rows.bind(i + 1, f.values.at(i));
        rows.bind(static_cast<int>(f.values.size()) + 1, last);
        rows.bind(static_cast<int>(f.values.size()) + 2, kRowsPerPart);
        count = 0;
        while (rows.next()) {
            const FoundReceivable receivable = read(rows);
            last = receivable.rowid;
            ++count;
            found(receivable);
        }
        rows.reset();
    }
}

LookupTotals Lookup::totals()
{
    if (interrupted_)
        throw platform::stoppedError();
    Reading reading(db_, app_, match_.has_value());
    const db::RowFilter f = readingFilter(reading);
    // The server has no total(): sum() of no rows is NULL there, which reads as 0.
    const char *sum = db_.isServer() ? "sum" : "total";
    std::string sql = std::string("SELECT count(*), ") + sum + "(talvesk_amount(Total)), " + sum
                      + "(talvesk_amount(PayTotal)) FROM F_AccountData";
    if (!f.where.empty())
        sql += " WHERE " + f.where;
    platform::Statement sums = db_.prepare(sql);
    for (int i = 0; i < f.values.size(); ++i)
        sums.bind(i + 1, f.values.at(i));
    LookupTotals totals;
    if (sums.next()) {
        totals.count = sums.text(0).toLongLong();
        totals.due = sumOf(sums.text(1));
        totals.paid = sumOf(sums.text(2));
    }
    return totals;
}

void Lookup::interrupt()
{
    interrupted_ = true;
    db_.interrupt();
}

QString lookupLine(const FoundReceivable &found)
{
    return QStringList{oneLine(found.account), oneLine(found.name), oneLine(found.number), oneLine(found.total),
                       oneLine(found.payDate), oneLine(found.paid), found.outstanding, statusName(found.status)}
        .join(u'\t');
}

QString amountText(double value)
{
    return payments::outstandingText(value);
}

QString totalsText(const LookupTotals &totals)
{
    return QStringLiteral("共 %1 筆　應收金額 %2　入帳金額 %3　未入帳金額 %4")
        .arg(totals.count)
        .arg(amountText(totals.due), amountText(totals.paid), amountText(totals.outstanding()));
}

} // namespace talvesk::results
