// The .xls reader. An input starting with the compound file's signature is taken as a whole file;
// any other input is the workbook stream itself (BIFF records), put into a well-formed compound
// file, so that mutations reach the records instead of breaking the sector tables.
#include "FuzzSupport.h"

#include "platform/Error.h"
#include "workbook/Workbook.h"
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
    fuzz::readWorkbook(path);
    return 0;
}
