#include "platform/Codec950.h"
#include "platform/ProfileReader.h"
#include "support/TestApp.h"

#include <gtest/gtest.h>

using namespace talvesk;
using platform::readProfileString;

namespace {

const QString kKey = QStringLiteral("使用者名稱");

QString writeIni(const test::TestApp &app, const QString &text)
{
    const QString file = app.path(QStringLiteral("t.ini"));
    test::writeFile(file, platform::codec950::encode(text));
    return file;
}

} // namespace

TEST(ProfileReader, MissingFileSectionOrKeyGivesTheDefault)
{
    test::TestApp app(test::TestApp::Empty);
    const QString star = QStringLiteral("*");
    EXPECT_EQ(readProfileString(app.path(QStringLiteral("none.ini")), u"Env", kKey, star), star);
    const QString file = writeIni(app, QStringLiteral("[Other]\r\n使用者名稱=AA\r\n[ENV]\r\n使用者密碼=BB\r\n"));
    EXPECT_EQ(readProfileString(file, u"Env", kKey, star), star) << "a key of another section";
}

TEST(ProfileReader, SectionAndKeyMatchWithoutRegardToCase)
{
    test::TestApp app(test::TestApp::Empty);
    for (const char *section : {"[ENV]", "[Env]", "[env]", "[ eNv ]"}) {
        const QString file = writeIni(app, QString::fromLatin1(section) + QStringLiteral("\r\n使用者名稱=ABC\r\nKey=v\r\n"));
        EXPECT_EQ(readProfileString(file, u"Env", kKey, QStringLiteral("*")), QStringLiteral("ABC")) << section;
        EXPECT_EQ(readProfileString(file, u"Env", u"KEY", QStringLiteral("*")), QStringLiteral("v")) << section;
    }
}

TEST(ProfileReader, ValuesAreTrimmedUnquotedAndCutTo255Characters)
{
    test::TestApp app(test::TestApp::Empty);
    const QString longValue(300, u'F');
    const QString file = writeIni(app, QStringLiteral("[ENV]\n 使用者名稱 =  AB CD  \r\nq=\"quoted\"\rlong=")
                                           + longValue + QStringLiteral("\r\nempty=\r\n"));
    EXPECT_EQ(readProfileString(file, u"ENV", kKey, QStringLiteral("*")), QStringLiteral("AB CD"));
    EXPECT_EQ(readProfileString(file, u"ENV", u"long", QStringLiteral("*")), QString(255, u'F'));
    EXPECT_EQ(readProfileString(file, u"ENV", u"long", QStringLiteral("*"), 10), QString(9, u'F'));
    EXPECT_EQ(readProfileString(file, u"ENV", u"Q", QStringLiteral("*")), QStringLiteral("quoted"));
    EXPECT_EQ(readProfileString(file, u"ENV", u"empty", QStringLiteral("*")), QString());
}

TEST(ProfileReader, TheFirstOfTwoSectionsWithTheSameNameCounts)
{
    test::TestApp app(test::TestApp::Empty);
    const QString file = writeIni(app, QStringLiteral("[ENV]\r\n使用者名稱=FIRST\r\n[ENV]\r\n使用者名稱=SECOND\r\n"));
    EXPECT_EQ(readProfileString(file, u"ENV", kKey, QStringLiteral("*")), QStringLiteral("FIRST"));
}
