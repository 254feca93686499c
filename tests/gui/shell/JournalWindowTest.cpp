#include "payments/BankImport.h"
#include "platform/Files.h"
#include "platform/Postgres.h"
#include "server/ServerSchema.h"
#include "shell/JournalWindow.h"
#include "support/FakeDesktop.h"
#include "support/Postgres.h"
#include "support/Tables.h"
#include "support/TestApp.h"
#include "support/TextFiles.h"
#include "support/Widgets.h"

#include <QDateTime>
#include <QLabel>
#include <QPushButton>
#include <QDir>
#include <QFileInfo>
#include <QSysInfo>
#include <QTableWidget>

#include <gtest/gtest.h>

using namespace talvesk;

namespace {

QString cellText(QTableWidget *table, int row, int column)
{
    QTableWidgetItem *item = table->item(row, column);
    return item ? item->text() : QString();
}

class JournalWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::addReceivable(app.folder(), QStringLiteral("A1"), QStringLiteral("1500"));
        const QString bank = app.path(QStringLiteral("bank.txt"));
        test::writeFile(bank, (test::bankLine(QStringLiteral("1130105"), QStringLiteral("00000000500"), QStringLiteral("A1"))
                               + QStringLiteral("\r\n")
                               + test::bankLine(QStringLiteral("1130106"), QStringLiteral("00000000001"), QStringLiteral("NO,PE")))
                                  .toUtf8()
                                  .prepend("\xEF\xBB\xBF"));
        payments::BankImport(app.folder()).run(bank, {});
        paid = test::tableRows(app.folder(), QStringLiteral("F_AccountData"));
        ASSERT_EQ(paid.at(0).at(6), QStringLiteral("500"));
    }

    test::TestApp app;
    std::vector<QStringList> paid;
};

} // namespace

TEST_F(JournalWindowTest, ListsTheEntriesAndTheSelectedOnesProblemLinesAndSavesThem)
{
    test::FakeDesktop desktop;
    shell::JournalWindow window(app.folder(), desktop);
    EXPECT_EQ(window.windowTitle(), QStringLiteral("匯入記錄"));
    auto *entries = test::child<QTableWidget>(window, "entries");
    ASSERT_EQ(entries->rowCount(), 1);
    EXPECT_EQ(cellText(entries, 0, 2), QStringLiteral("讀入入帳明細(TXT)"));
    EXPECT_EQ(cellText(entries, 0, 3), QStringLiteral("新增 0、更新 1、不變 0、異常 1"));
    // The file's name alone, its folder beside it, the whole path in the tooltips.
    EXPECT_EQ(cellText(entries, 0, 5), QStringLiteral("bank.txt"));
    EXPECT_EQ(cellText(entries, 0, 6), QDir::toNativeSeparators(QFileInfo(app.path(QStringLiteral("bank.txt"))).path()));
    EXPECT_EQ(entries->item(0, 5)->toolTip(), app.path(QStringLiteral("bank.txt")));
    EXPECT_TRUE(entries->item(0, 3)->textAlignment() & Qt::AlignRight);
    EXPECT_TRUE(entries->isColumnHidden(7)) << "every entry of a desk's own file is this desk's";
    EXPECT_EQ(shell::countsCaption(QStringLiteral("12345 written, 1000 not processed")),
              QStringLiteral("正確 12,345 筆，不處理 1,000 筆"));
    auto *problems = test::child<QTableWidget>(window, "problems");
    ASSERT_EQ(problems->rowCount(), 1) << "the newest entry is selected on opening";
    EXPECT_EQ(cellText(problems, 0, 0), QStringLiteral("2"));
    EXPECT_EQ(cellText(problems, 0, 1), QStringLiteral("沒有此虛擬帳號的應收帳款"));

    test::child<QPushButton>(window, "cmdSaveCsv")->click();
    ASSERT_EQ(desktop.messages.size(), 1u);
    const QString csv = desktop.messages.back().informativeText;
    EXPECT_TRUE(csv.endsWith(QStringLiteral(".csv"))) << csv.toStdString();
    const QByteArray saved = test::readFile(csv);
    EXPECT_TRUE(saved.startsWith("\xEF\xBB\xBF" "行/列,原因,內容\r\n2,沒有此虛擬帳號的應收帳款,\""))
        << saved.toStdString();
    EXPECT_TRUE(saved.contains("NO,PE")) << "the comma stays inside its quoted field";
    QFile::remove(csv);

    test::child<QPushButton>(window, "cmdSaveXlsx")->click();
    ASSERT_EQ(desktop.messages.size(), 2u);
    const QString xlsx = desktop.messages.back().informativeText;
    EXPECT_TRUE(xlsx.endsWith(QStringLiteral(".xlsx")) && QFile::exists(xlsx)) << xlsx.toStdString();
    QFile::remove(xlsx);
}

TEST_F(JournalWindowTest, UndoAsksWithNoAsTheDefaultThenTakesTheImportBack)
{
    test::FakeDesktop desktop;
    shell::JournalWindow window(app.folder(), desktop);
    auto *undo = test::child<QPushButton>(window, "cmdUndo");

    desktop.answers = {platform::Answer::No};
    undo->click();
    ASSERT_EQ(desktop.messages.size(), 1u);
    const QString at = cellText(test::child<QTableWidget>(window, "entries"), 0, 1);
    EXPECT_EQ(desktop.messages[0].text, QStringLiteral("確定要復原「讀入入帳明細(TXT)」（%1）?")
                                            .arg(QDateTime::fromString(at, QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                                                     .toString(QStringLiteral("yyyy/MM/dd HH:mm"))));
    EXPECT_EQ(desktop.messages[0].defaultAnswer, platform::Answer::No);
    EXPECT_TRUE(test::tableRows(app.folder(), QStringLiteral("F_AccountData")) == paid);

    desktop.answers = {platform::Answer::Yes};
    undo->click();
    const auto rows = test::tableRows(app.folder(), QStringLiteral("F_AccountData"));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].at(6), QString()) << "the payment is gone again";
    EXPECT_TRUE(desktop.messages.back().text.startsWith(QStringLiteral("復原完成!「讀入入帳明細(TXT)」")));
    EXPECT_EQ(cellText(test::child<QTableWidget>(window, "entries"), 0, 4), QStringLiteral("已復原"));

    // Nothing left: the button is off and the window says so, without asking.
    EXPECT_FALSE(undo->isEnabled());
    EXPECT_EQ(test::child<QLabel>(window, "undoNote")->text(), QStringLiteral("無法復原：沒有可以復原的作業"));
}

TEST_F(JournalWindowTest, WhatCannotBeUndoneIsNotOfferedAndSaysWhyInTheClerksWords)
{
    test::FakeDesktop desktop;
    auto expectRefused = [&](const QString &why) {
        shell::JournalWindow window(app.folder(), desktop);
        EXPECT_FALSE(test::child<QPushButton>(window, "cmdUndo")->isEnabled()) << why.toStdString();
        const QString note = test::child<QLabel>(window, "undoNote")->text();
        EXPECT_TRUE(note.startsWith(QStringLiteral("無法復原：")) && note.contains(why)) << note.toStdString();
        EXPECT_TRUE(note.contains(QStringLiteral("「讀入入帳明細(TXT)」"))) << note.toStdString();
        EXPECT_FALSE(note.contains(QStringLiteral("import-")) || note.contains(QStringLiteral("3000"))) << note.toStdString();
    };
    // The tables changed by another program since the import.
    test::execute(app.folder(), "UPDATE F_AccountData SET Memo = 'by hand'");
    expectRefused(QStringLiteral("之後已有變動"));
    // Its undo data given up.
    test::execute(app.folder(), "UPDATE F_AccountData SET Memo = '';"
                                "UPDATE Journal SET state = 'dropped', dropped_why = '只保留最近 20 次作業的復原資料'");
    expectRefused(QStringLiteral("的復原資料已不保留"));
    EXPECT_TRUE(desktop.messages.empty()) << "nothing is asked or shown for what cannot be done";
}

TEST_F(JournalWindowTest, EnterInTheRealQuestionKeepsTheImport)
{
    platform::QtDesktop desktop;
    shell::JournalWindow window(app.folder(), desktop);
    test::SeenBox seen;
    test::pressInNextBox(seen, QMessageBox::NoButton);
    test::child<QPushButton>(window, "cmdUndo")->click();
    ASSERT_TRUE(seen.seen);
    EXPECT_TRUE(seen.text.startsWith(QStringLiteral("確定要復原"))) << seen.text.toStdString();
    EXPECT_TRUE(test::tableRows(app.folder(), QStringLiteral("F_AccountData")) == paid);
}

// On the office's server, where several desks write, each entry names the desk that ran it.
TEST(JournalWindowOnServer, EachEntryNamesTheDeskThatRanIt)
{
    test::TestApp app;
    test::PostgresDatabase database;
    {
        platform::pg::Connection server(database.connectionString());
        server::createTables(server);
        server.execute("INSERT INTO F_AccountData (Bankcode, Total) VALUES ('A1', '1500')");
    }
    test::nameServer(app, database.connectionString());
    const QString bank = app.path(QStringLiteral("bank.txt"));
    test::writeFile(bank, test::bankLine(QStringLiteral("1130105"), QStringLiteral("00000000500"), QStringLiteral("A1")).toUtf8());
    payments::BankImport(app.folder()).run(bank, {});

    test::FakeDesktop desktop;
    shell::JournalWindow window(app.folder(), desktop);
    auto *entries = test::child<QTableWidget>(window, "entries");
    ASSERT_EQ(entries->rowCount(), 1);
    EXPECT_EQ(cellText(entries, 0, 3), QStringLiteral("新增 0、更新 1、不變 0、異常 0"));
    EXPECT_EQ(entries->horizontalHeaderItem(7)->text(), QStringLiteral("電腦"));
    EXPECT_FALSE(entries->isColumnHidden(7));
    EXPECT_EQ(cellText(entries, 0, 7), QSysInfo::machineHostName());
    EXPECT_TRUE(desktop.messages.empty());
}
