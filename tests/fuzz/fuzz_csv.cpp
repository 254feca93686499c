// The .csv reader: UTF-8 or code page 950, quoted fields, every line end.
#include "FuzzSupport.h"

#include "platform/Error.h"
#include "platform/Workbook.h"

using namespace talvesk;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString path = fuzz::writeInput(data, size, QStringLiteral(".csv"));
    try {
        auto book = platform::Workbook::open(path);
        auto sheet = book->worksheet(book->worksheetNames().value(0));
        sheet->lastUsedRow();
        for (qint64 row = sheet->nextUsedRow(1); row > 0; row = sheet->nextUsedRow(row + 1)) {
            for (const char16_t *column : {u"A", u"B", u"C", u"Z"})
                platform::cellText(*sheet, row, QStringView(column));
        }
    } catch (const platform::Error &) {
    }
    return 0;
}
