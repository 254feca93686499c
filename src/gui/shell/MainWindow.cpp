#include "shell/MainWindow.h"

#include "platform/Widgets.h"

#include "credentials/ChangePasswordDialog.h"
#include "backup/BackupWindow.h"
#include "payments/BankImport.h"
#include "payments/PaymentWindows.h"
#include "textimport/TextImportWindow.h"
#include "store/StoreImport.h"
#include "store/StoreWindows.h"
#include "payments/PaymentsImport.h"
#include "workbookimport/ExcelImportWindow.h"
#include "workbookimport/MappingWindow.h"
#include "receivables/ReceivablesImport.h"
#include "receivables/ReceivablesWindows.h"
#include "results/LookupWindow.h"
#include "results/LookupIndex.h"
#include "results/Results.h"
#include "shell/Compaction.h"
#include "shell/JournalWindow.h"
#include "shell/DailyReportWindow.h"
#include "shell/OverviewPanel.h"
#include "shell/DataSummary.h"
#include "db/SafetyCopy.h"
#include "server/DatabaseInUse.h"
#include "db/Tables.h"
#include "store/StoreExport.h"

#include <QAction>
#include <QCloseEvent>
#include <QDateTime>
#include <QFileInfo>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QStatusBar>
#include <QStyle>
#include <QMenu>
#include <QMenuBar>

#include <algorithm>

namespace talvesk::shell {

template <typename Handler>
void MainWindow::addCommand(QWidget *menu, const char *name, const QString &caption, Handler handler)
{
    auto *action = new QAction(caption, menu);
    action->setObjectName(QString::fromLatin1(name));
    menu->addAction(action);
    connect(action, &QAction::triggered, this, [this, handler] {
        (this->*handler)();
        refreshSummary(); // whatever the command changed
    });
}

MainWindow::MainWindow(const platform::AppFolder &app, platform::Desktop &desktop, QWidget *parent)
    : QMainWindow(parent), app_(app), desktop_(desktop)
{
    setObjectName(QStringLiteral("remainmenu"));
    setWindowTitle(platform::kProgramCaption);
    // Where the collection stands, under the menu bar.
    overview_ = new OverviewPanel(app_, this);
    setCentralWidget(overview_);
    connect(overview_, &OverviewPanel::entryActivated, this, &MainWindow::openImportLogAt);
    indexing_ = new platform::BackgroundJob(this);
    connect(overview_, &OverviewPanel::figuresShown, this, &MainWindow::refreshLookupIndex);
    // What the database holds; an export's progress shows over it while it runs.
    summaryLabel_ = new QLabel(statusBar());
    summaryLabel_->setObjectName(QStringLiteral("dataSummary"));
    // The line takes the width the window has; it never widens the window past a small screen.
    summaryLabel_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    statusBar()->addWidget(summaryLabel_, 1);
    // Which database this desk works on, at the right; a long path gives way in its middle.
    databaseLabel_ = new platform::PathLabel(statusBar());
    databaseLabel_->setObjectName(QStringLiteral("databaseLabel"));
    statusBar()->addPermanentWidget(databaseLabel_, 1);
    refreshSummary();

    QMenuBar *bar = menuBar();
    addCommand(bar, "readdisk", QStringLiteral("讀入應收帳款資料(EXCEL)"), &MainWindow::onImportReceivablesTriggered);

    QMenu *work = bar->addMenu(QStringLiteral("處理作業"));
    work->setObjectName(QStringLiteral("MENU5"));
    addCommand(work, "READBANK", QStringLiteral("讀入入帳明細(EXCEL)"), &MainWindow::onImportPaymentsTriggered);
    addCommand(work, "MENDO", QStringLiteral("讀入入帳明細(TXT)"), &MainWindow::onReadBankFileTriggered);
    addCommand(work, "errorfile", QStringLiteral("銷帳結果轉存EXCEL檔"), &MainWindow::onExportResultsTriggered);
    addCommand(work, "errorfileAs", QStringLiteral("銷帳結果另存新檔…"), &MainWindow::onExportResultsAsTriggered);
    addCommand(work, "LOOKUP", QStringLiteral("帳款查詢"), &MainWindow::onLookupTriggered);
    addCommand(work, "DailyReport", QStringLiteral("日報表"), &MainWindow::onDailyReportTriggered);

    QMenu *store = bar->addMenu(QStringLiteral("超商銷帳資料處理"));
    store->setObjectName(QStringLiteral("PrtRec"));
    addCommand(store, "READ711", QStringLiteral("讀入便利超商銷帳磁片"), &MainWindow::onReadStoreFileTriggered);
    addCommand(store, "PrtRecALL", QStringLiteral("超商銷帳資料轉EXCEL檔"), &MainWindow::onExportStoreTriggered);
    addCommand(store, "PrtRecALLAs", QStringLiteral("超商銷帳資料另存新檔…"), &MainWindow::onExportStoreAsTriggered);

    QMenu *system = bar->addMenu(QStringLiteral("系統作業"));
    system->setObjectName(QStringLiteral("syswork"));
    addCommand(system, "BACKUP", QStringLiteral("備份資料庫"), &MainWindow::onBackupTriggered);
    addCommand(system, "RESTORE", QStringLiteral("回復資料庫"), &MainWindow::onRestoreTriggered);
    // The clearings empty a whole table: set apart, so that a slip aimed at 回復資料庫 or
    // 變更密碼 does not land on them.
    system->addSeparator();
    addCommand(system, "RClearFile", QStringLiteral("應收帳款清檔作業"), &MainWindow::onClearReceivablesTriggered);
    addCommand(system, "SClearFile", QStringLiteral("超商資料清檔作業"), &MainWindow::onClearStoreTriggered);
    system->addSeparator();
    addCommand(system, "ChgPas", QStringLiteral("變更密碼"), &MainWindow::onChangePasswordTriggered);
    addCommand(system, "ImportLog", QStringLiteral("匯入記錄"), &MainWindow::onImportLogTriggered);

    addCommand(bar, "EXITMENU", QStringLiteral("結束"), &MainWindow::onExitTriggered);

    fitToScreen(platform::kAssumedFrame);
}

void MainWindow::fitToScreen(const QMargins &frame)
{
    // The window grows on a small screen, but never past the part of it the desktop leaves free,
    // title bar and borders included: its caption and status bar stay on the screen.
    const QRect fitted = platform::fitWithin(desktop_.availableGeometry(),
                                             platform::sizeForScreen(desktop_.screenSize(), kDesignedSize), frame);
    resize(fitted.size());
    move(fitted.topLeft() - QPoint(frame.left(), frame.top()));
}

void MainWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    // The real frame is known once the window manager has framed the window.
    const QRect outer = frameGeometry();
    const QRect inner = geometry();
    const QMargins frame(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                         outer.bottom() - inner.bottom());
    if (!frame.isNull() && frame != platform::kAssumedFrame)
        fitToScreen(frame);
}


void MainWindow::runExport(const db::TableLayout &exported, const QString &filePrefix, bool chooseFile)
{
    if (exporting_)
        return;
    // By default into the documents folder under a dated name; 另存新檔… lets the clerk say where.
    QString path = db::exportPath(filePrefix, QDateTime::currentDateTime());
    if (chooseFile) {
        const std::optional<QString> chosen = desktop_.chooseSaveFile(this, QStringLiteral("另存新檔"), path);
        if (!chosen)
            return;
        path = *chosen;
    }
    exporting_ = true;
    // The window keeps repainting and taking input, but no command may start while the export
    // reads the database: a write would wait for it, and leaving would pull the table away.
    const auto actions = findChildren<QAction *>();
    for (QAction *action : actions)
        action->setEnabled(false);
    auto *bar = new QProgressBar(statusBar());
    bar->setMaximumWidth(240);
    statusBar()->addPermanentWidget(bar);
    statusBar()->showMessage(QStringLiteral("匯出中,請稍候..."));

    // The status bar says 匯出中 only while the export runs, not beside its result.
    auto clearStatus = [this, bar] {
        statusBar()->removeWidget(bar);
        delete bar;
        statusBar()->clearMessage();
    };
    platform::ProgressPacer pacer(desktop_);
    try {
        const db::ExportResult result = db::exportTable(app_, exported, path, [&](qint64 done, qint64 total) {
            pacer.step([&] {
                bar->setRange(0, static_cast<int>(std::min<qint64>(total, INT_MAX)));
                bar->setValue(static_cast<int>(done));
            });
        });
        clearStatus();
        const QString rows = QLocale(QLocale::Chinese, QLocale::Taiwan).toString(result.rows);
        const QString text = result.rows == 0
                                 ? db::kExportDone + QStringLiteral(",共 0 筆:資料表是空的,活頁簿只有欄位名稱。")
                                 : db::kExportDone + QStringLiteral(",共 %1 筆。").arg(rows);
        const QString note = db::cutCellsNote(result).isEmpty() ? path : path + u'\n' + db::cutCellsNote(result);
        platform::reportExportedWorkbook(desktop_, this, QStringLiteral("訊息"), text, note, path);
    } catch (const platform::Error &error) {
        clearStatus();
        // The exports' fixed form: the number, at once its description; no title, no icon.
        desktop_.showMessage(this, {QString::number(error.number()) + error.description(), QString()});
    }
    for (QAction *action : actions)
        action->setEnabled(true);
    exporting_ = false;
}

void MainWindow::refreshSummary()
{
    overview_->refresh(); // on its own thread; shown when read
    const server::DatabaseInUse inUse = server::databaseInUse(app_);
    databaseLabel_->setPath(inUse.place, inUse.kind + u' ');
    try {
        // The journal alone says when the last import was: an undone one no longer counts.
        summaryLabel_->setText(summaryText(summarize(app_)));
        summaryLabel_->setToolTip(QString());
    } catch (const platform::Error &error) {
        // Short on the line, where the database's name must stay readable; the reason whole in
        // its tooltip.
        summaryLabel_->setText(QStringLiteral("無法讀取資料庫"));
        summaryLabel_->setToolTip(error.description());
    }
    fitStatusLine();
}

void MainWindow::fitStatusLine()
{
    // The counts come first, whole where they fit; the database takes what they leave, at least
    // enough to say which kind it is and at most its whole text.
    const QFontMetrics metrics = databaseLabel_->fontMetrics();
    const int margin = 2 * databaseLabel_->margin() + 8;
    const int least = metrics.horizontalAdvance(databaseLabel_->lead() + QChar(0x2026)) + margin;
    const int whole = metrics.horizontalAdvance(databaseLabel_->toolTip()) + margin;
    const int counts = summaryLabel_->fontMetrics().horizontalAdvance(summaryLabel_->text()) + 16;
    const int room = width() - counts - statusBar()->style()->pixelMetric(QStyle::PM_SizeGripSize) - 16;
    databaseLabel_->setFixedWidth(std::clamp(room, least, std::max(least, whole)));
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    fitStatusLine();
}

void MainWindow::onExportResultsTriggered()
{
    runExport(results::resultsLayout(), results::kResultsFilePrefix);
}

void MainWindow::onExportStoreTriggered()
{
    runExport(store::storeLayout(), store::kStoreFilePrefix);
}

void MainWindow::onExportResultsAsTriggered()
{
    runExport(results::resultsLayout(), results::kResultsFilePrefix, true);
}

void MainWindow::onExportStoreAsTriggered()
{
    runExport(store::storeLayout(), store::kStoreFilePrefix, true);
}

void MainWindow::clearTable(const QString &table, const QString &described)
{
    QString safetyCopy;
    try {
        const qint64 rows = db::countRows(app_, table);
        if (rows == 0) {
            // Nothing to clear: said so, rather than asked whether to clear 0 rows.
            desktop_.showMessage(this, {QStringLiteral("目前沒有%1，不需要清除。").arg(described), windowTitle(),
                                        platform::Icon::Information});
            return;
        }
        const QString question = QStringLiteral("確定要清除%1 %2 筆?")
                                     .arg(described, QLocale(QLocale::Chinese, QLocale::Taiwan).toString(rows));
        if (desktop_.showMessage(this, {question, windowTitle(), platform::Icon::Exclamation, platform::Buttons::YesNo,
                                        QString(), platform::Answer::No})
            != platform::Answer::Yes)
            return;
        safetyCopy = db::clearTable(app_, table);
    } catch (const platform::Error &error) {
        desktop_.showMessage(this, {QStringLiteral("錯誤發生;錯誤代碼=") + QString::number(error.number()), windowTitle(),
                                    platform::Icon::Critical, platform::Buttons::Ok, error.description()});
        return;
    }
    desktop_.showMessage(this, {db::kClearDone, windowTitle(), platform::Icon::Information,
                                platform::Buttons::Ok, db::safetyCopyReport(safetyCopy, db::kBeforeClearing)});
}

void MainWindow::onClearReceivablesTriggered()
{
    clearTable(db::kReceivablesTable, QStringLiteral("應收帳款資料"));
}

void MainWindow::onClearStoreTriggered()
{
    clearTable(db::kStoreTable, QStringLiteral("超商資料"));
}

void MainWindow::onBackupTriggered()
{
    backup::BackupWindow window(backup::BackupWindow::Mode::Backup, app_, desktop_, this);
    window.exec();
}

void MainWindow::onImportLogTriggered()
{
    JournalWindow window(app_, desktop_, this);
    window.exec();
}

void MainWindow::openImportLogAt(qint64 entry)
{
    JournalWindow window(app_, desktop_, this);
    window.selectEntry(entry);
    window.exec();
    refreshSummary(); // an undo may have run there
}

void MainWindow::onDailyReportTriggered()
{
    DailyReportWindow window(app_, desktop_, this);
    window.exec();
}

void MainWindow::onRestoreTriggered()
{
    backup::BackupWindow window(backup::BackupWindow::Mode::Restore, app_, desktop_, this);
    window.exec();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (exporting_) {
        event->ignore();
        return;
    }
    indexing_->stop(); // before the database is compacted at exit
    QMainWindow::closeEvent(event);
}

void MainWindow::refreshLookupIndex()
{
    if (indexing_->running()) {
        indexAgain_ = true;
        return;
    }
    indexAgain_ = false;
    indexing_->run<bool>(
        [app = app_](const platform::BackgroundJob::StopRequested &stopRequested) {
            return results::lookupindex::refresh(app, stopRequested);
        },
        [this](const platform::JobOutcome<bool> &) {
            if (indexAgain_)
                refreshLookupIndex();
        });
}

bool MainWindow::onExitTriggered()
{
    if (exporting_)
        return false;
    const auto answer = desktop_.showMessage(
        this, {QStringLiteral("確認結束系統?"), windowTitle(), platform::Icon::Information, platform::Buttons::OkCancel});
    if (answer != platform::Answer::Ok)
        return false;
    desktop_.setPointer(platform::Pointer::Hourglass);
    // A compaction that fails leaves the database as it was; the exit goes on regardless.
    compactDatabase(app_);
    desktop_.setPointer(platform::Pointer::Default);
    close();
    return true;
}

void MainWindow::onImportReceivablesTriggered()
{
    receivables::ReceivablesImport import(app_);
    workbookimport::ExcelImportWindow window(
        {QStringLiteral("frmExcelToAccess"), QStringLiteral("讀入應收帳款資料(EXCEL)"),
         platform::filekind::ReceivablesWorkbook}, import,
        [this](QWidget *parent, const workbookimport::Headings &headings) {
            workbookimport::MappingWindow mapping(receivables::receivablesMappingDesign(), app_, desktop_, parent);
            mapping.showHeadings(headings);
            return mapping.exec() == QDialog::Accepted;
        },
        desktop_, this);
    window.exec();
}

void MainWindow::onImportPaymentsTriggered()
{
    payments::PaymentsImport import(app_);
    workbookimport::ExcelImportWindow window(
        {QStringLiteral("frmExcelToAccess1"), QStringLiteral("讀入入帳明細(EXCEL)"),
         platform::filekind::PaymentsWorkbook}, import,
        [this](QWidget *parent, const workbookimport::Headings &headings) {
            workbookimport::MappingWindow mapping(payments::paymentsMappingDesign(), app_, desktop_, parent);
            mapping.showHeadings(headings);
            return mapping.exec() == QDialog::Accepted;
        },
        desktop_, this);
    window.exec();
}

void MainWindow::onReadBankFileTriggered()
{
    payments::BankImport import(app_);
    textimport::TextImportWindow window(payments::bankWindowDesign(), import, desktop_, this);
    window.exec();
}

void MainWindow::onReadStoreFileTriggered()
{
    store::StoreImport import(app_);
    textimport::TextImportWindow window(store::storeWindowDesign(), import, desktop_, this);
    window.exec();
}

void MainWindow::onLookupTriggered()
{
    results::LookupWindow window(app_, desktop_, this);
    window.exec();
}

void MainWindow::onChangePasswordTriggered()
{
    credentials::ChangePasswordDialog dialog(app_, desktop_, this);
    dialog.exec();
}

void warnOfNetworkShare(const platform::AppFolder &app, platform::Desktop &desktop, QWidget *parent,
                        const server::ShareCheck &onShare)
{
    if (const std::optional<QString> warning = server::networkShareWarning(app, onShare))
        desktop.showMessage(parent, {*warning, platform::kProgramCaption, platform::Icon::Exclamation});
}

bool claimDatabase(InstanceLock &lock, platform::Desktop &desktop)
{
    switch (lock.tryLock()) {
    case InstanceLock::Outcome::Locked:
    case InstanceLock::Outcome::NotLockable:
        return true;
    case InstanceLock::Outcome::HeldElsewhere:
        break;
    }
    desktop.showMessage(nullptr, {alreadyRunningText(lock.holderPid()), QString(), platform::Icon::Exclamation});
    return false;
}

} // namespace talvesk::shell
