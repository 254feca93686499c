#pragma once

#include "platform/AppFolder.h"
#include "platform/Database.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace talvesk::test {

// Every row of a table in table order, each as its column texts.
std::vector<QStringList> tableRows(const platform::AppFolder &app, const QString &table);
// Both program tables whole, a line per row: the table's letter, the row id, and every value
// quoted with its type (NULL is not the empty text, 5 is not '5').
QStringList bothTables(platform::Database &db);
// Runs statements against the application's database (test setup only).
void execute(const platform::AppFolder &app, const char *sql);
// One receivable: name, number, memo, account, total; the payment columns empty.
void addReceivable(const platform::AppFolder &app, const QString &account, const QString &total,
                   const QString &name = QStringLiteral("客戶"));

// Another program on the same database: a second real connection holding a read transaction
// while it lives, so that no writer can commit until it goes (past the writer's wait).
class ReaderHoldingTheDatabase {
public:
    explicit ReaderHoldingTheDatabase(const platform::AppFolder &app);
    ~ReaderHoldingTheDatabase();
    ReaderHoldingTheDatabase(const ReaderHoldingTheDatabase &) = delete;
    ReaderHoldingTheDatabase &operator=(const ReaderHoldingTheDatabase &) = delete;

private:
    platform::Database db_;
};

// A full disk as the program meets it: while this lives, no file of this process may grow past
// `maxFileBytes` (a real limit on real writes, RLIMIT_FSIZE, with the signal it raises ignored so
// that the write fails instead).
class FileSizeLimit {
public:
    explicit FileSizeLimit(qint64 maxFileBytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

private:
    unsigned long long savedSoft_ = 0;
    void (*savedHandler_)(int) = nullptr;
};

// One receivable of each state (the paid one's amount due written with grouping: "1,500") and
// two store records, as the overview's and the daily report's tests read them.
void seedEveryState(const platform::AppFolder &app);

} // namespace talvesk::test
