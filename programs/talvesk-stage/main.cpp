// Completes an application folder: creates ldb/Vellaroke.mdb from the schema file and writes
// Env/IdPass6.ini for the initial pair ADMIN / 1234. What already exists is left alone, so the
// operator's data and password survive every rebuild.

#include "credentials/Credentials.h"
#include "db/Installation.h"
#include "platform/AppFolder.h"
#include "platform/Error.h"
#include "platform/Files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    const QStringList args = app.arguments();
    if (args.size() != 3) {
        err << "usage: talvesk-stage APP_DIR SCHEMA_FILE" << Qt::endl;
        return 2;
    }
    const talvesk::platform::AppFolder folder(args.at(1));
    try {
        QDir().mkpath(folder.databaseFolder());
        QDir().mkpath(folder.credentialFolder());
        if (!talvesk::platform::fileExists(folder.databaseFile())) {
            QFile schema(args.at(2));
            if (!schema.open(QIODevice::ReadOnly)) {
                err << "cannot read " << args.at(2) << Qt::endl;
                return 1;
            }
            talvesk::db::createDatabase(folder.databaseFile(), QString::fromUtf8(schema.readAll()));
            err << "created " << folder.databaseFile() << Qt::endl;
        }
        if (!talvesk::platform::fileExists(folder.credentialFile())) {
            talvesk::credentials::saveCredentials(folder.credentialFile(), QStringLiteral("ADMIN"),
                                                  QStringLiteral("1234"));
            err << "created " << folder.credentialFile() << Qt::endl;
        }
    } catch (const talvesk::platform::Error &error) {
        err << error.number() << ' ' << error.description() << Qt::endl;
        return 1;
    }
    return 0;
}
