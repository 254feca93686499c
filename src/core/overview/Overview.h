#pragma once

#include "db/Journal.h"
#include "platform/AppFolder.h"
#include "platform/Database.h"

#include <QDate>
#include <QString>

#include <array>
#include <vector>

namespace talvesk::overview {

// Where the collection stands, as the main window shows it and the daily report prints it.

// The states of a receivable, in the order they are shown: paid in full, paid in part, not paid,
// paid more than was due. A receivable with no payment date is unpaid; otherwise its state follows
// what is still outstanding, the amount due less the amount credited, both read as the imports
// read them (the lookup's rule).
enum class State { Paid, Partial, Unpaid, Overpaid };
inline constexpr int kStates = 4;

// 已入帳, 部分入帳, 未入帳, 溢繳.
QString stateCaption(State state);

struct StateFigures {
    qint64 count = 0;
    double due = 0;  // the amount receivable of these receivables
    double paid = 0; // the amount credited to them
    double outstanding() const { return due - paid; }
};

// The amount credited on one payment date (seven digits, YYYMMDD, as stored).
struct DateCredit {
    QString payDate;
    qint64 count = 0;
    double paid = 0;
};

struct Figures {
    std::array<StateFigures, kStates> states{};
    // Newest date first: the latest kCreditDates dates that have payments.
    std::vector<DateCredit> byDate;
    qint64 storeCount = 0;
    double storeAmount = 0;
    // The newest kLatestEntries journal entries, newest first.
    std::vector<db::JournalRecord> latest;
    // On the office's server, the journal's stamp (journalStamp) as the figures were read; empty
    // on the desk's file.
    QByteArray journalStamp;

    const StateFigures &of(State state) const { return states[static_cast<std::size_t>(state)]; }
    qint64 receivables() const;
    double due() const;
    double credited() const;
    double outstanding() const { return due() - credited(); }
};

inline constexpr int kCreditDates = 30;
inline constexpr int kLatestEntries = 5;

// Reads the figures through read-only connections of its own (nothing it does can change the
// database, and on the office's server it never takes the writing lock; it may run on a thread of
// its own), all of them from the database as one commit left it. Throws platform::Error.
Figures readFigures(const platform::AppFolder &app);

// A connection to read from: the desk's file, read-only, or the office's server when
// Env/Database.ini names one. Throws platform::Error.
platform::Database openToRead(const platform::AppFolder &app);

// Every statement read while it is held reads the database as one commit left it; nothing is kept
// when it ends. On the server a read-only transaction at repeatable read: it neither waits for a
// writing clerk nor holds one up.
class ReadSnapshot {
public:
    explicit ReadSnapshot(platform::Database &db);
    ReadSnapshot(const ReadSnapshot &) = delete;
    ReadSnapshot &operator=(const ReadSnapshot &) = delete;

private:
    platform::ReadTransaction reading_;
};

// The figures, read in one pass inside the caller's ReadSnapshot. Throws platform::Error.
Figures readFigures(platform::Database &db);

// On the office's server, what moves whenever the figures may have changed: every operation that
// changes the tables keeps a journal entry and marks it when it ends or is undone, so a stamp of
// the entries and their states tells another clerk's work (a desk's file has its own time of
// change instead). Throws platform::Error.
QByteArray journalStamp(platform::Database &db);
QByteArray journalStamp(const platform::AppFolder &app);

// The state of one receivable from its stored texts, as readFigures counts it.
State stateOf(QByteArrayView payDate, double due, double paid);

// What the daily report adds for one day: the operations of that day from the journal, the
// payments credited on that date, and the lines the day's operations could not use.
struct DayProblem {
    qint64 entry = 0; // the journal entry it belongs to
    db::ProblemLine line;
};

struct DayFigures {
    QDate date;
    std::vector<db::JournalRecord> operations; // in the order they ran
    qint64 creditedCount = 0;
    double creditedSum = 0;
    std::vector<DayProblem> problems; // the first kReportProblems
    qint64 moreProblems = 0;          // how many more there are
};

inline constexpr int kReportProblems = 200;

// Throws platform::Error.
DayFigures readDay(const platform::AppFolder &app, const QDate &date);
// The same inside the caller's ReadSnapshot.
DayFigures readDay(platform::Database &db, const QDate &date);

// The payment date a day is stored as: 2024-12-01 is 1131201 (the year counted from 1911).
QString storedPayDate(const QDate &date);

// How amounts and dates read on the screen and in the report: 1,234,567 (a fraction keeps up to
// two places), and 113/12/01 for a stored 1131201 (any other text as it is).
QString groupedAmount(double value);
QString groupedCount(qint64 value);
QString payDateCaption(const QString &stored);
// 113/12/01 for a day.
QString dayCaption(const QDate &date);

// An operation's counts and state as the clerk reads them (新增 10、更新 1、不變 1、不處理 1; 已復原);
// an entry that kept no changes (a clearing, one made before they were kept) reads 正確 12 筆，
// 不處理 1 筆.
QString countsCaption(const QString &counts, const QString &changes = QString());
inline QString countsCaption(const db::JournalRecord &record) { return countsCaption(record.counts, record.changes); }
QString stateCaption(const db::JournalRecord &record);

} // namespace talvesk::overview
