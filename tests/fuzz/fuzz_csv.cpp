// The .csv reader: UTF-8 or code page 950, quoted fields, every line end. Each input is read twice:
// as it is, and after a line that puts it across the end of the reader's first read of the file,
// where every record, field and character must read the same, one row further down.
#include "FuzzSupport.h"

#include "workbook/CsvWorkbook.h"
#include "platform/Error.h"
#include "workbook/Workbook.h"

#include <optional>

using namespace talvesk;

namespace {

struct Reading {
    qint64 lastUsedRow = 0;
    std::vector<std::pair<qint64, std::vector<workbook::CellValue>>> rows; // the used rows from `first`
};

// The used rows from `first` on, their cells in a few columns; nothing when the file is refused.
std::optional<Reading> read(const QString &path, qint64 first)
{
    try {
        auto book = workbook::Workbook::open(path);
        auto sheet = book->worksheet(book->worksheetNames().value(0));
        Reading reading;
        reading.lastUsedRow = sheet->lastUsedRow();
        for (qint64 row = sheet->nextUsedRow(first); row > 0; row = sheet->nextUsedRow(row + 1)) {
            std::vector<workbook::CellValue> cells;
            for (const char16_t *column : {u"A", u"B", u"C", u"Z"})
                cells.push_back(sheet->cell(row, QStringView(column)));
            reading.rows.emplace_back(row, std::move(cells));
        }
        return reading;
    } catch (const platform::Error &) {
        return std::nullopt;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const std::optional<Reading> plain = read(fuzz::writeInput(data, size, QStringLiteral(".csv")), 1);
    // A byte-order mark counts only at the file's start.
    if (input.startsWith("\xEF\xBB\xBF"))
        return 0;
    QByteArray padded(workbook::CsvWorkbook::kReadBytes - 17, 'p');
    padded += '\n' + input;
    const std::optional<Reading> shifted =
        read(fuzz::writeInput(reinterpret_cast<const std::uint8_t *>(padded.constData()),
                              static_cast<std::size_t>(padded.size()), QStringLiteral(".csv")),
             2);
    if (plain.has_value() != shifted.has_value())
        __builtin_trap();
    if (!plain)
        return 0;
    if (shifted->lastUsedRow != (plain->lastUsedRow > 0 ? plain->lastUsedRow + 1 : 1)
        || shifted->rows.size() != plain->rows.size())
        __builtin_trap();
    for (std::size_t i = 0; i < plain->rows.size(); ++i) {
        if (shifted->rows[i].first != plain->rows[i].first + 1)
            __builtin_trap();
        for (std::size_t c = 0; c < plain->rows[i].second.size(); ++c) {
            const workbook::CellValue &a = plain->rows[i].second[c];
            const workbook::CellValue &b = shifted->rows[i].second[c];
            if (a.kind != b.kind || a.text != b.text)
                __builtin_trap();
        }
    }
    return 0;
}
