// Makes the data of the million-row measurements (bench/million.sh): a receivables workbook of N
// rows with shared strings as Excel writes them, the same rows as CSV for sqlite3's floor, a bank
// file of N records against them (and its CSV), and an application folder with an empty database
// and the column mapping.
//   make_bench_rows N FOLDER
#include "db/Connection.h"
#include "db/Installation.h"
#include "db/Mapping.h"
#include "platform/AppFolder.h"
#include "platform/Codec950.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <xlsxwriter.h>

#include <cstdio>
#include <stdexcept>
#include <string>

#include "BenchData.h"

using namespace talvesk;

namespace {

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush())
        throw std::runtime_error("cannot write " + path.toStdString());
}

void writeBank(int rows, const QString &bankPath, const QString &csvPath)
{
    QString bank;
    QByteArray csv;
    for (int i = 1; i <= rows; ++i) {
        const QString date = QStringLiteral("11301%1").arg(i % 28 + 1, 2, 10, QLatin1Char('0'));
        const QString amount = QStringLiteral("%1").arg(500 + i % 9000, 11, 10, QLatin1Char('0'));
        const QString acc = QString::fromStdString(bench::account(i));
        bank += QStringLiteral("王小明%1").arg(i % 100000, 5, 10, QLatin1Char('0')).leftJustified(11, u' ', true) + date
            + QStringLiteral("TWD ") + amount + QStringLiteral("轉帳存入").leftJustified(14) + acc.leftJustified(25)
            + QStringLiteral("\r\n");
        csv += (date + u',' + amount + u',' + acc + u'\n').toUtf8();
    }
    writeFile(bankPath, platform::codec950::encode(bank));
    writeFile(csvPath, csv);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_bench_rows N FOLDER\n");
        return 2;
    }
    const int rows = std::atoi(argv[1]);
    const QString dir = QString::fromLocal8Bit(argv[2]);
    try {
        QDir().mkpath(dir);
        bench::writeReceivables(rows, dir + QStringLiteral("/receivables.xlsx"), dir + QStringLiteral("/receivables.csv"));
        writeBank(rows, dir + QStringLiteral("/bank.txt"), dir + QStringLiteral("/bank.csv"));
        QFile schema(QStringLiteral(TALVESK_SCHEMA_FILE));
        if (!schema.open(QIODevice::ReadOnly))
            throw std::runtime_error("no schema file");
        const platform::AppFolder folder(dir + QStringLiteral("/app"));
        QDir().mkpath(folder.databaseFolder());
        const QString empty = dir + QStringLiteral("/empty.mdb");
        QFile::remove(empty);
        db::createDatabase(empty, QString::fromUtf8(schema.readAll()));
        QFile::remove(folder.databaseFile());
        if (!QFile::copy(empty, folder.databaseFile()))
            throw std::runtime_error("cannot copy the database");
        QFile::setPermissions(folder.databaseFile(), QFile::ReadOwner | QFile::WriteOwner);
        platform::Database db = db::openDatabase(folder);
        db::saveMapping(db, db::kReceivablesMapping,
                        {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C"), QStringLiteral("D"), QStringLiteral("E")});
    } catch (const std::exception &e) {
        std::fprintf(stderr, "make_bench_rows: %s\n", e.what());
        return 1;
    }
    return 0;
}
