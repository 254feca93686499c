#include "platform/SheetCells.h"

#include "platform/Error.h"

#include <QFileInfo>

#include <algorithm>

namespace talvesk::platform {

void unreadable(const QString &path, const QString &why)
{
    throw Error(errnum::PathFileAccess, QStringLiteral("無法讀取活頁簿 ") + QFileInfo(path).fileName()
                                            + QStringLiteral(": ") + why);
}

bool isDateFormatCode(const QString &code)
{
    bool inQuotes = false;
    int brackets = 0;
    for (qsizetype i = 0; i < code.size(); ++i) {
        const QChar c = code.at(i);
        if (inQuotes) {
            if (c == u'"')
                inQuotes = false;
            continue;
        }
        if (c == u'"') {
            inQuotes = true;
        } else if (c == u'\\' || c == u'_' || c == u'*') {
            ++i; // the next character is literal (or a fill / padding character)
        } else if (c == u'[') {
            ++brackets;
        } else if (c == u']') {
            brackets = std::max(0, brackets - 1);
        } else if (brackets == 0) {
            switch (c.toLower().unicode()) {
            case u'y':
            case u'm':
            case u'd':
            case u'h':
            case u's':
                return true;
            default:
                break;
            }
        }
    }
    return false;
}

bool isBuiltInDateFormat(int id)
{
    return (id >= 14 && id <= 22) || (id >= 45 && id <= 47) || (id >= 27 && id <= 36) || (id >= 50 && id <= 58);
}

void throwNoSuchSheet(const QString &name)
{
    throw Error(errnum::ObjectInvalid, QStringLiteral("活頁簿中沒有工作表 ") + name);
}

} // namespace talvesk::platform
