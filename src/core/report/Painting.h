#pragma once

#include "overview/Overview.h"

#include <QColor>
#include <QRectF>

#include <vector>

class QPainter;

namespace talvesk::report {

// The drawings of the overview, painted alike on the main window and on the report's pages: every
// size follows `area` and the painter's font, so one code serves a 96-dpi screen and a 300-dpi page.

QColor stateColor(overview::State state);

// The receivables by state as one stacked bar (each state's share of the amount receivable, or of
// the count when nothing is receivable), a legend under it in two columns: the state, its count
// and its amount.
void paintStateBar(QPainter &painter, const QRectF &area, const overview::Figures &figures);
// The height the bar and its legend want at the painter's font.
qreal stateBarHeight(const QPainter &painter);

// The amounts credited by payment date as bars, oldest at the left, each date as 113/12/01 under
// its bar where there is room for it, the largest amount at the top of the scale.
void paintDateBars(QPainter &painter, const QRectF &area, const std::vector<overview::DateCredit> &byDate);
// Where the bar of `byDate[index]` stands in `area` (the part above the dates), for hit tests.
QRectF dateBarRect(const QPainter &painter, const QRectF &area, const std::vector<overview::DateCredit> &byDate,
                   std::size_t index);

} // namespace talvesk::report
