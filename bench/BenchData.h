#pragma once

// Data the benchmarks make for themselves: workbooks of receivables and payments, an empty
// application folder, and copies of databases, all in one temporary folder.

#include "platform/AppFolder.h"

#include <QString>
#include <QTemporaryDir>

#include <string>

namespace talvesk::bench {

constexpr int kRows = 100000;

class BenchData {
public:
    static BenchData &instance();

    const QString &receivablesBook() const { return receivablesBook_; }
    const QString &paymentsBook() const { return paymentsBook_; }
    const QString &receivablesCsv() const { return receivablesCsv_; }
    // A fresh application folder whose database is a copy of `databaseFile` (empty by default).
    platform::AppFolder freshApp(const QString &name, const QString &databaseFile = QString());
    // A database holding the 100,000 receivables (made once).
    const QString &filledDatabase();
    QString path(const QString &name) const { return dir_.path() + u'/' + name; }

private:
    BenchData();
    QTemporaryDir dir_;
    QString emptyDatabase_;
    QString filledDatabase_;
    QString receivablesBook_;
    QString paymentsBook_;
    QString receivablesCsv_;
};

// Writes `rows` receivables (name, number, note, account, amount under a header row) to a workbook
// with a shared-string table, as the spreadsheet program writes it, and the same rows to a CSV file.
void writeReceivables(int rows, const QString &xlsx, const QString &csv);

// The virtual account of the i-th receivable the benchmarks make.
std::string account(int i);

// Runs an sqlite3 shell script against a new database file `db` (the floor the imports are
// measured against). Returns whether sqlite3 ran and succeeded.
bool runSqliteScript(const QString &db, const QByteArray &script);

// Peak resident memory of this process so far, in megabytes.
double peakMemoryMb();

} // namespace talvesk::bench
