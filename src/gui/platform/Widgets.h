#pragma once

#include "platform/Desktop.h"

#include <QDateTime>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QPushButton>

#include <functional>
#include <initializer_list>
#include <optional>
#include <utility>
#include <vector>

class QCloseEvent;
class QMimeData;
class QToolButton;
class QTableView;
class QKeyEvent;
class QResizeEvent;

namespace talvesk::platform {

// A label or a button with the name the program knows it by.
QLabel *namedLabel(QWidget *parent, const char *name, const QString &text);
// Buttons of the program's windows never press themselves on Enter in another control.
QPushButton *namedButton(QWidget *parent, const char *name, const QString &text);

// Gives a window its one size; a window of one size offers no maximise button.
void fixWindowSize(QWidget &window, QSize size);

// Places a window by the program's rule (placementFor), then moves it, frame included, into the
// part of the screen the desktop leaves free; a window too big for that part is made smaller
// (its layout then shrinks its tables, which scroll or elide).
void placeWithin(QWidget &window, Desktop &desktop, const QMargins &frame = kAssumedFrame);

// Keeps a table's columns within its width: each column as wide as its contents where all fit,
// otherwise the narrow ones keep their width and the wide ones share what is left, their texts
// elided (the table's items give the whole text as their tooltip). Refits as the table resizes;
// whoever fills the table calls fitColumns.
// `givingColumn`, when given, is cut first (down to its heading's width) before the others.
void keepColumnsFitted(QTableView &table, int givingColumn = -1);
void fitColumns(QTableView &table);

// How a stored amount reads in a list: its whole part grouped by thousands ("45000" as "45,000",
// "1,500" as it is); a text that is not a plain number stays as stored.
QString groupedAmount(const QString &stored);
// How a stored date (the seven-digit ROC date 1130905, or 990101 for a two-digit year) reads in a
// list: 113/09/05. Any other text stays as stored.
QString dateForList(const QString &stored);

// The one local file a drag carries, or nothing (several files, a folder, a web address).
std::optional<QString> draggedFile(const QMimeData *data);
// A 最近的檔案 button: its menu lists the recent files of `kind` (the name, the whole path as
// tooltip), newest first, and hands the one picked to `take`.
QToolButton *recentFilesButton(QWidget *parent, Desktop &desktop, const QString &kind,
                               std::function<void(const QString &)> take);

// Before a file whose contents were already imported (at `when`) is imported again: asks, with
// 否 as the default. True when there is nothing to ask or the clerk answers 是.
bool confirmImportAgain(QWidget *parent, Desktop &desktop, const std::optional<QDateTime> &when, const QString &title);

// A label that shows a file's full path, elided in the middle where it does not fit (the file's
// name stays in view), with the whole path as its tooltip. A `lead` before the path (what it is)
// stays whole as long as it fits.
class PathLabel : public QLabel {
    Q_OBJECT
public:
    explicit PathLabel(QWidget *parent = nullptr);
    void setPath(const QString &path, const QString &lead = QString());
    const QString &path() const { return path_; }
    const QString &lead() const { return lead_; }

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void showElided();
    QString path_;
    QString lead_;
};

// A window that cannot be closed, by its title bar or by Escape, while it is busy with a run.
class BusyDialog : public QDialog {
    Q_OBJECT
public:
    using QDialog::QDialog;
    bool busy() const { return busy_; }

protected:
    friend class BusyScope;
    void setBusy(bool busy) { busy_ = busy; }
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    bool busy_ = false;
};

// One run of a window's operation. While it lives the window refuses to close, the given controls
// are disabled (nothing may start the run again or pull its input away) and the pointer is the
// hourglass; when it ends, the pointer is the default, every control has the state it had, and
// the window may close again. What the outcome changes is set after the scope.
class BusyScope {
public:
    BusyScope(BusyDialog &dialog, Desktop &desktop, std::initializer_list<QWidget *> controls);
    ~BusyScope();
    BusyScope(const BusyScope &) = delete;
    BusyScope &operator=(const BusyScope &) = delete;

    // The default pointer again, before a message box says how the run ended.
    void pointerBack();

private:
    BusyDialog &dialog_;
    Desktop &desktop_;
    std::vector<std::pair<QPointer<QWidget>, bool>> controls_;
};

// Keeps a window alive through a long run: its figures are repainted a few times a second rather
// than for every row (which would cost more than the run itself), and pending events run each step.
class ProgressPacer {
public:
    explicit ProgressPacer(Desktop &desktop) : desktop_(desktop) {}

    template <typename Show>
    void step(Show &&show)
    {
        if (!sinceShown_.isValid() || sinceShown_.elapsed() >= kIntervalMs) {
            show();
            sinceShown_.start();
        }
        desktop_.processPendingEvents();
    }

private:
    static constexpr int kIntervalMs = 30;
    Desktop &desktop_;
    QElapsedTimer sinceShown_;
};

} // namespace talvesk::platform
