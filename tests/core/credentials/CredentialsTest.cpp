#include "credentials/Cipher.h"
#include "credentials/Credentials.h"
#include "platform/Codec950.h"
#include "platform/Error.h"
#include "support/TestApp.h"

#include <QDir>

#include <gtest/gtest.h>

using namespace talvesk;
using namespace talvesk::credentials;

TEST(CredentialCipher, LengthsFollowTheBlocksAndTheSameValueGivesTheSameText)
{
    for (int n = 1; n <= 7; ++n)
        EXPECT_EQ(EncryptCredential(QString(n, u'A')).size(), 16) << n;
    EXPECT_EQ(EncryptCredential(QStringLiteral("ABCDEFGH")).size(), 32);
    EXPECT_EQ(EncryptCredential(QStringLiteral("ADMIN")), EncryptCredential(QStringLiteral("ADMIN")));
    EXPECT_NE(EncryptCredential(QStringLiteral("ADMIN")), EncryptCredential(QStringLiteral("ADMIM")));

    const QString stored = EncryptCredential(QStringLiteral("ABCDEFGH"));
    EXPECT_EQ(stored, stored.toUpper());
    EXPECT_EQ(DecryptCredential(stored), QStringLiteral("ABCDEFGH"));
    EXPECT_EQ(DecryptCredential(stored.toLower()), QStringLiteral("ABCDEFGH")) << "either letter case";
}

TEST(CredentialCipher, OddLengthAndShortStoredTextsDecipherWithoutFault)
{
    EXPECT_EQ(DecryptCredential(QStringLiteral("*")), QString());
    EXPECT_FALSE(holdsCipherBlock(QStringLiteral("*")));
    EXPECT_EQ(DecryptCredential(QString()), QString());

    // A stored text whose last digit is missing reads as if that digit were "0".
    const QString stored = EncryptCredential(QStringLiteral("1234"));
    QString odd = stored;
    odd.chop(1);
    QString evened = odd + u'0';
    EXPECT_EQ(DecryptCredential(odd), DecryptCredential(evened));
    EXPECT_TRUE(holdsCipherBlock(stored));
}

TEST(CredentialCipher, ALastDecipheredByteOfZeroOrAboveEightRemovesNothing)
{
    // Build stored texts whose deciphered block ends in 0 and in 9, with the credential key and IV.
    cipher::BlowfishState state;
    ASSERT_TRUE(cipher::BlowfishSetKey(state, cipher::HexTextToBytes(cipher::CredentialKeyText)));
    const cipher::Bytes ivBytes = cipher::HexTextToBytes("00" + std::string(cipher::CredentialIvText));
    cipher::Block iv;
    std::copy_n(ivBytes.begin(), 8, iv.begin());

    for (std::uint8_t last : {std::uint8_t{0}, std::uint8_t{9}}) {
        const cipher::Bytes plain{'A', 'B', 'C', 'D', 'E', 'F', 'G', last};
        const QString stored = QString::fromStdString(cipher::BytesToHexText(cipher::CbcEncrypt(state, plain, iv)));
        const QString text = DecryptCredential(stored);
        EXPECT_EQ(text.size(), 8) << int(last);
        EXPECT_TRUE(text.startsWith(QStringLiteral("ABCDEFG"))) << int(last);
    }
}

TEST(CredentialFile, ContentIsTheThreeLinesAndAnEmptyOneInCodePage950)
{
    const QByteArray content = credentialFileContent(QStringLiteral("ADMIN"), QStringLiteral("1234"));
    const QByteArray expected = platform::codec950::encode(QString(
        QStringLiteral("[ENV]\r\n使用者名稱=") + EncryptCredential(QStringLiteral("ADMIN"))
        + QStringLiteral("\r\n使用者密碼=") + EncryptCredential(QStringLiteral("1234")) + QStringLiteral("\r\n\r\n")));
    EXPECT_EQ(content, expected);
    EXPECT_TRUE(content.contains("\xA8\xCF\xA5\xCE\xAA\xCC\xA6\x57\xBA\xD9=")) << "使用者名稱 in Big5";
}

TEST(CredentialFile, SaveThenLoadGivesTheStoredTextsBack)
{
    test::TestApp app;
    const QString file = app.folder().credentialFile();
    saveCredentials(file, QStringLiteral("CLERK1"), QStringLiteral("PW12345X"));
    const StoredCredentials stored = LoadStoredCredentials(file);
    EXPECT_EQ(stored.userName.size(), 16);
    EXPECT_EQ(stored.password.size(), 32);
    EXPECT_EQ(DecryptCredential(stored.userName), QStringLiteral("CLERK1"));
    EXPECT_EQ(DecryptCredential(stored.password), QStringLiteral("PW12345X"));
}

TEST(CredentialFile, MissingFileOrKeyLoadsAsStars)
{
    test::TestApp app(test::TestApp::Empty);
    StoredCredentials stored = LoadStoredCredentials(app.path(QStringLiteral("Env/IdPass6.ini")));
    EXPECT_EQ(stored.userName, QStringLiteral("*"));
    EXPECT_EQ(stored.password, QStringLiteral("*"));

    const QString file = app.path(QStringLiteral("partial.ini"));
    test::writeFile(file, platform::codec950::encode(QStringLiteral("[env]\r\n使用者名稱=0011\r\n")));
    stored = LoadStoredCredentials(file);
    EXPECT_EQ(stored.userName, QStringLiteral("0011"));
    EXPECT_EQ(stored.password, QStringLiteral("*"));
}

TEST(CredentialFile, AFailedSaveLeavesTheOldFileAsItWas)
{
    test::TestApp app;
    const QString file = app.folder().credentialFile();
    const QByteArray before = test::readFile(file);
    QFile::setPermissions(file, QFile::ReadOwner);
    EXPECT_THROW(saveCredentials(file, QStringLiteral("NEW"), QStringLiteral("NEW")), platform::Error);
    EXPECT_EQ(test::readFile(file), before);

    QDir(app.folder().credentialFolder()).removeRecursively();
    EXPECT_THROW(saveCredentials(file, QStringLiteral("NEW"), QStringLiteral("NEW")), platform::Error);
}

TEST(CredentialText, OneToEightLettersOrDigits)
{
    EXPECT_EQ(checkCredentialText(QStringLiteral("aZ09")), CredentialTextProblem::None);
    EXPECT_EQ(checkCredentialText(QString()), CredentialTextProblem::Empty);
    EXPECT_EQ(checkCredentialText(QStringLiteral("123456789")), CredentialTextProblem::TooLong);
    for (const QString &bad : {QStringLiteral("A-B"), QStringLiteral("A_B"), QStringLiteral("A B"), QStringLiteral("王")})
        EXPECT_EQ(checkCredentialText(bad), CredentialTextProblem::BadCharacter) << bad.toStdString();
}
