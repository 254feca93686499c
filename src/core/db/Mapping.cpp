#include "db/Mapping.h"

#include <string>

namespace talvesk::db {

namespace {

std::string itemList(const MappingTable &t, const char *each, const char *separator)
{
    std::string list;
    for (int i = 1; i <= t.count(); ++i) {
        if (i > 1)
            list += separator;
        std::string item = each;
        const auto at = item.find('#');
        item.replace(at, 1, std::to_string(i));
        if (const auto again = item.find('#'); again != std::string::npos)
            item.replace(again, 1, std::to_string(i));
        list += item;
    }
    return list;
}

} // namespace

QStringList readMapping(platform::Database &db, const MappingTable &table)
{
    auto query = db.prepare("SELECT " + itemList(table, "item#", ",") + " FROM " + table.table.toStdString()
                            + " LIMIT 1");
    QStringList items;
    const bool found = query.next();
    for (int i = 0; i < table.count(); ++i)
        items << (found ? query.text(i) : QString());
    return items;
}

void saveMapping(platform::Database &db, const MappingTable &table, const QStringList &values)
{
    const std::string name = table.table.toStdString();
    platform::Transaction transaction(db);
    auto any = db.prepare("SELECT 1 FROM " + name + " LIMIT 1");
    const bool hasRow = any.next();
    platform::Statement write = hasRow
        ? db.prepare("UPDATE " + name + " SET " + itemList(table, "item#=?#", ","))
        : db.prepare("INSERT INTO " + name + " (" + itemList(table, "item#", ",") + ") VALUES ("
                     + itemList(table, "?#", ",") + ")");
    for (int i = 0; i < table.count(); ++i)
        write.bind(i + 1, i < values.size() ? values.at(i).trimmed() : QString());
    write.run();
    transaction.commit();
}

} // namespace talvesk::db
