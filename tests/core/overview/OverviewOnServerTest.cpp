// The overview and the daily report on the desk's file and on the office's server, against a
// real server: the same figures, the same day and the same report on both, read from one
// snapshot, and never waiting for a clerk who is writing.
#include "core/server/DeskOrServer.h"
#include "core/shell/BatchRun.h"
#include "db/Connection.h"
#include "overview/Overview.h"
#include "server/ServerSettings.h"
#include "support/Pdfs.h"
#include "support/Postgres.h"
#include "support/TestApp.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>

#include <optional>

#include <gtest/gtest.h>

using namespace talvesk;
using overview::State;
using test::batch;

namespace {

class OverviewOnBothDatabases : public ::testing::TestWithParam<bool> {};

void write(const test::TestApp &app, const char *sql)
{
    platform::Database db = db::openDatabase(app.folder(), db::Reach::DeskOrServer);
    db.execute(sql);
}

// What the figures say, a line for each state, the store, each payment date and each newest entry.
QStringList lines(const overview::Figures &f)
{
    const auto n = [](double v) { return QString::number(v, 'g', QLocale::FloatingPointShortest); };
    QStringList out;
    for (int s = 0; s < overview::kStates; ++s) {
        const overview::StateFigures &figures = f.states[std::size_t(s)];
        out << QStringLiteral("%1 %2 %3 %4")
                   .arg(overview::stateCaption(State(s)))
                   .arg(figures.count)
                   .arg(n(figures.due), n(figures.paid));
    }
    out << QStringLiteral("store %1 %2").arg(f.storeCount).arg(n(f.storeAmount));
    for (const overview::DateCredit &c : f.byDate)
        out << QStringLiteral("%1 %2 %3").arg(c.payDate).arg(c.count).arg(n(c.paid));
    for (const db::JournalRecord &e : f.latest)
        out << e.operation + u' ' + overview::countsCaption(e);
    return out;
}

} // namespace

// Amounts the server adds up itself (plain whole numbers, empty, none) and those it hands over to
// be read as the imports read them ("1,500", " 700", "12元", "-", a fraction, 16 digits) give the
// same figures as the desk's file, and so do the day's operations and problem lines and the
// printed report; on the server a reader sees one snapshot throughout and never waits for a
// clerk's open operation.
TEST_P(OverviewOnBothDatabases, TheSameFiguresDayAndReportOnBoth)
{
    const bool onServer = GetParam();
    const test::DeskOrServer desk(onServer);
    const test::TestApp &app = desk.app;
    ASSERT_EQ(batch(app, {QStringLiteral("map-receivables"), QStringLiteral("A"), QStringLiteral("B"),
                          QStringLiteral("C"), QStringLiteral("D"), QStringLiteral("E")})
                  .code,
              shell::kBatchOk);
    const QString workbook = app.path(QStringLiteral("receivables.csv"));
    test::writeFile(workbook,
                    "name,number,memo,account,total\n甲,1,,A1,1500\n乙,2,,A2,2000\n,3,,,\n丙,4,,A3,3000\n,5,,,\n");
    ASSERT_EQ(batch(app, {QStringLiteral("import-receivables"), workbook}).out,
              QStringLiteral("import-receivables: 3 written, 2 not processed\n"));
    const QString today = overview::storedPayDate(QDate::currentDate());
    // Whole numbers only, as the imports store them (blanks around them, none at all, "-0"), with
    // blanks as a payment date, which is no payment.
    write(app, QStringLiteral("UPDATE F_AccountData SET PayDate = '%1 ', PayTotal = '1500' WHERE Bankcode = 'A1';"
                              "UPDATE F_AccountData SET PayDate = '%1', PayTotal = ' 700' WHERE Bankcode = 'A2';"
                              "INSERT INTO F_AccountData (Bankcode, Total, PayDate, PayTotal) VALUES "
                              "('A4', '1000', '1131130', '1200'), ('A7', '1234567890123456', '1131129', '0'),"
                              "('A8', NULL, '', NULL), ('A9', '', ' \t', '5'), ('A10', '-0', '1131129', '');"
                              "INSERT INTO SMdata (BARCODE2, P_TOTAL) VALUES ('K1', '350'), ('K2', '1200'), "
                              "('K3', NULL), ('K4', ' 350')")
                   .arg(today)
                   .toUtf8()
                   .constData());
    QStringList got = lines(overview::readFigures(app.folder()));
    EXPECT_EQ(got.join(u'\n').toStdString(),
              QStringList({QStringLiteral("已入帳 2 1500 1500"), QStringLiteral("部分入帳 2 1234567890125456 700"),
                           QStringLiteral("未入帳 3 3000 5"), QStringLiteral("溢繳 1 1000 1200"),
                           QStringLiteral("store 4 1900"), today + QStringLiteral(" 2 2200"),
                           QStringLiteral("1131130 1 1200"), QStringLiteral("1131129 2 0"),
                           QStringLiteral("import-receivables 新增 3、更新 0、不變 0、不處理 2")})
                  .join(u'\n')
                  .toStdString());

    // Texts that are not whole numbers: "1,500" reads 1500 and is paid in full, and so is 100.5;
    // 12元 against "-" is paid in part; "1,200" collected at a store is 1200.
    write(app, "UPDATE F_AccountData SET Total = '1,500' WHERE Bankcode = 'A1';"
               "UPDATE SMdata SET P_TOTAL = '1,200' WHERE BARCODE2 = 'K2';"
               "INSERT INTO F_AccountData (Bankcode, Total, PayDate, PayTotal) VALUES "
               "('A5', '12元', '1131130', '-'), ('A6', '100.5', '1131129', '100.5')");
    const overview::Figures figures = overview::readFigures(app.folder());
    got = lines(figures);
    EXPECT_EQ(got.join(u'\n').toStdString(),
              QStringList({QStringLiteral("已入帳 3 1600.5 1600.5"), QStringLiteral("部分入帳 3 1234567890125468 700"),
                           QStringLiteral("未入帳 3 3000 5"), QStringLiteral("溢繳 1 1000 1200"),
                           QStringLiteral("store 4 1900"), today + QStringLiteral(" 2 2200"),
                           QStringLiteral("1131130 2 1200"), QStringLiteral("1131129 3 100.5"),
                           QStringLiteral("import-receivables 新增 3、更新 0、不變 0、不處理 2")})
                  .join(u'\n')
                  .toStdString());
    EXPECT_GT(figures.latest.front().id, 0);

    const overview::DayFigures day = overview::readDay(app.folder(), QDate::currentDate());
    ASSERT_EQ(day.operations.size(), 1u);
    EXPECT_EQ(day.operations.front().file, workbook);
    EXPECT_EQ(day.creditedCount, 2);
    EXPECT_EQ(day.creditedSum, 2200);
    ASSERT_EQ(day.problems.size(), 2u);
    EXPECT_EQ(day.problems.back().entry, day.operations.front().id);
    EXPECT_EQ(day.problems.back().line.number, 6);
    EXPECT_EQ(day.moreProblems, 0);

#ifndef _WIN32 // read back with pdftotext (a Linux program), and a CJK font wine's prefix lacks
    // The printed report, made by the batch tool as a scheduled job makes it (its operation at a
    // time of wide digits, which must show whole).
    write(app, "UPDATE Journal SET at = substr(at, 1, 11) || '20:48:08'");
    const QString pdf = app.path(QStringLiteral("日報.pdf"));
    QProcess maker;
    maker.start(QStringLiteral(TALVESK_BATCH_PROGRAM),
                {QStringLiteral("--app-dir"), app.folder().root(), QStringLiteral("report"), pdf});
    ASSERT_TRUE(maker.waitForFinished(60000));
    ASSERT_EQ(maker.exitCode(), 0) << maker.readAllStandardError().toStdString();
    const QString text = test::pdfText(pdf);
    for (const QString &row :
         {QStringLiteral("已入帳 3 1,600.5 1,600.5 0"), QStringLiteral("溢繳 1 1,000 1,200 -200")}) {
        const QString pattern = QRegularExpression::escape(row).replace(QStringLiteral("\\ "), QStringLiteral("\\s+"));
        EXPECT_TRUE(text.contains(QRegularExpression(pattern))) << row.toStdString() << '\n' << text.toStdString();
    }
    for (const QString &line :
         QStringList{QStringLiteral("超商代收：4 筆，金額 1,900 元"),
                     QStringLiteral("入帳日期 ") + overview::dayCaption(QDate::currentDate()) +
                         QStringLiteral("：2 筆，合計 2,200 元"),
                     QStringLiteral("新增 3、更新 0、不變 0、不處理 2"), QStringLiteral("沒有虛擬帳號"),
                     QStringLiteral("20:48:08")})
        EXPECT_TRUE(test::pdfHas(text, line)) << line.toStdString() << '\n' << text.toStdString();
#endif

    if (!onServer)
        return;
    // Another clerk's operation midway, holding the writing lock with a row not yet committed:
    // the figures and the report are read at once, without it.
    platform::Database otherDesk = platform::Database::connect(desk.database->connectionString());
    ASSERT_TRUE(otherDesk.lockForWriting(server::kWritingLock, std::chrono::milliseconds(0)));
    otherDesk.execute("BEGIN");
    otherDesk.execute("INSERT INTO F_AccountData (Bankcode, Total) VALUES ('B1', '999')");
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(lines(overview::readFigures(app.folder())).join(u'\n').toStdString(), got.join(u'\n').toStdString());
#ifndef _WIN32
    maker.start(QStringLiteral(TALVESK_BATCH_PROGRAM),
                {QStringLiteral("--app-dir"), app.folder().root(), QStringLiteral("report"), pdf});
    ASSERT_TRUE(maker.waitForFinished(60000));
    EXPECT_EQ(maker.exitCode(), 0);
#endif
    EXPECT_LT(timer.elapsed(), 1900) << "a reader waited for the writing lock";
    otherDesk.execute("COMMIT");

    // Within one snapshot, a commit landing between two reads is seen by neither.
    platform::Database db = overview::openToRead(app.folder());
    overview::ReadSnapshot snapshot(db);
    const std::string first = lines(overview::readFigures(db)).join(u'\n').toStdString();
    otherDesk.execute("INSERT INTO F_AccountData (Bankcode, Total) VALUES ('B2', '1')");
    EXPECT_EQ(lines(overview::readFigures(db)).join(u'\n').toStdString(), first);
    EXPECT_EQ(overview::readDay(db, QDate::currentDate()).creditedCount, 2);
}

INSTANTIATE_TEST_SUITE_P(Databases, OverviewOnBothDatabases, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> &info) {
                             return info.param ? "Server" : "DesksFile";
                         });
