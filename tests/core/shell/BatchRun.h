#pragma once

#include "shell/BatchTool.h"
#include "support/TestApp.h"

#include <QTextStream>

namespace talvesk::test {

// One run of the batch tool on a test's application folder: its exit code and what it printed.
struct BatchRun {
    int code;
    QString out;
    QString err;
};

inline BatchRun batch(const TestApp &app, QStringList args)
{
    QString out, err;
    QTextStream outStream(&out), errStream(&err);
    args.prepend(app.folder().root());
    args.prepend(QStringLiteral("--app-dir"));
    const int code = shell::runBatch(args, QStringLiteral("/nonexistent"), outStream, errStream);
    return {code, out, err};
}

} // namespace talvesk::test
