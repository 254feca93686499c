#include "payments/Amounts.h"

#include "platform/Error.h"

#include <cmath>
#include <cstdlib>
#include <string>

namespace talvesk::payments {

namespace {

bool isBlank(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
}

bool isDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

// The characters a number can be read from: blanks dropped, a comma between two digits dropped
// (digit grouping), everything from the first other character that cannot be part of a number on
// cut off.
std::u16string numberCharacters(const QString &text)
{
    std::u16string chars;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = text.at(i).unicode();
        if (isBlank(c))
            continue;
        if (c == u',') {
            qsizetype next = i + 1;
            while (next < n && isBlank(text.at(next).unicode()))
                ++next;
            if (!chars.empty() && isDigit(chars.back()) && next < n && isDigit(text.at(next).unicode()))
                continue;
            break;
        }
        if (c >= 0x80)
            break;
        chars.push_back(c);
    }
    return chars;
}

} // namespace

double leadingNumber(const QString &text, bool exponent)
{
    std::string number;
    number.reserve(static_cast<std::size_t>(text.size()));
    enum { Sign, Whole, Fraction, ExpSign, ExpDigits } state = Sign;
    bool digits = false;
    std::size_t beforeExponent = 0;
    for (const char16_t c : numberCharacters(text)) {
        if (state == Sign && (c == u'+' || c == u'-')) {
            number.push_back(static_cast<char>(c));
            state = Whole;
        } else if ((state == Sign || state == Whole || state == Fraction) && c >= u'0' && c <= u'9') {
            number.push_back(static_cast<char>(c));
            digits = true;
            if (state == Sign)
                state = Whole;
        } else if ((state == Sign || state == Whole) && c == u'.') {
            number.push_back('.');
            state = Fraction;
        } else if (exponent && digits && (state == Whole || state == Fraction)
                   && (c == u'E' || c == u'e' || c == u'D' || c == u'd')) {
            beforeExponent = number.size();
            number.push_back('E');
            state = ExpSign;
        } else if (state == ExpSign && (c == u'+' || c == u'-')) {
            number.push_back(static_cast<char>(c));
            state = ExpDigits;
        } else if ((state == ExpSign || state == ExpDigits) && c >= u'0' && c <= u'9') {
            number.push_back(static_cast<char>(c));
            state = ExpDigits;
        } else {
            break;
        }
    }
    if (!digits)
        return 0;
    // An exponent mark without digits after it is not part of the number.
    if (state == ExpSign || (state == ExpDigits && !std::isdigit(static_cast<unsigned char>(number.back()))))
        number.resize(beforeExponent);
    return std::strtod(number.c_str(), nullptr);
}

double receivableTotal(const QString &total, bool isNull, const QString &account, bool exponent)
{
    if (isNull)
        throw platform::Error(platform::errnum::InvalidUseOfNull,
                              QStringLiteral("虛擬帳號 ") + account + QStringLiteral(" 的應收金額沒有值，無法計算未繳金額"));
    return leadingNumber(total, exponent);
}

QString outstandingText(double value)
{
    QString text = platform::numberText(value);
    if (text.startsWith(QStringLiteral("0.")))
        text.remove(0, 1);
    else if (text.startsWith(QStringLiteral("-0.")))
        text.remove(1, 1);
    return text;
}

namespace {

QString sevenDigits(double value)
{
    // Past what a whole number can hold exactly, the number is kept in its short form.
    if (!std::isfinite(value) || std::fabs(value) >= 1e15)
        return platform::numberText(value);
    // Halves round away from zero, as the "0000000" format does.
    const double whole = std::round(value);
    const bool negative = whole < 0;
    QString digits = QString::number(static_cast<qint64>(std::fabs(whole)));
    if (digits.size() < 7)
        digits = QString(7 - digits.size(), u'0') + digits;
    return negative ? u'-' + digits : digits;
}

} // namespace

QString payDateText(const platform::CellValue &cell)
{
    using Kind = platform::CellValue::Kind;
    switch (cell.kind) {
    case Kind::DateTime: {
        if (!platform::isDateSerial(cell.number))
            return sevenDigits(cell.number);
        int year, month, day;
        platform::serialToDate(cell.number, year, month, day);
        return QStringLiteral("%1%2%3")
            .arg(year - 1911, 3, 10, QLatin1Char('0'))
            .arg(month, 2, 10, QLatin1Char('0'))
            .arg(day, 2, 10, QLatin1Char('0'));
    }
    case Kind::Number:
        return sevenDigits(cell.number);
    case Kind::Boolean:
        return cell.number != 0 ? QStringLiteral("True") : QStringLiteral("False");
    case Kind::Text: {
        const QString text = cell.text.trimmed();
        bool ok = false;
        const double value = text.toDouble(&ok);
        return ok && std::isfinite(value) ? sevenDigits(value) : text;
    }
    case Kind::Empty:
    case Kind::Error:
        break;
    }
    return QString();
}

} // namespace talvesk::payments
