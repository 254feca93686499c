#include "db/Connection.h"
#include "db/Journal.h"
#include "db/TableExport.h"
#include "support/Tables.h"
#include "support/TestApp.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace talvesk;

namespace {

qint64 count(platform::Database &db, const char *sql)
{
    platform::Statement q = db.prepare(sql);
    return q.next() ? q.integer(0) : -1;
}

std::string sealOf(platform::Database &db, const char *column, qint64 id)
{
    platform::Statement q = db.prepare(std::string("SELECT ") + column + " FROM Journal WHERE id = " + std::to_string(id));
    return q.next() ? q.text(0).toStdString() : std::string();
}

// The state entry `id` left, without the file's change counter stored beside it.
std::string endState(platform::Database &db, qint64 id)
{
    const std::string stored = sealOf(db, "seal_after", id);
    return stored.substr(0, stored.find('@'));
}

class JournalRecordsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Ids with a gap (4), values of every type, NULL beside the empty text.
        test::execute(app.folder(),
                      "INSERT INTO F_AccountData (rowid, UserName, UserNum, Memo, Bankcode, Total, PayDate, PayTotal, "
                      "N_PayTotal, Spare) VALUES "
                      "(1, '甲', '1', NULL, 'A1', '1500', '', '', '', NULL),"
                      "(2, '乙', 2, 2.5, 'A2', X'00FF', '', '', '', ''),"
                      "(3, '丙', '3', 'm', 'A3', '700', NULL, NULL, NULL, NULL),"
                      "(5, '丁', '5', 'n', 'A5', '800', '1130101', '800', '0', 'x');"
                      "INSERT INTO SMdata VALUES ('2', 'c', 'a', 's', '', '', 'b1', 'OLD', 'b3', '10');");
    }

    // Runs `sql` as one journalled operation, then undoes it: both tables must be back whole.
    void expectUndoneExactly(const char *sql)
    {
        platform::Database db = db::openDatabase(app.folder());
        const QStringList start = test::bothTables(db);
        {
            db::JournalEntry entry(db, QStringLiteral("import-receivables"), QStringLiteral("/x/r.txt"));
            db.execute(sql);
            entry.close(QStringLiteral("many"));
        }
        ASSERT_NE(test::bothTables(db), start);
        ASSERT_NO_THROW(db::undoLatest(db));
        EXPECT_EQ(test::bothTables(db), start);
    }

    test::TestApp app;
};

} // namespace

// Each column is kept once per row, at its first change; a row updated and then deleted, deleted
// and given again, or moved to another id comes back whole.
TEST_F(JournalRecordsTest, EveryKindOfChangeToARowIsUndoneExactly)
{
    platform::Database db = db::openDatabase(app.folder());
    const QStringList start = test::bothTables(db);
    {
        db::JournalEntry entry(db, QStringLiteral("import-bank"), QStringLiteral("/x/bank.txt"));
        db.execute("UPDATE F_AccountData SET PayDate = '1130105' WHERE rowid = 1;"
                   "UPDATE F_AccountData SET Memo = 'later' WHERE rowid = 1;"
                   "UPDATE F_AccountData SET PayDate = '1130106', Memo = NULL WHERE rowid = 1;"
                   "UPDATE F_AccountData SET UserNum = 9, Total = 1.25 WHERE rowid = 2;"
                   "DELETE FROM F_AccountData WHERE rowid = 2;"
                   "DELETE FROM F_AccountData WHERE rowid = 3;"
                   "INSERT INTO F_AccountData (rowid, UserName, Bankcode) VALUES (3, 'again', 'A3');"
                   "UPDATE F_AccountData SET Total = '1' WHERE rowid = 3;"
                   "INSERT INTO F_AccountData (rowid, UserName, Bankcode) VALUES (4, 'in the gap', 'A4');"
                   "UPDATE F_AccountData SET rowid = 9 WHERE rowid = 5;"
                   "INSERT INTO F_AccountData (UserName, Bankcode) VALUES ('new', 'A10');"
                   "UPDATE F_AccountData SET Spare = 'same' WHERE Bankcode = 'A10';"
                   "UPDATE SMdata SET BARCODE2 = 'NEW';"
                   "INSERT INTO SMdata (REC) VALUES ('3');");
        entry.flush();
        entry.close(QStringLiteral("many"));
    }
    EXPECT_GT(count(db, "SELECT count(*) FROM JournalUndo"), 0);
    const QStringList end = test::bothTables(db);
    ASSERT_NE(end, start);

    // The state left behind was added up from the changes: it is what the tables hold.
    EXPECT_EQ(sealOf(db, "seal_after", 1).substr(0, 3), "v2;");

    const db::JournalRecord undone = db::undoLatest(db);
    EXPECT_EQ(undone.state, db::JournalRecord::State::Undone);
    EXPECT_EQ(test::bothTables(db), start);
    EXPECT_EQ(count(db, "SELECT count(*) FROM JournalUndo"), 0);
}

// The state an operation starts from is taken over from the one before only when nothing else
// wrote in between: a row changed by another program between two imports is part of the second's
// starting state, so the second is undone to it.
TEST_F(JournalRecordsTest, AChangeBetweenTwoOperationsIsPartOfTheSecondsStart)
{
    platform::Database ours = db::openDatabase(app.folder());
    {
        db::JournalEntry first(ours, QStringLiteral("import-bank"), QStringLiteral("/x/1.txt"));
        ours.execute("UPDATE F_AccountData SET PayTotal = '100' WHERE rowid = 1");
        first.close(QStringLiteral("1 applied, 0 abnormal"));
    }
    {
        db::JournalEntry second(ours, QStringLiteral("import-bank"), QStringLiteral("/x/2.txt"));
        ours.execute("UPDATE F_AccountData SET PayTotal = '200' WHERE rowid = 1");
        second.close(QStringLiteral("1 applied, 0 abnormal"));
    }
    // Nothing in between: the second starts where the first ended, without reading the tables.
    EXPECT_EQ(sealOf(ours, "seal_before", 2), endState(ours, 1));

    platform::Database other = platform::Database::open(app.folder().databaseFile());
    other.execute("UPDATE F_AccountData SET Memo = 'by hand' WHERE rowid = 3");
    const QStringList beforeThird = test::bothTables(ours);
    {
        db::JournalEntry third(ours, QStringLiteral("import-bank"), QStringLiteral("/x/3.txt"));
        ours.execute("UPDATE F_AccountData SET PayTotal = '300' WHERE rowid = 1");
        third.close(QStringLiteral("1 applied, 0 abnormal"));
    }
    EXPECT_NE(sealOf(ours, "seal_before", 3), endState(ours, 2));
    db::undoLatest(ours);
    EXPECT_EQ(test::bothTables(ours), beforeThird);
    // The second one's end is no longer what the tables hold (the hand-made change stays).
    EXPECT_THROW(db::undoLatest(ours), platform::Error);
}

// A clearing keeps what it deletes in slices of its one transaction, so a large table is undone
// whole from several pieces.
TEST_F(JournalRecordsTest, AClearedTableOfManyRowsComesBackFromSeveralPieces)
{
    test::execute(app.folder(), "WITH RECURSIVE n(i) AS (SELECT 10 UNION ALL SELECT i + 1 FROM n WHERE i < 45009) "
                                "INSERT INTO F_AccountData (rowid, UserName, Bankcode, Total) "
                                "SELECT i, 'name ' || i, printf('%016d', i), i * 10 FROM n;");
    const QStringList start = [&] {
        platform::Database db = db::openDatabase(app.folder());
        return test::bothTables(db);
    }();
    db::clearTable(app.folder(), QStringLiteral("F_AccountData"));
    platform::Database db = db::openDatabase(app.folder());
    EXPECT_EQ(count(db, "SELECT count(*) FROM F_AccountData"), 0);
    EXPECT_GE(count(db, "SELECT count(*) FROM JournalUndo"), 3);
    db::undoLatest(db);
    EXPECT_EQ(test::bothTables(db), start);
}

// A database whose journal kept whole rows (the program before the compact records): an import of
// a bank file, then a clearing of the store records, both still undone exactly. The file was made
// by that program: two receivables and two store records put in with sqlite3, then
// `talvesk-batch import-bank` of two records and `talvesk-batch clear-store`.
TEST(JournalOfWholeRows, EntriesKeptByTheEarlierJournalAreStillUndone)
{
    test::TestApp app(test::TestApp::NoDatabase);
    const QString file = app.folder().databaseFile();
    ASSERT_TRUE(QFile::copy(QStringLiteral(TALVESK_TEST_DATA "/journal-whole-rows.mdb"), file));
    ASSERT_TRUE(QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner));
    platform::Database db = db::openDatabase(app.folder());
    EXPECT_EQ(count(db, "SELECT count(*) FROM SMdata"), 0);

    EXPECT_EQ(db::undoLatest(db).operation, QStringLiteral("clear-store"));
    EXPECT_EQ(db::undoLatest(db).operation, QStringLiteral("import-bank"));
    EXPECT_EQ(test::bothTables(db),
              (QStringList{QStringLiteral("R|1|'甲'|'1'|NULL|'A1'|'1500'|''|''|''|NULL"),
                           QStringLiteral("R|3|'乙'|'2'|'m'|'A2'|'900'|NULL|NULL|NULL|'x'"),
                           QStringLiteral("S|1|'2'|'c'|'a'|'s'|''|''|'b1'|'OLD'|'b3'|'10'"),
                           QStringLiteral("S|2|'3'|NULL|'a2'|'s2'|'1'|'2'|'b1'|'b2'|'b3'|'20'")}));
    EXPECT_EQ(count(db, "SELECT count(*) FROM JournalReceivables"), 0);
    EXPECT_THROW(db::undoLatest(db), platform::Error);
}

// A writer's declaration spares the journal reading the row. Declared right, the update is undone
// exactly; declared wrong (the update also sets a column it did not name), the state the tables
// were left in no longer matches the one added up, and the undo is refused with nothing changed.
TEST_F(JournalRecordsTest, ADeclaredUpdateIsUndoneExactlyAndAWrongDeclarationIsRefusedNotUndoneWrong)
{
    platform::Database db = db::openDatabase(app.folder());
    db::DeclaredUpdate declared(db, "F_AccountData", {"PayDate", "PayTotal"});
    const auto update = [&](const char *sql) {
        platform::Statement row = db.prepare("SELECT PayDate, PayTotal FROM F_AccountData WHERE rowid = 3");
        ASSERT_TRUE(row.next());
        declared.before(3, row, 0);
        row.reset();
        db.execute(sql);
        declared.after();
    };
    const QStringList start = test::bothTables(db);
    {
        db::JournalEntry entry(db, QStringLiteral("import-bank"), QStringLiteral("/x/1.txt"));
        update("UPDATE F_AccountData SET PayDate = '1130105', PayTotal = 700 WHERE rowid = 3");
        entry.close(QStringLiteral("1 applied, 0 abnormal"));
    }
    ASSERT_NE(test::bothTables(db), start);
    db::undoLatest(db);
    EXPECT_EQ(test::bothTables(db), start);

    {
        db::JournalEntry entry(db, QStringLiteral("import-bank"), QStringLiteral("/x/2.txt"));
        update("UPDATE F_AccountData SET PayDate = '1130106', Memo = 'not declared' WHERE rowid = 3");
        entry.close(QStringLiteral("1 applied, 0 abnormal"));
    }
    const QStringList wrong = test::bothTables(db);
    EXPECT_THROW(db::undoLatest(db), platform::Error);
    EXPECT_EQ(test::bothTables(db), wrong);
}

namespace {

// The file's change counter (header bytes 24..27), read from the file itself.
quint32 fileChangeCounter(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray header = file.read(28);
    if (header.size() < 28)
        return 0;
    return (quint32(quint8(header[24])) << 24) | (quint32(quint8(header[25])) << 16) | (quint32(quint8(header[26])) << 8)
           | quint32(quint8(header[27]));
}

} // namespace

// A clearing holds the file in exclusive locking mode, where the engine raises the change counter
// once, not once per commit: the counter stored with the clearing's end state is then one ahead of
// the file. The next single write by anyone (here another program) brings the file to that number,
// the next import takes the clearing's end state for its start although the tables changed, and its
// undo, which nothing hinders, is refused.
TEST_F(JournalRecordsTest, AnEditAfterAClearingIsPartOfTheNextImportsStart)
{
    db::clearTable(app.folder(), QStringLiteral("SMdata"));
    {
        platform::Database other = platform::Database::open(app.folder().databaseFile());
        other.execute("UPDATE F_AccountData SET Memo = 'by hand' WHERE rowid = 3");
    }
    platform::Database db = db::openDatabase(app.folder());
    const QStringList before = test::bothTables(db);
    {
        db::JournalEntry entry(db, QStringLiteral("import-bank"), QStringLiteral("/x/1.txt"));
        db.execute("UPDATE F_AccountData SET PayTotal = '100' WHERE rowid = 1");
        entry.close(QStringLiteral("1 applied, 0 abnormal"));
    }
    EXPECT_NE(sealOf(db, "seal_before", 2), endState(db, 1)) << "file counter " << fileChangeCounter(app.folder().databaseFile())
                                                              << ", clearing stored " << sealOf(db, "seal_after", 1);
    ASSERT_NO_THROW(db::undoLatest(db));
    EXPECT_EQ(test::bothTables(db), before);
}

// Another program adds a receivable while an import runs (between two of its commits). The undo of
// the import must not take that row away with the import's own.
TEST_F(JournalRecordsTest, ARowAnotherProgramAddsDuringAnImportSurvivesItsUndo)
{
    platform::Database db = db::openDatabase(app.folder());
    platform::Database other = platform::Database::open(app.folder().databaseFile());
    {
        db::JournalEntry entry(db, QStringLiteral("import-receivables"), QStringLiteral("/x/r.txt"));
        db.execute("INSERT INTO F_AccountData (UserName, Bankcode) VALUES ('ours', 'B1')");
        other.execute("INSERT INTO F_AccountData (UserName, Bankcode) VALUES ('typed in meanwhile', 'B2')");
        db.execute("UPDATE F_AccountData SET PayTotal = '5' WHERE rowid = 1");
        entry.close(QStringLiteral("1 added"));
    }
    bool undone = false;
    try {
        db::undoLatest(db);
        undone = true;
    } catch (const platform::Error &) {
    }
    // Refused, or undone without the other program's row: either way that row is still there.
    EXPECT_EQ(count(db, "SELECT count(*) FROM F_AccountData WHERE Bankcode = 'B2'"), 1) << "undo reported success: " << undone;
}

// Row ids at both ends of the range (the largest taken, so the engine picks new ids at random
// below it), a REPLACE that deletes the row it lands on, a row put in a gap and deleted again,
// a row changed in every column then deleted twice, and values that differ only in type.
TEST_F(JournalRecordsTest, ExtremeRowIdsReplacedRowsAndLookalikeValuesAreUndoneExactly)
{
    test::execute(app.folder(), "INSERT INTO F_AccountData (rowid, UserName, Memo, Spare) VALUES "
                                "(-7, 'negative', X'', ''), (9223372036854775807, 'largest', NULL, X'01');"
                                "INSERT INTO SMdata (rowid, REC, P_TOTAL) VALUES (-2, '1', NULL);");
    expectUndoneExactly("INSERT OR REPLACE INTO F_AccountData (rowid, UserName, Bankcode) VALUES (2, 'replaced', 'A2');"
                        "INSERT INTO F_AccountData (rowid, UserName) VALUES (4, 'gap');"
                        "DELETE FROM F_AccountData WHERE rowid = 4;"
                        "INSERT INTO F_AccountData (UserName, Bankcode) VALUES ('random id', 'R1'), ('random id', 'R2');"
                        "UPDATE F_AccountData SET rowid = -8 WHERE rowid = -7;"
                        "UPDATE F_AccountData SET Memo = '', Spare = NULL WHERE rowid = 9223372036854775807;"
                        "UPDATE F_AccountData SET Memo = X'', Spare = X'' WHERE rowid = -8;"
                        "UPDATE F_AccountData SET UserName = NULL WHERE rowid = 3;"
                        "UPDATE F_AccountData SET Memo = '' WHERE rowid = 1;"
                        "UPDATE F_AccountData SET UserName = 'a', UserNum = 'a', Memo = 'a', Bankcode = 'a', Total = 'a', "
                        "PayDate = 'a', PayTotal = 'a', N_PayTotal = 'a', Spare = 'a' WHERE rowid = 5;"
                        "DELETE FROM F_AccountData WHERE rowid = 5;"
                        "INSERT INTO F_AccountData (rowid, UserName) VALUES (5, 'b');"
                        "DELETE FROM F_AccountData WHERE rowid = 5;"
                        "INSERT INTO F_AccountData (rowid, UserName) VALUES (5, 'c');"
                        "INSERT OR REPLACE INTO SMdata (rowid, REC) VALUES (-2, '9');"
                        "UPDATE SMdata SET P_TOTAL = '' WHERE rowid = 1;");
}

// More records of one kind and columns than one statement puts back, with rows updated, deleted,
// moved and given again in between.
TEST_F(JournalRecordsTest, ManyRecordsOfOneKindArePutBackInBatchesInTheirOrder)
{
    test::execute(app.folder(), "WITH RECURSIVE n(i) AS (SELECT 10 UNION ALL SELECT i + 1 FROM n WHERE i < 409) "
                                "INSERT INTO F_AccountData (rowid, UserName, Bankcode, Total) "
                                "SELECT i, 'name ' || i, 'B' || i, i FROM n;");
    expectUndoneExactly("UPDATE F_AccountData SET Total = 'x' || rowid WHERE rowid >= 10;"
                        "DELETE FROM F_AccountData WHERE rowid % 3 = 0;"
                        "UPDATE F_AccountData SET Memo = 'm' WHERE rowid % 3 = 1;"
                        "INSERT INTO F_AccountData (rowid, UserName) SELECT rowid - 1, 'again' FROM F_AccountData "
                        "WHERE rowid % 3 = 1 AND rowid > 10;"
                        "UPDATE F_AccountData SET rowid = rowid + 1000 WHERE rowid % 3 = 2 AND rowid < 200;"
                        "UPDATE F_AccountData SET Total = 'y', Memo = 'n' WHERE rowid < 400;"
                        "DELETE FROM F_AccountData WHERE rowid % 5 = 0;");
}

// Undo data that does not read back as it was written (cut short, an unknown kind or type, a
// length past the end, no columns, values or ids that are wrong) is refused with nothing changed
// and the entry left to be undone once the data is right again.
TEST_F(JournalRecordsTest, DamagedUndoDataIsRefusedWithNothingChanged)
{
    platform::Database db = db::openDatabase(app.folder());
    {
        db::JournalEntry entry(db, QStringLiteral("import-bank"), QStringLiteral("/x/1.txt"));
        db.execute("UPDATE F_AccountData SET PayDate = '1130105' WHERE rowid = 1;"
                   "DELETE FROM F_AccountData WHERE rowid = 3;");
        entry.close(QStringLiteral("1 applied, 0 abnormal"));
    }
    const QStringList after = test::bothTables(db);
    db.execute("CREATE TEMP TABLE Kept AS SELECT * FROM JournalUndo");
    for (const char *damage : {
             "substr(data, 1, length(data) - 1)",       // cut short
             "X'0207'",                                 // row 1, unknown kind
             "X'02010109'",                             // row 1, updated, a value of unknown type
             "X'0201010388808080808080808001'",         // a text longer than anything
             "X'02FFFFFFFFFFFFFFFFFFFFFF'",             // an endless number
             "X'020100'",                               // updated, no columns
             "X'0201010301' || X'7A'",                  // row 1's name was 'z'
             "X'0400'",                                 // row 2 was put in by the operation
             "X'06028080808001'",                       // row 3 deleted, columns past those there are
             "zeroblob(0)",
         }) {
        SCOPED_TRACE(damage);
        db.execute(std::string("UPDATE JournalUndo SET data = ") + damage);
        EXPECT_THROW(db::undoLatest(db), platform::Error);
        EXPECT_EQ(test::bothTables(db), after);
        EXPECT_EQ(db::planUndo(db).entry->state, db::JournalRecord::State::Done);
        db.execute("DELETE FROM JournalUndo; INSERT INTO JournalUndo SELECT * FROM temp.Kept");
    }
    db::undoLatest(db);
    EXPECT_NE(test::bothTables(db), after);
}
