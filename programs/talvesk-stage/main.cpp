// Completes an application folder: creates ldb/Vellaroke.mdb from the schema file and writes
// Env/IdPass6.ini for the initial pair ADMIN / 1234. What already exists is left alone, so the
// operator's data and password survive every rebuild. The programs' first start in a user's data
// folder does the same.

#include "db/FirstStart.h"
#include "platform/AppFolder.h"
#include "platform/Error.h"

#include <QCoreApplication>
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
    QFile schema(args.at(2));
    if (!schema.open(QIODevice::ReadOnly)) {
        err << "cannot read " << args.at(2) << Qt::endl;
        return 1;
    }
    try {
        const auto made = talvesk::db::completeAppFolder(folder, QString::fromUtf8(schema.readAll()));
        if (made.database)
            err << "created " << folder.databaseFile() << Qt::endl;
        if (made.credentials)
            err << "created " << folder.credentialFile() << Qt::endl;
    } catch (const talvesk::platform::Error &error) {
        err << error.number() << ' ' << error.description() << Qt::endl;
        return 1;
    }
    return 0;
}
