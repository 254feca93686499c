#pragma once

#include "overview/Overview.h"

#include <QDateTime>

class QPagedPaintDevice;

namespace talvesk::report {

// 日報表: where the collection stands when it is made, with one day's operations, payments and
// problem lines. The same pages go to a printer and into a PDF file.
struct DailyReport {
    overview::Figures figures;
    overview::DayFigures day;
    QDateTime made;
};

// Reads what the report of `date` shows. Throws platform::Error.
DailyReport readDailyReport(const platform::AppFolder &app, const QDate &date);

// A4 upright with margins of 15 mm: how every report is laid out, on paper or in a file.
void setUpPages(QPagedPaintDevice &device);

// Paints the report on `device`, page after page, each numbered "第 n 頁，共 m 頁". Needs a
// QGuiApplication (its fonts). Returns the number of pages.
int paintDailyReport(QPagedPaintDevice &device, const DailyReport &report);

// Writes the report to the PDF file `path`, its fonts embedded, in one piece: a file already there
// stays as it was when writing fails. Throws platform::Error. Returns the number of pages.
int writeDailyReportPdf(const DailyReport &report, const QString &path);

// A PDF's text maps, as a reader copies it out, with the characters a CJK face draws with the same
// glyph as a radical (日 and ⽇, 金 and ⾦) read as the characters, not the radicals: the PDF writer
// names each glyph by the first character the face draws with it. Only single mappings change,
// each for one of the same length, so the file's offsets hold.
QByteArray withReadableText(QByteArray pdf);

// The file name the report of `date` is saved under by default: 日報表_20241201.pdf.
QString dailyReportFileName(const QDate &date);

} // namespace talvesk::report
