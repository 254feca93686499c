#include "db/FirstStart.h"
#include "platform/Error.h"
#include "platform/Process.h"
#include "shell/BatchTool.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <cstdio>
#include <memory>

int main(int argc, char *argv[])
{
    talvesk::platform::prepareProcess();
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    // The report paints its pages with QtGui's fonts; a scheduled job has no display, so it
    // paints offscreen. Every other command needs no more than QtCore.
    std::unique_ptr<QCoreApplication> app;
    if (talvesk::shell::batchNeedsPainting(arguments)) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
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
