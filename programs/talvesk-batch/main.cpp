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
    return talvesk::shell::runBatch(app.arguments().mid(1), QCoreApplication::applicationDirPath(),
                                    out, err);
}
