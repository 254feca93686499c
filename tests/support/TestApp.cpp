#include "support/TestApp.h"

#include "credentials/Credentials.h"
#include "db/Installation.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <stdexcept>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace talvesk::test {

TestApp::TestApp(Contents contents) : folder_(dir_.path())
{
    if (!dir_.isValid())
        throw std::runtime_error("no temporary folder");
    if (contents == Empty)
        return;
    QDir().mkpath(folder_.databaseFolder());
    QDir().mkpath(folder_.credentialFolder());
    if (contents == Everything)
        db::createDatabase(folder_.databaseFile(), schemaSql());
    credentials::saveCredentials(folder_.credentialFile(), QStringLiteral("ADMIN"), QStringLiteral("1234"));
}

QString TestApp::path(const QString &relative) const
{
    return folder_.root() + u'/' + relative;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read " + path.toStdString());
    return file.readAll();
}

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
        throw std::runtime_error("cannot write " + path.toStdString());
}

QString schemaSql()
{
    return QString::fromUtf8(readFile(QStringLiteral(TALVESK_SCHEMA_FILE)));
}

::testing::AssertionResult hasMode(const QString &path, unsigned mode)
{
#ifdef _WIN32
    if (!QFileInfo::exists(path))
        return ::testing::AssertionFailure() << "no file " << path.toStdString();
    const bool writable = QFileInfo(path).permission(QFileDevice::WriteOwner);
    if (writable == ((mode & 0200) != 0))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << path.toStdString() << (writable ? " is writable" : " is read-only");
#else
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return ::testing::AssertionFailure() << "cannot stat " << path.toStdString();
    const unsigned bits = st.st_mode & 07777;
    if (bits == mode)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << path.toStdString() << " has mode " << std::oct << bits << ", not " << mode;
#endif
}

} // namespace talvesk::test
