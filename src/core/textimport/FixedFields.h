#pragma once

// The fixed-position fields of the bank's and the stores' text files, and how a line the import
// cannot use is shown in ErrLog.txt. Nothing here touches the database, so the readers' fuzz
// target runs it with the text-line reader alone.

#include "platform/TextLines.h"

#include <QString>
#include <QStringView>

namespace talvesk::textimport {

// Whether a fixed-position amount field holds only digits and blanks (an empty one does).
bool isDigitsAndBlanks(QStringView field);
// A fixed-position amount through the number pattern "####0": the whole number without leading
// zeros when the trimmed field is all digits, otherwise the trimmed field as it is (a view of it).
QStringView fixedAmountText(QStringView field);
// Characters of a line at 1-based positions, only those that exist.
inline QStringView field(QStringView line, int position, int length)
{
    return line.mid(position - 1, length);
}

// A line as ErrLog.txt shows it: as far as it could be decoded, or, when it could not be or holds
// a NUL, its first platform::kKeptLineBytes bytes in hex; a line past any record, or cut to those
// bytes, says its whole length.
QString shownLine(const platform::TextLine &line);

} // namespace talvesk::textimport
