#include "credentials/Credentials.h"
#include "platform/Files.h"
#include "shell/BatchTool.h"
#include "support/TestApp.h"

#include <QDir>

#include <gtest/gtest.h>

using namespace talvesk;

namespace {

struct BatchRun {
    int code;
    QString out;
    QString err;
};

BatchRun batch(const test::TestApp &app, QStringList args)
{
    QString out, err;
    QTextStream outStream(&out), errStream(&err);
    args.prepend(app.folder().root());
    args.prepend(QStringLiteral("--app-dir"));
    const int code = shell::runBatch(args, QStringLiteral("/nonexistent"), outStream, errStream);
    return {code, out, err};
}

} // namespace

TEST(BatchTool, SetCredentialsStoresTheUpperCasedPairEnciphered)
{
    test::TestApp app;
    const BatchRun r = batch(app, {QStringLiteral("set-credentials"), QStringLiteral("clerk7"), QStringLiteral("pass1234")});
    EXPECT_EQ(r.code, shell::kBatchOk) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(credentials::kSavedMessage));
    const auto stored = credentials::LoadStoredCredentials(app.folder().credentialFile());
    EXPECT_EQ(credentials::DecryptCredential(stored.userName), QStringLiteral("CLERK7"));
    EXPECT_EQ(credentials::DecryptCredential(stored.password), QStringLiteral("PASS1234"));
}

TEST(BatchTool, SetCredentialsRefusesBadValuesAndLeavesTheFileUntouched)
{
    test::TestApp app;
    const QByteArray before = test::readFile(app.folder().credentialFile());
    const QStringList bad[] = {
        {QStringLiteral("ABCDEFGHI"), QStringLiteral("1")},
        {QStringLiteral("AB-C"), QStringLiteral("1")},
        {QStringLiteral("ABC"), QString()},
        {QStringLiteral("ABC"), QStringLiteral("王")},
    };
    for (const QStringList &pair : bad) {
        const BatchRun r = batch(app, QStringList{QStringLiteral("set-credentials"), pair.at(0), pair.at(1)});
        EXPECT_EQ(r.code, shell::kBatchFailed) << pair.join(u' ').toStdString();
        EXPECT_FALSE(r.err.isEmpty());
    }
    EXPECT_TRUE(batch(app, {QStringLiteral("set-credentials"), QStringLiteral("ABCDEFGHI"), QStringLiteral("1")})
                    .err.contains(QStringLiteral("使用者名稱至多8位數!")));
    EXPECT_EQ(test::readFile(app.folder().credentialFile()), before);
}

TEST(BatchTool, SetCredentialsReportsAWriteFailure)
{
    test::TestApp app;
    QDir(app.folder().credentialFolder()).removeRecursively();
    const BatchRun r = batch(app, {QStringLiteral("set-credentials"), QStringLiteral("A"), QStringLiteral("B")});
    EXPECT_EQ(r.code, shell::kBatchFailed);
    EXPECT_TRUE(r.err.contains(credentials::kSaveFailedMessage));
    EXPECT_FALSE(platform::fileExists(app.folder().credentialFile()));
}

TEST(BatchTool, CompactSucceedsOnADatabaseAndFailsOnJunk)
{
    test::TestApp app;
    BatchRun r = batch(app, {QStringLiteral("compact")});
    EXPECT_EQ(r.code, shell::kBatchOk) << r.err.toStdString();
    EXPECT_TRUE(r.out.startsWith(QStringLiteral("compact: ")));

    test::writeFile(app.folder().databaseFile(), "not a database at all");
    r = batch(app, {QStringLiteral("compact")});
    EXPECT_EQ(r.code, shell::kBatchFailed);
    EXPECT_EQ(test::readFile(app.folder().databaseFile()), QByteArray("not a database at all"));
}

TEST(BatchTool, BadUsageExitsWithTwo)
{
    test::TestApp app;
    EXPECT_EQ(batch(app, {}).code, shell::kBatchUsage);
    EXPECT_EQ(batch(app, {QStringLiteral("no-such-command")}).code, shell::kBatchUsage);
    EXPECT_EQ(batch(app, {QStringLiteral("set-credentials"), QStringLiteral("ONE")}).code, shell::kBatchUsage);
    EXPECT_EQ(batch(app, {QStringLiteral("compact"), QStringLiteral("extra")}).code, shell::kBatchUsage);
}
