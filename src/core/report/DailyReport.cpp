#include "report/DailyReport.h"

#include "platform/Error.h"
#include "platform/Files.h"
#include "report/Painting.h"

#include <QBuffer>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <functional>

namespace talvesk::report {

using overview::groupedAmount;
using overview::groupedCount;

DailyReport readDailyReport(const platform::AppFolder &app, const QDate &date)
{
    DailyReport report;
    // The totals and the day's operations from one snapshot, so that they agree with each other
    // even while a clerk's import commits beside the report.
    platform::Database db = overview::openToRead(app);
    overview::ReadSnapshot snapshot(db);
    report.made = QDateTime::currentDateTime();
    report.figures = overview::readFigures(db);
    report.day = overview::readDay(db, date);
    return report;
}

void setUpPages(QPagedPaintDevice &device)
{
    device.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(15, 15, 15, 15),
                                     QPageLayout::Millimeter));
}

QString dailyReportFileName(const QDate &date)
{
    return QStringLiteral("日報表_") + date.toString(QStringLiteral("yyyyMMdd")) + QStringLiteral(".pdf");
}

namespace {

QFont reportFont(qreal points, bool bold = false)
{
    QFont font;
    // Traditional Chinese faces first: the Debian one, then the Windows ones.
    font.setFamilies({QStringLiteral("Noto Sans CJK TC"), QStringLiteral("Microsoft JhengHei"),
                      QStringLiteral("PMingLiU"), QStringLiteral("Noto Sans CJK SC")});
    font.setPointSizeF(points);
    font.setBold(bold);
    // Shaped, the CJK faces draw digits with glyphs the PDF cannot map back to characters: a
    // reader copying "1,500" out of the file would get ",". Nothing the report prints needs shaping.
    font.setStyleStrategy(QFont::PreferNoShaping);
    return font;
}

struct Column {
    qreal share; // of the line's width
    Qt::Alignment align;
};

// A piece of a page: its height and how it paints itself into the strip it is given.
struct Block {
    qreal height = 0;
    qreal keepWith = 0; // room it needs below itself on the same page (a heading and its first line)
    std::function<void(QPainter &, const QRectF &)> paint;
};

class Pages {
public:
    explicit Pages(QPagedPaintDevice &device)
        : device_(device), body_(reportFont(9)), bold_(reportFont(9, true)), heading_(reportFont(11, true)),
          title_(reportFont(16, true)), mm_(device.logicalDpiY() / 25.4)
    {
    }

    qreal mm() const { return mm_; }
    qreal width() const { return device_.width(); }
    qreal line(const QFont &font) const { return QFontMetricsF(font, &device_).height() * 1.35; }
    const QFont &body() const { return body_; }
    const QFont &bold() const { return bold_; }

    void add(Block block) { blocks_.push_back(std::move(block)); }
    void gap(qreal millimetres) { add({millimetres * mm_, 0, {}}); }

    void text(const QString &text, const QFont &font, Qt::Alignment align = Qt::AlignLeft)
    {
        add({line(font), 0, [text, font, align](QPainter &p, const QRectF &strip) {
                 p.setFont(font);
                 p.drawText(strip, align | Qt::AlignVCenter,
                            QFontMetricsF(font, p.device()).elidedText(text, Qt::ElideRight, strip.width()));
             }});
    }

    void heading(const QString &text)
    {
        gap(3);
        add({line(heading_), line(body_) * 2, [text, font = heading_](QPainter &p, const QRectF &strip) {
                 p.setFont(font);
                 p.drawText(strip, Qt::AlignLeft | Qt::AlignVCenter, text);
                 p.setPen(QPen(Qt::darkGray, 0));
                 p.drawLine(strip.bottomLeft(), strip.bottomRight());
                 p.setPen(Qt::black);
             }});
    }

    void title(const QString &text) { this->text(text, title_); }

    // One line of a table; long texts are cut with an ellipsis in their column.
    void row(const std::vector<Column> &columns, const QStringList &cells, bool header = false)
    {
        const QFont font = header ? bold_ : body_;
        add({line(font), 0, [columns, cells, font, header](QPainter &p, const QRectF &strip) {
                 p.setFont(font);
                 const QFontMetricsF metrics(font, p.device());
                 qreal x = strip.left();
                 const qreal pad = metrics.height() * 0.25;
                 for (std::size_t i = 0; i < columns.size() && i < std::size_t(cells.size()); ++i) {
                     const qreal w = strip.width() * columns[i].share;
                     const QRectF cell(x + pad, strip.top(), w - 2 * pad, strip.height());
                     p.drawText(cell, columns[i].align | Qt::AlignVCenter,
                                metrics.elidedText(cells.at(qsizetype(i)), Qt::ElideMiddle, cell.width()));
                     x += w;
                 }
                 if (header) {
                     p.setPen(QPen(Qt::gray, 0));
                     p.drawLine(strip.bottomLeft(), strip.bottomRight());
                     p.setPen(Qt::black);
                 }
             }});
    }

    // Lays the blocks out on pages and paints them. Returns the number of pages.
    int paint()
    {
        const qreal footer = line(body_) * 1.5;
        const qreal room = device_.height() - footer;
        std::vector<std::vector<std::pair<const Block *, qreal>>> pages(1);
        qreal y = 0;
        for (const Block &block : blocks_) {
            if (y > 0 && y + block.height + block.keepWith > room) {
                pages.emplace_back();
                y = 0;
                if (!block.paint)
                    continue; // no gap at the top of a page
            }
            pages.back().emplace_back(&block, y);
            y += block.height;
        }
        QPainter painter;
        if (!painter.begin(&device_))
            throw platform::Error(platform::errnum::PathFileAccess, QStringLiteral("無法開始製作報表"));
        painter.setPen(Qt::black);
        const int count = int(pages.size());
        for (int n = 0; n < count; ++n) {
            if (n > 0)
                device_.newPage();
            for (const auto &[block, top] : pages[std::size_t(n)]) {
                if (block->paint)
                    block->paint(painter, QRectF(0, top, width(), block->height));
            }
            painter.setFont(body_);
            painter.drawText(QRectF(0, device_.height() - footer, width(), footer), Qt::AlignHCenter | Qt::AlignBottom,
                             QStringLiteral("第 %1 頁，共 %2 頁").arg(n + 1).arg(count));
        }
        if (!painter.end())
            throw platform::Error(platform::errnum::PathFileAccess, QStringLiteral("無法完成報表"));
        return count;
    }

private:
    QPagedPaintDevice &device_;
    QFont body_, bold_, heading_, title_;
    qreal mm_;
    std::vector<Block> blocks_;
};

QString undoneCaption(const db::JournalRecord &record)
{
    switch (record.state) {
    case db::JournalRecord::State::Undone:
        return QStringLiteral("已復原");
    case db::JournalRecord::State::Done:
        return QStringLiteral("未復原");
    default:
        return overview::stateCaption(record);
    }
}

} // namespace

int paintDailyReport(QPagedPaintDevice &device, const DailyReport &report)
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        throw platform::Error(platform::errnum::PathFileAccess, QStringLiteral("報表需要圖形程式庫，無法製作"));
    const overview::Figures &f = report.figures;
    const overview::DayFigures &day = report.day;
    Pages pages(device);

    pages.title(platform::kProgramCaption);
    pages.title(QStringLiteral("日報表　") + overview::dayCaption(day.date));
    pages.text(QStringLiteral("製表時間：%1 %2")
                   .arg(overview::dayCaption(report.made.date()), report.made.time().toString(QStringLiteral("HH:mm:ss"))),
               pages.body());

    pages.heading(QStringLiteral("帳款概況（製表時）"));
    const std::vector<Column> totals{{0.2, Qt::AlignLeft}, {0.14, Qt::AlignRight}, {0.22, Qt::AlignRight},
                                     {0.22, Qt::AlignRight}, {0.22, Qt::AlignRight}};
    pages.row(totals, {QStringLiteral("狀態"), QStringLiteral("筆數"), QStringLiteral("應收金額"), QStringLiteral("入帳金額"),
                       QStringLiteral("未入帳金額")},
              true);
    for (overview::State state : {overview::State::Paid, overview::State::Partial, overview::State::Unpaid,
                                  overview::State::Overpaid}) {
        const overview::StateFigures &s = f.of(state);
        pages.row(totals, {overview::stateCaption(state), groupedCount(s.count), groupedAmount(s.due), groupedAmount(s.paid),
                           groupedAmount(s.outstanding())});
    }
    pages.row(totals, {QStringLiteral("合計"), groupedCount(f.receivables()), groupedAmount(f.due()),
                       groupedAmount(f.credited()), groupedAmount(f.outstanding())},
              true);
    pages.gap(2);
    {
        // The bar's height at the body font, measured at the page's own resolution.
        const QFont font = pages.body();
        const qreal height = QFontMetricsF(font, &device).height() * (1.6 + 0.4 + 2 * 1.25);
        pages.add({height, 0, [&f, font](QPainter &p, const QRectF &strip) {
                       p.setFont(font);
                       paintStateBar(p, strip, f);
                   }});
    }
    pages.gap(2);
    pages.text(QStringLiteral("超商代收：%1 筆，金額 %2 元").arg(groupedCount(f.storeCount), groupedAmount(f.storeAmount)),
               pages.body());

    pages.heading(QStringLiteral("各入帳日的入帳金額（最近 %1 個入帳日）").arg(overview::kCreditDates));
    {
        const QFont font = pages.body();
        pages.add({45 * pages.mm(), 0, [&f, font](QPainter &p, const QRectF &strip) {
                       p.setFont(font);
                       paintDateBars(p, strip, f.byDate);
                   }});
    }

    pages.heading(QStringLiteral("當日入帳"));
    pages.text(QStringLiteral("入帳日期 %1：%2 筆，合計 %3 元")
                   .arg(overview::dayCaption(day.date), groupedCount(day.creditedCount), groupedAmount(day.creditedSum)),
               pages.body());

    pages.heading(QStringLiteral("當日作業"));
    if (day.operations.empty()) {
        pages.text(QStringLiteral("當日沒有作業"), pages.body());
    } else {
        // The time (HH:mm:ss) whole; what the undo column says beyond 已復原 is cut first.
        const std::vector<Column> ops{{0.05, Qt::AlignRight}, {0.1, Qt::AlignLeft}, {0.2, Qt::AlignLeft},
                                      {0.16, Qt::AlignLeft}, {0.38, Qt::AlignLeft}, {0.11, Qt::AlignLeft}};
        pages.row(ops, {QStringLiteral("編號"), QStringLiteral("時間"), QStringLiteral("作業"), QStringLiteral("檔案"),
                        QStringLiteral("筆數"), QStringLiteral("復原")},
                  true);
        for (const db::JournalRecord &e : day.operations) {
            pages.row(ops, {QString::number(e.id), e.at.mid(11), db::operationCaption(e.operation),
                            QFileInfo(e.file).fileName(), overview::countsCaption(e), undoneCaption(e)});
        }
    }

    pages.heading(QStringLiteral("當日問題行"));
    if (day.problems.empty()) {
        pages.text(QStringLiteral("當日沒有問題行"), pages.body());
    } else {
        const std::vector<Column> lines{{0.07, Qt::AlignRight}, {0.09, Qt::AlignRight}, {0.34, Qt::AlignLeft},
                                        {0.5, Qt::AlignLeft}};
        pages.row(lines, {QStringLiteral("編號"), QStringLiteral("行/列"), QStringLiteral("原因"), QStringLiteral("內容")},
                  true);
        for (const overview::DayProblem &problem : day.problems) {
            // Runs of blanks in a fixed-position line only push its account out of the column;
            // the line as it was read stays in 匯入記錄.
            pages.row(lines, {QString::number(problem.entry), QString::number(problem.line.number), problem.line.reason,
                              problem.line.text.simplified()});
        }
        if (day.moreProblems > 0)
            pages.text(QStringLiteral("另有 %1 行未列出（見匯入記錄）").arg(groupedCount(day.moreProblems)), pages.body());
    }
    return pages.paint();
}

int writeDailyReportPdf(const DailyReport &report, const QString &path)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    int pages = 0;
    {
        QPdfWriter writer(&buffer);
        writer.setResolution(300);
        writer.setTitle(QStringLiteral("日報表 ") + overview::dayCaption(report.day.date));
        writer.setCreator(platform::kProgramCaption);
        setUpPages(writer);
        pages = paintDailyReport(writer, report);
    }
    buffer.close();
    platform::writeFileAtomically(path, withReadableText(buffer.data()));
    return pages;
}

namespace {

// The character a radical stands for (⽇ U+2F47 reads 日 U+65E5), as four hexadecimal digits;
// empty for any other character.
QByteArray characterOfRadical(QByteArrayView hex)
{
    bool ok = false;
    const uint code = QString::fromLatin1(hex).toUInt(&ok, 16);
    if (!ok || code < 0x2E80 || code > 0x2FDF)
        return {};
    const QString normal = QString(QChar(char16_t(code))).normalized(QString::NormalizationForm_KC);
    if (normal.size() != 1 || normal.at(0).unicode() == code)
        return {};
    return QByteArray::number(normal.at(0).unicode(), 16).rightJustified(4, '0').toUpper();
}

// Rewrites, in one line of a bfrange section, the targets that map one glyph each: every entry
// of a bracketed list, and the target of a range of one glyph.
void rewriteRangeLine(char *line, qsizetype size)
{
    // <from> <to> then <target> or [<target> <target> ...]
    QList<qsizetype> starts; // of each <XXXX> token's digits
    for (qsizetype i = 0; i + 5 < size; ++i) {
        if (line[i] == '<' && line[i + 5] == '>') {
            starts << i + 1;
            i += 5;
        }
    }
    if (starts.size() < 3)
        return;
    const bool list = QByteArrayView(line, size).contains('[');
    const bool single = QByteArrayView(line + starts[0], 4) == QByteArrayView(line + starts[1], 4);
    if (!list && !single)
        return;
    for (qsizetype t = 2; t < starts.size(); ++t) {
        const QByteArray character = characterOfRadical(QByteArrayView(line + starts[t], 4));
        if (character.size() == 4)
            std::copy(character.begin(), character.end(), line + starts[t]);
    }
}

} // namespace

QByteArray withReadableText(QByteArray pdf)
{
    static const QByteArray begin = "beginbfrange\n", end = "endbfrange";
    for (qsizetype at = pdf.indexOf(begin); at >= 0; at = pdf.indexOf(begin, at)) {
        const qsizetype sectionEnd = pdf.indexOf(end, at);
        if (sectionEnd < 0)
            break;
        qsizetype line = at + begin.size();
        while (line < sectionEnd) {
            qsizetype lineEnd = pdf.indexOf('\n', line);
            if (lineEnd < 0 || lineEnd > sectionEnd)
                lineEnd = sectionEnd;
            rewriteRangeLine(pdf.data() + line, lineEnd - line);
            line = lineEnd + 1;
        }
        at = sectionEnd;
    }
    return pdf;
}

} // namespace talvesk::report
