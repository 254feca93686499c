#pragma once

#include "support/TestApp.h"

#include <QString>
#include <QTemporaryDir>

namespace talvesk::test {

// A PostgreSQL server of its own in a temporary folder, started by scripts/postgres.sh and
// stopped and removed with the object (or, should the test process die first, soon after it).
// Throws std::runtime_error when it cannot be started.
class PostgresServer {
public:
    PostgresServer();
    ~PostgresServer();
    PostgresServer(const PostgresServer &) = delete;
    PostgresServer &operator=(const PostgresServer &) = delete;

    // The libpq connection string of its maintenance database (key=value pairs).
    const QString &connectionString() const { return connection_; }
    // Stops the server (open connections are ended, their transactions rolled back) and starts
    // it again on the same files.
    void stop();
    void start();

    // The server the tests of this process share: the one $TALVESK_TEST_POSTGRES names (the test
    // run's), or else one started at first use and stopped when the process ends, so that a test
    // program also runs alone.
    static QString shared();

private:
    QTemporaryDir dir_;
    QString connection_;
};

// A new, empty database of its own on a server, so that tests never see each other's tables.
// Dropped with the object, with whatever connections still use it.
class PostgresDatabase {
public:
    explicit PostgresDatabase(const QString &server = PostgresServer::shared());
    ~PostgresDatabase();
    PostgresDatabase(const PostgresDatabase &) = delete;
    PostgresDatabase &operator=(const PostgresDatabase &) = delete;

    const QString &connectionString() const { return connection_; }
    const QString &name() const { return name_; }

private:
    QString server_;
    QString name_;
    QString connection_;
};

// Names the server database `connection` as the folder's shared database, in Env/Database.ini.
void nameServer(const TestApp &app, const QString &connection);

} // namespace talvesk::test
