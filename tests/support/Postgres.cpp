#include "support/Postgres.h"

#include "platform/Postgres.h"
#include "server/ServerSettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QRandomGenerator>

#include <atomic>
#include <stdexcept>

namespace talvesk::test {

namespace {

// Runs scripts/postgres.sh; its answer is what it prints.
QString runScript(const QStringList &arguments)
{
    QProcess script;
    script.setProgram(QStringLiteral("bash"));
    script.setArguments(QStringList{QStringLiteral(TALVESK_POSTGRES_SCRIPT)} + arguments);
    script.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    script.start();
    if (!script.waitForFinished(120'000) || script.exitStatus() != QProcess::NormalExit || script.exitCode() != 0)
        throw std::runtime_error("scripts/postgres.sh " + arguments.join(u' ').toStdString() + " failed");
    return QString::fromUtf8(script.readAllStandardOutput()).trimmed();
}

} // namespace

PostgresServer::PostgresServer() : dir_(QDir::tempPath() + QStringLiteral("/talvesk-pg-XXXXXX"))
{
    if (!dir_.isValid())
        throw std::runtime_error("no temporary folder for a server");
    start();
}

PostgresServer::~PostgresServer()
{
    try {
        stop();
    } catch (const std::exception &) {
        // The watcher started with the server stops it when this process ends.
    }
}

void PostgresServer::start()
{
    connection_ = runScript({QStringLiteral("start"), dir_.path(), QStringLiteral("--until"),
                             QString::number(QCoreApplication::applicationPid())});
}

void PostgresServer::stop()
{
    runScript({QStringLiteral("stop"), dir_.path()});
}

QString PostgresServer::shared()
{
    const QString given = qEnvironmentVariable("TALVESK_TEST_POSTGRES");
    if (!given.isEmpty())
        return given;
    static PostgresServer server;
    return server.connectionString();
}

PostgresDatabase::PostgresDatabase(const QString &server) : server_(server)
{
    static std::atomic<int> made = 0;
    // Unique among the test processes sharing the server, and apart from one a crashed process left.
    name_ = QStringLiteral("talvesk_test_%1_%2_%3")
                .arg(QCoreApplication::applicationPid())
                .arg(++made)
                .arg(QRandomGenerator::global()->bounded(1'000'000));
    platform::pg::Connection admin(server_);
    admin.execute("CREATE DATABASE \"" + name_.toStdString() + '"');
    connection_ = server_ + QStringLiteral(" dbname=") + name_;
}

PostgresDatabase::~PostgresDatabase()
{
    try {
        platform::pg::Connection admin(server_);
        admin.execute("DROP DATABASE IF EXISTS \"" + name_.toStdString() + "\" WITH (FORCE)");
    } catch (const std::exception &) {
        // The server went away with it (a test stopped its own server).
    }
}

void nameServer(const TestApp &app, const QString &connection)
{
    writeFile(server::settingsFile(app.folder()), QStringLiteral("[DATABASE]\r\nserver=%1\r\n").arg(connection).toUtf8());
}

} // namespace talvesk::test
