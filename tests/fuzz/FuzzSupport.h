#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include "platform/Error.h"
#include "platform/Workbook.h"

#include <cstddef>
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

// Reads every worksheet of a workbook through, as an import would, within bounds small enough
// for a fuzzer; a refusal of the workbook or of one cell is an answer, not a finding.
inline void readWorkbook(const QString &path)
{
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
}

} // namespace talvesk::fuzz
