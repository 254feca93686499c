#pragma once

#include "BenchData.h"

#include <benchmark/benchmark.h>

namespace talvesk::bench {

// Times sqlite3's own loading of the same rows: the floor an import is compared with.
inline void sqliteFloor(benchmark::State &state, const QString &db, const QByteArray &script)
{
    for (auto _ : state) {
        if (!runSqliteScript(db, script))
            state.SkipWithError("sqlite3 failed (is the sqlite3 package installed?)");
    }
}

} // namespace talvesk::bench
