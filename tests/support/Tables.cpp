#include "support/Tables.h"

#include "db/Connection.h"

#include <csignal>
#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace talvesk::test {

std::vector<QStringList> tableRows(const platform::AppFolder &app, const QString &table)
{
    platform::Database db = db::openDatabase(app);
    auto q = db.prepare("SELECT * FROM " + table.toStdString() + " ORDER BY rowid");
    std::vector<QStringList> rows;
    while (q.next()) {
        QStringList row;
        for (int i = 0; i < q.columnCount(); ++i)
            row << q.text(i);
        rows.push_back(row);
    }
    return rows;
}

QStringList bothTables(platform::Database &db)
{
    QStringList rows;
    for (const char *sql :
         {"SELECT 'R', rowid, quote(UserName), quote(UserNum), quote(Memo), quote(Bankcode), quote(Total), "
          "quote(PayDate), quote(PayTotal), quote(N_PayTotal), quote(Spare) FROM F_AccountData ORDER BY rowid",
          "SELECT 'S', rowid, quote(REC), quote(C_NUM), quote(R_NUM), quote(R_M_NUM), quote(TR_DATE), quote(PAY_DATE), "
          "quote(BARCODE1), quote(BARCODE2), quote(BARCODE3), quote(P_TOTAL) FROM SMdata ORDER BY rowid"}) {
        platform::Statement q = db.prepare(sql);
        while (q.next()) {
            QStringList row;
            for (int i = 0; i < q.columnCount(); ++i)
                row << q.text(i);
            rows << row.join(u'|');
        }
    }
    return rows;
}

void execute(const platform::AppFolder &app, const char *sql)
{
    platform::Database db = db::openDatabase(app);
    db.execute(sql);
}

void addReceivable(const platform::AppFolder &app, const QString &account, const QString &total, const QString &name)
{
    platform::Database db = db::openDatabase(app);
    auto insert = db.prepare("INSERT INTO F_AccountData VALUES (?1, 'N', 'M', ?2, ?3, '', '', '', '')");
    insert.bind(1, name).bind(2, account).bind(3, total).run();
}

ReaderHoldingTheDatabase::ReaderHoldingTheDatabase(const platform::AppFolder &app) : db_(db::openDatabase(app))
{
    db_.execute("BEGIN; SELECT count(*) FROM F_AccountData; SELECT count(*) FROM SMdata;");
}

ReaderHoldingTheDatabase::~ReaderHoldingTheDatabase()
{
    try {
        db_.execute("COMMIT");
    } catch (...) {
    }
}

#ifdef _WIN32
// Windows has no limit of a process on the size of the files it writes: the tests that need one
// are listed in tests/windows/not-under-wine.txt and not run there.
FileSizeLimit::FileSizeLimit(qint64) {}
FileSizeLimit::~FileSizeLimit() = default;
#else
FileSizeLimit::FileSizeLimit(qint64 maxFileBytes)
{
    savedHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    savedSoft_ = limit.rlim_cur;
    limit.rlim_cur = static_cast<rlim_t>(maxFileBytes);
    setrlimit(RLIMIT_FSIZE, &limit);
}

FileSizeLimit::~FileSizeLimit()
{
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = static_cast<rlim_t>(savedSoft_);
    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, savedHandler_);
}
#endif

void seedEveryState(const platform::AppFolder &app)
{
    execute(app, "INSERT INTO F_AccountData VALUES "
                 "('甲', 'C1', '', 'A1', '1,500', '1131201', '1500', '0', ''),"
                 "('乙', 'C2', '', 'A2', '2000', '1131201', '500', '1500', ''),"
                 "('丙', 'C3', '', 'A3', '3000', '', '', '', ''),"
                 "('丁', 'C4', '', 'A4', '1000', '1131130', '1200', '-200', '');"
                 "INSERT INTO SMdata VALUES ('2', 'C', 'R', 'M', '1131201', '1131130', 'B1', 'K1', 'B3', '350'),"
                 "('2', 'C', 'R', 'M', '1131201', '1131130', 'B1', 'K2', 'B3', '1200');");
}

} // namespace talvesk::test
