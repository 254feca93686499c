// The lookup (帳款查詢 and `find`) on the office's server, against a real one: the server's own
// functions read amounts, dates and statuses exactly as the desk's do, and both databases show
// the same pages, lines and totals.
#include "core/shell/BatchRun.h"
#include "platform/Database.h"
#include "platform/Error.h"
#include "platform/Postgres.h"
#include "results/Lookup.h"
#include "support/Postgres.h"
#include "support/TestApp.h"

#include <QCoreApplication>

#include <array>
#include <cmath>
#include <cstring>
#include <optional>

#include <gtest/gtest.h>

using namespace talvesk;
using results::SortBy;
using results::Status;
using test::batch;
using test::nameServer;

namespace {

// A database of its own in a Chinese locale, as an office's server is likely set up: its own
// collation orders texts otherwise than byte by byte, and its character classes make trigrams of
// Chinese text. Falls back on ICU's root collation where that locale is not installed.
class OfficeDatabase {
public:
    OfficeDatabase()
    {
        static int made = 0;
        name_ = QStringLiteral("talvesk_lookup_%1_%2").arg(QCoreApplication::applicationPid()).arg(++made).toStdString();
        platform::pg::Connection admin(test::PostgresServer::shared());
        try {
            admin.execute("CREATE DATABASE " + name_ + " TEMPLATE template0 ENCODING 'UTF8' LOCALE 'zh_TW.utf8'");
        } catch (const platform::Error &) {
            admin.execute("CREATE DATABASE " + name_ + " TEMPLATE template0 ENCODING 'UTF8' LOCALE_PROVIDER icu "
                          "ICU_LOCALE 'und' LOCALE 'C.UTF-8'");
        }
    }
    ~OfficeDatabase()
    {
        try {
            platform::pg::Connection(test::PostgresServer::shared()).execute("DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
        } catch (const std::exception &) {
            // The server went away with it.
        }
    }
    QString connectionString() const
    {
        return test::PostgresServer::shared() + QStringLiteral(" dbname=") + QString::fromStdString(name_);
    }

private:
    std::string name_;
};

// A desk's folder, and a folder naming a server database that server-init has just made.
struct BothDatabases {
    test::TestApp desk, office;
    OfficeDatabase database;
    BothDatabases()
    {
        nameServer(office, database.connectionString());
        const test::BatchRun made = batch(office, {QStringLiteral("server-init")});
        EXPECT_EQ(made.code, shell::kBatchOk) << made.err.toStdString();
    }
    platform::Database open(bool server) const
    {
        return server ? platform::Database::connect(database.connectionString())
                      : platform::Database::open(desk.folder().databaseFile());
    }
};

// A double as the server writes it (the shortest text that reads back as the same number).
double serverDouble(const QString &text)
{
    if (text == QLatin1String("Infinity"))
        return INFINITY;
    if (text == QLatin1String("-Infinity"))
        return -INFINITY;
    return text.toDouble();
}

bool sameDouble(double a, double b)
{
    return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

std::string shown(const QString &text)
{
    return text.size() > 60 ? QString(text.left(30) + QStringLiteral("…(%1)").arg(text.size())).toStdString() : text.toStdString();
}

} // namespace

// Each awkward text read by both databases' functions: the same amount to the last bit (an
// infinity where strtod overflows, a zero where it underflows, a minus zero), the same date, and
// the same status, its caption and the outstanding order's key.
TEST(LookupOnServer, TheServersFunctionsGiveWhatTheDesksGive)
{
    BothDatabases both;
    platform::Database desk = both.open(false);
    results::Lookup::addFunctions(desk);
    platform::Database server = both.open(true);

    const QString zeros800(800, u'0'), ones1000(1000, u'1');
    const QStringList amounts{
        QString(), QStringLiteral("0"), QStringLiteral("-0"), QStringLiteral("1,500"), QStringLiteral(" -1,234.50 "),
        QStringLiteral("1, 5"), QStringLiteral("1,,5"), QStringLiteral("1,x"), QStringLiteral(",5"), QStringLiteral("1,.5"),
        QStringLiteral("1.5,3"), QStringLiteral(".5"), QStringLiteral("-.5"), QStringLiteral("5."), QStringLiteral("+5"),
        QStringLiteral("+-5"), QStringLiteral("-"), QStringLiteral("."), QStringLiteral("1e5"), QStringLiteral("1E+5"),
        QStringLiteral("1E-5"), QStringLiteral("1d3"), QStringLiteral("2D-2"), QStringLiteral("1E"), QStringLiteral("1E+"),
        QStringLiteral("1E,5"), QStringLiteral("1E3,4"), QStringLiteral("1E5.5"), QStringLiteral(".E5"), QStringLiteral("1.E5"),
        QStringLiteral("1\t2\r\n3"), QStringLiteral("1,\u00a02"), QStringLiteral("\u00a012"), QStringLiteral("１２３"),
        QStringLiteral("12元"), QStringLiteral("1.2.3"), QStringLiteral("abc"), QStringLiteral("0.1"), QStringLiteral("000123"),
        QStringLiteral("123456789012345"), QStringLiteral("1234567890123456"), QStringLiteral("9007199254740993"),
        QStringLiteral("12345678901234567890123.5"), QStringLiteral("0.") + zeros800 + QStringLiteral("15"),
        QStringLiteral("1") + zeros800 + QStringLiteral("E-800"), ones1000, QStringLiteral("0.") + ones1000 + QStringLiteral("E-300"),
        QStringLiteral("1E308"), QStringLiteral("1.7976931348623157E308"), QStringLiteral("1.7976931348623158e308"),
        QStringLiteral("1.797693134862315808e308"), QStringLiteral("-1E309"), QStringLiteral("1E400"), QStringLiteral("4.9E-324"),
        QStringLiteral("2.4703282292062328e-324"), QStringLiteral("2.4703282292062327e-324"), QStringLiteral("-1E-400"),
        QStringLiteral("1E0000000000000000000000000003"), QStringLiteral("1E99999999999"), QStringLiteral("1E-99999999999")};
    const QStringList dates{QString(), QStringLiteral("1130105"), QStringLiteral("990101"), QStringLiteral(" "),
                            QStringLiteral("\u3000\t"), QStringLiteral("\u2028"), QStringLiteral("１１３０１０５"),
                            QStringLiteral("١٢٣"), QStringLiteral("113/01/05"), QStringLiteral("00001234567890123456"),
                            QStringLiteral("x"), QStringLiteral("0")};

    platform::Statement deskAmount = desk.prepare("SELECT talvesk_amount(?1), talvesk_date(?1)");
    platform::Statement serverAmount = server.prepare("SELECT talvesk_amount(?1)::text, talvesk_date(?1)");
    for (const QString &text : amounts + dates) {
        deskAmount.bind(1, text);
        serverAmount.bind(1, text);
        ASSERT_TRUE(deskAmount.next());
        ASSERT_TRUE(serverAmount.next());
        const double expected = deskAmount.value(0).real, got = serverDouble(serverAmount.text(0));
        EXPECT_TRUE(sameDouble(expected, got)) << shown(text) << ": desk " << expected << ", server " << got;
        EXPECT_EQ(deskAmount.integer(1), serverAmount.integer(1)) << shown(text);
        deskAmount.reset();
        serverAmount.reset();
    }

    // The status of every payment date against pairs of amounts, equal ones and infinite ones among
    // them, and the key of the outstanding order (no number at all, NULL, where infinity meets
    // itself; an infinity where the difference overflows).
    const QStringList pairAmounts{QString(),          QStringLiteral("0"),    QStringLiteral("-0"),   QStringLiteral("1,500"),
                                  QStringLiteral("1500"), QStringLiteral(".5"), QStringLiteral("1E400"), QStringLiteral("-1E400"),
                                  QStringLiteral("1.7E308"), QStringLiteral("-1.7E308"), QStringLiteral("abc")};
    const char *statusSql = "SELECT talvesk_status(?1, ?2, ?3), talvesk_status_caption(?1, ?2, ?3)";
    platform::Statement deskStatus = desk.prepare(statusSql), serverStatus = server.prepare(statusSql);
    platform::Statement deskKey = desk.prepare("SELECT talvesk_amount(?1) - talvesk_amount(?2)");
    platform::Statement serverKey = server.prepare("SELECT talvesk_outstanding(?1, ?2)::text");
    for (const QString &total : pairAmounts) {
        for (const QString &paid : pairAmounts) {
            deskKey.bind(1, total).bind(2, paid);
            serverKey.bind(1, total).bind(2, paid);
            ASSERT_TRUE(deskKey.next());
            ASSERT_TRUE(serverKey.next());
            EXPECT_EQ(deskKey.isNull(0), serverKey.isNull(0)) << shown(total) << " less " << shown(paid);
            if (!deskKey.isNull(0)) {
                EXPECT_TRUE(sameDouble(deskKey.value(0).real, serverDouble(serverKey.text(0))))
                    << shown(total) << " less " << shown(paid) << ": server " << serverKey.text(0).toStdString();
            }
            deskKey.reset();
            serverKey.reset();
            for (const QString &date : {QString(), QStringLiteral(" "), QStringLiteral("\u3000\t"), QStringLiteral("\u2028"),
                                        QStringLiteral("x"), QStringLiteral("1130105")}) {
                for (platform::Statement *s : {&deskStatus, &serverStatus}) {
                    if (date.isNull())
                        s->bindNull(1);
                    else
                        s->bind(1, date);
                    s->bind(2, total).bind(3, paid);
                }
                ASSERT_TRUE(deskStatus.next());
                ASSERT_TRUE(serverStatus.next());
                EXPECT_EQ(deskStatus.integer(0), serverStatus.integer(0))
                    << shown(date) << ' ' << shown(total) << ' ' << shown(paid);
                EXPECT_EQ(deskStatus.text(1), serverStatus.text(1));
                deskStatus.reset();
                serverStatus.reset();
            }
        }
    }
}

namespace {

// The receivables both databases hold: letters in either case, fullwidth ones, LIKE's own
// wildcards and its escape, Chinese, blanks and missing values, and awkward amounts.
const std::vector<std::array<const char *, 6>> kRows{
    // name, number, account, total, payment date, paid
    {"王小明", "C001", "95120001", "1,500", "1130105", "1500"},
    {"李大華", "c002", "95120002", ".5", nullptr, nullptr},
    {"王大同", "C003", "95120003", "2000", "1130106", "1000"},
    {"陳\t美", "X%_1", "95120004", "100", "1130107", "150.5"},
    {"abc", "a\\b", "95120005", "1E3", " ", "7"},
    {"ABD", "a_b", "95120006", "-0", "990101", "0"},
    {"ＡＢＣ王", "ｃ００7", "95120007", "1E400", "1130108", "5"},
    {"Abc", nullptr, "95120008", "12元", "１１３０１０９", "12"},
    {nullptr, "C009", "9512abc", "1 000", "\u3000", "1,000"},
    {"b", "C010", "95120010", "abc", "1130110", "-5"},
    {"B", "c011", "95120011", "2,000.5", "1130111", "2000.25"},
    {"王", "C012", "95120012", "300", "1130112", "300"},
};

void fill(platform::Database &db)
{
    platform::Transaction writing(db);
    platform::Statement insert = db.prepare(
        "INSERT INTO F_AccountData (UserName, UserNum, Bankcode, Total, PayDate, PayTotal) VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
    for (const auto &row : kRows) {
        for (int c = 0; c < 6; ++c) {
            if (row[std::size_t(c)])
                insert.bind(c + 1, QString::fromUtf8(row[std::size_t(c)]));
            else
                insert.bindNull(c + 1);
        }
        insert.run();
        insert.reset();
    }
    writing.commit();
}

// Everything the lookup shows for a query: its pages of two (each after the last row of the one
// before), every match, and the totals line.
QStringList answer(const platform::AppFolder &app, const results::LookupQuery &query)
{
    results::Lookup lookup(app, query);
    QStringList out;
    qint64 after = 0;
    for (int pages = 0; pages < 20; ++pages) {
        const std::vector<results::FoundReceivable> page = lookup.page(after, 2);
        for (const results::FoundReceivable &f : page)
            out << QString::number(f.rowid) + u'\t' + results::lookupLine(f);
        if (page.size() < 2)
            break;
        after = page.back().rowid;
        out << QStringLiteral("--");
    }
    out << QStringLiteral("== all");
    lookup.forEach([&](const results::FoundReceivable &f) { out << results::lookupLine(f); });
    out << results::totalsText(lookup.totals());
    return out;
}

} // namespace

// Every query the window can ask, on the desk's file and on the server: the same pages in the same
// order (texts byte by byte, whatever the server's collation), the same matches and totals; and
// `find` prints the same lines.
TEST(LookupOnServer, ThePagesMatchesAndTotalsAreTheDesks)
{
    BothDatabases both;
    {
        platform::Database desk = both.open(false), server = both.open(true);
        fill(desk);
        fill(server);
    }
    const QStringList texts{QString(),          QStringLiteral("王"),    QStringLiteral("c00"), QStringLiteral("C00"),
                            QStringLiteral("%_"), QStringLiteral("_"),     QStringLiteral("\\"),  QStringLiteral("ａｂｃ"),
                            QStringLiteral("ＡＢＣ"), QStringLiteral("abc"), QStringLiteral("9512"), QStringLiteral("王小明"),
                            QStringLiteral("無此人"), QStringLiteral("a") + QChar(0)};
    const SortBy sorts[] = {SortBy::Table, SortBy::Account, SortBy::Name,        SortBy::Number, SortBy::Total,
                            SortBy::PayDate, SortBy::Paid,  SortBy::Outstanding, SortBy::Status};
    // Each text in table order; each status alone and with a text; every order both ways.
    std::vector<results::LookupQuery> queries;
    for (const QString &text : texts)
        queries.push_back({text, Status::Any});
    for (Status status : {Status::Unpaid, Status::Partial, Status::Paid, Status::Overpaid}) {
        queries.push_back({QString(), status});
        queries.push_back({QStringLiteral("9512"), status, SortBy::Outstanding, true});
    }
    for (SortBy by : sorts) {
        for (bool descending : {false, true})
            queries.push_back({QString(), Status::Any, by, descending});
    }
    queries.push_back({QStringLiteral("b"), Status::Any, SortBy::Name, false});
    for (const results::LookupQuery &query : queries) {
        const QStringList desk = answer(both.desk.folder(), query), server = answer(both.office.folder(), query);
        EXPECT_EQ(desk, server) << "text " << shown(query.text) << " status " << int(query.status) << " by "
                                << int(query.sortBy) << (query.descending ? " desc" : "") << "\n desk:\n"
                                << desk.join(u'\n').toStdString() << "\n server:\n" << server.join(u'\n').toStdString();
    }
    // Through the batch tool, whose lines are a contract: the same output, the same totals.
    for (const QStringList &args : {QStringList{}, QStringList{QStringLiteral("abc")},
                                    QStringList{QStringLiteral("王"), QStringLiteral("--status"), QStringLiteral("paid")}}) {
        const test::BatchRun desk = batch(both.desk, QStringList{QStringLiteral("find")} + args);
        const test::BatchRun server = batch(both.office, QStringList{QStringLiteral("find")} + args);
        EXPECT_EQ(server.code, shell::kBatchOk) << server.err.toStdString();
        EXPECT_EQ(desk.out, server.out) << args.join(u' ').toStdString();
        EXPECT_EQ(desk.err, server.err) << args.join(u' ').toStdString();
    }
    EXPECT_EQ(batch(both.office, {QStringLiteral("find"), QStringLiteral("ＡＢＣ")}).out.count(u'\n'), 1);
    // The server's indexes need no making: refresh-index has nothing to do there.
    EXPECT_EQ(batch(both.office, {QStringLiteral("refresh-index")}).out, QStringLiteral("refresh-index: current\n"));
}

// More matches than the server is read for at once: `find` goes on past each part, every match
// once and in order, as on the desk.
TEST(LookupOnServer, FindReadsPastEachPartTheSameLinesAsTheDesk)
{
    BothDatabases both;
    {
        platform::Database desk = both.open(false), server = both.open(true);
        desk.execute("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 45001) "
                     "INSERT INTO F_AccountData (UserName, UserNum, Bankcode, Total, PayDate, PayTotal) "
                     "SELECT 'n' || i, 'C' || i, '95' || i, i, CASE WHEN i % 2 = 0 THEN '1130105' END, i % 7 FROM n");
        server.execute("INSERT INTO F_AccountData (UserName, UserNum, Bankcode, Total, PayDate, PayTotal) "
                       "SELECT 'n' || i, 'C' || i, '95' || i, i::text, CASE WHEN i % 2 = 0 THEN '1130105' END, (i % 7)::text "
                       "FROM generate_series(1, 45001) i");
    }
    for (const QStringList &args : {QStringList{}, QStringList{QStringLiteral("n1"), QStringLiteral("--status"), QStringLiteral("partial")}}) {
        const test::BatchRun desk = batch(both.desk, QStringList{QStringLiteral("find")} + args);
        const test::BatchRun server = batch(both.office, QStringList{QStringLiteral("find")} + args);
        EXPECT_EQ(server.code, shell::kBatchOk) << server.err.toStdString();
        EXPECT_TRUE(desk.out == server.out) << args.join(u' ').toStdString();
        EXPECT_EQ(desk.err, server.err);
        if (args.isEmpty()) {
            EXPECT_EQ(server.out.count(u'\n'), 45001);
        }
    }
}

// A server the lookup cannot use is named so, never read as if it had no receivables: one whose
// database an earlier server-init made (without the lookup's functions), and one where pg_trgm
// cannot be added, whose server-init makes nothing.
TEST(LookupOnServer, AServerWithoutWhatTheLookupNeedsIsToldInChinese)
{
    BothDatabases both;
    platform::pg::Connection(both.database.connectionString())
        .execute("DROP FUNCTION talvesk_status_caption(text, text, text); DROP FUNCTION talvesk_status(text, text, text) CASCADE");
    const test::BatchRun found = batch(both.office, {QStringLiteral("find")});
    EXPECT_EQ(found.code, shell::kBatchFailed);
    EXPECT_TRUE(found.out.isEmpty());
    EXPECT_TRUE(found.err.contains(QStringLiteral("server-init"))) << found.err.toStdString();
    EXPECT_TRUE(found.err.contains(QStringLiteral("帳款查詢"))) << found.err.toStdString();

    // A clerk's role that may make tables but not add extensions to the database.
    OfficeDatabase bare;
    const std::string role = "talvesk_clerk_" + std::to_string(QCoreApplication::applicationPid());
    platform::pg::Connection admin(bare.connectionString());
    admin.execute("DROP ROLE IF EXISTS " + role + "; CREATE ROLE " + role + " LOGIN PASSWORD 'clerk-pw'; "
                  "GRANT CREATE ON SCHEMA public TO " + role);
    test::TestApp clerk;
    nameServer(clerk, bare.connectionString() + QStringLiteral(" user=") + QString::fromStdString(role));
    // Over TCP (the Windows run) the server asks for the role's password, given as a clerk's
    // desk gives it: from the environment, never from Database.ini.
    qputenv("PGPASSWORD", "clerk-pw");
    const test::BatchRun init = batch(clerk, {QStringLiteral("server-init")});
    qunsetenv("PGPASSWORD");
    EXPECT_EQ(init.code, shell::kBatchFailed);
    EXPECT_EQ(init.out, QStringLiteral("server-init: failed, nothing made\n"));
    EXPECT_TRUE(init.err.contains(QStringLiteral("pg_trgm"))) << init.err.toStdString();
    EXPECT_TRUE(init.err.contains(QStringLiteral("CREATE EXTENSION pg_trgm"))) << init.err.toStdString();
    EXPECT_EQ(admin.execute("SELECT count(*) FROM pg_tables WHERE schemaname = 'public'").integer(0, 0), 0);
    admin.execute("REVOKE CREATE ON SCHEMA public FROM " + role);
    admin.execute("DROP OWNED BY " + role + "; DROP ROLE " + role);
}
