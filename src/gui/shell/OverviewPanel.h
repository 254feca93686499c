#pragma once

#include "overview/Overview.h"
#include "platform/AppFolder.h"
#include "platform/BackgroundJob.h"

#include <QDateTime>
#include <QWidget>

#include <array>
#include <functional>
#include <optional>

class QLabel;
class QPushButton;
class QTimer;

namespace talvesk::shell {

// A drawing of the overview's, painted by the code the daily report paints with.
class ChartView : public QWidget {
    Q_OBJECT
public:
    using Paint = std::function<void(QPainter &, const QRectF &)>;
    // Says what stands under a point of the drawing, for its tooltip.
    using Tip = std::function<QString(const QPainter &, const QRectF &, const QPointF &)>;
    ChartView(const char *name, Paint paint, Tip tip, QWidget *parent);

protected:
    void paintEvent(QPaintEvent *event) override;
    bool event(QEvent *event) override;

private:
    Paint paint_;
    Tip tip_;
};

// Where the collection stands, in the main window under its menu bar: the receivables by state
// with their amounts, a bar of the same, the amounts credited by payment date, the store
// collections and the newest operations of the journal. The figures are read on a thread of their
// own, so the window never waits for them.
class OverviewPanel : public QWidget {
    Q_OBJECT
public:
    OverviewPanel(const platform::AppFolder &app, QWidget *parent = nullptr);
    // Waits for figures still being read.
    ~OverviewPanel() override;

    // Reads the figures again; asked while a reading runs, one more follows it.
    void refresh();
    bool reading() const { return reading_->running(); }
    const std::optional<overview::Figures> &figures() const { return figures_; }

signals:
    // New figures (or why there are none) are on the screen.
    void figuresShown();
    // The clerk chose one of the newest operations.
    void entryActivated(qint64 id);

private:
    void start();
    void finished(const platform::JobOutcome<overview::Figures> &outcome);
    void showFigures(const overview::Figures &figures);
    // A scheduled job may have written the database: read again when its file has changed, or
    // on the office's server when another clerk's operation has begun, ended or been undone.
    void onPoll();
    void askServer();
    QDateTime databaseStamp() const;

    platform::AppFolder app_;
    std::optional<overview::Figures> figures_;
    platform::BackgroundJob *reading_;
    bool again_ = false;
    QDateTime readStamp_; // the database file's time when the figures shown were read
    qint64 readSize_ = -1;
    QByteArray shownStamp_; // on the server, the journal's stamp of the figures shown
    QTimer *poll_;

    // Per state (in overview::State's order) and the totals: count, due, credited, outstanding.
    std::array<std::array<QLabel *, 4>, overview::kStates + 1> cells_{};
    QLabel *store_;
    QLabel *status_;
    ChartView *stateBar_;
    ChartView *dateBars_;
    std::array<QPushButton *, overview::kLatestEntries> latest_{};
    QLabel *noEntries_;
};

} // namespace talvesk::shell
