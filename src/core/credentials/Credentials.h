#pragma once

#include <QByteArray>
#include <QString>

namespace talvesk::credentials {

// The credential file's section and keys.
inline const QString kSection = QStringLiteral("ENV");
inline const QString kUserNameKey = QStringLiteral("使用者名稱");
inline const QString kPasswordKey = QStringLiteral("使用者密碼");
// The outcome messages of a save.
inline const QString kSavedMessage = QStringLiteral("修改成功 ! 下次請用新名稱密碼 !");
inline const QString kSaveFailedMessage = QStringLiteral("無法寫入密碼檔,原檔未變更;錯誤代碼=");
// What the reader gives for a missing file or key.
inline const QString kMissingValue = QStringLiteral("*");

// Text in code page 950 to its stored form: enciphered, upper-case hexadecimal.
QString EncryptCredential(const QString &value);
// A stored value back to text in code page 950. Never fails; a value holding no whole cipher
// block (such as "*") gives the empty text.
QString DecryptCredential(const QString &stored);
// Whether a stored value holds at least one whole cipher block (16 hexadecimal characters).
bool holdsCipherBlock(const QString &stored);

struct StoredCredentials {
    QString userName; // enciphered, as read, or "*"
    QString password;
};

// Reads the two stored values from the credential file at `path`, as the login does at its load:
// section and keys matched without regard to case, "*" for what is missing, at most 255
// characters each. Nothing is deciphered here.
StoredCredentials LoadStoredCredentials(const QString &path);

// The whole credential file for a pair of values: "[ENV]", the two enciphered keys and an empty
// last line, CR LF, code page 950.
QByteArray credentialFileContent(const QString &userName, const QString &password);

// Writes the credential file anew (a new file renamed over the old one). Throws platform::Error;
// on failure the old file is untouched.
void saveCredentials(const QString &path, const QString &userName, const QString &password);

// The character rule of the user-name and password boxes: 1 to 8 characters of 0-9, A-Z, a-z.
enum class CredentialTextProblem { None, Empty, TooLong, BadCharacter };
CredentialTextProblem checkCredentialText(const QString &text);
// The message a rejected user name (`isUserName`) or password gets, in the program's own words.
QString credentialProblemText(CredentialTextProblem problem, bool isUserName);
bool isCredentialCharacter(QChar c);

} // namespace talvesk::credentials
