#include "db/Tables.h"

namespace talvesk::db {

QStringList programTables()
{
    return {kReceivablesTable, kStoreTable, kReceivablesMappingTable, kPaymentsMappingTable};
}

QStringList missingProgramTables(platform::Database &db)
{
    QStringList missing;
    for (const QString &table : programTables()) {
        if (!db.hasTable(table))
            missing << table;
    }
    return missing;
}

} // namespace talvesk::db
