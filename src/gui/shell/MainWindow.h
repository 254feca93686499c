#pragma once

#include "db/TableExport.h"
#include "platform/AppFolder.h"
#include "platform/BackgroundJob.h"
#include "platform/Desktop.h"
#include "server/DatabaseInUse.h"
#include "shell/InstanceLock.h"

#include <QMainWindow>

class QLabel;

namespace talvesk::platform {
class PathLabel;
}
namespace talvesk::shell {
class OverviewPanel;
}

namespace talvesk::shell {

// The main window after login: the menu bar from which every command starts, and under it the
// overview of where the collection stands.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    static constexpr QSize kDesignedSize{640, 480};

    MainWindow(const platform::AppFolder &app, platform::Desktop &desktop, QWidget *parent = nullptr);

    // 結束: asks, compacts the database and closes the window. Returns whether it closed.
    bool onExitTriggered();
    void onChangePasswordTriggered();
    void onImportReceivablesTriggered();
    void onImportPaymentsTriggered();
    void onReadBankFileTriggered();
    void onReadStoreFileTriggered();
    void onExportResultsTriggered();
    void onLookupTriggered();
    void onExportStoreTriggered();
    // 另存新檔…: the same exports into a file the clerk chooses.
    void onExportResultsAsTriggered();
    void onExportStoreAsTriggered();
    void onClearReceivablesTriggered();
    void onBackupTriggered();
    void onRestoreTriggered();
    void onClearStoreTriggered();
    void onImportLogTriggered();
    void onDailyReportTriggered();
    // 匯入記錄 opened on one of its entries (from the overview's newest operations).
    void openImportLogAt(qint64 entry);
    OverviewPanel &overview() { return *overview_; }
    bool exporting() const { return exporting_; }
    // Counts the data again for the status line.
    void refreshSummary();
    // Whether the lookup's index is being made anew (on a thread of its own).
    bool indexing() const { return indexing_->running(); }

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    // Adds a menu item named `name` whose click runs `handler`.
    // Sizes and places the window, `frame` around it, within the screen's available part.
    void fitToScreen(const QMargins &frame);
    // Shares the status line between the data's counts and the database in use.
    void fitStatusLine();
    template <typename Handler>
    void addCommand(QWidget *menu, const char *name, const QString &caption, Handler handler);
    void runExport(const db::TableLayout &exported, const QString &filePrefix, bool chooseFile = false);
    // Asks, naming the table (`described`) and its rows, with No as the default; then clears.
    void clearTable(const QString &table, const QString &described);
    // Makes the lookup's index anew once the overview has read the figures after a change: it
    // reads the whole table too, and the overview comes first. A failure leaves the lookup
    // reading the table, as it always can.
    void refreshLookupIndex();

    bool exporting_ = false;
    QLabel *summaryLabel_ = nullptr;
    platform::PathLabel *databaseLabel_ = nullptr; // which database is in use
    OverviewPanel *overview_ = nullptr;
    platform::BackgroundJob *indexing_ = nullptr;
    bool indexAgain_ = false; // the database changed while the index was being made

    platform::AppFolder app_;
    platform::Desktop &desktop_;
};

// After the login: a desk's database file on a network share is warned of in a message box over
// `parent`, which names the shared database server to use instead. `onShare` as for
// server::networkShareWarning.
void warnOfNetworkShare(const platform::AppFolder &app, platform::Desktop &desktop, QWidget *parent,
                        const server::ShareCheck &onShare = {});

// Takes the database for this copy of the program. When another running copy holds it, says so
// in a message box and returns false: this copy must stop. A lock that cannot be written at all
// (a read-only folder) does not keep the program from starting.
bool claimDatabase(InstanceLock &lock, platform::Desktop &desktop);

} // namespace talvesk::shell
