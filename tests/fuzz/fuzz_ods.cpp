// The .ods reader. An input starting with "PK" is taken as a whole file; any other input is
// content.xml, packed with its mimetype into a zip stored uncompressed, so that mutations reach
// the XML instead of breaking the zip's checksums.
#include "FuzzSupport.h"

#include "platform/Error.h"
#include "workbook/Workbook.h"


using namespace talvesk;

namespace {

QString packSpreadsheet(const QByteArray &content)
{
    return fuzz::writeStoredZip(QStringLiteral(".ods"),
                                {{"mimetype", "application/vnd.oasis.opendocument.spreadsheet"}, {"content.xml", content}});
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const QString path = input.startsWith("PK") ? fuzz::writeInput(data, size, QStringLiteral(".ods")) : packSpreadsheet(input);
    fuzz::readWorkbook(path);
    return 0;
}
