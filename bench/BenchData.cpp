#include "BenchData.h"

#include "db/Connection.h"
#include "db/Installation.h"
#include "db/Mapping.h"
#include "platform/Process.h"
#include "receivables/ReceivablesImport.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <xlsxwriter.h>

#include <stdexcept>
#include <string>
#include <sys/resource.h>

namespace talvesk::bench {

namespace {

// The benchmarks run the operations in their own process, set up as the programs set theirs.
[[maybe_unused]] const bool kPrepared = (platform::prepareProcess(), true);

QString readSchema()
{
    QFile file(QStringLiteral(TALVESK_SCHEMA_FILE));
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("no schema file");
    return QString::fromUtf8(file.readAll());
}

} // namespace

std::string account(int i)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "95120%011d", i);
    return buffer;
}

void writeReceivables(int rows, const QString &xlsx, const QString &csv)
{
    lxw_workbook_options options{};
    options.constant_memory = LXW_FALSE; // shared strings, as Excel writes them
    lxw_workbook *wb = workbook_new_opt(QFile::encodeName(xlsx).constData(), &options);
    lxw_worksheet *ws = workbook_add_worksheet(wb, "Sheet1");
    QFile out(csv);
    if (!out.open(QIODevice::WriteOnly))
        throw std::runtime_error("cannot write csv");
    const char *heads[] = {"客戶名稱", "客戶編號", "備註", "虛擬帳號", "應收金額"};
    for (int c = 0; c < 5; ++c)
        worksheet_write_string(ws, 0, static_cast<lxw_col_t>(c), heads[c], nullptr);
    char name[64], number[32], memo[32];
    for (int i = 1; i <= rows; ++i) {
        std::snprintf(name, sizeof name, "客戶%d號", i);
        std::snprintf(number, sizeof number, "C%07d", i);
        std::snprintf(memo, sizeof memo, "114年度第%d期", i % 12 + 1);
        const std::string acc = account(i);
        const double total = 1000 + (i * 37) % 90000;
        const auto row = static_cast<lxw_row_t>(i);
        worksheet_write_string(ws, row, 0, name, nullptr);
        worksheet_write_string(ws, row, 1, number, nullptr);
        worksheet_write_string(ws, row, 2, memo, nullptr);
        worksheet_write_string(ws, row, 3, acc.c_str(), nullptr);
        worksheet_write_number(ws, row, 4, total, nullptr);
        out.write(QStringLiteral("%1,%2,%3,%4,%5\n")
                      .arg(QString::fromUtf8(name), QString::fromLatin1(number), QString::fromUtf8(memo),
                           QString::fromLatin1(acc.c_str()))
                      .arg(total)
                      .toUtf8());
    }
    if (workbook_close(wb) != LXW_NO_ERROR)
        throw std::runtime_error("cannot write workbook");
}

namespace {

void writePayments(const QString &xlsx)
{
    lxw_workbook *wb = workbook_new(QFile::encodeName(xlsx).constData());
    lxw_worksheet *ws = workbook_add_worksheet(wb, "Sheet1");
    const char *heads[] = {"交易日期", "摘要", "金額", "入帳時間", "虛擬帳號", "備註"};
    for (int c = 0; c < 6; ++c)
        worksheet_write_string(ws, 0, static_cast<lxw_col_t>(c), heads[c], nullptr);
    for (int i = 1; i <= kRows; ++i) {
        const auto row = static_cast<lxw_row_t>(i);
        worksheet_write_number(ws, row, 0, 1130105 + i % 20, nullptr);
        worksheet_write_string(ws, row, 1, "ATM轉帳", nullptr);
        worksheet_write_number(ws, row, 2, 500 + (i * 13) % 5000, nullptr);
        worksheet_write_string(ws, row, 3, "10:15:00", nullptr);
        // One row in ten is for an account that is not there.
        worksheet_write_string(ws, row, 4, account(i % 10 == 0 ? kRows + i : i).c_str(), nullptr);
    }
    if (workbook_close(wb) != LXW_NO_ERROR)
        throw std::runtime_error("cannot write workbook");
}

} // namespace

BenchData &BenchData::instance()
{
    static BenchData data;
    return data;
}

BenchData::BenchData()
{
    emptyDatabase_ = path(QStringLiteral("empty.mdb"));
    db::createDatabase(emptyDatabase_, readSchema());
    receivablesBook_ = path(QStringLiteral("receivables.xlsx"));
    receivablesCsv_ = path(QStringLiteral("receivables.csv"));
    paymentsBook_ = path(QStringLiteral("payments.xlsx"));
    writeReceivables(kRows, receivablesBook_, receivablesCsv_);
    writePayments(paymentsBook_);
}

platform::AppFolder BenchData::freshApp(const QString &name, const QString &databaseFile)
{
    const platform::AppFolder app(path(name));
    QDir(app.root()).removeRecursively();
    QDir().mkpath(app.databaseFolder());
    QFile::copy(databaseFile.isEmpty() ? emptyDatabase_ : databaseFile, app.databaseFile());
    QFile::setPermissions(app.databaseFile(), QFile::ReadOwner | QFile::WriteOwner);
    platform::Database db = db::openDatabase(app);
    db::saveMapping(db, db::kReceivablesMapping,
                    {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C"), QStringLiteral("D"), QStringLiteral("E")});
    db::saveMapping(db, db::kPaymentsMapping,
                    {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C"), QStringLiteral("D"), QStringLiteral("E"),
                     QStringLiteral("F")});
    return app;
}

const QString &BenchData::filledDatabase()
{
    if (filledDatabase_.isEmpty()) {
        const platform::AppFolder app = freshApp(QStringLiteral("filled"));
        receivables::ReceivablesImport(app).run(receivablesBook_, QStringLiteral("Sheet1"), {});
        filledDatabase_ = app.databaseFile();
    }
    return filledDatabase_;
}

bool runSqliteScript(const QString &db, const QByteArray &script)
{
    QFile::remove(db);
    QProcess sqlite;
    sqlite.start(QStringLiteral("sqlite3"), {db});
    sqlite.write(script);
    sqlite.closeWriteChannel();
    return sqlite.waitForFinished(60000) && sqlite.exitStatus() == QProcess::NormalExit && sqlite.exitCode() == 0;
}

double peakMemoryMb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

} // namespace talvesk::bench
