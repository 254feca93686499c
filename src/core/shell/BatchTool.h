#pragma once

#include <QString>
#include <QStringList>
#include <QTextStream>

namespace talvesk::shell {

// Exit codes of the batch tool.
inline constexpr int kBatchOk = 0;
inline constexpr int kBatchFailed = 1;
inline constexpr int kBatchUsage = 2;

// Runs the operations without windows: `[--app-dir DIR] COMMAND ARGS...`. One summary line goes
// to `out`; the program's message texts go to `err`. Returns the exit code. The report is made
// by talvesk-report, beside the running program.
int runBatch(const QStringList &arguments, const QString &defaultAppDir, QTextStream &out,
             QTextStream &err);

} // namespace talvesk::shell
