#include "platform/Desktop.h"
#include "platform/Widgets.h"
#include "support/Widgets.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QAbstractProxyModel>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QTableWidget>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QVBoxLayout>

#include <functional>

#include <gtest/gtest.h>

using namespace talvesk;
using platform::Answer;
using platform::Buttons;

// Every button of every kind of box, pressed in a real QMessageBox, gives its own answer.
TEST(QtDesktop, EachPressedButtonGivesItsAnswer)
{
    const struct {
        Buttons buttons;
        QMessageBox::StandardButton pressed;
        Answer expected;
    } cases[] = {
        {Buttons::Ok, QMessageBox::Ok, Answer::Ok},
        {Buttons::OkCancel, QMessageBox::Ok, Answer::Ok},
        {Buttons::OkCancel, QMessageBox::Cancel, Answer::Cancel},
        {Buttons::YesNo, QMessageBox::Yes, Answer::Yes},
        {Buttons::YesNo, QMessageBox::No, Answer::No},
    };
    platform::QtDesktop desktop;
    for (const auto &c : cases) {
        test::SeenBox seen;
        test::pressInNextBox(seen, c.pressed);
        const Answer answer = desktop.showMessage(nullptr, {QStringLiteral("確認?"), QStringLiteral("標題"),
                                                            platform::Icon::Information, c.buttons});
        EXPECT_TRUE(seen.seen);
        EXPECT_EQ(answer, c.expected) << int(c.buttons) << ' ' << int(c.pressed);
    }
}

TEST(QtDesktop, EnterPressesTheNamedDefaultButton)
{
    platform::QtDesktop desktop;
    test::SeenBox seen;
    test::pressInNextBox(seen, QMessageBox::NoButton);
    EXPECT_EQ(desktop.showMessage(nullptr, {QStringLiteral("確定?"), QStringLiteral("標題"), platform::Icon::Exclamation,
                                            Buttons::YesNo, QString(), Answer::No}),
              Answer::No);

    test::SeenBox seenOk;
    test::pressInNextBox(seenOk, QMessageBox::NoButton);
    EXPECT_EQ(desktop.showMessage(nullptr, {QStringLiteral("確定?"), QStringLiteral("標題"), platform::Icon::None,
                                            Buttons::OkCancel, QString(), Answer::Ok}),
              Answer::Ok);
}

// Qt's own buttons in Chinese, and a box without a title under the program's caption.
TEST(QtDesktop, StandardButtonsInChineseAndAnEmptyTitleIsTheProgramCaption)
{
    ASSERT_TRUE(platform::installQtTranslation()) << "qt6-translations-l10n is needed";
    platform::QtDesktop desktop;
    test::SeenBox seen;
    test::pressInNextBox(seen, QMessageBox::Cancel);
    desktop.showMessage(nullptr, {QStringLiteral("確認?"), QString(), platform::Icon::None, Buttons::OkCancel});
    ASSERT_TRUE(seen.seen);
    EXPECT_EQ(seen.title, platform::kProgramCaption);
    ASSERT_EQ(seen.buttonTexts.size(), 2);
    for (const QString &text : seen.buttonTexts) {
        EXPECT_FALSE(text.contains(QStringLiteral("OK"), Qt::CaseInsensitive)) << text.toStdString();
        EXPECT_FALSE(text.contains(QStringLiteral("Cancel"), Qt::CaseInsensitive)) << text.toStdString();
    }
}

// The box is at least as wide as its title, so the window manager does not cut the program's
// caption down to a few characters.
TEST(QtDesktop, AMessageBoxIsWideEnoughForItsTitle)
{
    platform::QtDesktop desktop;
    int boxWidth = 0;
    int titleWidth = 0;
    QTimer timer;
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        timer.stop();
        boxWidth = box->width();
        titleWidth = box->fontMetrics().horizontalAdvance(box->windowTitle());
        box->button(QMessageBox::Ok)->click();
    });
    timer.start();
    desktop.showMessage(nullptr, {QStringLiteral("完成"), platform::kProgramCaption});
    ASSERT_GT(titleWidth, 0);
    EXPECT_GE(boxWidth, titleWidth + 100) << "room for the title bar's icon and buttons too";
}

// Every entry once: the store files' list names TFM*.* twice.
TEST(FileFilters, RepeatedEntriesAppearOnceAndWorkbooksListTheirFormats)
{
    EXPECT_EQ(platform::qtFileFilter(QStringLiteral(
                  "文字檔(TFM*.*)|TFM*.*|文字檔(HIF*.*)|HIF*.*|文字檔(OKM*.*)|OKM*.*|文字檔(TFM*.*)|TFM*.*|所有檔案(*.*)|*.*")),
              QStringLiteral("文字檔(TFM*.*) (TFM*);;文字檔(HIF*.*) (HIF*);;文字檔(OKM*.*) (OKM*);;所有檔案(*.*) (*)"));
    EXPECT_EQ(platform::qtFileFilter(platform::kWorkbookFilter),
              QStringLiteral("活頁簿 (*.xlsx *.xlsm *.xls *.ods *.csv);;所有檔案 (*)"));
}

// Through the real file dialog: it opens where the same kind of file was chosen last, and
// another kind keeps its own folder.
// Acts on the file dialog once it is up (it runs its own event loop), then stops looking.
class WhenFileDialogShows {
public:
    explicit WhenFileDialogShows(std::function<void(QFileDialog *)> act) : act_(std::move(act))
    {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            if (!dialog || !dialog->isVisible())
                return;
            timer_.stop();
            act_(dialog);
        });
        timer_.start();
    }

private:
    std::function<void(QFileDialog *)> act_;
    QTimer timer_;
};

TEST(QtDesktop, TheFileDialogReopensWhereTheSameKindWasChosen)
{
    QTemporaryDir appRoot, books, other;
    const QString book = books.path() + QStringLiteral("/應收.xlsx");
    QFile(book).open(QIODevice::WriteOnly);
    QDir(books.path()).mkdir(QStringLiteral("sub"));
    QString folderType, bookDate;
    platform::QtDesktop desktop(platform::windowSettingsFile(appRoot.path()));

    auto choose = [&](const QString &kind, const QString &pick, QString &openedIn) {
        WhenFileDialogShows timer([&](QFileDialog *dialog) {
            openedIn = dialog->directory().absolutePath();
            // The list reads in the program's words: a folder's type, a date without a "B".
            const auto *files = dialog->findChild<QFileSystemModel *>();
            if (files && dialog->proxyModel()) {
                const auto shown = [&](const QString &path, int column) {
                    return dialog->proxyModel()->mapFromSource(files->index(path, column)).data().toString();
                };
                folderType = shown(openedIn + QStringLiteral("/sub"), 2);
                bookDate = shown(book, 3);
            }
            if (pick.isEmpty()) {
                dialog->reject();
                return;
            }
            dialog->selectFile(pick);
            QMetaObject::invokeMethod(dialog, "accept");
        });
        return desktop.chooseFile(nullptr, {platform::kWorkbookFilter, QStringLiteral("c:\\"), QString(), kind});
    };
    QString openedIn;
    EXPECT_EQ(choose(platform::filekind::ReceivablesWorkbook, book, openedIn), std::optional<QString>(book));
    EXPECT_EQ(openedIn, QDir::homePath());
    EXPECT_EQ(choose(platform::filekind::ReceivablesWorkbook, QString(), openedIn), std::nullopt);
    EXPECT_EQ(openedIn, books.path());
    EXPECT_EQ(folderType, QStringLiteral("資料夾"));
    EXPECT_EQ(bookDate, QFileInfo(book).lastModified().toString(QStringLiteral("yyyy/MM/dd HH:mm")));
    EXPECT_EQ(choose(platform::filekind::BankFile, QString(), openedIn), std::nullopt);
    EXPECT_EQ(openedIn, QDir::homePath()) << "each kind keeps its own folder";

    // Remembered across runs, through the settings file; a folder since removed is not used.
    EXPECT_EQ(platform::FolderMemory(platform::windowSettingsFile(appRoot.path()))
                  .folderFor(platform::filekind::ReceivablesWorkbook, QStringLiteral("/fallback")),
              books.path());
    books.remove();
    EXPECT_EQ(platform::FolderMemory(platform::windowSettingsFile(appRoot.path()))
                  .folderFor(platform::filekind::ReceivablesWorkbook, QStringLiteral("/fallback")),
              QStringLiteral("/fallback"));
}

TEST(QtDesktop, TheSaveDialogOffersTheDatedNameAndAlwaysGivesAWorkbookName)
{
    QTemporaryDir appRoot, documents, chosenFolder;
    platform::QtDesktop desktop(platform::windowSettingsFile(appRoot.path()));
    auto save = [&](const QString &typed, QString &offeredIn, QString &offeredName) {
        WhenFileDialogShows timer([&](QFileDialog *dialog) {
            offeredIn = dialog->directory().absolutePath();
            auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            offeredName = name ? name->text() : QString();
            if (typed.isEmpty()) {
                dialog->reject();
                return;
            }
            // As a clerk does: into another folder, then a name typed in the name box.
            dialog->setDirectory(QFileInfo(typed).absolutePath());
            if (name)
                name->setText(QFileInfo(typed).fileName());
            QMetaObject::invokeMethod(dialog, "accept");
        });
        return desktop.chooseSaveFile(nullptr, QStringLiteral("另存新檔"), documents.path() + QStringLiteral("/銷帳結果_20261209.xlsx"));
    };
    QString in, name;
    EXPECT_EQ(save(QString(), in, name), std::nullopt);
    EXPECT_EQ(in, documents.path());
    EXPECT_EQ(name, QStringLiteral("銷帳結果_20261209.xlsx"));
    // A name typed without its suffix gets it; the next dialog opens where this one saved.
    EXPECT_EQ(save(chosenFolder.path() + QStringLiteral("/月底"), in, name),
              std::optional<QString>(chosenFolder.path() + QStringLiteral("/月底.xlsx")));
    EXPECT_EQ(save(QString(), in, name), std::nullopt);
    EXPECT_EQ(in, chosenFolder.path());
}

TEST(Windows, AFixedSizeWindowOffersNoMaximiseButton)
{
    QDialog dialog;
    platform::fixWindowSize(dialog, {300, 200});
    EXPECT_EQ(dialog.minimumSize(), QSize(300, 200));
    EXPECT_EQ(dialog.maximumSize(), QSize(300, 200));
    EXPECT_FALSE(dialog.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(dialog.windowFlags().testFlag(Qt::WindowCloseButtonHint));
    EXPECT_TRUE(dialog.windowFlags().testFlag(Qt::CustomizeWindowHint));
    EXPECT_EQ(dialog.windowFlags() & Qt::WindowType_Mask, Qt::Dialog);
}

// A long path keeps its file name in view, elided in the middle, with the whole path to hover.
TEST(Windows, ALongPathIsElidedInTheMiddleWithTheWholePathAsTooltip)
{
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *label = new platform::PathLabel(&window);
    layout->addWidget(label);
    window.resize(220, 60);
    window.show();
    const QString longPath = QStringLiteral("/home/clerk/") + QString(12, u'x') + QStringLiteral("/年度/第三季/收款資料/") + QString(20, u'y')
                             + QStringLiteral("/應收帳款2024.xlsx");
    label->setPath(longPath);
    EXPECT_EQ(label->path(), longPath);
    EXPECT_EQ(label->toolTip(), longPath);
    EXPECT_NE(label->text(), longPath);
    EXPECT_TRUE(label->text().contains(QChar(0x2026))) << label->text().toStdString();
    EXPECT_TRUE(label->text().startsWith(QStringLiteral("/home"))) << label->text().toStdString();
    EXPECT_TRUE(label->text().endsWith(QStringLiteral(".xlsx"))) << label->text().toStdString();
    EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->contentsRect().width());

    window.resize(2000, 60); // room enough: the whole path
    QApplication::processEvents();
    EXPECT_EQ(label->text(), longPath);
}

// Through a real opener process: its exit code says whether the desktop opened the workbook, and
// one that keeps running (the program it started) counts as opened.
TEST(QtDesktop, OpeningADocumentReportsWhatTheDesktopsOpenerSaid)
{
    QTemporaryDir bin;
    const QString opener = bin.path() + QStringLiteral("/xdg-open");
    auto useOpener = [&](const QByteArray &script) {
        QFile file(opener);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("#!/bin/sh\n" + script + '\n');
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    };
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(bin.path()) + ':' + path);
    platform::QtDesktop desktop;

    useOpener("echo \"xdg-open: no method available for opening '$1'\" >&2; exit 3");
    EXPECT_FALSE(desktop.openDocument(bin.path() + QStringLiteral("/book.xlsx")));
    useOpener("exit 0");
    EXPECT_TRUE(desktop.openDocument(bin.path() + QStringLiteral("/book.xlsx")));
    useOpener("sleep 2; exit 3"); // slow to give up, as xdg-open is without a desktop environment
    EXPECT_FALSE(desktop.openDocument(bin.path() + QStringLiteral("/book.xlsx")));
    useOpener("sleep 7");
    QElapsedTimer waited;
    waited.start();
    EXPECT_TRUE(desktop.openDocument(bin.path() + QStringLiteral("/book.xlsx")));
    EXPECT_LT(waited.elapsed(), 6900) << "the window is not held until the program ends";
    QTest::qWait(2000); // the opener ends and is forgotten
    qputenv("PATH", path);
}

TEST(ListTexts, AmountsGroupedAndDatesWithSlashesWhatIsNotOneStaysAsStored)
{
    const std::pair<QString, QString> amounts[] = {
        {QStringLiteral("45000"), QStringLiteral("45,000")},   {QStringLiteral("1,500"), QStringLiteral("1,500")},
        {QStringLiteral("-1234567.25"), QStringLiteral("-1,234,567.25")}, {QStringLiteral("999"), QStringLiteral("999")},
        {QStringLiteral(".5"), QStringLiteral(".5")},          {QStringLiteral("-100"), QStringLiteral("-100")},
        {QStringLiteral("12a00"), QStringLiteral("12a00")},    {QStringLiteral("-"), QStringLiteral("-")},
        {QString(), QString()},
    };
    for (const auto &[stored, shown] : amounts)
        EXPECT_EQ(platform::groupedAmount(stored), shown) << stored.toStdString();
    EXPECT_EQ(platform::dateForList(QStringLiteral("1130905")), QStringLiteral("113/09/05"));
    EXPECT_EQ(platform::dateForList(QStringLiteral("990101")), QStringLiteral("99/01/01"));
    EXPECT_EQ(platform::dateForList(QStringLiteral("2024/09/05")), QStringLiteral("2024/09/05"));
    EXPECT_EQ(platform::dateForList(QString()), QString());
}

TEST(FolderMemory, KeepsTheLastFiveFilesOfEachKindNewestFirstInTheSettingsFile)
{
    QTemporaryDir dir;
    const QString settings = dir.filePath(QStringLiteral("Windows.ini"));
    {
        platform::FolderMemory memory(settings);
        for (int i = 1; i <= 7; ++i)
            memory.remember(platform::filekind::BankFile, dir.filePath(QStringLiteral("bank%1.txt").arg(i)));
        memory.remember(platform::filekind::BankFile, dir.filePath(QStringLiteral("bank4.txt"))); // again: moves up
        memory.remember(platform::filekind::StoreFile, dir.filePath(QStringLiteral("TFM1.txt")));
        memory.remember(platform::filekind::BackupFolder, dir.path(), true); // a folder is no recent file
    }
    const platform::FolderMemory again(settings); // read back from the file
    EXPECT_EQ(again.recentFiles(platform::filekind::BankFile),
              (QStringList{dir.filePath(QStringLiteral("bank4.txt")), dir.filePath(QStringLiteral("bank7.txt")),
                           dir.filePath(QStringLiteral("bank6.txt")), dir.filePath(QStringLiteral("bank5.txt")),
                           dir.filePath(QStringLiteral("bank3.txt"))}));
    EXPECT_EQ(again.recentFiles(platform::filekind::StoreFile), QStringList{dir.filePath(QStringLiteral("TFM1.txt"))});
    EXPECT_TRUE(again.recentFiles(platform::filekind::BackupFolder).isEmpty());
    EXPECT_EQ(again.folderFor(platform::filekind::BankFile, QString()), dir.path());
}

// A table too wide for its window: the column named to give way is cut first, as far as its
// heading, before any other is; then the narrow ones keep their width and the wide ones share.
TEST(Windows, TheGivingColumnGoesDownToItsHeadingBeforeAnotherIsCut)
{
    QTableWidget table(1, 4);
    table.setHorizontalHeaderLabels({QStringLiteral("編號"), QStringLiteral("筆數"), QStringLiteral("檔案"), QStringLiteral("資料夾")});
    const QStringList texts{QStringLiteral("3"), QStringLiteral("新增 3,000、更新 0、不變 0、不處理 0"), QStringLiteral("receivables.csv"),
                            QStringLiteral("/home/clerk/文件/二〇二六年十二月/第二週/應收帳款/銀行寄來的檔案/")};
    for (int c = 0; c < 4; ++c)
        table.setItem(0, c, new QTableWidgetItem(texts.at(c)));
    auto want = [&](int c) {
        return std::max(static_cast<QAbstractItemView &>(table).sizeHintForColumn(c), table.horizontalHeader()->sectionSizeHint(c));
    };
    // Room for every column but the folder's, and for the folder's heading.
    table.resize(want(0) + want(1) + want(2) + want(3) / 4 + 2 * table.frameWidth(), 200);
    table.show();
    platform::keepColumnsFitted(table, 3);
    platform::fitColumns(table);
    QHeaderView *header = table.horizontalHeader();
    for (int c = 0; c < 3; ++c)
        EXPECT_GE(header->sectionSize(c), want(c)) << c;
    EXPECT_LT(header->sectionSize(3), want(3) / 3) << "the folder gave way";
}
