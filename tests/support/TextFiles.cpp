#include "support/TextFiles.h"

namespace talvesk::test {

namespace {
QString fit(const QString &text, int width)
{
    return text.leftJustified(width, u' ', true);
}
} // namespace

QString bankLine(const QString &date, const QString &amount, const QString &account, const QString &prefix)
{
    return fit(prefix, 11) + fit(date, 7) + QStringLiteral("TWD ") + fit(amount, 11) + fit(QStringLiteral("轉帳存入"), 14)
        + fit(account, 25) + QStringLiteral("END");
}

QString storeLine(const QString &company, const QString &agency, const QString &shop, const QString &credited,
                  const QString &paid, const QString &barcode1, const QString &barcode2, const QString &barcode3)
{
    return u'2' + fit(company, 8) + fit(agency, 8) + fit(shop, 8) + fit(QStringLiteral("門市代收"), 19) + fit(credited, 8)
        + fit(paid, 8) + fit(barcode1, 9) + fit(barcode2, 20) + fit(barcode3, 15);
}

} // namespace talvesk::test
