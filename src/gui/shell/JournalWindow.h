#pragma once

#include "db/Journal.h"
#include "overview/Overview.h"
#include "platform/AppFolder.h"
#include "platform/Desktop.h"

#include <QDialog>

#include <vector>

class QLabel;
class QPushButton;
class QTableWidget;

namespace talvesk::shell {

// 匯入記錄: every import and clearing, newest first; the lines the selected one could not use,
// which can be saved as a workbook or a CSV file; and undo of the most recent operation.
class JournalWindow : public QDialog {
    Q_OBJECT
public:
    JournalWindow(const platform::AppFolder &app, platform::Desktop &desktop, QWidget *parent = nullptr);

    // Reads the entries again, keeping the selected one where it still is.
    void reload();
    // Selects entry `id` (when it is listed), showing its problem lines.
    void selectEntry(qint64 id);
    void onEntrySelected();
    void onSaveXlsxClicked();
    void onSaveCsvClicked();
    // Asks, naming the operation and what comes back, with No as the default; then undoes it.
    void onUndoClicked();

private:
    // More lines than this are saved, not listed: a wrong file can have a million.
    static constexpr int kShownProblems = 10000;
    void save(bool asXlsx);
    void showFailure(const platform::Error &error);
    qint64 selectedId() const;

    platform::AppFolder app_;
    platform::Desktop &desktop_;
    std::vector<db::JournalRecord> entries_;
    std::vector<db::ProblemLine> problems_;
    QTableWidget *entryTable_;
    QTableWidget *problemTable_;
    QLabel *problemCaption_;
    QPushButton *saveXlsx_;
    QPushButton *saveCsv_;
    QPushButton *undo_;
    QLabel *undoNote_; // what the undo button would take back, or why it cannot
};

// How the window names an entry's counts and state, in the clerk's words (shared with the
// overview and the daily report).
using overview::countsCaption;
using overview::stateCaption;

} // namespace talvesk::shell
