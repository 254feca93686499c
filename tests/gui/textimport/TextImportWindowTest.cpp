#include "db/Connection.h"
#include "payments/BankImport.h"
#include "payments/PaymentWindows.h"
#include "textimport/TextImportWindow.h"
#include "store/StoreImport.h"
#include "store/StoreWindows.h"
#include "support/FakeDesktop.h"
#include "support/Tables.h"
#include "support/TestApp.h"
#include "support/TextFiles.h"
#include "support/Widgets.h"
#include "platform/PreviewPanel.h"
#include "platform/Widgets.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QMimeData>
#include <QUrl>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <iostream>

using namespace talvesk;
using textimport::TextImportWindow;
using platform::Icon;

namespace {

class BankWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        window = std::make_unique<TextImportWindow>(payments::bankWindowDesign(), import, desktop);
        window->show();
    }
    QString label(const char *name) { return test::child<QLabel>(*window, name)->text(); }
    bool enabled(const char *name) { return test::child<QPushButton>(*window, name)->isEnabled(); }
    static bool enabled(const QWidget *control) { return control->isEnabled(); }
    QString bankFile(const QStringList &lines)
    {
        const QString path = app.path(QStringLiteral("bank.txt"));
        test::writeFile(path, lines.join(QStringLiteral("\r\n")).toLatin1());
        return path;
    }

    test::TestApp app;
    test::FakeDesktop desktop;
    payments::BankImport import{app.folder()};
    std::unique_ptr<TextImportWindow> window;
};

} // namespace

TEST_F(BankWindowTest, OpensWithItsCaptionsAndNothingToRead)
{
    EXPECT_EQ(window->windowTitle(), QStringLiteral("讀入入帳明細(TXT)"));
    EXPECT_EQ(test::child<QGroupBox>(*window, "Frame1")->title(), QStringLiteral("入帳明細(TXT)"));
    EXPECT_EQ(label("Label1"), QStringLiteral("目前檔案 : "));
    EXPECT_EQ(label("Label2"), QStringLiteral("正確筆數 : "));
    EXPECT_EQ(label("Label3"), QStringLiteral("異常筆數:"));
    EXPECT_EQ(label("lblsuccess"), QStringLiteral("0"));
    EXPECT_TRUE(enabled(window->chooseButton()));
    EXPECT_FALSE(enabled(window->readButton()));
    EXPECT_TRUE(enabled(window->closeButton()));
}

TEST_F(BankWindowTest, ChoosingCancellingAndABlankName)
{
    desktop.files = {app.path(QStringLiteral("a.txt")), QString(), app.path(QStringLiteral("dir/  "))};
    window->onChooseClicked();
    EXPECT_EQ(desktop.fileChoices[0].filter, QStringLiteral("文字檔(*.*)|*.*|所有檔案(*.*)|*.*"));
    EXPECT_EQ(desktop.fileChoices[0].initialFolder, QStringLiteral("C:\\"));
    EXPECT_EQ(desktop.fileChoices[0].kind, platform::filekind::BankFile);
    EXPECT_EQ(label("cur_file"), app.path(QStringLiteral("a.txt")));
    EXPECT_TRUE(enabled(window->readButton()));

    window->onChooseClicked();
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0].text, QStringLiteral("沒有選取任何檔案!"));
    EXPECT_EQ(desktop.messages[0].title, QStringLiteral("讀入入帳明細(TXT)"));
    EXPECT_EQ(desktop.messages[0].icon, Icon::Information);
    EXPECT_EQ(label("cur_file"), app.path(QStringLiteral("a.txt")));
    EXPECT_TRUE(enabled(window->readButton()));

    window->onChooseClicked();
    EXPECT_EQ(desktop.messages.back().text, QStringLiteral("請選取Talvesk銷帳檔案  !"));
    EXPECT_EQ(label("cur_file"), app.path(QStringLiteral("a.txt")));
}

TEST_F(BankWindowTest, ARunCountsAndLeavesOnlyReadAndExitUsable)
{
    test::addReceivable(app.folder(), QStringLiteral("A1"), QStringLiteral("1500"));
    desktop.files = {bankFile({test::bankLine(QStringLiteral("1130105"), QStringLiteral("00000001500"), QStringLiteral("A1"))})};
    window->onChooseClicked();

    std::vector<bool> during;
    desktop.onEvents = [&] {
        if (during.empty()) {
            for (const QWidget *b : {window->chooseButton(), window->readButton(), window->closeButton()})
                during.push_back(enabled(b));
            window->close();
        }
    };
    QTest::mouseClick(window->readButton(), Qt::LeftButton);
    EXPECT_EQ(during, (std::vector<bool>{false, false, false}));
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(desktop.texts(), QStringList{QStringLiteral("讀入檔案完成!")});
    EXPECT_EQ(desktop.messages[0].icon, Icon::Information);
    EXPECT_EQ(label("lblsuccess"), QStringLiteral("1"));
    EXPECT_EQ(label("lblfail"), QStringLiteral("0"));
    EXPECT_FALSE(enabled(window->chooseButton()));
    EXPECT_TRUE(enabled(window->readButton()));
    EXPECT_TRUE(enabled(window->closeButton()));
    EXPECT_EQ(desktop.pointer(), platform::Pointer::Default);
}

TEST_F(BankWindowTest, AbnormalLinesPointAtTheLog)
{
    desktop.files = {bankFile({test::bankLine(QStringLiteral("1130105"), QStringLiteral("1500"), QStringLiteral("NOPE"))})};
    window->onChooseClicked();
    window->onReadClicked();
    EXPECT_EQ(desktop.texts(), QStringList{textimport::kReadDoneWithErrors});
    EXPECT_EQ(label("lblfail"), QStringLiteral("1"));
}

TEST_F(BankWindowTest, AMissingFileIsReportedByItsCauseAndEveryButtonComesBack)
{
    desktop.files = {app.path(QStringLiteral("gone.txt"))};
    window->onChooseClicked();
    window->onReadClicked();
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0].text, QStringLiteral("找不到檔案!"));
    EXPECT_EQ(desktop.messages[0].icon, Icon::Critical);
    EXPECT_EQ(desktop.messages[0].title, QStringLiteral("讀入入帳明細(TXT)"));
    for (const QWidget *b : {window->chooseButton(), window->readButton(), window->closeButton()})
        EXPECT_TRUE(enabled(b)) << b->objectName().toStdString();
    EXPECT_TRUE(test::tableRows(app.folder(), QStringLiteral("F_AccountData")).empty());
}

TEST_F(BankWindowTest, AFileDroppedOnTheWindowIsChosenAsIfPicked)
{
    const QString path = bankFile({test::bankLine(QStringLiteral("1130105"), QStringLiteral("00000001000"), QStringLiteral("A1"))});
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path)});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent dropped(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &dropped);
    EXPECT_TRUE(enabled(window->readButton()));
    EXPECT_TRUE(enabled("cmdPreview"));
    EXPECT_EQ(test::child<platform::PathLabel>(*window, "cur_file")->path(), path);
    EXPECT_EQ(desktop.recentFiles(platform::filekind::BankFile), QStringList{path});
}

TEST(TextImportFailures, MessagesByNumber)
{
    EXPECT_EQ(textimport::textImportFailureText(53), QStringLiteral("找不到檔案!"));
    EXPECT_EQ(textimport::textImportFailureText(57), QStringLiteral("磁碟機存取錯誤!"));
    EXPECT_EQ(textimport::textImportFailureText(75), QStringLiteral("路徑/檔案存取錯誤!"));
    EXPECT_EQ(textimport::textImportFailureText(3000), QStringLiteral("錯誤發生;錯誤代碼=3000"));
}

TEST(StoreWindow, ItsCaptionsFilterAndAMissingDatabase)
{
    test::TestApp app(test::TestApp::NoDatabase);
    test::FakeDesktop desktop;
    store::StoreImport import(app.folder());
    TextImportWindow window(store::storeWindowDesign(), import, desktop);
    EXPECT_EQ(window.objectName(), QStringLiteral("frmread711"));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("讀入便利商店銷帳磁片"));
    EXPECT_EQ(test::child<QGroupBox>(window, "Frame1")->title(), QStringLiteral("便利商店銷帳資料檔"));
    EXPECT_EQ(test::child<QLabel>(window, "Label3")->text(), QStringLiteral("異常筆數："));
    const QString path = app.path(QStringLiteral("TFM1.txt"));
    test::writeFile(path, "2");
    desktop.files = {path};
    window.onChooseClicked();
    EXPECT_EQ(desktop.fileChoices[0].filter,
              QStringLiteral("文字檔(TFM*.*)|TFM*.*|文字檔(HIF*.*)|HIF*.*|文字檔(OKM*.*)|OKM*.*|文字檔(TFM*.*)|TFM*.*|所有檔案(*.*)|*.*"));
    window.onReadClicked();
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0].text, QStringLiteral("錯誤發生;錯誤代碼=3000"))
        << "a missing database is not taken for a missing text file";
    EXPECT_TRUE(desktop.messages[0].informativeText.contains(QStringLiteral("Vellaroke.mdb")))
        << desktop.messages[0].informativeText.toStdString();
}

TEST_F(BankWindowTest, PreviewShowsTheRecordsAndCountsWithoutTouchingTheLogOrTheDatabase)
{
    test::addReceivable(app.folder(), QStringLiteral("A1"), QStringLiteral("1500"));
    desktop.files = {bankFile({test::bankLine(QStringLiteral("1130105"), QStringLiteral("00000001000"), QStringLiteral("A1")),
                               test::bankLine(QStringLiteral("1130105"), QStringLiteral("00000000001"), QStringLiteral("NOPE"))})};
    window->onChooseClicked();
    ASSERT_TRUE(enabled("cmdPreview"));
    test::writeFile(app.folder().errorLogFile(), "old log");
    const QByteArray before = test::readFile(app.folder().databaseFile());
    QSignalSpy counted(window.get(), &TextImportWindow::previewCounted);
    window->onPreviewClicked();
    auto *grid = test::child<QTableWidget>(*window, "grdPreview");
    ASSERT_EQ(grid->rowCount(), 2);
    EXPECT_EQ(grid->horizontalHeaderItem(1)->text(), QStringLiteral("虛擬帳號"));
    EXPECT_EQ(grid->item(0, 1)->text(), QStringLiteral("A1"));
    EXPECT_EQ(grid->item(0, 4)->text(), QStringLiteral("500"));
    EXPECT_EQ(grid->item(1, 5)->text(), QStringLiteral("沒有此虛擬帳號的應收帳款"));
    ASSERT_TRUE(counted.wait(10000));
    EXPECT_TRUE(label("lblPreviewCounts").startsWith(QStringLiteral("試算整個檔案：正確筆數 1，異常筆數 1；其中新增 0 筆，更新 1 筆，不變 0 筆；已有入帳資料而會變更的 0 筆。")))
        << label("lblPreviewCounts").toStdString();
    EXPECT_EQ(test::readFile(app.folder().errorLogFile()), "old log");
    EXPECT_EQ(test::readFile(app.folder().databaseFile()), before);
    EXPECT_EQ(label("lblsuccess"), QStringLiteral("0")) << "a preview is not a run";
}

namespace {

// Leaves the window while its count runs; returns how long leaving took.
qint64 leaveWhileCounting(TextImportWindow &window)
{
    QElapsedTimer leaving;
    leaving.start();
    window.onCloseClicked();
    const qint64 ms = leaving.elapsed();
    std::cout << "leaving the window took " << ms << " ms\n";
    return ms;
}

} // namespace

TEST_F(BankWindowTest, LeavingWhileTheWholeFileIsCountedStopsTheCountPromptly)
{
    // Enough records against enough receivables that the count still runs when the window is left.
    {
        platform::Database db = db::openDatabase(app.folder());
        platform::Transaction transaction(db);
        auto insert = db.prepare("INSERT INTO F_AccountData (Bankcode, Total) VALUES (?1, '1500')");
        for (int i = 0; i < 100000; ++i) {
            insert.bind(1, QStringLiteral("B%1").arg(i));
            insert.run();
            insert.reset();
        }
        transaction.commit();
    }
    QByteArray file;
    for (int i = 0; i < 400000; ++i)
        file += test::bankLine(QStringLiteral("1130105"), QStringLiteral("00000000100"), QStringLiteral("B%1").arg(i % 150000))
                    .toLatin1()
            + "\r\n";
    const QString path = app.path(QStringLiteral("bank.txt"));
    test::writeFile(path, file);
    desktop.files = {path};
    window->onChooseClicked();
    const QByteArray before = test::readFile(app.folder().databaseFile());
    QSignalSpy counted(window.get(), &TextImportWindow::previewCounted);

    // The bound only keeps a busy machine from failing the test: leaving is measured at well
    // under 0.2 s.
    window->onPreviewClicked();
    QTest::qWait(150);
    ASSERT_EQ(label("lblPreviewCounts"), platform::kCountingText) << "the count ended first: nothing was stopped";
    EXPECT_LT(leaveWhileCounting(*window), 1000);
    QCoreApplication::processEvents();
    EXPECT_EQ(counted.count(), 0) << "a stopped count is never told";
    EXPECT_EQ(test::readFile(app.folder().databaseFile()), before);
}
