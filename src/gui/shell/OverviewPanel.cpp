#include "shell/OverviewPanel.h"

#include "db/Connection.h"
#include "platform/Error.h"
#include "report/Painting.h"

#include <QApplication>
#include <QEvent>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QToolTip>
#include <QVBoxLayout>

namespace talvesk::shell {

using overview::State;

ChartView::ChartView(const char *name, Paint paint, Tip tip, QWidget *parent)
    : QWidget(parent), paint_(std::move(paint)), tip_(std::move(tip))
{
    setObjectName(QString::fromLatin1(name));
}

void ChartView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setFont(font());
    paint_(painter, QRectF(rect()).adjusted(2, 2, -2, -2));
}

bool ChartView::event(QEvent *event)
{
    if (event->type() == QEvent::ToolTip && tip_) {
        auto *help = static_cast<QHelpEvent *>(event);
        QPainter painter; // metrics only: the device is this widget
        QPixmap scratch(1, 1);
        painter.begin(&scratch);
        painter.setFont(font());
        const QString text = tip_(painter, QRectF(rect()).adjusted(2, 2, -2, -2), QPointF(help->pos()));
        painter.end();
        if (text.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), text, this);
        return true;
    }
    return QWidget::event(event);
}

namespace {

const char *const kStateKeys[] = {"paid", "partial", "unpaid", "overpaid", "all"};
const char *const kFigureKeys[] = {"Count", "Due", "Credited", "Outstanding"};

// A button whose text is cut to its width, the whole of it kept in the property "fullText".
class EntryButton : public QPushButton {
public:
    using QPushButton::QPushButton;
    void setFullText(const QString &text)
    {
        setProperty("fullText", text);
        elide();
    }

protected:
    void resizeEvent(QResizeEvent *event) override
    {
        QPushButton::resizeEvent(event);
        elide();
    }

private:
    void elide() { setText(fontMetrics().elidedText(property("fullText").toString(), Qt::ElideRight, std::max(40, width() - 12))); }
};

QLabel *heading(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    QFont bold = label->font();
    bold.setBold(true);
    label->setFont(bold);
    return label;
}

} // namespace

OverviewPanel::OverviewPanel(const platform::AppFolder &app, QWidget *parent) : QWidget(parent), app_(app)
{
    setObjectName(QStringLiteral("overview"));
    reading_ = new platform::BackgroundJob(this);

    auto *table = new QGridLayout;
    table->setHorizontalSpacing(12);
    table->setVerticalSpacing(2);
    const QStringList headers{QStringLiteral("狀態"), QStringLiteral("筆數"), QStringLiteral("應收金額"),
                              QStringLiteral("入帳金額"), QStringLiteral("未入帳金額")};
    for (int c = 0; c < headers.size(); ++c) {
        QLabel *h = heading(headers.at(c), this);
        h->setAlignment(c == 0 ? Qt::AlignLeft : Qt::AlignRight);
        table->addWidget(h, 0, c);
    }
    for (int s = 0; s <= overview::kStates; ++s) {
        const bool totals = s == overview::kStates;
        QLabel *name = totals ? heading(QStringLiteral("合計"), this) : new QLabel(overview::stateCaption(State(s)), this);
        if (!totals) {
            // The state's colour in the bar below, beside its name.
            name->setText(QStringLiteral("<span style=\"color:%1\">■</span> %2")
                              .arg(report::stateColor(State(s)).name(), overview::stateCaption(State(s))));
        }
        table->addWidget(name, s + 1, 0);
        for (int f = 0; f < 4; ++f) {
            auto *cell = totals ? heading(QString(), this) : new QLabel(this);
            cell->setObjectName(QString::fromLatin1(kStateKeys[s]) + QString::fromLatin1(kFigureKeys[f]));
            cell->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            cell->setTextInteractionFlags(Qt::TextSelectableByMouse);
            cells_[std::size_t(s)][std::size_t(f)] = cell;
            table->addWidget(cell, s + 1, f + 1);
        }
    }
    table->setColumnStretch(0, 1);
    for (int c = 1; c < 5; ++c)
        table->setColumnStretch(c, 2);

    stateBar_ = new ChartView(
        "stateBar",
        [this](QPainter &p, const QRectF &area) {
            if (figures_)
                report::paintStateBar(p, area, *figures_);
        },
        {}, this);
    store_ = new QLabel(this);
    store_->setObjectName(QStringLiteral("storeSummary"));
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("overviewStatus"));
    status_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    dateBars_ = new ChartView(
        "dateBars",
        [this](QPainter &p, const QRectF &area) {
            if (figures_)
                report::paintDateBars(p, area, figures_->byDate);
        },
        [this](const QPainter &p, const QRectF &area, const QPointF &at) {
            if (!figures_)
                return QString();
            for (std::size_t i = 0; i < figures_->byDate.size(); ++i) {
                QRectF column = report::dateBarRect(p, area, figures_->byDate, i);
                column.setTop(area.top());
                column.setBottom(area.bottom());
                if (column.contains(at)) {
                    const overview::DateCredit &c = figures_->byDate[i];
                    return QStringLiteral("%1：%2 筆，%3 元")
                        .arg(overview::payDateCaption(c.payDate), overview::groupedCount(c.count),
                             overview::groupedAmount(c.paid));
                }
            }
            return QString();
        },
        this);
    dateBars_->setMinimumHeight(110);

    auto *entries = new QVBoxLayout;
    entries->setSpacing(1);
    entries->addWidget(heading(QStringLiteral("最近作業（按一下看匯入記錄）"), this));
    noEntries_ = new QLabel(QStringLiteral("尚無作業"), this);
    noEntries_->setObjectName(QStringLiteral("noEntries"));
    entries->addWidget(noEntries_);
    for (int i = 0; i < overview::kLatestEntries; ++i) {
        auto *button = new EntryButton(this);
        button->setObjectName(QStringLiteral("latestEntry%1").arg(i + 1));
        button->setFlat(true);
        button->setStyleSheet(QStringLiteral("text-align: left; padding: 1px 4px;"));
        button->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
        button->hide();
        connect(button, &QPushButton::clicked, this, [this, i] {
            if (figures_ && std::size_t(i) < figures_->latest.size())
                emit entryActivated(figures_->latest[std::size_t(i)].id);
        });
        latest_[std::size_t(i)] = button;
        entries->addWidget(button);
    }
    entries->addStretch();

    auto *bottom = new QHBoxLayout;
    auto *credits = new QVBoxLayout;
    credits->addWidget(heading(QStringLiteral("各入帳日的入帳金額（最近 %1 個入帳日）").arg(overview::kCreditDates), this));
    credits->addWidget(dateBars_, 1);
    bottom->addLayout(credits, 1);
    bottom->addLayout(entries, 1);

    auto *storeLine = new QHBoxLayout;
    storeLine->addWidget(store_, 1);
    storeLine->addWidget(status_);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 6, 10, 6);
    layout->setSpacing(4);
    layout->addLayout(table);
    stateBar_->setMinimumHeight(QFontMetrics(font()).height() * 4);
    stateBar_->setMaximumHeight(QFontMetrics(font()).height() * 5);
    layout->addWidget(stateBar_);
    layout->addLayout(storeLine);
    layout->addLayout(bottom, 1);

    // A scheduled job's import shows up too, within a few seconds.
    poll_ = new QTimer(this);
    poll_->setInterval(3000);
    connect(poll_, &QTimer::timeout, this, &OverviewPanel::onPoll);
    poll_->start();
}

OverviewPanel::~OverviewPanel()
{
    reading_->stop();
}

QDateTime OverviewPanel::databaseStamp() const
{
    return QFileInfo(app_.databaseFile()).lastModified();
}

void OverviewPanel::onPoll()
{
    // While a window is open over the main window its command refreshes when it ends.
    if (reading() || QApplication::activeModalWidget())
        return;
    bool onServer = false;
    try {
        onServer = db::usesServer(app_);
    } catch (const platform::Error &) {
        // Refused settings: the figures' reading says why.
    }
    if (onServer) {
        askServer();
        return;
    }
    const QFileInfo file(app_.databaseFile());
    if (file.lastModified() != readStamp_ || file.size() != readSize_)
        refresh();
}

void OverviewPanel::askServer()
{
    // Asked on a thread of its own: a server slow to answer never holds up the window.
    reading_->run<QByteArray>(
        [app = app_](const platform::BackgroundJob::StopRequested &) { return overview::journalStamp(app); },
        [this](const platform::JobOutcome<QByteArray> &outcome) {
            // A server that cannot be asked now is asked again at the next poll.
            if (again_ || (outcome.result && *outcome.result != shownStamp_))
                start();
        });
}

void OverviewPanel::refresh()
{
    if (reading()) {
        again_ = true;
        return;
    }
    start();
}

void OverviewPanel::start()
{
    again_ = false;
    const QFileInfo file(app_.databaseFile());
    readStamp_ = file.lastModified();
    readSize_ = file.size();
    if (!figures_)
        status_->setText(QStringLiteral("計算中…"));
    reading_->run<overview::Figures>(
        [app = app_](const platform::BackgroundJob::StopRequested &) { return overview::readFigures(app); },
        [this](const platform::JobOutcome<overview::Figures> &outcome) { finished(outcome); });
}

void OverviewPanel::finished(const platform::JobOutcome<overview::Figures> &outcome)
{
    if (outcome.result) {
        shownStamp_ = outcome.result->journalStamp;
        showFigures(*outcome.result);
        status_->setText(QStringLiteral("更新於 ") + QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss")));
    } else {
        shownStamp_.clear(); // read again once the server answers
        status_->setText(QStringLiteral("無法讀取資料庫：") + outcome.failure->description());
        // Unread is not "none": the list says nothing rather than that there were no operations.
        noEntries_->setVisible(false);
    }
    status_->setToolTip(status_->text());
    emit figuresShown();
    if (again_)
        start();
}

void OverviewPanel::showFigures(const overview::Figures &figures)
{
    figures_ = figures;
    auto fill = [this](int row, qint64 count, double due, double paid) {
        const auto &cells = cells_[std::size_t(row)];
        cells[0]->setText(overview::groupedCount(count));
        cells[1]->setText(overview::groupedAmount(due));
        cells[2]->setText(overview::groupedAmount(paid));
        cells[3]->setText(overview::groupedAmount(due - paid));
    };
    for (int s = 0; s < overview::kStates; ++s) {
        const overview::StateFigures &f = figures.of(State(s));
        fill(s, f.count, f.due, f.paid);
    }
    fill(overview::kStates, figures.receivables(), figures.due(), figures.credited());
    store_->setText(QStringLiteral("超商代收 %1 筆，金額 %2 元")
                        .arg(overview::groupedCount(figures.storeCount), overview::groupedAmount(figures.storeAmount)));
    noEntries_->setVisible(figures.latest.empty());
    for (std::size_t i = 0; i < latest_.size(); ++i) {
        QPushButton *button = latest_[i];
        if (i >= figures.latest.size()) {
            button->hide();
            continue;
        }
        const db::JournalRecord &e = figures.latest[i];
        // The state first: an undone operation must not lose that word to a narrow window.
        const QDateTime at = QDateTime::fromString(e.at, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        QString text = (at.isValid() ? at.toString(QStringLiteral("MM/dd HH:mm")) : e.at) + u' '
                       + db::operationCaption(e.operation);
        if (const QString state = overview::stateCaption(e); !state.isEmpty())
            text += QStringLiteral("【") + state + QStringLiteral("】");
        text += u' ' + overview::countsCaption(e);
        static_cast<EntryButton *>(button)->setFullText(text);
        button->setToolTip(db::entryCaption(e) + u' ' + overview::countsCaption(e)
                           + (e.file.isEmpty() ? QString() : u'\n' + e.file));
        button->show();
    }
    stateBar_->update();
    dateBars_->update();
}

} // namespace talvesk::shell
