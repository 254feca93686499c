// The .xls reader. An input starting with the compound file's signature is taken as a whole file;
// any other input is the workbook stream itself (BIFF records), put into a well-formed compound
// file, so that mutations reach the records instead of breaking the sector tables.
#include "FuzzSupport.h"

#include "platform/Error.h"
#include "platform/Workbook.h"
#include "support/CompoundFiles.h"

using namespace talvesk;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    QString path;
    if (input.startsWith(QByteArray("\xD0\xCF\x11\xE0", 4))) {
        path = fuzz::writeInput(data, size, QStringLiteral(".xls"));
    } else {
        path = fuzz::writeInput(nullptr, 0, QStringLiteral(".xls"));
        test::writeCompoundFile(path, {{QStringLiteral("Workbook"), input}});
    }
    platform::WorkbookLimits limits;
    limits.maxPartBytes = 64 << 20;
    limits.maxSharedStringBytes = 16 << 20;
    try {
        auto book = platform::Workbook::open(path, limits);
        for (const QString &name : book->worksheetNames()) {
            auto sheet = book->worksheet(name);
            sheet->lastUsedRow();
            for (qint64 row = sheet->nextUsedRow(1); row > 0; row = sheet->nextUsedRow(row + 1)) {
                for (const char16_t *column : {u"A", u"B", u"C", u"AA", u"XFD"}) {
                    try {
                        platform::cellText(*sheet, row, QStringView(column));
                    } catch (const platform::Error &) {
                        // an error value in a cell: a refusal of that cell, the reading goes on
                    }
                }
            }
        }
    } catch (const platform::Error &) {
    }
    return 0;
}
