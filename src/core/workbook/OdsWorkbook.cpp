// Reading .ods: the tables of content.xml, streamed row by row. Repeated rows and cells are kept
// as a count, not copied out, so a styled empty row repeated to the sheet's end costs nothing.
#include "workbook/OdsWorkbook.h"

#include "platform/Error.h"
#include "workbook/SheetCells.h"
#include "workbook/ZipPart.h"

#include <QDateTime>

#include <charconv>
#include <cmath>

namespace talvesk::workbook {

namespace {

using Token = XmlScanner::Token;

const QString kContent = QStringLiteral("content.xml");

qint64 toCount(std::string_view s)
{
    qint64 v = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec == std::errc::result_out_of_range)
        return kMaxRows + 1;
    return r.ec == std::errc() && v > 0 ? v : 1;
}

bool toDouble(std::string_view s, double &v)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '+'))
        s.remove_prefix(1);
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    return r.ec == std::errc() && r.ptr == s.data() + s.size() && std::isfinite(v);
}

// office:date-value: a date, or a date and time, as days since 1899-12-30.
bool dateSerial(std::string_view s, double &serial)
{
    const QString text = QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
    const QDate epoch(1899, 12, 30);
    if (!text.contains(u'T')) {
        const QDate date = QDate::fromString(text, Qt::ISODate);
        if (!date.isValid())
            return false;
        serial = static_cast<double>(epoch.daysTo(date));
        return true;
    }
    const QDateTime dt = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!dt.isValid())
        return false;
    serial = static_cast<double>(epoch.daysTo(dt.date())) + dt.time().msecsSinceStartOfDay() / 86400000.0;
    return true;
}

// office:time-value, an ISO 8601 duration such as PT10H30M00S, as a fraction of days.
bool timeSerial(std::string_view s, double &serial)
{
    bool negative = false;
    if (!s.empty() && s.front() == '-') {
        negative = true;
        s.remove_prefix(1);
    }
    if (s.empty() || s.front() != 'P')
        return false;
    s.remove_prefix(1);
    double seconds = 0;
    bool inTime = false, any = false;
    while (!s.empty()) {
        if (s.front() == 'T') {
            inTime = true;
            s.remove_prefix(1);
            continue;
        }
        std::size_t n = 0;
        while (n < s.size() && ((s[n] >= '0' && s[n] <= '9') || s[n] == '.'))
            ++n;
        double v = 0;
        if (n == 0 || n >= s.size() || !toDouble(s.substr(0, n), v))
            return false;
        const char unit = s[n];
        if (unit == 'D' && !inTime)
            seconds += v * 86400;
        else if (unit == 'H' && inTime)
            seconds += v * 3600;
        else if (unit == 'M' && inTime)
            seconds += v * 60;
        else if (unit == 'S' && inTime)
            seconds += v;
        else
            return false;
        any = true;
        s.remove_prefix(n + 1);
    }
    serial = (negative ? -seconds : seconds) / 86400;
    return any;
}

struct Cell {
    int column = 0;
    CellValue value;
};

// One pass through one table of content.xml: groups of identical rows, in order.
class TableCursor {
public:
    TableCursor(const QString &path, const WorkbookLimits &limits, int tableIndex, const QString &sheetName)
        : part_(path, kContent, limits), path_(path), name_(sheetName)
    {
        XmlScanner &xml = part_.xml();
        xml.setPlace([this] { return cellPlace(name_, placeRow_, placeColumn_); });
        int index = 0;
        for (Token t; (t = xml.next()) != Token::Eof;) {
            if (t == Token::Start && xml.name() == "table") {
                if (index++ == tableIndex)
                    return;
                xml.skipElement();
            }
        }
        ended_ = true;
    }

    bool ended() const { return ended_; }
    qint64 first() const { return first_; }
    qint64 last() const { return last_; }
    const std::vector<Cell> &cells() const { return cells_; }

    // Moves to the next group of rows that holds a cell; false at the end of the table.
    bool next()
    {
        XmlScanner &xml = part_.xml();
        while (!ended_) {
            const Token t = xml.next();
            if (t == Token::Eof)
                xml.fail(QStringLiteral("工作表沒有結束"));
            if (t == Token::End && xml.name() == "table") {
                ended_ = true;
                break;
            }
            if (t != Token::Start)
                continue;
            const std::string_view name = xml.name();
            if (name == "table-header-rows" || name == "table-row-group" || name == "table-rows")
                continue; // rows inside
            if (name != "table-row") {
                xml.skipElement(); // columns, named ranges, shapes: no cells
                continue;
            }
            qint64 repeat = 1;
            std::string value;
            if (xml.attribute("number-rows-repeated", value))
                repeat = toCount(value);
            const qint64 row = nextRow_;
            nextRow_ = row + std::min(repeat, kMaxRows + 1);
            placeRow_ = row;
            readRow(row);
            placeRow_ = 0;
            if (!cells_.empty()) {
                if (nextRow_ - 1 > kMaxRows)
                    unreadable(path_, QStringLiteral("工作表 ") + name_ + QStringLiteral(" 有超出工作表範圍的列號（1 到 1048576）"));
                first_ = row;
                last_ = nextRow_ - 1;
                return true;
            }
        }
        cells_.clear();
        first_ = last_ = kMaxRows + 1; // past every row: asking for any row again starts over
        return false;
    }

private:
    void readRow(qint64 row)
    {
        XmlScanner &xml = part_.xml();
        cells_.clear();
        int column = 0;
        qint64 rowBytes = 0;
        std::string attr;
        for (;;) {
            placeColumn_ = -1;
            const Token t = xml.next();
            if (t == Token::End && xml.name() == "table-row")
                return;
            if (t == Token::Eof)
                xml.fail(QStringLiteral("列沒有結束"));
            if (t != Token::Start)
                continue;
            if (xml.name() != "table-cell" && xml.name() != "covered-table-cell") {
                xml.skipElement();
                continue;
            }
            qint64 repeat = 1;
            std::string_view type;
            bool isError = false;
            std::string value, dateValue, timeValue, boolValue, stringValue;
            bool hasValue = false, hasString = false;
            xml.forEachAttribute([&](std::string_view name, std::string_view raw) {
                if (name == "number-columns-repeated")
                    repeat = toCount(raw);
                else if (name == "value-type") {
                    // office:value-type, and LibreOffice's own calcext:value-type that tells an
                    // error apart from the number it stores for it.
                    if (raw == "error")
                        isError = true;
                    else
                        type = raw;
                }
            });
            std::string typeText(type);
            placeColumn_ = std::min(column, kMaxColumns - 1);
            if (!typeText.empty()) {
                hasValue = xml.attribute("value", value);
                xml.attribute("date-value", dateValue);
                xml.attribute("time-value", timeValue);
                xml.attribute("boolean-value", boolValue);
                hasString = xml.attribute("string-value", stringValue);
            }
            const std::string text = readCellText();
            // A repeated cell shares its text; each cell is counted once.
            rowBytes += static_cast<qint64>(text.size() + stringValue.size());
            if (rowBytes > kMaxRowBytes)
                rowTooLong(path_, name_, row);
            CellValue v;
            auto bad = [&](const char *what) {
                unreadable(path_, QStringLiteral("工作表 ") + name_ + QStringLiteral(" 儲存格 ") + columnLetters(column)
                                      + QString::number(row) + QStringLiteral(" ") + QString::fromLatin1(what));
            };
            if (isError) {
                v.kind = CellValue::Kind::Error;
                v.text = QString::fromUtf8(text);
            } else if (typeText == "float" || typeText == "percentage" || typeText == "currency") {
                if (!hasValue || !toDouble(value, v.number))
                    bad("holds a number that cannot be read");
                v.kind = CellValue::Kind::Number;
            } else if (typeText == "date") {
                if (!dateSerial(dateValue, v.number))
                    bad("holds a date that cannot be read");
                v.kind = CellValue::Kind::DateTime;
            } else if (typeText == "time") {
                if (!timeSerial(timeValue, v.number))
                    bad("holds a time that cannot be read");
                v.kind = CellValue::Kind::DateTime;
            } else if (typeText == "boolean") {
                v.kind = CellValue::Kind::Boolean;
                v.number = boolValue == "true" || boolValue == "1" ? 1 : 0;
            } else if (typeText == "string") {
                v.kind = CellValue::Kind::Text;
                v.text = QString::fromUtf8(hasString ? stringValue : text);
            }
            if (v.kind != CellValue::Kind::Empty) {
                if (column + repeat > kMaxColumns)
                    unreadable(path_, QStringLiteral("工作表 ") + name_ + QStringLiteral(" 第 %1 列有超出工作表範圍的儲存格位置（最多 3 個欄位字母，XFD）").arg(row));
                for (qint64 i = 0; i < repeat; ++i)
                    cells_.push_back({column + static_cast<int>(i), v});
            }
            column = static_cast<int>(std::min<qint64>(column + repeat, kMaxColumns + 1));
        }
    }

    // The text of a cell's paragraphs, one line each, with the spaces, tabs and line breaks
    // they mark up; notes attached to the cell are not its text.
    std::string readCellText()
    {
        XmlScanner &xml = part_.xml();
        std::string text;
        int depth = 0, paragraphs = 0;
        bool inParagraph = false;
        auto grow = [&](qint64 more) {
            if (more > XmlScanner::kMaxTokenBytes - static_cast<qint64>(text.size()))
                xml.tooLong();
        };
        for (;;) {
            const Token t = xml.next();
            if (t == Token::Eof)
                xml.fail(QStringLiteral("儲存格沒有結束"));
            if (t == Token::End) {
                if (depth == 0)
                    return text;
                if (--depth == 0)
                    inParagraph = false;
                continue;
            }
            if (t == Token::Text) {
                if (inParagraph) {
                    grow(static_cast<qint64>(xml.text().size()));
                    text += xml.text();
                }
                continue;
            }
            const std::string_view name = xml.name();
            if (name == "annotation") {
                xml.skipElement();
                continue;
            }
            ++depth;
            if (depth == 1 && (name == "p" || name == "h")) {
                grow(1);
                if (paragraphs++ > 0)
                    text += '\n';
                inParagraph = true;
            } else if (inParagraph && name == "s") {
                std::string c;
                const qint64 count = xml.attribute("c", c) ? toCount(c) : 1;
                grow(count);
                text.append(static_cast<std::size_t>(count), ' ');
            } else if (inParagraph && name == "tab") {
                grow(1);
                text += '\t';
            } else if (inParagraph && name == "line-break") {
                grow(1);
                text += '\n';
            }
        }
    }

    Part part_;
    QString path_;
    QString name_;
    bool ended_ = false;
    // Where the reading is, for a refusal: the row and the cell being read, when any.
    qint64 placeRow_ = 0;
    int placeColumn_ = -1;
    qint64 nextRow_ = 1;
    qint64 first_ = 0;
    qint64 last_ = 0;
    std::vector<Cell> cells_;
};

class OdsSheet : public Worksheet {
public:
    OdsSheet(QString path, WorkbookLimits limits, int index, QString name)
        : path_(std::move(path)), limits_(limits), index_(index), name_(std::move(name))
    {
        restart();
    }

    QString name() const override { return name_; }

    qint64 lastUsedRow() override
    {
        if (lastRow_ < 0) {
            // The file declares no extent: one pass through the table finds it.
            TableCursor cursor(path_, limits_, index_, name_);
            lastRow_ = 0;
            while (cursor.next())
                lastRow_ = cursor.last();
        }
        return lastRow_;
    }

    qint64 nextUsedRow(qint64 from) override
    {
        from = std::max<qint64>(from, 1);
        if (from < cursor_->first())
            restart();
        while (!cursor_->cells().empty() || !cursor_->ended()) {
            if (!cursor_->cells().empty() && cursor_->last() >= from)
                return std::max(from, cursor_->first());
            if (!cursor_->next())
                return 0;
        }
        return 0;
    }

    CellValue cell(qint64 row, QStringView column) override
    {
        const int col = columnIndex(column);
        if (col < 0)
            throw platform::Error(platform::errnum::ObjectInvalid, QStringLiteral("無效的欄位名稱: ") + column.toString());
        if (nextUsedRow(row) != row)
            return {};
        for (const Cell &c : cursor_->cells()) {
            if (c.column == col)
                return c.value;
        }
        return {};
    }

private:
    void restart()
    {
        cursor_.reset();
        cursor_ = std::make_unique<TableCursor>(path_, limits_, index_, name_);
    }

    QString path_;
    WorkbookLimits limits_;
    int index_;
    QString name_;
    std::unique_ptr<TableCursor> cursor_;
    qint64 lastRow_ = -1;
};

} // namespace

bool OdsWorkbook::isOds(const QString &path)
{
    try {
        const QByteArray mime = Zip(path).readSmall(QStringLiteral("mimetype"), 256).trimmed();
        return mime.startsWith("application/vnd.oasis.opendocument.spreadsheet");
    } catch (const platform::Error &) {
        return false;
    }
}

OdsWorkbook::OdsWorkbook(const QString &path, const WorkbookLimits &limits) : path_(path), limits_(limits)
{
    Part part(path, kContent, limits);
    XmlScanner &xml = part.xml();
    std::string name;
    for (Token t; (t = xml.next()) != Token::Eof;) {
        if (t == Token::Start && xml.name() == "table") {
            if (!xml.attribute("name", name) || name.empty())
                unreadable(path, QStringLiteral("有未命名的工作表"));
            sheets_ << QString::fromStdString(name);
            xml.skipElement();
        }
    }
    if (sheets_.empty())
        unreadable(path, QStringLiteral("活頁簿中沒有工作表"));
}

OdsWorkbook::~OdsWorkbook() = default;

QStringList OdsWorkbook::worksheetNames() const
{
    return sheets_;
}

std::unique_ptr<Worksheet> OdsWorkbook::worksheet(const QString &name)
{
    for (int i = 0; i < sheets_.size(); ++i) {
        if (sheets_.at(i).compare(name, Qt::CaseInsensitive) == 0)
            return std::make_unique<OdsSheet>(path_, limits_, i, sheets_.at(i));
    }
    throw platform::Error(platform::errnum::ObjectInvalid, QStringLiteral("活頁簿中沒有工作表 ") + name);
}

} // namespace talvesk::workbook
