#pragma once

#include <QString>

namespace talvesk::test {

// A bank record: positions 1-11 free text, date at 12-18, amount at 23-33, account at 48-72.
QString bankLine(const QString &date, const QString &amount, const QString &account,
                 const QString &prefix = QStringLiteral("00012345678"));
// A store detail record ("2" at position 1) with its ten fields at their positions.
QString storeLine(const QString &company, const QString &agency, const QString &shop, const QString &credited,
                  const QString &paid, const QString &barcode1, const QString &barcode2, const QString &barcode3);

} // namespace talvesk::test
