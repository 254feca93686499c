#include "support/TestApp.h"

#include "credentials/Credentials.h"
#include "db/Installation.h"

#include <QDir>
#include <QFile>

#include <stdexcept>

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

} // namespace talvesk::test
