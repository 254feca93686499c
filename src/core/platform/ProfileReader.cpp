#include "platform/ProfileReader.h"

#include "platform/Codec950.h"

#include <QFile>
#include <QRegularExpression>

namespace talvesk::platform {

namespace {

QString fitBuffer(QString value, int bufferSize)
{
    if (bufferSize <= 0)
        return QString();
    if (value.size() > bufferSize - 1)
        value.truncate(bufferSize - 1);
    return value;
}

QString unquote(QString value)
{
    if (value.size() >= 2) {
        const QChar first = value.front();
        if ((first == u'"' || first == u'\'') && value.back() == first)
            return value.mid(1, value.size() - 2);
    }
    return value;
}

} // namespace

QString readProfileString(const QString &filePath, QStringView section, QStringView key,
                          const QString &defaultValue, int bufferSize)
{
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return fitBuffer(defaultValue, bufferSize);
    const QString text = codec950::decode(file.readAll());

    bool inSection = false;
    bool sectionSeen = false;
    // Lines end at LF, CR LF or a bare CR.
    for (QStringView line : QStringView(text).split(QRegularExpression(QStringLiteral("[\r\n]")))) {
        line = line.trimmed();
        if (line.isEmpty() || line.front() == u';')
            continue;
        if (line.front() == u'[') {
            // Only the first section of that name counts.
            if (sectionSeen)
                break;
            const qsizetype close = line.indexOf(u']');
            const QStringView name = line.mid(1, close < 0 ? -1 : close - 1).trimmed();
            inSection = name.compare(section, Qt::CaseInsensitive) == 0;
            sectionSeen = inSection;
            continue;
        }
        if (!inSection)
            continue;
        const qsizetype equals = line.indexOf(u'=');
        if (equals < 0)
            continue;
        if (line.left(equals).trimmed().compare(key, Qt::CaseInsensitive) == 0)
            return fitBuffer(unquote(line.mid(equals + 1).trimmed().toString()), bufferSize);
    }
    return fitBuffer(defaultValue, bufferSize);
}

} // namespace talvesk::platform
