// The main window's overview on the office's server, against a real one: it follows what another
// desk does there, which the desk's own file never shows.
#include "core/shell/BatchRun.h"
#include "shell/OverviewPanel.h"
#include "support/Postgres.h"
#include "support/TestApp.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QLabel>

#include <gtest/gtest.h>

using namespace talvesk;
using test::batch;

namespace {

// Waits up to 15 s (five of the panel's polls) for the overview's count of all receivables.
bool showsCount(shell::OverviewPanel &panel, const QString &count)
{
    auto *all = panel.findChild<QLabel *>(QStringLiteral("allCount"));
    const QDeadlineTimer deadline(15000);
    while (!deadline.hasExpired()) {
        if (all && all->text() == count && !panel.reading())
            return true;
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return false;
}

} // namespace

// Another desk's import, and its undo (which adds no entry, only marks one), reach the overview
// by themselves; the desk's own file is not touched by any of it.
TEST(OverviewOnServer, FollowsAnotherDesksImportAndUndo)
{
    test::TestApp app;
    test::PostgresDatabase database;
    test::nameServer(app, database.connectionString());
    ASSERT_EQ(batch(app, {QStringLiteral("server-init")}).code, shell::kBatchOk);
    ASSERT_EQ(batch(app, {QStringLiteral("map-receivables"), QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C"),
                          QStringLiteral("D"), QStringLiteral("E")})
                  .code,
              shell::kBatchOk);
    const QDateTime deskFile = QFileInfo(app.folder().databaseFile()).lastModified();

    shell::OverviewPanel panel(app.folder());
    panel.resize(800, 500);
    panel.show();
    ASSERT_TRUE(showsCount(panel, QStringLiteral("0")));

    const QString workbook = app.path(QStringLiteral("other.csv"));
    test::writeFile(workbook, "name,number,memo,account,total\n甲,1,,A1,1500\n乙,2,,A2,2000\n丙,3,,A3,3000\n");
    ASSERT_EQ(batch(app, {QStringLiteral("import-receivables"), workbook}).code, shell::kBatchOk);
    EXPECT_TRUE(showsCount(panel, QStringLiteral("3")));
    EXPECT_EQ(panel.findChild<QLabel *>(QStringLiteral("allDue"))->text(), QStringLiteral("6,500"));

    ASSERT_EQ(batch(app, {QStringLiteral("undo")}).code, shell::kBatchOk);
    EXPECT_TRUE(showsCount(panel, QStringLiteral("0")));
    EXPECT_EQ(QFileInfo(app.folder().databaseFile()).lastModified(), deskFile);
}
