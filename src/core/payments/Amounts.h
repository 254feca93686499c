#pragma once

#include "workbook/Workbook.h"

#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <optional>

namespace talvesk::payments {

// The number at the start of a text, as the amounts are read: blanks, tabs and line feeds
// anywhere are ignored, and so is a comma between two digits ("1,234,567.5" reads 1234567.5,
// while "1,x" reads 1 and "1, 5" reads 15); an optional sign, digits, an optional point and fraction (and, when
// `exponent`, an optional exponent such as E3); reading stops at the first character that cannot
// go on; no number at the start gives 0.
double leadingNumber(QStringView text, bool exponent);
// The same, read from UTF-8 text as the database gives it.
double leadingNumber(QByteArrayView utf8, bool exponent);

// The number a stored amount is, read as the lookup reads amounts (the rule above, with an
// exponent), when the whole text is that number: "45,000" is 45000, " -1,234.50 " is -1234.5.
// Nothing when anything is left over ("1,x", "12元", "1E"), when there is no digit, or when the
// number is too large for a double.
std::optional<double> amountValue(QStringView text);

// The amount due of a receivable found by a lookup, `total` as read from it. A Total that holds no
// value at all (`isNull`) cannot be paid against: it stops the import (error 94) naming the account.
double receivableTotal(double total, bool isNull, QStringView account);

// An outstanding amount as stored: at most 15 significant digits, no grouping, a leading minus
// when negative, and no zero before the point (".5", "-.5").
QString outstandingText(double value);
// The same as UTF-8, into `out` (its memory used again): the bank file writes one per payment.
void outstandingUtf8(double value, QByteArray &out);

// The date credited as stored from a workbook cell: a date becomes the seven-digit ROC date
// YYYMMDD (2024-01-05 gives 1130105); a number, or a text that is a number, is rounded to a whole
// number of at least seven digits ("0000000": 990105 gives 0990105); any other text stays as it is.
QString payDateText(const workbook::CellValue &cell);

} // namespace talvesk::payments
