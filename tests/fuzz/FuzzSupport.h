#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include "platform/Error.h"
#include "workbook/Workbook.h"

#include <zip.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>
#include <cstdint>

#include <unistd.h>

namespace talvesk::fuzz {

// The readers take paths: each input is written to one scratch file of this process, under the
// suffix that chooses the reader.
inline QString writeInput(const std::uint8_t *data, std::size_t size, const QString &suffix)
{
    const QString path = QDir::tempPath() + QStringLiteral("/talvesk-fuzz-%1").arg(::getpid()) + suffix;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        __builtin_trap();
    file.write(reinterpret_cast<const char *>(data), static_cast<qint64>(size));
    file.close();
    return path;
}

// Writes a zip of `parts` (name, content), every part stored uncompressed so that a fuzzer's
// mutations of the content reach the reader instead of breaking a checksum; returns its path.
inline QString writeStoredZip(const QString &suffix, const std::vector<std::pair<const char *, QByteArray>> &parts)
{
    const QString path = writeInput(nullptr, 0, suffix);
    int error = 0;
    zip_t *zip = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!zip)
        __builtin_trap();
    for (const auto &[name, content] : parts) {
        // libzip frees the copy once written; an empty part has none (it would not free a buffer
        // of no bytes).
        void *copy = nullptr;
        if (!content.isEmpty()) {
            copy = std::malloc(static_cast<std::size_t>(content.size()));
            std::memcpy(copy, content.constData(), static_cast<std::size_t>(content.size()));
        }
        zip_source_t *source = zip_source_buffer(zip, copy, static_cast<zip_uint64_t>(content.size()), copy ? 1 : 0);
        const zip_int64_t index = zip_file_add(zip, name, source, ZIP_FL_OVERWRITE);
        if (index < 0) {
            zip_source_free(source);
            continue;
        }
        zip_set_file_compression(zip, static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0);
    }
    if (zip_close(zip) != 0)
        __builtin_trap();
    return path;
}

// Reads every worksheet of a workbook through, as an import would, within bounds small enough
// for a fuzzer; a refusal of the workbook or of one cell is an answer, not a finding.
inline void readWorkbook(const QString &path)
{
    workbook::WorkbookLimits limits;
    limits.maxPartBytes = 64 << 20;
    limits.maxSharedStringBytes = 16 << 20;
    try {
        auto book = workbook::Workbook::open(path, limits);
        for (const QString &name : book->worksheetNames()) {
            auto sheet = book->worksheet(name);
            sheet->lastUsedRow();
            for (qint64 row = sheet->nextUsedRow(1); row > 0; row = sheet->nextUsedRow(row + 1)) {
                for (const char16_t *column : {u"A", u"B", u"C", u"AA", u"XFD"}) {
                    try {
                        workbook::cellText(*sheet, row, QStringView(column));
                    } catch (const platform::Error &) {
                        // an error value in a cell: a refusal of that cell, the reading goes on
                    }
                }
            }
        }
    } catch (const platform::Error &) {
    }
}

} // namespace talvesk::fuzz
