#include "platform/Error.h"
#include "platform/Postgres.h"
#include "support/Postgres.h"

#include <QElapsedTimer>

#include <chrono>
#include <thread>

#ifndef _WIN32
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>
#endif
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <gtest/gtest.h>

using namespace talvesk;
using namespace std::chrono_literals;
using platform::Error;
using platform::pg::Connection;
using platform::pg::CopyIn;
using platform::pg::Transaction;

namespace {

qint64 count(Connection &connection, const char *table)
{
    return connection.execute(std::string("SELECT count(*) FROM ") + table).integer(0, 0);
}

// The number and description of the Error `work` throws; number 0 when it throws none.
template <typename Work>
Error failureOf(Work work)
{
    try {
        work();
    } catch (const Error &e) {
        return e;
    }
    return Error(0, QString());
}

constexpr qint64 kOperationLock = 31;

#ifndef _WIN32
// A child process killed and waited for however the test ends, so that a failing test leaves
// none behind holding the test's output open.
class Child {
public:
    explicit Child(pid_t pid) : pid_(pid) {}
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;
    ~Child()
    {
        if (pid_ > 0)
            killAndWait();
    }
    // How the child ended (waitpid's status).
    int killAndWait()
    {
        int status = 0;
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        pid_ = 0;
        return status;
    }

private:
    pid_t pid_;
};
#endif

} // namespace

// Values are bound and rows copied as UTF-8 whatever the connection string asks, so that the
// server counts characters, not bytes; COPY's escapes bring tabs, line ends and backslashes back
// as they were; a NUL, which the server's text cannot hold, is refused instead of cut short.
TEST(Postgres, TextGoesInBoundOrCopiedAndComesBackAsItWas)
{
    test::PostgresDatabase database;
    Connection db(database.connectionString() + QStringLiteral(" client_encoding=LATIN1"));
    EXPECT_EQ(db.execute("SHOW client_encoding").text(0, 0), QStringLiteral("UTF8"));
    db.execute("CREATE TABLE t (n integer PRIMARY KEY, v text)");

    const QStringList values = {
        QStringLiteral("王小明"),
        QStringLiteral("O'Brien '); DROP TABLE t; --"),
        QStringLiteral("\uE000造字 and 😀"),
        QStringLiteral("tab\there\nline\r\nback\\slash \\N \\. end\\"),
        QString(),
        QStringLiteral("臺北市中正區 100 號"),
    };
    auto insert = db.prepare("INSERT INTO t VALUES ($1, $2)");
    ASSERT_EQ(insert.parameterCount(), 2);
    for (int i = 0; i < values.size(); ++i)
        EXPECT_EQ(insert.bind(1, qint64(i)).bind(2, values[i]).run().changes(), 1);
    EXPECT_EQ(failureOf([&] { insert.bind(2, QStringView(u"a\0b", 3)); }).number(), platform::errnum::Database);

    // Rows enough to go out in several pieces, each holding every escape.
    const auto copiedValue = [&](int i) { return QString(values[i % values.size()] + QString::number(i)); };
    CopyIn copy(db, "COPY t (n, v) FROM STDIN");
    constexpr int kCopied = 5000;
    for (int i = 0; i < kCopied; ++i)
        copy.addRow({QString::number(1000 + i), copiedValue(i)});
    EXPECT_EQ(failureOf([&] { copy.addRow({QStringLiteral("99"), QStringView(u"x\0y", 3)}); }).number(),
              platform::errnum::Database);
    EXPECT_EQ(copy.finish(), kCopied) << "the refused row is not sent, the copy goes on";

    auto read = db.prepare("SELECT v, char_length(v) FROM t WHERE n = $1");
    for (int i = 0; i < values.size(); ++i) {
        const auto row = read.bind(1, qint64(i)).run();
        ASSERT_EQ(row.rowCount(), 1);
        EXPECT_EQ(row.text(0, 0), values[i]);
        EXPECT_FALSE(row.isNull(0, 0)) << "a null QString is the empty text";
        EXPECT_EQ(row.integer(0, 1), values[i].toUcs4().size());
    }
    const auto copied = db.execute("SELECT n, v FROM t WHERE n >= 1000 ORDER BY n");
    ASSERT_EQ(copied.rowCount(), kCopied);
    for (int i = 0; i < kCopied; ++i)
        ASSERT_EQ(copied.text(i, 1), copiedValue(i)) << "row " << i;
    EXPECT_EQ(count(db, "t WHERE n = 99"), 0);

    // An empty first field keeps its place; NULL arrives apart from the empty text.
    db.execute("CREATE TABLE u (a text, b text)");
    CopyIn pairs(db, "COPY u (a, b) FROM STDIN");
    pairs.addRow({QStringView(), QStringView(u"x")});
    const platform::pg::CopyField withNull[] = {{QByteArrayView(), true}, {QByteArrayView(""), false}};
    pairs.addRow(withNull);
    EXPECT_EQ(pairs.finish(), 2);
    const auto u = db.execute("SELECT coalesce(a, '<null>') || '|' || coalesce(b, '<null>') FROM u ORDER BY b DESC");
    ASSERT_EQ(u.rowCount(), 2);
    EXPECT_EQ(u.text(0, 0), QStringLiteral("|x"));
    EXPECT_EQ(u.text(1, 0), QStringLiteral("<null>|"));

    auto nothing = db.prepare("SELECT $1::text IS NULL");
    EXPECT_EQ(nothing.bindNull(1).run().text(0, 0), QStringLiteral("t"));
    EXPECT_EQ(failureOf([&] { db.prepare("SELECT $1::text, $2::text").bind(1, QStringLiteral("x")).run(); }).number(),
              platform::errnum::Database)
        << "a parameter left unbound is refused, not sent as NULL";
}

// A transaction keeps nothing unless committed: dropped, failed part way (the server then ends it
// with a rollback even when told to commit, which must not pass for success), or a copy abandoned.
TEST(Postgres, ATransactionKeepsNothingUnlessCommitted)
{
    test::PostgresDatabase database;
    Connection db(database.connectionString());
    Connection other(database.connectionString());
    db.execute("CREATE TABLE t (n integer PRIMARY KEY)");
    auto insert = db.prepare("INSERT INTO t VALUES ($1)");

    {
        Transaction transaction(db);
        insert.bind(1, qint64(1)).run();
        EXPECT_EQ(count(other, "t"), 0) << "not seen before its commit";
    }
    EXPECT_FALSE(db.inTransaction());
    EXPECT_EQ(count(other, "t"), 0);

    {
        Transaction transaction(db);
        insert.bind(1, qint64(2)).run();
        const Error duplicate = failureOf([&] { insert.run(); });
        EXPECT_EQ(duplicate.number(), platform::errnum::Database);
        EXPECT_TRUE(duplicate.description().startsWith(QStringLiteral("資料不符合資料表的限制"))) << duplicate.what();
        const Error commit = failureOf([&] { transaction.commit(); });
        EXPECT_EQ(commit.number(), platform::errnum::Database) << "a commit the server turned into a rollback";
    }
    EXPECT_EQ(count(other, "t"), 0);

    {
        Transaction transaction(db);
        CopyIn copy(db, "COPY t (n) FROM STDIN");
        copy.addRow({u"3"});
        copy.addRow({u"4"});
    }
    EXPECT_EQ(count(other, "t"), 0);

    Transaction transaction(db);
    insert.bind(1, qint64(5)).run();
    transaction.commit();
    EXPECT_EQ(count(other, "t"), 1);
}

// The operation lock: a second connection waits for it no longer than it was told, is then told
// busy with its own transaction unharmed, and gets it the moment the holder's transaction ends.
TEST(Postgres, TheOperationLockWaitsItsBoundThenSaysBusyAndPassesOnWhenItsHolderEnds)
{
    test::PostgresDatabase database;
    Connection holder(database.connectionString());
    Connection second(database.connectionString());
    second.execute("CREATE TABLE t (n integer)");

    auto holding = std::make_unique<Transaction>(holder);
    ASSERT_TRUE(holder.lockUntilTransactionEnds(kOperationLock, 2s));
    EXPECT_THROW(second.lockUntilTransactionEnds(kOperationLock, 1s), Error) << "only within a transaction";

    {
        Transaction transaction(second);
        QElapsedTimer waited;
        waited.start();
        EXPECT_FALSE(second.lockUntilTransactionEnds(kOperationLock, 400ms));
        EXPECT_GE(waited.elapsed(), 400);
        EXPECT_LT(waited.elapsed(), 30'000);
        EXPECT_TRUE(second.lockUntilTransactionEnds(kOperationLock + 1, 400ms)) << "another operation's lock is free";
        EXPECT_EQ(second.execute("SHOW lock_timeout").text(0, 0), QStringLiteral("0")) << "the wait's bound is not left behind";
        second.execute("INSERT INTO t VALUES (1)");
        transaction.commit();
    }
    EXPECT_EQ(count(second, "t"), 1) << "told busy, the transaction went on";

    Transaction transaction(second);
    std::jthread release([&] {
        std::this_thread::sleep_for(300ms);
        holding->commit();
    });
    QElapsedTimer waited;
    waited.start();
    EXPECT_TRUE(second.lockUntilTransactionEnds(kOperationLock, 60s));
    EXPECT_LT(waited.elapsed(), 30'000) << "handed over when the holder ended, not at the end of the wait";
    release.join();
    EXPECT_FALSE(holder.inTransaction());
}

#ifndef _WIN32
// A client process killed while it holds the lock leaves nothing behind: the server ends its
// transaction, and with it the lock, as soon as the process is gone.
TEST(Postgres, AClientKilledHoldingTheOperationLockLeavesItFree)
{
    test::PostgresDatabase database;
    const QString server = database.connectionString();
    int up[2];
    ASSERT_EQ(pipe(up), 0);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
#ifdef __linux__
        prctl(PR_SET_PDEATHSIG, SIGKILL);
#endif
        if (getppid() != parent)
            _exit(1);
        close(up[0]);
        char held = 'n';
        try {
            Connection own(server);
            Transaction transaction(own);
            own.execute("CREATE TEMPORARY TABLE mine (n integer)");
            if (own.lockUntilTransactionEnds(kOperationLock, 2s))
                held = 'y';
            if (write(up[1], &held, 1) != 1)
                _exit(1);
            for (;;)
                pause();
        } catch (...) {
        }
        _exit(1);
    }
    Child child(pid);
    close(up[1]);
    char held = 0;
    ASSERT_EQ(read(up[0], &held, 1), 1);
    close(up[0]);
    ASSERT_EQ(held, 'y');

    Connection clerk(server);
    {
        Transaction transaction(clerk);
        EXPECT_FALSE(clerk.lockUntilTransactionEnds(kOperationLock, 200ms)) << "the child holds it";
    }
    const int status = child.killAndWait();
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

    Transaction transaction(clerk);
    EXPECT_TRUE(clerk.lockUntilTransactionEnds(kOperationLock, 10s));
}
#endif

// A statement stopped from another thread ends with Cancelled, and the connection runs nothing
// more; a statement the server gives up on by its own timeout is a failure, not a stop.
TEST(Postgres, CancelFromAnotherThreadStopsTheStatementAndATimeoutIsNoStop)
{
    test::PostgresDatabase database;
    Connection db(database.connectionString());
    {
        Transaction transaction(db);
        db.execute("SET LOCAL statement_timeout = 200");
        const Error timedOut = failureOf([&] { db.execute("SELECT pg_sleep(30)"); });
        EXPECT_EQ(timedOut.number(), platform::errnum::Database) << timedOut.what();
    }

    Transaction transaction(db);
    db.execute("CREATE TABLE t (n integer)");
    std::jthread stopper([&] {
        std::this_thread::sleep_for(300ms);
        db.cancel();
    });
    QElapsedTimer waited;
    waited.start();
    const Error stopped = failureOf([&] { db.execute("SELECT pg_sleep(30)"); });
    stopper.join();
    EXPECT_EQ(stopped.number(), platform::errnum::Cancelled) << stopped.what();
    EXPECT_LT(waited.elapsed(), 20'000);
    EXPECT_EQ(failureOf([&] { db.execute("SELECT 1"); }).number(), platform::errnum::Cancelled);
    EXPECT_EQ(failureOf([&] { transaction.commit(); }).number(), platform::errnum::Cancelled);
    db.rollback();
    EXPECT_FALSE(db.inTransaction());

    Connection other(database.connectionString());
    EXPECT_EQ(other.execute("SELECT count(*) FROM pg_tables WHERE tablename = 't'").integer(0, 0), 0)
        << "the stopped work's table was never committed";
}

// A server that goes away, mid-statement or between two, is a clean Error on every connection,
// never a crash or a hang; a server that cannot be reached is named, its password never.
TEST(Postgres, AServerThatGoesAwayIsACleanErrorNamingItAndNeverItsPassword)
{
    test::PostgresServer server;
    test::PostgresDatabase database(server.connectionString());
    Connection busy(database.connectionString());
    Connection idle(database.connectionString());
    auto statement = idle.prepare("SELECT $1::text");
    const QString socketFolder = busy.serverName().section(u':', 0, 0);
    ASSERT_FALSE(socketFolder.isEmpty());

    Transaction transaction(busy);
    std::jthread stopper([&] {
        std::this_thread::sleep_for(300ms);
        server.stop();
    });
    const Error lost = failureOf([&] { busy.execute("SELECT pg_sleep(30)"); });
    stopper.join();
    EXPECT_EQ(lost.number(), platform::errnum::Database);
    EXPECT_TRUE(lost.description().contains(QStringLiteral("連線中斷"))) << lost.what();
    EXPECT_TRUE(lost.description().contains(socketFolder)) << lost.what();
    EXPECT_FALSE(busy.isConnected());
    EXPECT_EQ(failureOf([&] { busy.execute("SELECT 1"); }).number(), platform::errnum::Database);
    EXPECT_EQ(failureOf([&] { transaction.commit(); }).number(), platform::errnum::Database);

    EXPECT_EQ(failureOf([&] { statement.bind(1, QStringLiteral("x")).run(); }).number(), platform::errnum::Database);
    EXPECT_FALSE(idle.isConnected());

    const QString secret = QStringLiteral("s3cret-密碼");
    const Error refused = failureOf([&] { Connection(database.connectionString() + QStringLiteral(" password=") + secret); });
    EXPECT_EQ(refused.number(), platform::errnum::Database);
    EXPECT_TRUE(refused.description().contains(socketFolder)) << refused.what();
    EXPECT_TRUE(refused.description().contains(database.name())) << refused.what();
    EXPECT_FALSE(refused.description().contains(QStringLiteral("s3cret"))) << refused.what();
    const Error unreadable = failureOf([&] { Connection(QStringLiteral("host=/tmp password=") + secret + QStringLiteral(" stray")); });
    EXPECT_EQ(unreadable.number(), platform::errnum::Database);
    EXPECT_FALSE(unreadable.description().contains(QStringLiteral("s3cret"))) << unreadable.what();
    EXPECT_FALSE(unreadable.description().contains(QStringLiteral("stray"))) << unreadable.what();

    server.start();
    Connection again(database.connectionString());
    EXPECT_EQ(again.execute("SELECT 1").integer(0, 0), 1) << "the database outlives its server's restart";
}
