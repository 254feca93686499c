#pragma once

#include "platform/Database.h"

#include <QString>
#include <QStringList>

namespace talvesk::db {

inline const QString kReceivablesTable = QStringLiteral("F_AccountData");
inline const QString kStoreTable = QStringLiteral("SMdata");
inline const QString kReceivablesMappingTable = QStringLiteral("ImportSetting");
inline const QString kPaymentsMappingTable = QStringLiteral("ImportSetting1");

// The four tables every database of the program holds.
QStringList programTables();

// The names of the tables among the four that `db` lacks; empty when it holds them all.
QStringList missingProgramTables(platform::Database &db);

} // namespace talvesk::db
