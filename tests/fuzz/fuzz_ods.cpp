// The .ods reader. An input starting with "PK" is taken as a whole file; any other input is
// content.xml, packed with its mimetype into a zip stored uncompressed, so that mutations reach
// the XML instead of breaking the zip's checksums.
#include "FuzzSupport.h"

#include "platform/Error.h"
#include "platform/Workbook.h"

#include <zip.h>

#include <cstdlib>
#include <cstring>

using namespace talvesk;

namespace {

void addPart(zip_t *zip, const char *name, const QByteArray &content)
{
    // The buffer must outlive zip_close: it is copied into memory libzip frees itself (an empty
    // part has none, since libzip would not free a buffer of no bytes).
    void *copy = nullptr;
    if (!content.isEmpty()) {
        copy = std::malloc(static_cast<std::size_t>(content.size()));
        std::memcpy(copy, content.constData(), static_cast<std::size_t>(content.size()));
    }
    zip_source_t *source = zip_source_buffer(zip, copy, static_cast<zip_uint64_t>(content.size()), copy ? 1 : 0);
    const zip_int64_t index = zip_file_add(zip, name, source, ZIP_FL_OVERWRITE);
    if (index < 0) {
        zip_source_free(source);
        return;
    }
    zip_set_file_compression(zip, static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0);
}

QString packSpreadsheet(const QByteArray &content)
{
    const QString path = fuzz::writeInput(nullptr, 0, QStringLiteral(".ods"));
    int error = 0;
    zip_t *zip = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!zip)
        __builtin_trap();
    addPart(zip, "mimetype", "application/vnd.oasis.opendocument.spreadsheet");
    addPart(zip, "content.xml", content);
    if (zip_close(zip) != 0)
        __builtin_trap();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const QString path = input.startsWith("PK") ? fuzz::writeInput(data, size, QStringLiteral(".ods")) : packSpreadsheet(input);
    fuzz::readWorkbook(path);
    return 0;
}
