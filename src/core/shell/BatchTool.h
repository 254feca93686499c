#pragma once

#include <QString>
#include <QStringList>
#include <QTextStream>

#include <functional>

namespace talvesk::shell {

// Exit codes of the batch tool.
inline constexpr int kBatchOk = 0;
inline constexpr int kBatchFailed = 1;
inline constexpr int kBatchUsage = 2;

// Runs the operations without windows: `[--app-dir DIR] COMMAND ARGS...`. One summary line goes
// to `out`; the program's message texts go to `err`. Returns the exit code. The report is made
// by talvesk-report, beside the running program. `[--app-dir DIR] --help` writes the usage and the
// database in use to `out`.
// A database file on a network share is warned of on `err` before a command that opens it;
// `onShare` tells where a share is (platform::onNetworkShare when empty).
int runBatch(const QStringList &arguments, const QString &defaultAppDir, QTextStream &out,
             QTextStream &err, const std::function<bool(const QString &path)> &onShare = {});

} // namespace talvesk::shell
