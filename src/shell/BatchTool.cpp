#include "shell/BatchTool.h"

#include "credentials/Credentials.h"
#include "platform/AppFolder.h"
#include "platform/Error.h"
#include "platform/Files.h"
#include "shell/Compaction.h"

#include <QFileInfo>

#include <functional>
#include <map>

namespace talvesk::shell {

namespace {

using platform::AppFolder;

struct Context {
    AppFolder app;
    QStringList args; // the command's own arguments
    QTextStream &out;
    QTextStream &err;
};

struct Command {
    QString synopsis;
    int argumentCount;
    std::function<int(Context &)> run;
};

QString errorText(const platform::Error &error)
{
    return QString::number(error.number()) + error.description();
}

int compact(Context &ctx)
{
    const QString file = ctx.app.databaseFile();
    const qint64 before = QFileInfo(file).size();
    if (const auto failure = compactDatabase(ctx.app)) {
        ctx.err << errorText(*failure) << Qt::endl;
        ctx.out << "compact: failed, database unchanged" << Qt::endl;
        return kBatchFailed;
    }
    ctx.out << "compact: " << before << " -> " << QFileInfo(file).size() << " bytes" << Qt::endl;
    return kBatchOk;
}

// The message a rejected user name or password gets, in the program's own words.
QString credentialProblemText(credentials::CredentialTextProblem problem, bool isUserName)
{
    using P = credentials::CredentialTextProblem;
    switch (problem) {
    case P::Empty:
        return isUserName ? QStringLiteral("請輸入使用者名稱!") : QStringLiteral("請輸入使用者密碼!");
    case P::TooLong:
        return isUserName ? QStringLiteral("使用者名稱至多8位數!") : QStringLiteral("使用者密碼只能有8位數!");
    case P::BadCharacter:
        return isUserName ? QStringLiteral("使用者名稱只能有英文字母及數字!")
                          : QStringLiteral("使用者密碼只能有英文字母及數字!");
    case P::None:
        break;
    }
    return QString();
}

int setCredentials(Context &ctx)
{
    const QString user = ctx.args.at(0);
    const QString password = ctx.args.at(1);
    for (const auto &[value, isUser] : {std::pair{user, true}, std::pair{password, false}}) {
        const auto problem = credentials::checkCredentialText(value);
        if (problem != credentials::CredentialTextProblem::None) {
            ctx.err << credentialProblemText(problem, isUser) << Qt::endl;
            ctx.out << "set-credentials: refused, credential file unchanged" << Qt::endl;
            return kBatchFailed;
        }
    }
    try {
        credentials::saveCredentials(ctx.app.credentialFile(), user.toUpper(), password.toUpper());
    } catch (const platform::Error &error) {
        ctx.err << credentials::kSaveFailedMessage << errorText(error) << Qt::endl;
        ctx.out << "set-credentials: failed, credential file unchanged" << Qt::endl;
        return kBatchFailed;
    }
    ctx.err << credentials::kSavedMessage << Qt::endl;
    ctx.out << "set-credentials: saved " << ctx.app.credentialFile() << Qt::endl;
    return kBatchOk;
}

const std::map<QString, Command> &commands()
{
    static const std::map<QString, Command> table{
        {QStringLiteral("compact"), {QString(), 0, compact}},
        {QStringLiteral("set-credentials"), {QStringLiteral("USER PASSWORD"), 2, setCredentials}},
    };
    return table;
}

int usage(QTextStream &err, const QString &problem)
{
    err << problem << Qt::endl
        << "usage: talvesk-batch [--app-dir DIR] COMMAND ARGS..." << Qt::endl
        << "commands:" << Qt::endl;
    for (const auto &[name, command] : commands())
        err << "  " << name << (command.synopsis.isEmpty() ? QString() : u' ' + command.synopsis) << Qt::endl;
    return kBatchUsage;
}

} // namespace

int runBatch(const QStringList &arguments, const QString &defaultAppDir, QTextStream &out,
             QTextStream &err)
{
    QStringList args = arguments;
    QString appDir = defaultAppDir;
    if (!args.isEmpty() && args.front() == QStringLiteral("--app-dir")) {
        if (args.size() < 2)
            return usage(err, QStringLiteral("--app-dir needs a folder"));
        appDir = args.at(1);
        args = args.mid(2);
    }
    if (args.isEmpty())
        return usage(err, QStringLiteral("no command given"));

    const auto found = commands().find(args.front());
    if (found == commands().end())
        return usage(err, QStringLiteral("unknown command: ") + args.front());
    const Command &command = found->second;
    args.pop_front();
    if (args.size() != command.argumentCount)
        return usage(err, found->first + QStringLiteral(" takes: ") + command.synopsis);

    Context ctx{AppFolder(appDir), args, out, err};
    return command.run(ctx);
}

} // namespace talvesk::shell
