#include "credentials/Credentials.h"

#include "credentials/Cipher.h"
#include "platform/Codec950.h"
#include "platform/Files.h"
#include "platform/ProfileReader.h"

namespace talvesk::credentials {

namespace codec950 = platform::codec950;

QString EncryptCredential(const QString &value)
{
    const QByteArray ansi = codec950::encode(value);
    const cipher::Bytes bytes(ansi.begin(), ansi.end());
    return QString::fromLatin1(cipher::EncryptCredentialBytes(bytes));
}

QString DecryptCredential(const QString &stored)
{
    const cipher::Bytes bytes = cipher::DecryptCredentialBytes(stored.toLatin1().toStdString());
    return codec950::decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

bool holdsCipherBlock(const QString &stored)
{
    return stored.size() >= 16;
}

StoredCredentials LoadStoredCredentials(const QString &path)
{
    return {platform::readProfileString(path, kSection, kUserNameKey, kMissingValue),
            platform::readProfileString(path, kSection, kPasswordKey, kMissingValue)};
}

QByteArray credentialFileContent(const QString &userName, const QString &password)
{
    const QString crlf = QStringLiteral("\r\n");
    // Three lines, each ended by CR LF, and one more line break after them.
    const QString text = u'[' + kSection + u']' + crlf
        + kUserNameKey + u'=' + EncryptCredential(userName.trimmed()) + crlf
        + kPasswordKey + u'=' + EncryptCredential(password.trimmed()) + crlf
        + crlf;
    return codec950::encode(text);
}

void saveCredentials(const QString &path, const QString &userName, const QString &password)
{
    platform::writeFileAtomically(path, credentialFileContent(userName, password));
}

bool isCredentialCharacter(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'0' && u <= u'9') || (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z');
}

CredentialTextProblem checkCredentialText(const QString &text)
{
    if (text.isEmpty())
        return CredentialTextProblem::Empty;
    if (text.size() > 8)
        return CredentialTextProblem::TooLong;
    for (QChar c : text) {
        if (!isCredentialCharacter(c))
            return CredentialTextProblem::BadCharacter;
    }
    return CredentialTextProblem::None;
}

QString credentialProblemText(CredentialTextProblem problem, bool isUserName)
{
    using P = CredentialTextProblem;
    switch (problem) {
    case P::Empty:
        return isUserName ? QStringLiteral("請輸入使用者名稱!") : QStringLiteral("請輸入使用者密碼!");
    case P::TooLong:
        return isUserName ? QStringLiteral("使用者名稱至多8位數!") : QStringLiteral("使用者密碼只能有8位數!");
    case P::BadCharacter:
        return isUserName ? QStringLiteral("使用者名稱只能有英文字母及數字!")
                          : QStringLiteral("使用者密碼只能有英文字母及數字!");
    case P::None:
        break;
    }
    return QString();
}

} // namespace talvesk::credentials
