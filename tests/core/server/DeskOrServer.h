#pragma once

#include "core/shell/BatchRun.h"
#include "support/Postgres.h"
#include "support/TestApp.h"

#include <optional>
#include <stdexcept>

namespace talvesk::test {

// The folder of a test that runs on both databases: its desk's own file, or (on the server) a new
// database of the test server that server-init has made and Env/Database.ini names.
struct DeskOrServer {
    TestApp app;
    std::optional<PostgresDatabase> database;
    BatchRun init{0, {}, {}}; // what server-init said

    explicit DeskOrServer(bool onServer)
    {
        if (!onServer)
            return;
        database.emplace();
        nameServer(app, database->connectionString());
        init = batch(app, {QStringLiteral("server-init")});
        if (init.code != shell::kBatchOk)
            throw std::runtime_error("server-init failed: " + init.err.toStdString());
    }
};

} // namespace talvesk::test
