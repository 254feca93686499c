// The text-file imports on 100,000 lines, beside the floor: sqlite3's own .import of the same
// fields from a CSV file into an indexed table.
#include "BenchData.h"
#include "Floor.h"

#include "payments/BankImport.h"
#include "platform/Codec950.h"
#include "store/StoreImport.h"

#include <QCoreApplication>
#include <QFile>

#include <benchmark/benchmark.h>

using namespace talvesk;
using bench::BenchData;

namespace {

struct TextFiles {
    QString bank, bankCsv, store, storeCsv;
};

QString account(int i)
{
    return QStringLiteral("95120%1").arg(i, 11, 10, QLatin1Char('0'));
}

const TextFiles &textFiles()
{
    static const TextFiles files = [] {
        auto &data = BenchData::instance();
        TextFiles f{data.path(QStringLiteral("bank.txt")), data.path(QStringLiteral("bank.csv")),
                    data.path(QStringLiteral("TFM.txt")), data.path(QStringLiteral("store.csv"))};
        QString bank, bankCsv, store, storeCsv;
        for (int i = 1; i <= bench::kRows; ++i) {
            const QString date = QStringLiteral("11301%1").arg(i % 28 + 1, 2, 10, QLatin1Char('0'));
            const QString amount = QStringLiteral("%1").arg(500 + i % 9000, 11, 10, QLatin1Char('0'));
            bank += QStringLiteral("王小明%1").arg(i % 100000, 5, 10, QLatin1Char('0')).leftJustified(11, u' ', true) + date
                + QStringLiteral("TWD ") + amount + QStringLiteral("轉帳存入").leftJustified(14) + account(i).leftJustified(25) + QStringLiteral("\r\n");
            bankCsv += date + u',' + amount + u',' + account(i) + u'\n';
            const QString barcode2 = QStringLiteral("%1").arg(i, 20, 10, QLatin1Char('0'));
            const QString barcode3 = QStringLiteral("010105%1").arg(500 + i % 9000, 9, 10, QLatin1Char('0'));
            store += QStringLiteral("212345678AG01    S001    ") + QStringLiteral("門市代收").leftJustified(19)
                + QStringLiteral("2024010520240104131231A12") + barcode2 + barcode3
                + QStringLiteral("\r\n");
            storeCsv += QStringLiteral("2,12345678,AG01,S001,20240105,20240104,131231A12,") + barcode2 + u',' + barcode3 + u','
                + QString::number(500 + i % 9000) + u'\n';
        }
        auto write = [](const QString &path, const QByteArray &bytes) {
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
                throw std::runtime_error("cannot write bench file");
        };
        write(f.bank, platform::codec950::encode(bank));
        write(f.bankCsv, bankCsv.toUtf8());
        write(f.store, platform::codec950::encode(store));
        write(f.storeCsv, storeCsv.toUtf8());
        return f;
    }();
    return files;
}

} // namespace

static void BankFileAgainst100kReceivables(benchmark::State &state)
{
    auto &data = BenchData::instance();
    const QString filled = data.filledDatabase();
    for (auto _ : state) {
        state.PauseTiming();
        const auto app = data.freshApp(QStringLiteral("bank-run"), filled);
        state.ResumeTiming();
        const auto counts = payments::BankImport(app).run(textFiles().bank, {});
        if (counts.applied != bench::kRows || counts.abnormal != 0)
            state.SkipWithError("not every record was applied");
    }
    state.counters["peak_MB"] = bench::peakMemoryMb();
}
BENCHMARK(BankFileAgainst100kReceivables)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

static void StoreFileIntoEmpty100k(benchmark::State &state)
{
    auto &data = BenchData::instance();
    for (auto _ : state) {
        state.PauseTiming();
        const auto app = data.freshApp(QStringLiteral("store-run"));
        state.ResumeTiming();
        const auto counts = store::StoreImport(app).run(textFiles().store, {});
        if (counts.applied != bench::kRows)
            state.SkipWithError("not every record was stored");
    }
    state.counters["peak_MB"] = bench::peakMemoryMb();
}
BENCHMARK(StoreFileIntoEmpty100k)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

static void SqliteImportFloorBank100k(benchmark::State &state)
{
    bench::sqliteFloor(state, BenchData::instance().path(QStringLiteral("floor-bank.db")),
                       "CREATE TABLE P(PayDate TEXT, PayTotal TEXT, Bankcode TEXT);\n"
                       "CREATE INDEX P_Bankcode ON P(Bankcode);\n.mode csv\n.import '"
                           + QFile::encodeName(textFiles().bankCsv) + "' P\n");
}
BENCHMARK(SqliteImportFloorBank100k)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

static void SqliteImportFloorStore100k(benchmark::State &state)
{
    bench::sqliteFloor(state, BenchData::instance().path(QStringLiteral("floor-store.db")),
                       "CREATE TABLE S(REC, C_NUM, R_NUM, R_M_NUM, TR_DATE, PAY_DATE, BARCODE1, BARCODE2, BARCODE3, P_TOTAL);\n"
                       "CREATE INDEX S_BARCODE2 ON S(BARCODE2);\n.mode csv\n.import '"
                           + QFile::encodeName(textFiles().storeCsv) + "' S\n");
}
BENCHMARK(SqliteImportFloorStore100k)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    textFiles();
    BenchData::instance().filledDatabase();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
