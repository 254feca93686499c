#include "db/JournalTables.h"

#include <cstring>

namespace talvesk::db::journal {

bool sameValue(const Value &a, const Value &b)
{
    if (a.type != b.type)
        return false;
    switch (a.type) {
    case Value::Integer:
        return a.integer == b.integer;
    case Value::Real:
        return std::memcmp(&a.real, &b.real, sizeof a.real) == 0;
    case Value::Text:
    case Value::Blob:
        return a.size == b.size && (a.size == 0 || std::memcmp(a.bytes, b.bytes, std::size_t(a.size)) == 0);
    case Value::Null:
        break;
    }
    return true;
}

std::vector<std::string> columnNames(const Journalled &t)
{
    std::vector<std::string> names;
    std::string name;
    for (const char *c = t.columns;; ++c) {
        if (*c == ',' || *c == '\0') {
            names.push_back(name);
            name.clear();
            if (*c == '\0')
                break;
        } else if (*c != ' ') {
            name += *c;
        }
    }
    return names;
}

bool sameName(const char *a, const char *b)
{
    // Asked for every row an operation changes: bytes that differ are the same letter only when
    // they differ in the case bit alone and are letters.
    for (;; ++a, ++b) {
        const unsigned char x = static_cast<unsigned char>(*a), y = static_cast<unsigned char>(*b);
        if (x != y) {
            const unsigned char lower = x | 0x20;
            if (lower != (y | 0x20) || lower < 'a' || lower > 'z')
                return false;
        } else if (x == '\0') {
            return true;
        }
    }
}

std::size_t journalledIndex(const char *name)
{
    std::size_t tab = 0;
    while (tab < kJournalled.size() && !sameName(name, kJournalled[tab].table))
        ++tab;
    return tab;
}

} // namespace talvesk::db::journal
