#include "db/Connection.h"
#include "db/Mapping.h"
#include "payments/PaymentWindows.h"
#include "receivables/ReceivablesWindows.h"
#include "workbookimport/MappingWindow.h"
#include "support/FakeDesktop.h"
#include "support/Tables.h"
#include "support/TestApp.h"
#include "support/Widgets.h"
#include "support/Workbooks.h"

#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <optional>

using namespace talvesk;
using workbookimport::MappingWindow;

namespace {

QStringList mapping(const test::TestApp &app, const db::MappingTable &table)
{
    platform::Database db = db::openDatabase(app.folder());
    return db::readMapping(db, table);
}

} // namespace

TEST(MappingWindow, AnEmptyTableShowsEmptyBoxesAndLeavingInsertsOneRow)
{
    test::TestApp app;
    test::FakeDesktop desktop;
    MappingWindow window(receivables::receivablesMappingDesign(), app.folder(), desktop);
    EXPECT_EQ(window.objectName(), QStringLiteral("frmscldata"));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("EXCEL設定對應資料"));
    EXPECT_EQ(test::child<QWidget>(window, "title1")->property("text").toString(), QStringLiteral("資料庫欄位"));
    EXPECT_EQ(test::child<QWidget>(window, "Label8_26")->property("text").toString(), QStringLiteral("應收金額"));
    for (int i = 1; i <= 5; ++i)
        EXPECT_TRUE(test::child<QLineEdit>(window, QStringLiteral("Text%1").arg(i).toLatin1().constData())->text().isEmpty());
    EXPECT_EQ(window.findChild<QLineEdit *>(QStringLiteral("Text6")), nullptr);

    QTest::mouseClick(window.exitButton(), Qt::LeftButton);
    EXPECT_EQ(window.result(), QDialog::Accepted);
    const auto rows = test::tableRows(app.folder(), QStringLiteral("ImportSetting"));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], QStringList(5, QString()));
}

TEST(MappingWindow, LettersOnlyUpperCasedWithinEachBoxsLength)
{
    test::TestApp app;
    test::FakeDesktop desktop;
    MappingWindow window(receivables::receivablesMappingDesign(), app.folder(), desktop);
    test::showActive(window);
    auto *text1 = test::child<QLineEdit>(window, "Text1");
    auto *text5 = test::child<QLineEdit>(window, "Text5");
    QTest::keyClicks(text1, QStringLiteral("1- c"));
    EXPECT_EQ(text1->text(), QStringLiteral("C"));
    QTest::keyClicks(text1, QStringLiteral("d"));
    EXPECT_EQ(text1->text(), QStringLiteral("C")) << "one letter only";
    text5->setFocus();
    QTest::keyClicks(text5, QStringLiteral("ab1cde"));
    EXPECT_EQ(text5->text(), QStringLiteral("ABCD"));
    QTest::keyClick(text5, Qt::Key_Backspace);
    EXPECT_EQ(text5->text(), QStringLiteral("ABC"));

    QGuiApplication::clipboard()->setText(QStringLiteral("x-1y"));
    text5->clear();
    QTest::keyClick(text5, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(text5->text(), QStringLiteral("XY"));
    EXPECT_TRUE(desktop.messages.empty());
}

TEST(MappingWindow, ArrowKeysAndTabOrder)
{
    test::TestApp app;
    test::FakeDesktop desktop;
    MappingWindow window(receivables::receivablesMappingDesign(), app.folder(), desktop);
    test::showActive(window);
    const struct {
        const char *from;
        Qt::Key key;
        const char *to;
    } moves[] = {{"Text1", Qt::Key_Left, "Text3"}, {"Text1", Qt::Key_Up, "Text3"},  {"Text1", Qt::Key_Right, "Text2"},
                 {"Text1", Qt::Key_Down, "Text2"}, {"Text2", Qt::Key_Left, "Text1"}, {"Text2", Qt::Key_Up, "Text1"},
                 {"Text2", Qt::Key_Right, "Text3"}, {"Text2", Qt::Key_Down, "Text3"}};
    for (const auto &m : moves) {
        QWidget *from = test::child<QWidget>(window, m.from);
        from->setFocus();
        QTest::keyClick(from, m.key);
        EXPECT_EQ(test::focusName(), QString::fromLatin1(m.to)) << m.from << " " << m.key;
    }
    test::child<QWidget>(window, "Text1")->setFocus();
    for (const char *next : {"Text2", "Text3", "Text4", "Text5", "Command3"}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(test::focusName(), QString::fromLatin1(next));
    }
    // Enter moves on the same way.
    test::child<QWidget>(window, "Text1")->setFocus();
    for (const char *next : {"Text2", "Text3", "Text4", "Text5", "Command3"}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        EXPECT_EQ(test::focusName(), QString::fromLatin1(next));
    }
}

// What went wrong at the window: "a Tab b Tab c Tab d Tab e Tab f" typed into the payments window
// must fill the six boxes in order and, with Enter on 離開, be saved so.
TEST(MappingWindow, TypingWithTabBetweenFillsTheBoxesInOrderAndEnterOnLeaveSaves)
{
    test::TestApp app;
    test::FakeDesktop desktop;
    MappingWindow window(payments::paymentsMappingDesign(), app.folder(), desktop);
    test::showActive(window);
    EXPECT_EQ(test::child<QLabel>(window, "purposeLabel")->text(), QStringLiteral("用於: 讀入入帳明細(EXCEL)"));
    test::child<QWidget>(window, "Text1")->setFocus();
    const QString letters = QStringLiteral("abcdef");
    for (qsizetype i = 0; i < letters.size(); ++i) {
        QTest::keyClicks(QApplication::focusWidget(), letters.mid(i, 1));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    EXPECT_EQ(test::focusName(), QStringLiteral("Command3"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(window.result(), QDialog::Accepted);
    EXPECT_EQ(mapping(app, db::kPaymentsMapping), QStringLiteral("A,B,C,D,E,F").split(u','));
    EXPECT_TRUE(test::child<QLabel>(window, "savedMappingLabel")->text().contains(QStringLiteral("=F")));
}

TEST(MappingWindow, EscapeLeavesWithoutSavingAndTheSavedLettersAreShown)
{
    test::TestApp app;
    test::FakeDesktop desktop;
    {
        platform::Database db = db::openDatabase(app.folder());
        db::saveMapping(db, db::kReceivablesMapping, QStringLiteral("A,B,C,D,E").split(u','));
    }
    MappingWindow window(receivables::receivablesMappingDesign(), app.folder(), desktop);
    test::showActive(window);
    const QString shown = test::child<QLabel>(window, "savedMappingLabel")->text();
    EXPECT_TRUE(shown.contains(QStringLiteral("=A")) && shown.contains(QStringLiteral("=E"))) << shown.toStdString();
    auto *box = test::child<QLineEdit>(window, "Text1");
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, QStringLiteral("z"));
    desktop.answers = {platform::Answer::Yes};
    QTest::keyClick(box, Qt::Key_Escape);
    ASSERT_EQ(desktop.messages.size(), 1u) << "a typed change is dropped unasked";
    EXPECT_EQ(desktop.messages[0].defaultAnswer, platform::Answer::No);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.result(), QDialog::Rejected);
    EXPECT_EQ(mapping(app, db::kReceivablesMapping), QStringLiteral("A,B,C,D,E").split(u','));
}

TEST(MappingWindow, AStoredRowIsShownAndSavingGivesEveryRowTheSameValues)
{
    test::TestApp app;
    test::execute(app.folder(), "INSERT INTO ImportSetting VALUES ('A','B','C','D','EF');"
                                "INSERT INTO ImportSetting VALUES ('Z','Z','Z','Z','Z')");
    test::FakeDesktop desktop;
    MappingWindow window(receivables::receivablesMappingDesign(), app.folder(), desktop);
    EXPECT_EQ(test::child<QLineEdit>(window, "Text5")->text(), QStringLiteral("EF"));
    test::child<QLineEdit>(window, "Text2")->clear();
    window.onExitClicked();
    const auto rows = test::tableRows(app.folder(), QStringLiteral("ImportSetting"));
    ASSERT_EQ(rows.size(), 2u);
    for (const auto &row : rows)
        EXPECT_EQ(row, (QStringList{QStringLiteral("A"), QString(), QStringLiteral("C"), QStringLiteral("D"), QStringLiteral("EF")}));
}

TEST(MappingWindow, ClosingByTheTitleBarSavesNothing)
{
    test::TestApp app;
    test::FakeDesktop desktop;
    MappingWindow window(payments::paymentsMappingDesign(), app.folder(), desktop);
    test::showActive(window);
    QTest::keyClicks(test::child<QLineEdit>(window, "Text6"), QStringLiteral("abcd"));
    desktop.answers = {platform::Answer::No};
    window.close();
    EXPECT_TRUE(window.isVisible()) << "the title-bar button dropped typed letters unasked";
    desktop.answers = {platform::Answer::Yes};
    window.close();
    EXPECT_FALSE(window.isVisible());
    EXPECT_TRUE(test::tableRows(app.folder(), QStringLiteral("ImportSetting1")).empty());
}

TEST(MappingWindow, ThePaymentsWindowHasSixFieldsTheLastTwoOfFourLetters)
{
    test::TestApp app;
    test::FakeDesktop desktop;
    desktop.screen = QSize(800, 600);
    MappingWindow window(payments::paymentsMappingDesign(), app.folder(), desktop);
    EXPECT_EQ(window.objectName(), QStringLiteral("frmscldata1"));
    EXPECT_EQ(window.size(), MappingWindow::kDesignedSize * 1.25);
    EXPECT_EQ(test::child<QWidget>(window, "Label8_1")->property("text").toString(), QStringLiteral("備註"));
    for (int i = 1; i <= 6; ++i)
        EXPECT_EQ(test::child<QLineEdit>(window, QStringLiteral("Text%1").arg(i).toLatin1().constData())->maxLength(), i >= 5 ? 4 : 1);
    test::child<QLineEdit>(window, "Text5")->setText(QStringLiteral("AB"));
    window.onExitClicked();
    EXPECT_EQ(mapping(app, db::kPaymentsMapping),
              (QStringList{QString(), QString(), QString(), QString(), QStringLiteral("AB"), QString()}));
}

TEST(MappingWindow, AMissingDatabaseIsReportedAndTheWindowStaysOpen)
{
    test::TestApp app(test::TestApp::NoDatabase);
    test::FakeDesktop desktop;
    MappingWindow window(payments::paymentsMappingDesign(), app.folder(), desktop);
    window.show();
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0].text, QStringLiteral("錯誤發生;錯誤代碼=53"));
    EXPECT_FALSE(test::child<QLineEdit>(window, "Text1")->isEnabled()) << "nothing was shown, so nothing can be edited";
    window.onExitClicked();
    EXPECT_EQ(desktop.messages.size(), 1u) << "離開 tries no save after a failed load";
    EXPECT_FALSE(window.isVisible());
}

TEST(MappingWindow, AfterALoadThatFailedLeavingKeepsTheSavedMapping)
{
    test::TestApp app;
    {
        platform::Database db = db::openDatabase(app.folder());
        db::saveMapping(db, db::kReceivablesMapping, {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C"),
                                                      QStringLiteral("D"), QStringLiteral("E")});
    }
    test::FakeDesktop desktop;
    std::optional<MappingWindow> window;
    {
        // Another program writing to the database while the window opens: the load fails.
        platform::Database writer = db::openDatabase(app.folder());
        writer.execute("BEGIN EXCLUSIVE");
        window.emplace(receivables::receivablesMappingDesign(), app.folder(), desktop);
        writer.execute("COMMIT");
    }
    window->show();
    ASSERT_EQ(desktop.messages.size(), 1u);
    window->onExitClicked();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(mapping(app, db::kReceivablesMapping),
              (QStringList{QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C"), QStringLiteral("D"), QStringLiteral("E")}));
}

// The mapping in force fits the window, on an 800 x 600 screen as on a larger one, every item
// whole on its line.
TEST(MappingWindow, TheMappingInForceFitsAtEverySize)
{
    test::TestApp app;
    {
        platform::Database db = db::openDatabase(app.folder());
        db::saveMapping(db, db::kPaymentsMapping,
                        {QStringLiteral("AA"), QString(), QStringLiteral("CC"), QString(), QStringLiteral("EE"), QStringLiteral("FF")});
    }
    for (const QSize screen : {QSize(800, 600), QSize(1024, 768)}) {
        test::FakeDesktop desktop;
        desktop.screen = screen;
        MappingWindow window(payments::paymentsMappingDesign(), app.folder(), desktop);
        test::showActive(window);
        auto *label = test::child<QLabel>(window, "savedMappingLabel");
        const QStringList lines = label->text().split(u'\n');
        EXPECT_EQ(lines, (QStringList{QStringLiteral("目前使用:"), QStringLiteral("交易日期=AA, 摘要=(未設定), 金額=CC"),
                                      QStringLiteral("入帳時間=(未設定), 虛擬帳號=EE, 備註=FF")}));
        for (const QString &line : lines)
            EXPECT_LE(label->fontMetrics().horizontalAdvance(line), label->contentsRect().width()) << line.toStdString();
        EXPECT_LE(label->geometry().bottom(), window.exitButton()->geometry().top());
    }
}

TEST(MappingWindow, HeadingsStandBesideTheLettersAndChangedLettersAreNotDroppedUnasked)
{
    test::TestApp app;
    test::FakeDesktop desktop;
    {
        platform::Database db = db::openDatabase(app.folder());
        db::saveMapping(db, db::kReceivablesMapping, QStringLiteral("A,B,,C,D").split(u','));
    }
    const QString path = app.path(QStringLiteral("book.xlsx"));
    test::writeXlsx(path, QStringLiteral("應收"),
                    {{QStringLiteral("客戶名稱"), test::Cell{}, QStringLiteral("虛擬帳號"), 20240101.0},
                     {QStringLiteral("甲"), QStringLiteral("x"), QStringLiteral("95120001"), 100.0}});
    MappingWindow window(receivables::receivablesMappingDesign(), app.folder(), desktop);
    window.showHeadings(workbookimport::Headings::read(path, QStringLiteral("應收")));
    test::showActive(window);
    auto heading = [&](const char *name) { return test::child<QLabel>(window, name); };
    EXPECT_EQ(heading("heading1")->text(), QStringLiteral("A：客戶名稱"));
    EXPECT_EQ(heading("heading2")->text(), QStringLiteral("B：(空白欄)"));
    EXPECT_TRUE(heading("heading2")->property("emptyColumn").toBool()) << "a letter naming an empty column is marked";
    EXPECT_TRUE(heading("heading3")->text().isEmpty()) << "an unmapped item names no column";
    EXPECT_EQ(heading("heading5")->text(), QStringLiteral("D：20240101"));
    EXPECT_LE(window.frameGeometry().width(), 800);

    // Unchanged, Escape leaves at once; changed, it asks, and 否 keeps the window and the letters.
    auto *box = test::child<QLineEdit>(window, "Text1");
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, QStringLiteral("c"));
    EXPECT_EQ(heading("heading1")->text(), QStringLiteral("C：虛擬帳號"));
    desktop.answers = {platform::Answer::No};
    QTest::keyClick(box, Qt::Key_Escape);
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(box->text(), QStringLiteral("C"));
    box->selectAll();
    QTest::keyClicks(box, QStringLiteral("a"));
    QTest::keyClick(box, Qt::Key_Escape);
    EXPECT_EQ(desktop.messages.size(), 1u) << "the letters saved again were asked about";
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(mapping(app, db::kReceivablesMapping), QStringLiteral("A,B,,C,D").split(u','));
}
