#pragma once

// The program's tables on the office's database server: the same tables and columns as the desk's
// file, every column text, each with a row id column `rid` where the file has its rowid (so rows
// keep their ids when copied, and an undo can bring a row back under its id), and the same indexes.

#include "platform/Postgres.h"
#include "server/ServerSettings.h"

#include <QString>
#include <QStringList>

#include <array>

namespace talvesk::server {

struct ServerTable {
    const char *name;
    const char *columns; // in the file's order, comma-separated
};
inline constexpr std::array<ServerTable, 4> kServerTables{{
    {"F_AccountData", "UserName, UserNum, Memo, Bankcode, Total, PayDate, PayTotal, N_PayTotal, Spare"},
    {"SMdata", "REC, C_NUM, R_NUM, R_M_NUM, TR_DATE, PAY_DATE, BARCODE1, BARCODE2, BARCODE3, P_TOTAL"},
    {"ImportSetting", "item1, item2, item3, item4, item5"},
    {"ImportSetting1", "item1, item2, item3, item4, item5, item6"},
}};


// How many tables server-init makes: the program's and the journal's.
qsizetype tableCount();
// The program's tables (and the journal's) that the server's database holds already.
QStringList existingTables(platform::pg::Connection &server);

// Makes the tables and indexes in one transaction on a database that holds none of them; refuses
// (platform::Error, nothing made) when it holds any. Throws platform::Error.
void createTables(platform::pg::Connection &server);

// A warning when the server's database classifies characters as plain C: its trigram indexes then
// hold no Chinese, and 帳款查詢 reads the whole table for a Chinese fragment. Empty otherwise.
QString characterClassWarning(platform::pg::Connection &server);

} // namespace talvesk::server
