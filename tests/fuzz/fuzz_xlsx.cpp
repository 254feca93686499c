// The .xlsx reader. An input starting with "PK" is taken as a whole file; any other input is the
// worksheet, shared strings and styles, separated by lines "--", packed into a minimal workbook
// stored uncompressed, so that mutations reach the XML instead of breaking the zip's checksums.
#include "FuzzSupport.h"

#include "platform/Error.h"
#include "platform/Workbook.h"

#include <QList>

#include <zip.h>

using namespace talvesk;

namespace {

void addPart(zip_t *zip, const char *name, const QByteArray &content)
{
    // The buffer must outlive zip_close: it is copied into memory libzip frees itself.
    void *copy = std::malloc(static_cast<std::size_t>(std::max<qsizetype>(content.size(), 1)));
    std::memcpy(copy, content.constData(), static_cast<std::size_t>(content.size()));
    zip_source_t *source = zip_source_buffer(zip, copy, static_cast<zip_uint64_t>(content.size()), 1);
    const zip_int64_t index = zip_file_add(zip, name, source, ZIP_FL_OVERWRITE);
    if (index < 0) {
        zip_source_free(source);
        return;
    }
    zip_set_file_compression(zip, static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0);
}

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
    const QString path = fuzz::writeInput(nullptr, 0, QStringLiteral(".xlsx"));
    int error = 0;
    zip_t *zip = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!zip)
        __builtin_trap();
    const QByteArray ns = "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
                          "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"";
    const QByteArray rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    addPart(zip, "_rels/.rels",
            "<Relationships><Relationship Id=\"rId1\" Type=\"" + rel + "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>");
    addPart(zip, "xl/_rels/workbook.xml.rels",
            "<Relationships><Relationship Id=\"rId1\" Type=\"" + rel + "/worksheet\" Target=\"worksheets/sheet1.xml\"/>"
            "<Relationship Id=\"rId2\" Type=\"" + rel + "/sharedStrings\" Target=\"sharedStrings.xml\"/>"
            "<Relationship Id=\"rId3\" Type=\"" + rel + "/styles\" Target=\"styles.xml\"/></Relationships>");
    addPart(zip, "xl/workbook.xml", "<workbook " + ns + "><sheets><sheet name=\"S\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>");
    addPart(zip, "xl/worksheets/sheet1.xml", "<worksheet " + ns + ">" + parts[0] + "</worksheet>");
    addPart(zip, "xl/sharedStrings.xml", "<sst " + ns + ">" + parts[1] + "</sst>");
    addPart(zip, "xl/styles.xml", "<styleSheet " + ns + ">" + parts[2] + "</styleSheet>");
    if (zip_close(zip) != 0)
        __builtin_trap();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const QString path = input.startsWith("PK") ? fuzz::writeInput(data, size, QStringLiteral(".xlsx")) : packWorkbook(input);
    fuzz::readWorkbook(path);
    return 0;
}
