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
    return talvesk::shell::runBatch(QCoreApplication::arguments().mid(1), QCoreApplication::applicationDirPath(),
                                    out, err);
}
