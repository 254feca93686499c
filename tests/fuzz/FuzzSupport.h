#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

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

} // namespace talvesk::fuzz
