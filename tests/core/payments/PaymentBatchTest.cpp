// The bank file's payments are written many to a statement; these check that the result is, line
// for line, what writing them one at a time gives, also when something fails part way and when
// the import is undone afterwards.
#include "payments/BankImport.h"
#include "db/Connection.h"
#include "db/Journal.h"
#include "platform/Codec950.h"
#include "platform/Error.h"
#include "support/Tables.h"
#include "support/TestApp.h"
#include "support/TextFiles.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

#ifndef _WIN32
#include <dlfcn.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

// (By taking the C library's fread's place: glibc's way, not Windows'.)
#ifndef _WIN32
// The disk failing part way through the bank file: while `failingFile` is set, reading that file
// gives its first chunk, then a read error (the stream's error flag set, as a device failure
// sets it). Every other read goes to the C library.
namespace {
std::string failingFile;
int chunksOfFailingFile = 0;
} // namespace

extern "C" size_t fread(void *buffer, size_t size, size_t count, FILE *stream)
{
    using Read = size_t (*)(void *, size_t, size_t, FILE *);
    static const Read real = reinterpret_cast<Read>(dlsym(RTLD_NEXT, "fread"));
    if (!failingFile.empty()) {
        char target[4096];
        const std::string link = "/proc/self/fd/" + std::to_string(fileno(stream));
        const ssize_t n = readlink(link.c_str(), target, sizeof target);
        if (n > 0 && std::string(target, std::size_t(n)) == failingFile && chunksOfFailingFile++ > 0) {
            stream->_flags |= _IO_ERR_SEEN;
            errno = EIO;
            return 0;
        }
    }
    return real(buffer, size, count, stream);
}
#endif

using namespace talvesk;
using test::bankLine;

namespace {

// What a bank file should do, worked out line by line the slow and obvious way.
struct Model {
    struct Row {
        QString account;
        qint64 total = 0;
        bool nullTotal = false;
        QString date, amount, outstanding;
    };
    std::vector<Row> rows; // in row id order
    std::vector<qint64> abnormal; // line numbers, in order
    qint64 applied = 0;
    std::map<qint64, QString> shown; // line number -> outstanding amount shown

    // Applies one line; false when the line stops the run (a Total without value).
    bool line(qint64 number, const QString &account, const QString &date, qint64 amount)
    {
        const Row *first = nullptr;
        for (const Row &r : rows)
            if (r.account == account) {
                first = &r;
                break;
            }
        if (!first) {
            if (!account.isEmpty())
                abnormal.push_back(number);
            return true;
        }
        if (first->nullTotal)
            return false;
        const QString outstanding = QString::number(first->total - amount);
        for (Row &r : rows)
            if (r.account == account) {
                r.date = date;
                r.amount = QString::number(amount);
                r.outstanding = outstanding;
            }
        ++applied;
        shown[number] = outstanding;
        return true;
    }
};

struct BankFile {
    QByteArray bytes;
    qint64 lines = 0;
    void add(const QString &line)
    {
        bytes += platform::codec950::encode(line) + "\r\n";
        ++lines;
    }
};

// A deterministic mix of the lines a bank file holds: known accounts (some more than once within
// a few lines), an account two receivables share, unknown accounts, a Chinese account, amounts
// that are not numbers, and blank lines.
// `fixed` gives the account of some lines.
BankFile mixedFile(Model &model, int count, const std::map<int, QString> &fixed = {})
{
    BankFile file;
    quint32 seed = 12345;
    auto next = [&](quint32 n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % n;
    };
    bool running = true;
    for (int i = 1; i <= count; ++i) {
        const quint32 kind = next(20);
        const QString date = QStringLiteral("11301%1").arg(10 + next(20));
        const qint64 amount = next(5000);
        const QString amountText = QStringLiteral("%1").arg(amount, 11, 10, QLatin1Char('0'));
        const bool isFixed = fixed.count(i) > 0;
        QString account;
        if (isFixed)
            account = fixed.at(i);
        else if (kind < 12)
            account = QStringLiteral("R%1").arg(next(40), 3, 10, QLatin1Char('0')); // 40 accounts: repeats within a batch
        else if (kind < 14)
            account = QStringLiteral("TWO");
        else if (kind < 15)
            account = QStringLiteral("帳號甲");
        else if (kind < 17)
            account = QStringLiteral("X%1").arg(next(1000));
        if (kind == 17 && !isFixed) {
            file.add(bankLine(date, QStringLiteral("12A"), QStringLiteral("R001")));
            if (running)
                model.abnormal.push_back(i);
            continue;
        }
        if (kind >= 18 && !isFixed) {
            file.add(QString());
            continue;
        }
        file.add(bankLine(date, amountText, account));
        if (running)
            running = model.line(i, account, date, amount);
    }
    return file;
}

// With `shared`, two accounts are each held by two receivables.
void addReceivables(test::TestApp &app, Model &model, bool shared = true)
{
    for (int i = 0; i < 40; ++i) {
        const QString account = QStringLiteral("R%1").arg(i, 3, 10, QLatin1Char('0'));
        test::addReceivable(app.folder(), account, QString::number(1000 + i * 7));
        model.rows.push_back({account, 1000 + i * 7, false, {}, {}, {}});
    }
    // An account held by two receivables: both are paid from the first one's Total.
    test::addReceivable(app.folder(), QStringLiteral("TWO"), QStringLiteral("900"));
    model.rows.push_back({QStringLiteral("TWO"), 900, false, {}, {}, {}});
    if (shared) {
        test::addReceivable(app.folder(), QStringLiteral("R005"), QStringLiteral("5"));
        model.rows.push_back({QStringLiteral("R005"), 5, false, {}, {}, {}});
        test::addReceivable(app.folder(), QStringLiteral("TWO"), QStringLiteral("1"));
        model.rows.push_back({QStringLiteral("TWO"), 1, false, {}, {}, {}});
    }
    test::addReceivable(app.folder(), QStringLiteral("帳號甲"), QStringLiteral("300"));
    model.rows.push_back({QStringLiteral("帳號甲"), 300, false, {}, {}, {}});
}

void expectTableAsModel(const test::TestApp &app, const Model &model)
{
    const auto rows = test::tableRows(app.folder(), QStringLiteral("F_AccountData"));
    ASSERT_EQ(rows.size(), model.rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Model::Row &r = model.rows[i];
        EXPECT_EQ(rows[i].at(3), r.account);
        EXPECT_EQ(rows[i].mid(5, 3), (QStringList{r.date, r.amount, r.outstanding})) << "row " << i + 1 << " " << r.account.toStdString();
    }
}

std::vector<qint64> loggedLines(const test::TestApp &app)
{
    std::vector<qint64> numbers;
    const QString log = platform::codec950::decode(test::readFile(app.folder().errorLogFile()));
    static const QRegularExpression lineNumber(QStringLiteral("^第 (\\d+) 行"), QRegularExpression::MultilineOption);
    for (auto it = lineNumber.globalMatch(log); it.hasNext();)
        numbers.push_back(it.next().captured(1).toLongLong());
    return numbers;
}

} // namespace

TEST(PaymentBatch, AFileOfManyBatchesEndsLineForLineAsWrittenOneByOneAndIsUndoneExactly)
{
    test::TestApp app;
    Model model;
    addReceivables(app, model);
    QStringList before;
    {
        platform::Database db = db::openDatabase(app.folder());
        before = test::bothTables(db);
    }
    const BankFile file = mixedFile(model, 700);
    const QString path = app.path(QStringLiteral("bank.txt"));
    test::writeFile(path, file.bytes);

    std::map<qint64, QString> shown;
    std::vector<qint64> order;
    textimport::TextImportObserver observer;
    observer.lineShown = [&](const db::ShownRow &row) {
        order.push_back(row.row);
        if (row.outcome == db::kUpdatedRow)
            shown[row.row] = row.values.at(3);
    };
    const auto counts = payments::BankImport(app.folder()).run(path, observer);

    EXPECT_EQ(counts.applied, model.applied);
    EXPECT_EQ(counts.abnormal, qint64(model.abnormal.size()));
    expectTableAsModel(app, model);
    EXPECT_EQ(loggedLines(app), model.abnormal) << "the log names the same lines, in file order";
    EXPECT_EQ(shown, model.shown) << "each applied line shows the outstanding amount written for it";
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));

    platform::Database db = db::openDatabase(app.folder());
    db::undoLatest(db);
    EXPECT_EQ(test::bothTables(db), before);
}

// A receivable whose Total holds no value stops the run before anything of its batch is
// written; a row the database refuses stops it after rows of the batch were changed and undone
// again. Either way the lines before stay applied and logged, none after, and an undo of the
// failed import gives the tables back exactly.
class PaymentBatchFailure : public testing::TestWithParam<bool> {};

TEST_P(PaymentBatchFailure, LinesBeforeTheFailingOneStayAndNoneAfter)
{
    const bool refusedByTheDatabase = GetParam();
    test::TestApp app;
    Model model;
    // Refused by the database: no account of two rows, so that the statement is tried whole.
    addReceivables(app, model, !refusedByTheDatabase);
    if (refusedByTheDatabase) {
        // A constraint, not a trigger: with a trigger every payment is written on its own.
        test::addReceivable(app.folder(), QStringLiteral("STOP"), QStringLiteral("10"));
        test::execute(app.folder(),
                      "CREATE TABLE refusing (UserName TEXT, UserNum TEXT, Memo TEXT, Bankcode TEXT, Total TEXT, "
                      "PayDate TEXT, PayTotal TEXT, N_PayTotal TEXT, Spare TEXT, "
                      "CHECK (Bankcode <> 'STOP' OR PayDate = '')); "
                      "INSERT INTO refusing (rowid, UserName, UserNum, Memo, Bankcode, Total, PayDate, PayTotal, N_PayTotal, Spare) "
                      "SELECT rowid, * FROM F_AccountData; DROP TABLE F_AccountData; "
                      "ALTER TABLE refusing RENAME TO F_AccountData; "
                      "CREATE INDEX F_AccountData_Bankcode ON F_AccountData (Bankcode)");
    } else {
        test::execute(app.folder(), "INSERT INTO F_AccountData (Bankcode, Total) VALUES ('STOP', NULL)");
    }
    model.rows.push_back({QStringLiteral("STOP"), 10, !refusedByTheDatabase, {}, {}, {}});
    QStringList before;
    {
        platform::Database db = db::openDatabase(app.folder());
        before = test::bothTables(db);
    }
    // Line 100 is the 36th of the second batch: earlier lines of that batch are written, later not.
    Model scratch = model;
    const BankFile file = mixedFile(scratch, 300, {{100, QStringLiteral("STOP")}});
    const QString path = app.path(QStringLiteral("bank.txt"));
    test::writeFile(path, file.bytes);

    textimport::TextImportCounts stopped{-1, -1};
    textimport::TextImportObserver observer;
    observer.stopped = [&](const textimport::TextImportCounts &c) { stopped = c; };
    EXPECT_THROW(payments::BankImport(app.folder()).run(path, observer), platform::Error);

    // The model stopped at line 100 (a refused row counts as stopping there too).
    Model upTo = model;
    mixedFile(upTo, 99);
    expectTableAsModel(app, upTo);
    EXPECT_EQ(stopped.applied, upTo.applied);
    EXPECT_EQ(stopped.abnormal, qint64(upTo.abnormal.size()));
    EXPECT_EQ(loggedLines(app), upTo.abnormal);

    platform::Database db = db::openDatabase(app.folder());
    db::undoLatest(db);
    EXPECT_EQ(test::bothTables(db), before);
}

INSTANTIATE_TEST_SUITE_P(Kinds, PaymentBatchFailure, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool> &info) {
                             return info.param ? std::string("RowRefusedByTheDatabase") : std::string("TotalWithoutValue");
                         });

// A trigger of another program's making that refuses a row only while a later line's row is
// already paid (as it would be inside a statement for many): with a trigger on the table the
// payments are written one by one, so the import ends as usual and can be undone exactly.
TEST(PaymentBatch, ATriggerRefusingARowOnlyInsideABatchLeavesTheImportWhole)
{
    test::TestApp app;
    Model model;
    addReceivables(app, model, false); // no account of two rows: the statement is tried whole
    for (const char *account : {"LATE", "STOP"}) {
        test::addReceivable(app.folder(), QString::fromLatin1(account), QStringLiteral("10"));
        model.rows.push_back({QString::fromLatin1(account), 10, false, {}, {}, {}});
    }
    test::execute(app.folder(), "CREATE TRIGGER refuseOnce BEFORE UPDATE ON F_AccountData WHEN NEW.Bankcode = 'STOP' "
                                "AND coalesce((SELECT PayDate FROM F_AccountData WHERE Bankcode = 'LATE'), '') <> '' "
                                "BEGIN SELECT RAISE(ABORT, 'not now'); END");
    QStringList before;
    {
        platform::Database db = db::openDatabase(app.folder());
        before = test::bothTables(db);
    }
    const BankFile file = mixedFile(model, 200, {{100, QStringLiteral("STOP")}, {101, QStringLiteral("LATE")}});
    const QString path = app.path(QStringLiteral("bank.txt"));
    test::writeFile(path, file.bytes);

    const auto counts = payments::BankImport(app.folder()).run(path, {});
    EXPECT_EQ(counts.applied, model.applied);
    expectTableAsModel(app, model);

    platform::Database db = db::openDatabase(app.folder());
    EXPECT_NO_THROW(db::undoLatest(db));
    EXPECT_EQ(test::bothTables(db), before);
}

// A full disk part way through a batch: the engine gives up the whole transaction, not only the
// statement. No payment may then be written on its own, outside the import's transaction: what
// stays in the tables is the lines the import says are stored, from the first on, and an undo
// takes them back.
TEST(PaymentBatch, AFullDiskPartWayKeepsExactlyTheLinesReportedStored)
{
    test::TestApp app;
    constexpr int kAccounts = 3000;
    auto account = [](int i) { return QStringLiteral("ACC%1").arg(i, 5, 10, QLatin1Char('0')); };
    {
        platform::Database db = db::openDatabase(app.folder());
        db.execute("BEGIN");
        auto insert = db.prepare("INSERT INTO F_AccountData VALUES (?1, 'N', 'M', ?2, '1000', '', '', '', '')");
        for (int i = 0; i < kAccounts; ++i) {
            insert.bind(1, QStringLiteral("客戶%1").arg(QString(300, u'x'))).bind(2, account(i));
            insert.run();
            insert.reset();
        }
        db.execute("COMMIT");
    }
    QStringList before;
    {
        platform::Database db = db::openDatabase(app.folder());
        before = test::bothTables(db);
    }
    // The later half of the table first: by the time the disk is full, the rows paid are near
    // its start.
    std::vector<int> order;
    for (int i = kAccounts / 2; i < kAccounts; ++i)
        order.push_back(i);
    for (int i = 0; i < kAccounts / 2; ++i)
        order.push_back(i);
    BankFile file;
    for (int i : order)
        file.add(bankLine(QStringLiteral("1130105"), QStringLiteral("00000000001"), account(i)));
    const QString path = app.path(QStringLiteral("bank.txt"));
    test::writeFile(path, file.bytes);

    textimport::TextImportCounts stopped{-1, -1};
    textimport::TextImportObserver observer;
    observer.stopped = [&](const textimport::TextImportCounts &c) { stopped = c; };
    // The rollback journal may not grow past 150 pages: the disk is full some way into the
    // earlier half of the table, while the database file itself is written in place.
    const qint64 limit = 150 * 4096;
    ASSERT_GT(QFileInfo(app.folder().databaseFile()).size(), limit + 50 * 4096);
    {
        test::FileSizeLimit full(limit);
        EXPECT_THROW(payments::BankImport(app.folder()).run(path, observer), platform::Error);
    }
    const auto rows = test::tableRows(app.folder(), QStringLiteral("F_AccountData"));
    ASSERT_EQ(rows.size(), std::size_t(kAccounts));
    qint64 paidRows = 0;
    for (int i = 0; i < kAccounts; ++i)
        if (!rows[std::size_t(i)].at(5).isEmpty())
            ++paidRows;
    EXPECT_EQ(paidRows, stopped.applied) << "paid rows in the table against lines reported stored";
    for (std::size_t n = 0; n < order.size(); ++n)
        EXPECT_EQ(rows[std::size_t(order[n])].at(5).isEmpty(), qint64(n) >= stopped.applied) << "line " << n + 1;
    platform::Database db = db::openDatabase(app.folder());
    if (stopped.applied > 0) {
        EXPECT_NO_THROW(db::undoLatest(db));
    }
    EXPECT_EQ(test::bothTables(db), before);
}

// A trigger of another program's making that changes other receivables when one is paid: each
// later payment sees what it did, as it did when each payment was a statement of its own (a
// statement for many reads every row before it changes any).
TEST(PaymentBatch, ATriggerOnTheReceivablesIsSeenByEveryLaterPayment)
{
    test::TestApp app;
    for (const char *account : {"A", "B", "D"})
        test::addReceivable(app.folder(), QString::fromLatin1(account), QStringLiteral("100"));
    test::execute(app.folder(), "CREATE TRIGGER other AFTER UPDATE ON F_AccountData WHEN NEW.Bankcode = 'A' BEGIN "
                                "UPDATE F_AccountData SET Total = '5' WHERE Bankcode = 'B'; "
                                "DELETE FROM F_AccountData WHERE Bankcode = 'D'; END");
    BankFile file;
    file.add(bankLine(QStringLiteral("1130105"), QStringLiteral("00000000010"), QStringLiteral("A")));
    file.add(bankLine(QStringLiteral("1130105"), QStringLiteral("00000000011"), QStringLiteral("B")));
    file.add(bankLine(QStringLiteral("1130105"), QStringLiteral("00000000012"), QStringLiteral("D")));
    const QString path = app.path(QStringLiteral("bank.txt"));
    test::writeFile(path, file.bytes);

    const auto counts = payments::BankImport(app.folder()).run(path, {});
    EXPECT_EQ(counts.applied, 2);
    EXPECT_EQ(counts.abnormal, 1);
    EXPECT_EQ(loggedLines(app), (std::vector<qint64>{3})) << "the receivable of line 3 was gone";
    const auto rows = test::tableRows(app.folder(), QStringLiteral("F_AccountData"));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].mid(3, 5), (QStringList{QStringLiteral("A"), QStringLiteral("100"), QStringLiteral("1130105"),
                                              QStringLiteral("10"), QStringLiteral("90")}));
    EXPECT_EQ(rows[1].mid(3, 5), (QStringList{QStringLiteral("B"), QStringLiteral("5"), QStringLiteral("1130105"),
                                              QStringLiteral("11"), QStringLiteral("-6")}))
        << "paid from the Total the trigger had set";
}

// The preview ends at its 20th record, although the rest of the batch is written with it: a
// receivable without a Total further on in the same batch neither stops the preview nor shows.
TEST(PaymentBatch, APreviewEndsAtItsLastRecordEvenWhenTheBatchFailsFurtherOn)
{
    test::TestApp app;
    BankFile file;
    for (int i = 1; i <= 30; ++i) {
        const QString account = QStringLiteral("P%1").arg(i);
        if (i == 25)
            test::execute(app.folder(), "INSERT INTO F_AccountData (Bankcode, Total) VALUES ('P25', NULL)");
        else
            test::addReceivable(app.folder(), account, QStringLiteral("100"));
        file.add(bankLine(QStringLiteral("1130105"), QStringLiteral("00000000001"), account));
    }
    const QString path = app.path(QStringLiteral("bank.txt"));
    test::writeFile(path, file.bytes);

    textimport::TextPreview preview;
    ASSERT_NO_THROW(preview = textimport::previewLines(payments::BankImport(app.folder()), path));
    ASSERT_EQ(preview.lines.size(), 20u);
    for (std::size_t i = 0; i < 20; ++i) {
        EXPECT_EQ(preview.lines[i].row, qint64(i + 1));
        EXPECT_EQ(preview.lines[i].values.at(3), QStringLiteral("99"));
    }
    for (const auto &row : test::tableRows(app.folder(), QStringLiteral("F_AccountData")))
        EXPECT_EQ(row.at(5), QString()) << "a preview writes nothing";
}

#ifndef _WIN32
// The bank file cannot be read on part way (a failing disk): every line read before is written,
// counted and logged, as when each line was written before the next was read.
TEST(PaymentBatch, AFileThatCannotBeReadOnKeepsEveryLineReadBefore)
{
    test::TestApp app;
    constexpr int kLines = 1000;
    {
        platform::Database db = db::openDatabase(app.folder());
        db.execute("BEGIN");
        auto insert = db.prepare("INSERT INTO F_AccountData VALUES ('n', 'N', 'M', ?1, '100', '', '', '', '')");
        for (int i = 0; i < kLines; ++i) {
            insert.bind(1, QStringLiteral("L%1").arg(i)).run();
            insert.reset();
        }
        db.execute("COMMIT");
    }
    BankFile file;
    for (int i = 0; i < kLines; ++i)
        file.add(i % 10 == 9 ? bankLine(QStringLiteral("1130105"), QStringLiteral("12A"), QStringLiteral("L%1").arg(i))
                             : bankLine(QStringLiteral("1130105"), QStringLiteral("00000000001"), QStringLiteral("L%1").arg(i)));
    const QString path = app.path(QStringLiteral("bank.txt"));
    test::writeFile(path, file.bytes);
    // The lines whose end is in the first chunk of 64 KiB (the last one's end not its last byte).
    int readable = 0;
    for (qsizetype at = file.bytes.indexOf('\r'); at >= 0 && at + 1 < (1 << 16); at = file.bytes.indexOf('\r', at + 1))
        ++readable;
    ASSERT_GT(readable % 64, 10) << "the failure comes part way through a batch";

    textimport::TextImportCounts stopped{-1, -1};
    textimport::TextImportObserver observer;
    observer.stopped = [&](const textimport::TextImportCounts &c) { stopped = c; };
    failingFile = QFileInfo(path).canonicalFilePath().toStdString();
    chunksOfFailingFile = 0;
    EXPECT_THROW(payments::BankImport(app.folder()).run(path, observer), platform::Error);
    failingFile.clear();
    ASSERT_EQ(chunksOfFailingFile, 2) << "the fake disk was not met";

    const int abnormal = readable / 10;
    EXPECT_EQ(stopped.applied, readable - abnormal);
    EXPECT_EQ(stopped.abnormal, abnormal);
    const auto rows = test::tableRows(app.folder(), QStringLiteral("F_AccountData"));
    for (int i = 0; i < kLines; ++i)
        EXPECT_EQ(rows[std::size_t(i)].at(5).isEmpty(), i >= readable || i % 10 == 9) << "line " << i + 1;
    EXPECT_EQ(qint64(loggedLines(app).size()), abnormal);
}
#endif
