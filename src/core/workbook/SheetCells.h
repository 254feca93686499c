#pragma once

// What the workbook readers share about cells: the worksheet's bounds, date formats, the
// shared-string table and how a refusal names the file.
#include <QString>
#include <QStringList>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace talvesk::workbook {

// The most rows a worksheet can have.
inline constexpr qint64 kMaxRows = 1'048'576;
// The most columns a worksheet can have, and the letters that name them (XFD).
inline constexpr int kMaxColumns = 16'384;
inline constexpr int kMaxColumnLetters = 3;
// The most bytes one cell's text may take in any workbook. A cell holds at most 32,767 characters,
// which UTF-8 writes in under 100 KB (and XML, with every character escaped, in under 400 KB);
// past this the file is no table a spreadsheet could have written, and it is refused.
inline constexpr qint64 kMaxCellBytes = qint64(1) << 20;
// The most bytes one row's cells may take together.
inline constexpr qint64 kMaxRowBytes = qint64(16) << 20;

// Throws Error: the workbook at `path` cannot be read, for the reason `why`.
[[noreturn]] void unreadable(const QString &path, const QString &why);
// Throws Error: the workbook at `path` holds more at `place` ("工作表 S 第 3 列 B 欄") than a cell
// can (kMaxCellBytes); `hint` says what may have caused it. Every reader refuses a cell so.
[[noreturn]] void cellTooLong(const QString &path, const QString &place, const QString &hint = QString());
// Throws Error: row `row` of worksheet `sheet` holds more than kMaxRowBytes.
[[noreturn]] void rowTooLong(const QString &path, const QString &sheet, qint64 row);
// "工作表 S 第 R 列 C 欄": where a cell is, for a refusal; without the column when `column` < 0
// and without the row when `row` < 1.
QString cellPlace(const QString &sheet, qint64 row, int column);

// Whether a custom number format shows a date or time: date letters outside quotes and brackets.
bool isDateFormatCode(const QString &code);
// Whether a built-in number format id shows a date or time.
bool isBuiltInDateFormat(int id);

[[noreturn]] void throwNoSuchSheet(const QString &name);

// The names of a workbook's worksheets (each with a `name`), in workbook order.
template <typename Sheets>
QStringList sheetNames(const Sheets &sheets)
{
    QStringList names;
    for (const auto &sheet : sheets)
        names << sheet.name;
    return names;
}

// The worksheet named `name` (case aside); platform::Error 3420 when the workbook has none of that name.
template <typename Sheets>
const auto &sheetNamed(const Sheets &sheets, const QString &name)
{
    for (const auto &sheet : sheets) {
        if (sheet.name.compare(name, Qt::CaseInsensitive) == 0)
            return sheet;
    }
    throwNoSuchSheet(name);
}

// The shared-string table as one UTF-8 buffer and where each string starts: its memory grows with
// the text, not with an object per string, and is bounded.
class SharedStrings {
public:
    std::size_t size() const { return starts_.size(); }
    QString at(std::size_t index) const
    {
        const std::size_t begin = starts_[index];
        const std::size_t end = index + 1 < starts_.size() ? starts_[index + 1] : text_.size();
        return QString::fromUtf8(text_.data() + begin, static_cast<qsizetype>(end - begin));
    }
    // Adds a string; false when the table would grow past `maxBytes`.
    bool add(std::string_view s, qint64 maxBytes)
    {
        const qint64 bytes = static_cast<qint64>(text_.size() + s.size() + (starts_.size() + 1) * sizeof(std::uint32_t));
        if (bytes > maxBytes || text_.size() + s.size() > UINT32_MAX)
            return false;
        starts_.push_back(static_cast<std::uint32_t>(text_.size()));
        text_ += s;
        return true;
    }
    void reserve(std::size_t strings) { starts_.reserve(strings); }
    // Room for `bytes` of text at once, so the table is not copied as it grows (pages not yet
    // written take no memory).
    void reserveText(std::size_t bytes) { text_.reserve(bytes); }

private:
    std::string text_;
    std::vector<std::uint32_t> starts_;
};

} // namespace talvesk::workbook
