#include "payments/Amounts.h"

#include "platform/Error.h"

#include <charconv>
#include <cmath>
#include <cstring>
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

// Reads the number at the start of `text`, a view of UTF-16 or of UTF-8: both spell the
// characters a number is made of alike, and anything else ends it in both. The characters
// looked at: blanks dropped, a comma between two digits dropped (digit grouping), reading stops
// at the first other character that cannot go on. `whole`, when given, tells whether the
// number took the whole text: nothing was left over and there was a digit.
template <typename View>
double readLeadingNumber(View text, bool exponent, bool *whole = nullptr)
{
    const qsizetype n = text.size();
    const auto at = [&](qsizetype i) -> char16_t {
        const auto c = text[i];
        if constexpr (sizeof(c) == 1)
            return static_cast<unsigned char>(c);
        else
            return static_cast<char16_t>(c.unicode());
    };
    // Short enough for the stack and for a whole number read exactly without strtod.
    std::string number;
    enum { Sign, Whole, Fraction, ExpSign, ExpDigits } state = Sign;
    bool digits = false;
    bool plainWhole = true; // only a sign and digits so far
    int digitCount = 0;
    std::size_t beforeExponent = 0;
    char16_t last = 0;
    bool stopped = false;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = at(i);
        if (isBlank(c))
            continue;
        if (c == u',') {
            qsizetype next = i + 1;
            while (next < n && isBlank(at(next)))
                ++next;
            if (isDigit(last) && next < n && isDigit(at(next)))
                continue;
            stopped = true;
            break;
        }
        if (c >= 0x80) {
            stopped = true;
            break;
        }
        if (state == Sign && (c == u'+' || c == u'-')) {
            number.push_back(static_cast<char>(c));
            state = Whole;
        } else if ((state == Sign || state == Whole || state == Fraction) && isDigit(c)) {
            number.push_back(static_cast<char>(c));
            digits = true;
            ++digitCount;
            if (state == Sign)
                state = Whole;
        } else if ((state == Sign || state == Whole) && c == u'.') {
            number.push_back('.');
            plainWhole = false;
            state = Fraction;
        } else if (exponent && digits && (state == Whole || state == Fraction)
                   && (c == u'E' || c == u'e' || c == u'D' || c == u'd')) {
            beforeExponent = number.size();
            number.push_back('E');
            plainWhole = false;
            state = ExpSign;
        } else if (state == ExpSign && (c == u'+' || c == u'-')) {
            number.push_back(static_cast<char>(c));
            state = ExpDigits;
        } else if ((state == ExpSign || state == ExpDigits) && isDigit(c)) {
            number.push_back(static_cast<char>(c));
            state = ExpDigits;
        } else {
            stopped = true;
            break;
        }
        last = c;
    }
    if (whole)
        *whole = digits && !stopped;
    if (!digits)
        return 0;
    // An exponent mark without digits after it is not part of the number.
    if (state == ExpSign || (state == ExpDigits && !std::isdigit(static_cast<unsigned char>(number.back())))) {
        if (whole)
            *whole = false;
        number.resize(beforeExponent);
        plainWhole = number.find('.') == std::string::npos;
    }
    // Up to 15 digits a whole number is exact in a double: the same value strtod gives.
    if (plainWhole && digitCount <= 15) {
        double value = 0;
        for (const char c : number) {
            if (c >= '0' && c <= '9')
                value = value * 10 + (c - '0');
        }
        return number.front() == '-' ? -value : value;
    }
    return std::strtod(number.c_str(), nullptr);
}

} // namespace

double leadingNumber(QStringView text, bool exponent)
{
    return readLeadingNumber(text, exponent);
}

double leadingNumber(QByteArrayView utf8, bool exponent)
{
    return readLeadingNumber(utf8, exponent);
}

std::optional<double> amountValue(QStringView text)
{
    bool whole = false;
    const double value = readLeadingNumber(text, true, &whole);
    if (!whole || !std::isfinite(value))
        return std::nullopt;
    // "-0" is an amount of nothing, not a negative one.
    return value == 0 ? 0.0 : value;
}

double receivableTotal(double total, bool isNull, QStringView account)
{
    if (isNull)
        throw platform::Error(platform::errnum::InvalidUseOfNull, QStringLiteral("虛擬帳號 ") + account.toString()
                                                                      + QStringLiteral(" 的應收金額沒有值，無法計算未繳金額"));
    return total;
}

QString outstandingText(double value)
{
    QString text = workbook::numberText(value);
    if (text.startsWith(QStringLiteral("0.")))
        text.remove(0, 1);
    else if (text.startsWith(QStringLiteral("-0.")))
        text.remove(1, 1);
    return text;
}

void outstandingUtf8(double value, QByteArray &out)
{
    // Whole amounts, by far the most common, as numberText writes them, without a QString.
    if (value != 0 && std::isfinite(value) && std::fabs(value) < 1e15 && value == std::trunc(value)) {
        char digits[24];
        const auto written = std::to_chars(digits, digits + sizeof digits, static_cast<qint64>(value));
        out.resize(written.ptr - digits);
        std::memcpy(out.data(), digits, std::size_t(written.ptr - digits));
        return;
    }
    out = outstandingText(value).toUtf8();
}

namespace {

QString sevenDigits(double value)
{
    // Past what a whole number can hold exactly, the number is kept in its short form.
    if (!std::isfinite(value) || std::fabs(value) >= 1e15)
        return workbook::numberText(value);
    // Halves round away from zero, as the "0000000" format does.
    const double whole = std::round(value);
    const bool negative = whole < 0;
    QString digits = QString::number(static_cast<qint64>(std::fabs(whole)));
    if (digits.size() < 7)
        digits = QString(7 - digits.size(), u'0') + digits;
    return negative ? u'-' + digits : digits;
}

} // namespace

QString payDateText(const workbook::CellValue &cell)
{
    using Kind = workbook::CellValue::Kind;
    switch (cell.kind) {
    case Kind::DateTime: {
        if (!workbook::isDateSerial(cell.number))
            return sevenDigits(cell.number);
        int year, month, day;
        workbook::serialToDate(cell.number, year, month, day);
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
