#include "report/Painting.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace talvesk::report {

using overview::State;

QColor stateColor(State state)
{
    switch (state) {
    case State::Paid:
        return QColor(0x43, 0xa0, 0x47);
    case State::Partial:
        return QColor(0xfb, 0xc0, 0x2d);
    case State::Unpaid:
        return QColor(0xe5, 0x73, 0x73);
    case State::Overpaid:
        return QColor(0x42, 0x7b, 0xc5);
    }
    return Qt::gray;
}

namespace {

constexpr State kOrder[] = {State::Paid, State::Partial, State::Unpaid, State::Overpaid};

qreal lineHeight(const QPainter &painter)
{
    return QFontMetricsF(painter.font(), painter.device()).height();
}

QString legendText(const overview::Figures &figures, State state)
{
    const overview::StateFigures &s = figures.of(state);
    return QStringLiteral("%1 %2 筆 %3 元")
        .arg(overview::stateCaption(state), overview::groupedCount(s.count), overview::groupedAmount(s.due));
}

} // namespace

qreal stateBarHeight(const QPainter &painter)
{
    const qreal line = lineHeight(painter);
    return line * 1.6 + line * 0.4 + 2 * line * 1.25;
}

void paintStateBar(QPainter &painter, const QRectF &area, const overview::Figures &figures)
{
    painter.save();
    const qreal line = lineHeight(painter);
    const qreal legendHeight = 2 * line * 1.25;
    const QRectF bar(area.left(), area.top(), area.width(), std::max(line * 0.8, area.height() - legendHeight - line * 0.4));

    double whole = 0;
    bool byAmount = false;
    for (State state : kOrder)
        whole += std::max(0.0, figures.of(state).due);
    if (whole > 0) {
        byAmount = true;
    } else {
        for (State state : kOrder)
            whole += double(figures.of(state).count);
    }
    painter.setPen(Qt::NoPen);
    if (whole <= 0) {
        painter.setBrush(QColor(0xe0, 0xe0, 0xe0));
        painter.drawRect(bar);
        painter.setPen(Qt::black);
        painter.drawText(bar, Qt::AlignCenter, QStringLiteral("尚無應收帳款"));
    } else {
        qreal x = bar.left();
        for (State state : kOrder) {
            const double part = byAmount ? std::max(0.0, figures.of(state).due) : double(figures.of(state).count);
            const qreal width = bar.width() * part / whole;
            if (width <= 0)
                continue;
            painter.setBrush(stateColor(state));
            painter.drawRect(QRectF(x, bar.top(), width, bar.height()));
            x += width;
        }
    }
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(Qt::darkGray, 0));
    painter.drawRect(bar);

    // The legend: two states a line.
    const qreal top = bar.bottom() + line * 0.4;
    const qreal columnWidth = area.width() / 2;
    for (int i = 0; i < 4; ++i) {
        const State state = kOrder[i];
        const QRectF cell(area.left() + (i % 2) * columnWidth, top + (i / 2) * line * 1.25, columnWidth, line * 1.25);
        const qreal box = line * 0.7;
        painter.setPen(Qt::NoPen);
        painter.setBrush(stateColor(state));
        painter.drawRect(QRectF(cell.left(), cell.center().y() - box / 2, box, box));
        painter.setPen(Qt::black);
        const QRectF text = cell.adjusted(box + line * 0.3, 0, -line * 0.3, 0);
        painter.drawText(text, Qt::AlignLeft | Qt::AlignVCenter,
                         QFontMetricsF(painter.font(), painter.device()).elidedText(legendText(figures, state), Qt::ElideRight, text.width()));
    }
    painter.restore();
}

namespace {

struct DateChart {
    QRectF bars;      // where the bars stand
    qreal slot = 0;   // the width given to each date
    double top = 0;   // the amount at the top of the scale
};

DateChart dateChart(const QPainter &painter, const QRectF &area, const std::vector<overview::DateCredit> &byDate)
{
    const qreal line = lineHeight(painter);
    DateChart chart;
    chart.bars = QRectF(area.left(), area.top() + line * 1.2, area.width(), std::max<qreal>(1, area.height() - line * 2.4));
    chart.slot = byDate.empty() ? chart.bars.width() : chart.bars.width() / qreal(byDate.size());
    for (const overview::DateCredit &credit : byDate)
        chart.top = std::max(chart.top, credit.paid);
    return chart;
}

} // namespace

QRectF dateBarRect(const QPainter &painter, const QRectF &area, const std::vector<overview::DateCredit> &byDate,
                   std::size_t index)
{
    const DateChart chart = dateChart(painter, area, byDate);
    if (index >= byDate.size())
        return QRectF();
    // byDate is newest first; the newest stands at the right.
    const std::size_t position = byDate.size() - 1 - index;
    const double paid = std::max(0.0, byDate[index].paid);
    const qreal height = chart.top > 0 ? chart.bars.height() * paid / chart.top : 0;
    const qreal gap = std::min(chart.slot * 0.2, lineHeight(painter) * 0.3);
    return QRectF(chart.bars.left() + chart.slot * qreal(position) + gap / 2, chart.bars.bottom() - height,
                  chart.slot - gap, height);
}

void paintDateBars(QPainter &painter, const QRectF &area, const std::vector<overview::DateCredit> &byDate)
{
    painter.save();
    const QFontMetricsF metrics(painter.font(), painter.device());
    const qreal line = metrics.height();
    const DateChart chart = dateChart(painter, area, byDate);
    painter.setPen(Qt::black);
    if (byDate.empty()) {
        painter.drawText(area, Qt::AlignCenter, QStringLiteral("尚無入帳資料"));
        painter.restore();
        return;
    }
    painter.drawText(QRectF(area.left(), area.top(), area.width(), line * 1.2), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("最高 %1 元").arg(overview::groupedAmount(chart.top)));
    painter.setPen(Qt::NoPen);
    painter.setBrush(stateColor(State::Paid));
    for (std::size_t i = 0; i < byDate.size(); ++i)
        painter.drawRect(dateBarRect(painter, area, byDate, i));
    painter.setPen(QPen(Qt::darkGray, 0));
    painter.drawLine(QPointF(chart.bars.left(), chart.bars.bottom()), QPointF(chart.bars.right(), chart.bars.bottom()));

    // The dates under their bars, as many as fit side by side, the newest always among them.
    painter.setPen(Qt::black);
    const qreal labelWidth = metrics.horizontalAdvance(QStringLiteral("000/00/00")) + line * 0.5;
    const std::size_t every = std::max<std::size_t>(1, std::size_t(std::ceil(1.5 * labelWidth / chart.slot)));
    for (std::size_t i = 0; i < byDate.size(); i += every) {
        const QRectF bar = dateBarRect(painter, area, byDate, i);
        QRectF label(bar.center().x() - labelWidth / 2, chart.bars.bottom(), labelWidth, line * 1.2);
        if (label.right() > area.right())
            label.moveRight(area.right());
        if (label.left() < area.left())
            label.moveLeft(area.left());
        painter.drawText(label, Qt::AlignCenter, overview::payDateCaption(byDate[i].payDate));
    }
    painter.restore();
}

} // namespace talvesk::report
