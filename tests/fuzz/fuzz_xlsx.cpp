// The .xlsx reader. An input starting with "PK" is taken as a whole file; any other input is the
// worksheet, shared strings and styles, separated by lines "--", packed into a minimal workbook
// stored uncompressed, so that mutations reach the XML instead of breaking the zip's checksums.
#include "FuzzSupport.h"

#include "platform/Error.h"
#include "workbook/Workbook.h"

#include <QList>

using namespace talvesk;

namespace {

QString packWorkbook(const QByteArray &input)
{
    const QList<QByteArray> pieces = input.split('\n');
    QByteArray parts[3];
    int at = 0;
    for (const QByteArray &line : pieces) {
        if (line == "--" && at < 2) {
            ++at;
            continue;
        }
        parts[at] += line + '\n';
    }
    const QByteArray ns = "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
                          "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"";
    const QByteArray rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    return fuzz::writeStoredZip(
        QStringLiteral(".xlsx"),
        {{"_rels/.rels", "<Relationships><Relationship Id=\"rId1\" Type=\"" + rel
                             + "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"},
         {"xl/_rels/workbook.xml.rels",
          "<Relationships><Relationship Id=\"rId1\" Type=\"" + rel + "/worksheet\" Target=\"worksheets/sheet1.xml\"/>"
          "<Relationship Id=\"rId2\" Type=\"" + rel + "/sharedStrings\" Target=\"sharedStrings.xml\"/>"
          "<Relationship Id=\"rId3\" Type=\"" + rel + "/styles\" Target=\"styles.xml\"/></Relationships>"},
         {"xl/workbook.xml", "<workbook " + ns + "><sheets><sheet name=\"S\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>"},
         {"xl/worksheets/sheet1.xml", "<worksheet " + ns + ">" + parts[0] + "</worksheet>"},
         {"xl/sharedStrings.xml", "<sst " + ns + ">" + parts[1] + "</sst>"},
         {"xl/styles.xml", "<styleSheet " + ns + ">" + parts[2] + "</styleSheet>"}});
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const QString path = input.startsWith("PK") ? fuzz::writeInput(data, size, QStringLiteral(".xlsx")) : packWorkbook(input);
    fuzz::readWorkbook(path);
    return 0;
}
