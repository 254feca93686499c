#include "workbook/SheetCells.h"

#include "platform/Error.h"
#include "workbook/Workbook.h"

#include <QFileInfo>

#include <algorithm>

namespace talvesk::workbook {

void unreadable(const QString &path, const QString &why)
{
    throw platform::Error(platform::errnum::PathFileAccess, QStringLiteral("無法讀取活頁簿 ") + QFileInfo(path).fileName()
                                            + QStringLiteral(": ") + why);
}

void cellTooLong(const QString &path, const QString &place, const QString &hint)
{
    unreadable(path, place + QStringLiteral("的內容超過 %1 MB 的上限（一個儲存格最多 32767 個字元）").arg(kMaxCellBytes >> 20) + hint);
}

void rowTooLong(const QString &path, const QString &sheet, qint64 row)
{
    unreadable(path, QStringLiteral("工作表 %1 第 %2 列超過 %3 MB 的上限").arg(sheet).arg(row).arg(kMaxRowBytes >> 20));
}

QString cellPlace(const QString &sheet, qint64 row, int column)
{
    QString place = QStringLiteral("工作表 ") + sheet;
    if (row >= 1)
        place += QStringLiteral(" 第 %1 列").arg(row);
    if (row >= 1 && column >= 0)
        place += QStringLiteral(" %1 欄").arg(columnLetters(column));
    return place;
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
    throw platform::Error(platform::errnum::ObjectInvalid, QStringLiteral("活頁簿中沒有工作表 ") + name);
}

} // namespace talvesk::workbook
