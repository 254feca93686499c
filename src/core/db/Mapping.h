#pragma once

#include "platform/Database.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace talvesk::db {

// One item of a mapping: the field it maps, and how many column letters it may hold.
struct MappingItem {
    QString caption;
    int maxLetters;
};

// A worksheet column mapping table: ImportSetting (five items) or ImportSetting1 (six), its items
// in the order of the columns item1, item2, ...
struct MappingTable {
    QString table;
    std::vector<MappingItem> items;
    int count() const { return static_cast<int>(items.size()); }
};

// The receivables mapping's items, by position.
namespace receivablesItem {
enum : int { Name, Number, Note, Account, Amount };
}
// The credited-payment mapping's items, by position.
namespace paymentItem {
enum : int { Date, Summary, Amount, Time, Account, Note };
}

inline const MappingTable kReceivablesMapping{QStringLiteral("ImportSetting"),
                                              {{QStringLiteral("客戶名稱"), 1},
                                               {QStringLiteral("客戶編號"), 1},
                                               {QStringLiteral("應收款項備註"), 1},
                                               {QStringLiteral("虛擬帳號"), 1},
                                               {QStringLiteral("應收金額"), 4}}};
inline const MappingTable kPaymentsMapping{QStringLiteral("ImportSetting1"),
                                           {{QStringLiteral("交易日期"), 1},
                                            {QStringLiteral("摘要"), 1},
                                            {QStringLiteral("金額"), 1},
                                            {QStringLiteral("入帳時間"), 1},
                                            {QStringLiteral("虛擬帳號"), 4},
                                            {QStringLiteral("備註"), 4}}};

// The items of the first row; all empty when the table has no row.
QStringList readMapping(platform::Database &db, const MappingTable &table);
// Inserts the one row when the table has none, otherwise gives every row these values; one
// transaction.
void saveMapping(platform::Database &db, const MappingTable &table, const QStringList &values);

} // namespace talvesk::db
