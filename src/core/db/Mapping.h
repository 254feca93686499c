#pragma once

#include "platform/Database.h"

#include <QString>
#include <QStringList>

namespace talvesk::db {

// A worksheet column mapping table: ImportSetting (five items) or ImportSetting1 (six).
struct MappingTable {
    QString table;
    int items;
};

inline const MappingTable kReceivablesMapping{QStringLiteral("ImportSetting"), 5};
inline const MappingTable kPaymentsMapping{QStringLiteral("ImportSetting1"), 6};

// The items of the first row; all empty when the table has no row.
QStringList readMapping(platform::Database &db, const MappingTable &table);
// Inserts the one row when the table has none, otherwise gives every row these values; one
// transaction.
void saveMapping(platform::Database &db, const MappingTable &table, const QStringList &values);

} // namespace talvesk::db
