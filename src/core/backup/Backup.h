#pragma once

#include "platform/AppFolder.h"

#include <QDateTime>
#include <QString>

#include <array>

namespace talvesk::platform {
class Error;
}

namespace talvesk::backup {

// What a backup and a restore say when they end well.
inline const QString kBackupDone = QStringLiteral("備份作業完成！");
inline const QString kRestoreDone = QStringLiteral("回復作業完成!");

constexpr int kSlots = 6;

// The file of a slot (1 to 6), as written: "Vellaroke.m01"; 0 (no slot chosen) is "Vellaroke.bak".
QString slotFileName(int slot);
// The caption a slot shows when its file is on the drive: "Vellaroke.M01".
QString slotCaption(int slot);

// The drive prefix of a drive list text: up to and including its first ":" where there is one
// (a classic drive letter), otherwise the whole text (a volume's root folder).
QString drivePrefix(const QString &driveText);
// Where a slot's file lives on a drive.
QString slotPath(const QString &prefix, const QString &fileName);

// What a slot holds on a drive: whether its file is there, when it was written and how big it is.
struct SlotContent {
    bool found = false;
    QDateTime written; // local time
    qint64 size = 0;
};
// The six slots of a drive. Drive "a:" is never probed: nothing found.
std::array<SlotContent, kSlots> slotContents(const QString &prefix);
// The captions of the six slots for a drive: a slot's capital-M name when its file is in the
// drive's root, empty when it is not. Drive "a:" is never probed: all empty.
std::array<QString, kSlots> slotCaptions(const QString &prefix);
// What a slot's option says: the capital-M name with the backup's date, time and size
// ("第 2 格：Vellaroke.M02   2024/05/01 14:32   1.2 MB"), or plainly that the slot holds none.
QString slotDescription(int slot, const SlotContent &content);

// What the question before overwriting a slot adds: when the backup it replaces was written
// ("第 1 格的備份是 2026/12/09 05:49 做的").
QString replacedBackupText(int slot, const SlotContent &content);

// A backup that failed because of the place it was going to rather than the database.
enum class PlaceProblem { None, WriteProtected, NoSpace };
PlaceProblem placeProblem(const platform::Error &error);
// What the operator is told about such a place (`place` as the drive list shows it).
QString placeProblemText(PlaceProblem problem, const QString &place);

// Copies the database file to `target`: the database is opened first (an unusable file fails
// there) and read-locked while it is copied, so no other connection commits halfway through the
// copy (one that holds the database for writing makes the backup fail with 70, the database in
// use). A place without room for the whole copy is refused before anything is written (57, with
// the system error ENOSPC). The copy is written under a scratch name and renamed over any old
// file, so a failure part-way never leaves a broken backup under the slot's name. Throws
// platform::Error.
void backupDatabase(const platform::AppFolder &app, const QString &target);

// What a restore found in the database's place and where that is kept now.
struct RestoreOutcome {
    enum class Previous { Kept, Missing, Damaged };
    Previous previous = Previous::Kept;
    QString safetyCopy; // the database as it was (ldb/BeforeRestore.mdb); empty when there was none
    QString damage;     // Damaged: why the database could not be used
};

// Puts the backup at `source` in the database's place. The backup must be a sound database (the
// engine's integrity check) holding the program's four tables; otherwise it is refused with the
// reason. The database is then held exclusively, copied whole to ldb/BeforeRestore.mdb, and its
// content replaced with the backup's through the engine's online backup, so another connection
// sees the old rows or the restored ones, or the restore fails with 70 after the busy wait and
// changes nothing. A read-only database is refused (70). A missing database, or one the engine
// cannot use, is no obstacle: the backup is copied into its place in one rename (a damaged file
// is kept as the safety copy first). Throws platform::Error (53 when the backup is not there);
// any failure leaves the database as it was.
RestoreOutcome restoreDatabase(const platform::AppFolder &app, const QString &source);

// The line the success message adds about what happened to the database that was replaced.
QString restoreReport(const RestoreOutcome &outcome);

} // namespace talvesk::backup
