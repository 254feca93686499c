#include "textimport/FixedFields.h"

#include <algorithm>

namespace talvesk::textimport {

bool isDigitsAndBlanks(QStringView field)
{
    for (const QChar c : field) {
        if (!(c.unicode() >= u'0' && c.unicode() <= u'9') && c != u' ')
            return false;
    }
    return true;
}

QStringView fixedAmountText(QStringView field)
{
    const QStringView trimmed = field.trimmed();
    if (trimmed.isEmpty())
        return trimmed;
    for (const QChar c : trimmed) {
        if (c.unicode() < u'0' || c.unicode() > u'9')
            return trimmed;
    }
    qsizetype first = 0;
    while (first < trimmed.size() - 1 && trimmed.at(first) == u'0')
        ++first;
    return trimmed.mid(first);
}

QString shownLine(const platform::TextLine &line)
{
    const qint64 length = std::max<qint64>(line.length, line.bytes.size());
    QString shown = line.text;
    bool cut = line.tooLong();
    if (!line.decoded || line.bytes.contains('\0')) {
        shown = QStringLiteral("(") + QString::fromLatin1(line.bytes.left(platform::kKeptLineBytes).toHex(' ')) + u')';
        cut = length > platform::kKeptLineBytes;
    }
    if (cut)
        shown += QStringLiteral("…（共 %1 位元組）").arg(length);
    return shown;
}

} // namespace talvesk::textimport
