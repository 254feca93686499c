#pragma once

#include <QString>
#include <QStringView>

namespace talvesk::platform {

// Reads one value from an INI-style file in code page 950, the way the desktop's profile-string
// reader does: the section and the key are matched without regard to case (the first match
// wins), blanks around the value are dropped and one pair of enclosing quotes is removed. The
// answer is cut to what a buffer of `bufferSize` characters holds (bufferSize - 1 characters).
// A missing file, section or key gives `defaultValue`, cut the same way.
QString readProfileString(const QString &filePath, QStringView section, QStringView key,
                          const QString &defaultValue, int bufferSize = 256);

} // namespace talvesk::platform
