#include "db/FirstStart.h"
#include "platform/Error.h"
#include "platform/Process.h"
#include "shell/BatchTool.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    talvesk::platform::prepareProcess();
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    const QStringList commandLine = QCoreApplication::arguments().mid(1);
    // A folder named with --app-dir is taken as it is; otherwise the program's own folder, or
    // the user's data folder when the program is installed where the user may not write.
    QString appDir = QCoreApplication::applicationDirPath();
    if (commandLine.value(0) != QStringLiteral("--app-dir")) {
        try {
            const auto chosen = talvesk::db::appFolderFor(appDir);
            appDir = chosen.app.root();
            if (chosen.madeNow)
                err << QStringLiteral("已建立資料夾 ") << appDir << QStringLiteral("（新資料庫，初始帳號 ADMIN）") << Qt::endl;
        } catch (const talvesk::platform::Error &error) {
            err << talvesk::platform::errorText(error) << Qt::endl;
            return talvesk::shell::kBatchFailed;
        }
    }
    return talvesk::shell::runBatch(commandLine, appDir, out, err);
}
