#pragma once

#include "platform/AppFolder.h"

#include <QString>

#include <array>

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

// The captions of the six slots for a drive: a slot's capital-M name when its file is in the
// drive's root, empty when it is not. Drive "a:" is never probed: all empty.
std::array<QString, kSlots> slotCaptions(const QString &prefix);

// Copies the database file to `target`: the database is opened and closed first (an unusable
// file fails there); the copy is written under a scratch name and renamed over any old file, so a
// failure part-way never leaves a broken backup under the slot's name. Throws platform::Error.
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
