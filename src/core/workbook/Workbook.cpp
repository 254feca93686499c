#include "workbook/Workbook.h"

#include "workbook/CompoundFile.h"
#include "workbook/CsvWorkbook.h"
#include "platform/Error.h"
#include "platform/Files.h"
#include "workbook/OdsWorkbook.h"
#include "workbook/XlsWorkbook.h"
#include "workbook/XlsxWorkbook.h"

#include <QDate>
#include <QFile>
#include <QFileInfo>

#include <cmath>
#include <cstdio>

namespace talvesk::workbook {

std::unique_ptr<Workbook> Workbook::open(const QString &path, const WorkbookLimits &limits)
{
    const QFileInfo info(path);
    if (path.trimmed().isEmpty() || !info.exists())
        throw platform::Error(platform::errnum::FileNotFound, QStringLiteral("找不到檔案 ") + path);
    platform::requireRegularFile(path);
    if (info.suffix().compare(QStringLiteral("csv"), Qt::CaseInsensitive) == 0)
        return std::make_unique<CsvWorkbook>(path, limits.stopRequested);
    // The content decides where it can: a workbook saved under another suffix still opens.
    QFile file(path);
    const QByteArray head = file.open(QIODevice::ReadOnly) ? file.read(8) : QByteArray();
    file.close();
    if (CompoundFile::hasSignature(head))
        return std::make_unique<XlsWorkbook>(path, limits);
    if (head.startsWith("PK")) {
        if (OdsWorkbook::isOds(path) || info.suffix().compare(QStringLiteral("ods"), Qt::CaseInsensitive) == 0)
            return std::make_unique<OdsWorkbook>(path, limits);
        return std::make_unique<XlsxWorkbook>(path, limits);
    }
    if (info.suffix().compare(QStringLiteral("xls"), Qt::CaseInsensitive) == 0)
        return std::make_unique<XlsWorkbook>(path, limits);
    if (info.suffix().compare(QStringLiteral("ods"), Qt::CaseInsensitive) == 0)
        return std::make_unique<OdsWorkbook>(path, limits);
    return std::make_unique<XlsxWorkbook>(path, limits);
}

QString cellText(Worksheet &sheet, qint64 row, QStringView column)
{
    const CellValue v = sheet.cell(row, column);
    switch (v.kind) {
    case CellValue::Kind::Empty:
        return QString();
    case CellValue::Kind::Text:
        return v.text.trimmed();
    case CellValue::Kind::Number:
        // Whole numbers keep every digit up to 16 of them: an account number typed into a numeric
        // cell must still match its payments (9515088000000010, not 9.51508800000001E+15).
        if (std::fabs(v.number) < 1e16 && v.number == std::trunc(v.number))
            return QString::number(static_cast<qint64>(v.number));
        return numberText(v.number);
    case CellValue::Kind::Boolean:
        return v.number != 0 ? QStringLiteral("True") : QStringLiteral("False");
    case CellValue::Kind::DateTime:
        // A number in a date format that no calendar date has (as the spreadsheet shows #####)
        // is taken as the number it is.
        return isDateSerial(v.number) ? dateTimeText(v.number) : numberText(v.number);
    case CellValue::Kind::Error:
        break;
    }
    throw platform::Error(platform::errnum::TypeMismatch, QStringLiteral("工作表 ") + sheet.name() + QStringLiteral(" 儲存格 ")
                                          + column.toString().toUpper() + QString::number(row)
                                          + QStringLiteral(" 含錯誤值 ") + v.text);
}

int columnIndex(QStringView letters)
{
    if (letters.isEmpty() || letters.size() > 3)
        return -1;
    int col = 0;
    for (QChar c : letters) {
        const char16_t u = c.toUpper().unicode();
        if (u < u'A' || u > u'Z')
            return -1;
        col = col * 26 + (u - u'A' + 1);
    }
    return col > 16384 ? -1 : col - 1;
}

QString columnLetters(int index)
{
    QString name;
    for (int n = index + 1; n > 0; n = (n - 1) / 26)
        name.prepend(QChar(u'A' + (n - 1) % 26));
    return name;
}

QString numberText(double value)
{
    if (value == 0 || !std::isfinite(value))
        return QStringLiteral("0");
    // Whole amounts, by far the most common, need no floating-point formatting.
    if (std::fabs(value) < 1e15 && value == std::trunc(value))
        return QString::number(static_cast<qint64>(value));
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.15G", value);
    QString text = QString::fromLatin1(buffer);
    // printf writes E+015 on some platforms and E+15 on others; the program shows two digits at least.
    const qsizetype e = text.indexOf(u'E');
    if (e >= 0) {
        QString mantissa = text.left(e);
        const QChar sign = text.at(e + 1);
        QString digits = text.mid(e + 2);
        while (digits.size() > 2 && digits.startsWith(u'0'))
            digits.remove(0, 1);
        text = mantissa + u'E' + sign + digits;
    }
    return text;
}

bool isDateSerial(double serial)
{
    return std::isfinite(serial) && serial >= 0 && serial < kLastDateSerial + 1;
}

void serialToDate(double serial, int &year, int &month, int &day)
{
    const QDate date = QDate(1899, 12, 30).addDays(static_cast<qint64>(std::floor(serial)));
    year = date.year();
    month = date.month();
    day = date.day();
}

QString dateTimeText(double serial)
{
    // Round to the second first, so 23:59:59.7 becomes the next day's midnight.
    const qint64 seconds = static_cast<qint64>(std::llround(serial * 86400.0));
    const qint64 days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
    const qint64 secondOfDay = seconds - days * 86400;
    const QDate date = QDate(1899, 12, 30).addDays(days);
    QString text = QString::number(date.year()) + u'/' + QString::number(date.month()) + u'/' + QString::number(date.day());
    if (secondOfDay != 0) {
        const QTime time = QTime(0, 0).addSecs(static_cast<int>(secondOfDay));
        text += u' ' + time.toString(QStringLiteral("HH:mm:ss"));
    }
    return text;
}

} // namespace talvesk::workbook
