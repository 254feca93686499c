#include "overview/Overview.h"
#include "shell/DailyReportWindow.h"
#include "shell/OverviewPanel.h"
#include "shell/MainWindow.h"
#include "textimport/TextImportWindow.h"
#include "support/FakeDesktop.h"
#include "support/Tables.h"
#include "support/TestApp.h"
#include "support/Pdfs.h"
#include "support/TextFiles.h"
#include "support/Widgets.h"

#include <QAction>
#include <QDateEdit>
#include <QDialog>
#include <QLabel>
#include <QMenu>
#include <QStatusBar>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>

#include <gtest/gtest.h>

using namespace talvesk;

namespace {

// Waits until the figures being read, and any reading asked for meanwhile, are on the screen.
void waitForFigures(shell::OverviewPanel &panel)
{
    QSignalSpy shown(&panel, &shell::OverviewPanel::figuresShown);
    while (panel.reading()) {
        ASSERT_TRUE(shown.wait(20000));
    }
}

QString cell(shell::OverviewPanel &panel, const char *name)
{
    auto *label = panel.findChild<QLabel *>(QString::fromLatin1(name));
    return label ? label->text() : QStringLiteral("(no %1)").arg(QString::fromLatin1(name));
}

QString entryText(shell::OverviewPanel &panel, int n)
{
    auto *button = panel.findChild<QPushButton *>(QStringLiteral("latestEntry%1").arg(n));
    return button && !button->isHidden() ? button->property("fullText").toString() : QString();
}

// A bank file with one payment of `amount` to A2, read through 讀入入帳明細(TXT) as the clerk does.
void readBankFileThroughItsWindow(shell::MainWindow &window, test::FakeDesktop &desktop, const test::TestApp &app,
                                  const QString &amount)
{
    const QString bank = app.path(QStringLiteral("bank.txt"));
    test::writeFile(bank, test::bankLine(QStringLiteral("1131205"), amount, QStringLiteral("A2")).toUtf8());
    desktop.files = {bank};
    QTimer::singleShot(0, [] {
        auto *w = qobject_cast<textimport::TextImportWindow *>(QApplication::activeModalWidget());
        ASSERT_NE(w, nullptr);
        w->chooseButton()->click();
        w->readButton()->click();
        w->reject();
    });
    window.findChild<QAction *>(QStringLiteral("MENDO"))->trigger();
}

} // namespace

// The overview shows every state's figures grouped, the store collections and the newest
// operations; it follows an import made through a window, and the undo made from 匯入記錄 opened
// on that import's entry from the overview itself.
TEST(Overview, ShowsEveryStateAndFollowsAnImportAndItsUndo)
{
    test::TestApp app;
    test::seedEveryState(app.folder());
    test::FakeDesktop desktop;
    shell::MainWindow window(app.folder(), desktop);
    shell::OverviewPanel &panel = window.overview();
    waitForFigures(panel);
    const auto before = [&] {
        EXPECT_EQ(cell(panel, "paidCount"), QStringLiteral("1"));
        EXPECT_EQ(cell(panel, "paidDue"), QStringLiteral("1,500"));
        EXPECT_EQ(cell(panel, "partialCredited"), QStringLiteral("500"));
        EXPECT_EQ(cell(panel, "partialOutstanding"), QStringLiteral("1,500"));
        EXPECT_EQ(cell(panel, "unpaidOutstanding"), QStringLiteral("3,000"));
        EXPECT_EQ(cell(panel, "overpaidOutstanding"), QStringLiteral("-200"));
        EXPECT_EQ(cell(panel, "allCount"), QStringLiteral("4"));
        EXPECT_EQ(cell(panel, "allDue"), QStringLiteral("7,500"));
        EXPECT_EQ(cell(panel, "allCredited"), QStringLiteral("3,200"));
        EXPECT_EQ(cell(panel, "allOutstanding"), QStringLiteral("4,300"));
    };
    before();
    EXPECT_EQ(cell(panel, "storeSummary"), QStringLiteral("超商代收 2 筆，金額 1,550 元"));
    EXPECT_FALSE(panel.findChild<QLabel *>(QStringLiteral("noEntries"))->isHidden());
    EXPECT_EQ(entryText(panel, 1), QString());

    readBankFileThroughItsWindow(window, desktop, app, QStringLiteral("00000002000"));
    waitForFigures(panel);
    EXPECT_EQ(cell(panel, "paidCount"), QStringLiteral("2"));
    EXPECT_EQ(cell(panel, "partialCount"), QStringLiteral("0"));
    EXPECT_EQ(cell(panel, "allCredited"), QStringLiteral("4,700"));
    EXPECT_EQ(cell(panel, "allOutstanding"), QStringLiteral("2,800"));
    EXPECT_TRUE(entryText(panel, 1).contains(QStringLiteral("讀入入帳明細(TXT) 新增 0、更新 1、不變 0、異常 0"))) << entryText(panel, 1).toStdString();
    ASSERT_TRUE(panel.figures() && !panel.figures()->latest.empty());
    EXPECT_EQ(panel.figures()->byDate.front().payDate, QStringLiteral("1131205"));
    const qint64 entry = panel.figures()->latest.front().id;

    // The entry opens 匯入記錄 on itself; undone there, the overview is back where it was.
    QString selected;
    desktop.answers = {platform::Answer::Yes, platform::Answer::Ok};
    QTimer::singleShot(0, [&] {
        QWidget *log = QApplication::activeModalWidget();
        ASSERT_NE(log, nullptr);
        EXPECT_EQ(log->objectName(), QStringLiteral("ImportLog"));
        auto *entries = log->findChild<QTableWidget *>(QStringLiteral("entries"));
        selected = entries->item(entries->currentRow(), 0)->text();
        log->findChild<QPushButton *>(QStringLiteral("cmdUndo"))->click();
        qobject_cast<QDialog *>(log)->reject();
    });
    panel.findChild<QPushButton *>(QStringLiteral("latestEntry1"))->click();
    EXPECT_EQ(selected, QString::number(entry));
    waitForFigures(panel);
    before();
    EXPECT_TRUE(entryText(panel, 1).contains(QStringLiteral("【已復原】"))) << entryText(panel, 1).toStdString();
}

// On an 800 x 600 screen and at the window's designed size, every part of the overview stands
// inside the window with room for its whole text, the status line under it.
TEST(Overview, FitsAt800x600AndAtTheDesignedSize)
{
    test::TestApp app;
    test::seedEveryState(app.folder());
    test::execute(app.folder(), "UPDATE F_AccountData SET Total = '9876543210' WHERE Bankcode = 'A3'");
    for (const QSize screen : {QSize(800, 600), QSize(1024, 768)}) {
        test::FakeDesktop desktop;
        desktop.screen = screen;
        shell::MainWindow window(app.folder(), desktop);
        for (int i = 0; i < 5; ++i)
            readBankFileThroughItsWindow(window, desktop, app, QStringLiteral("00000000100"));
        window.show();
        shell::OverviewPanel &panel = window.overview();
        waitForFigures(panel);
        QApplication::processEvents();
        EXPECT_LE(panel.minimumSizeHint().height(), panel.height()) << screen.width();
        const QRect inside = panel.rect();
        for (QWidget *part : panel.findChildren<QWidget *>()) {
            if (part->isHidden())
                continue;
            const QRect at(part->mapTo(&panel, QPoint()), part->size());
            EXPECT_TRUE(inside.contains(at)) << part->objectName().toStdString() << " at " << screen.width();
            if (auto *label = qobject_cast<QLabel *>(part)) {
                EXPECT_LE(label->sizeHint().width(), label->width()) << label->text().toStdString();
            }
        }
        EXPECT_EQ(cell(panel, "unpaidDue"), QStringLiteral("9,876,543,210"));
        EXPECT_FALSE(entryText(panel, 5).isEmpty());
        const QRect status(window.statusBar()->mapTo(&window, QPoint()), window.statusBar()->size());
        EXPECT_TRUE(window.rect().contains(status));
    }
}

// 日報表: the menu item at the end of 處理作業 opens the window; 列印… paints through the printer the
// print dialog set up (here a PDF printer) and nothing when the dialog is cancelled; 存成 PDF… saves
// the day's report into the chosen folder and asks before replacing a file there.
TEST(DailyReportWindow, PrintsAndSavesTheChosenDaysReport)
{
    test::TestApp app;
    test::seedEveryState(app.folder());
    test::FakeDesktop desktop;
    {
        shell::MainWindow window(app.folder(), desktop);
        QAction *item = window.findChild<QAction *>(QStringLiteral("DailyReport"));
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->text(), QStringLiteral("日報表"));
        EXPECT_EQ(window.findChild<QMenu *>(QStringLiteral("MENU5"))->actions().back(), item);
        QString opened;
        QTimer::singleShot(0, [&] {
            QWidget *modal = QApplication::activeModalWidget();
            opened = modal ? modal->objectName() : QString();
            if (modal) {
                EXPECT_EQ(modal->findChild<QDateEdit *>(QStringLiteral("dtpDate"))->date(), QDate::currentDate());
                modal->close();
            }
        });
        item->trigger();
        EXPECT_EQ(opened, QStringLiteral("frmDailyReport"));
    }

    const QString printed = app.path(QStringLiteral("printed.pdf"));
    bool print = false;
    shell::DailyReportWindow window(app.folder(), desktop, nullptr, [&](QPrinter &printer, QWidget *) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(printed);
        return print;
    });
    window.findChild<QDateEdit *>(QStringLiteral("dtpDate"))->setDate(QDate(2024, 12, 1));
    test::child<QPushButton>(window, "cmdPrint")->click();
    EXPECT_FALSE(QFileInfo::exists(printed));
    EXPECT_TRUE(desktop.messages.empty());
    print = true;
    test::child<QPushButton>(window, "cmdPrint")->click();
    ASSERT_EQ(desktop.texts(), QStringList{QStringLiteral("日報表已送出列印，共 1 頁")});
    const QString printedText = test::pdfText(printed);
    EXPECT_TRUE(test::pdfHas(printedText, QStringLiteral("日報表　113/12/01"))) << printedText.toStdString();
    EXPECT_TRUE(test::pdfHas(printedText, QStringLiteral("入帳日期 113/12/01：2 筆，合計 2,000 元")));
    EXPECT_TRUE(test::pdfHas(printedText, QStringLiteral("當日沒有作業")));

    const QString folder = app.path(QStringLiteral("reports"));
    QDir().mkpath(folder);
    const QString saved = folder + QStringLiteral("/日報表_20241201.pdf");
    desktop.folders = {folder};
    test::child<QPushButton>(window, "cmdSavePdf")->click();
    ASSERT_EQ(desktop.messages.size(), 2u);
    EXPECT_EQ(desktop.messages.back().text, QStringLiteral("日報表存檔完畢，共 1 頁"));
    EXPECT_EQ(desktop.messages.back().informativeText, saved);
    EXPECT_TRUE(test::pdfHas(test::pdfText(saved), QStringLiteral("合計")));

    // Saved again into the same folder: the clerk is asked, No keeps the file.
    const QByteArray kept = test::readFile(saved);
    desktop.folders = {folder};
    desktop.answers = {platform::Answer::No};
    test::child<QPushButton>(window, "cmdSavePdf")->click();
    ASSERT_EQ(desktop.messages.size(), 3u);
    EXPECT_EQ(desktop.messages.back().defaultAnswer, platform::Answer::No);
    EXPECT_EQ(test::readFile(saved), kept);
}
