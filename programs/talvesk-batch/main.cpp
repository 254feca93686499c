#include "shell/BatchTool.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>

int main(int argc, char *argv[])
{
    // Past a file-size limit a write fails like any other and is reported; the signal would end
    // the program with no word of why.
    std::signal(SIGXFSZ, SIG_IGN);
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    return talvesk::shell::runBatch(app.arguments().mid(1), QCoreApplication::applicationDirPath(),
                                    out, err);
}
