#include "platform/Codec950.h"
#include "platform/Files.h"
#include "store/StoreImport.h"
#include "support/Tables.h"
#include "support/TestApp.h"
#include "support/TextFiles.h"

#include <gtest/gtest.h>

using namespace talvesk;
using test::storeLine;

namespace {

QString detail(const QString &barcode2, const QString &barcode3, const QString &shop = QStringLiteral("S001"))
{
    return storeLine(QStringLiteral("12345678"), QStringLiteral("AG01"), shop, QStringLiteral("20240105"),
                     QStringLiteral("20240104"), QStringLiteral("131231A12"), barcode2, barcode3);
}

} // namespace

TEST(StoreImport, StoresDetailRecordsOncePerSecondBarcode)
{
    test::TestApp app;
    QString text;
    text += QStringLiteral("1HEADER 便利商店代收\r\n");
    text += detail(QStringLiteral("95120000000000000001"), QStringLiteral("010105000001500")) + QStringLiteral("\r\n");
    text += QStringLiteral("\r\n");
    text += detail(QStringLiteral("95120000000000000002"), QStringLiteral("010105000000000")) + QStringLiteral("\r\n");
    text += detail(QStringLiteral("95120000000000000001"), QStringLiteral("010105000002000"), QStringLiteral("S002")) + QStringLiteral("\r");
    text += QStringLiteral("3TRAILER 00003\r\n");
    const QString path = app.path(QStringLiteral("TFM0105.txt"));
    test::writeFile(path, platform::codec950::encode(text));

    for (int run = 1; run <= 2; ++run) {
        int refreshed = 0;
        textimport::TextImportObserver observer;
        observer.lineDone = [&](const textimport::TextImportCounts &) { ++refreshed; };
        const auto counts = store::StoreImport(app.folder()).run(path, observer);
        EXPECT_EQ(counts.applied, 3) << "run " << run;
        EXPECT_EQ(counts.abnormal, 0);
        // Read again, the record of one barcode changes twice and the other stays as it was.
        EXPECT_EQ(counts.changes(), run == 1 ? QStringLiteral("2 new, 1 updated, 0 unchanged")
                                             : QStringLiteral("0 new, 2 updated, 1 unchanged"));
        EXPECT_EQ(refreshed, 3) << "only detail lines refresh the counters";
        const auto rows = test::tableRows(app.folder(), QStringLiteral("SMdata"));
        ASSERT_EQ(rows.size(), 2u) << "run " << run;
        EXPECT_EQ(rows[0], (QStringList{QStringLiteral("2"), QStringLiteral("12345678"), QStringLiteral("AG01"), QStringLiteral("S002"),
                                        QStringLiteral("20240105"), QStringLiteral("20240104"), QStringLiteral("131231A12"),
                                        QStringLiteral("95120000000000000001"), QStringLiteral("010105000002000"), QStringLiteral("2000")}));
        EXPECT_EQ(rows[1].at(8), QStringLiteral("010105000000000"));
        EXPECT_EQ(rows[1].at(9), QStringLiteral("0"));
    }
    EXPECT_FALSE(platform::fileExists(app.folder().errorLogFile()));
}

TEST(StoreImport, AShortDetailLineIsStoredUnderTheEmptyKey)
{
    test::TestApp app;
    const QString path = app.path(QStringLiteral("short.txt"));
    test::writeFile(path, "212345678AG01\r\n287654321AG02\r\n");
    EXPECT_EQ(store::StoreImport(app.folder()).run(path, {}).applied, 2);
    const auto rows = test::tableRows(app.folder(), QStringLiteral("SMdata"));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].at(1), QStringLiteral("87654321"));
    EXPECT_EQ(rows[0].at(7), QString());
    EXPECT_EQ(rows[0].at(9), QString());
}

TEST(StoreImport, AnAmountWithLettersOrBadBytesIsReportedAndNotStored)
{
    test::TestApp app;
    QByteArray file = platform::codec950::encode(QString(detail(QStringLiteral("B1"), QStringLiteral("010105000001500")) + QStringLiteral("\r\n")));
    file += platform::codec950::encode(QString(detail(QStringLiteral("B2"), QStringLiteral("010105000OOPS00")) + QStringLiteral("\r\n")));
    file += QByteArray("2\xFF\xFF\x81", 4) + "\r\n";
    file += QByteArray("1\xFF\xFF", 3) + "\r\n"; // not a detail record: ignored, bad bytes or not
    const QString path = app.path(QStringLiteral("bad.txt"));
    test::writeFile(path, file);
    const auto counts = store::StoreImport(app.folder()).run(path, {});
    EXPECT_EQ(counts.applied, 1);
    EXPECT_EQ(counts.abnormal, 2);
    EXPECT_EQ(test::tableRows(app.folder(), QStringLiteral("SMdata")).size(), 1u);
    const QString log = platform::codec950::decode(test::readFile(app.folder().errorLogFile()));
    EXPECT_TRUE(log.startsWith(QStringLiteral("第 2 行: 繳款金額欄位不是數字"))) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("第 3 行: 無法以 Big5 解碼")));
    EXPECT_FALSE(log.contains(QStringLiteral("第 4 行")));
}
