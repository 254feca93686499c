#pragma once

#include "platform/AppFolder.h"

#include <QString>

#include <array>

namespace talvesk::backup {

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

// Puts the backup at `source` in the database file's place. The backup must open as a database
// holding the program's four tables; it is copied beside the database file, checked again, and
// then replaces the database file in one rename. Any failure leaves the database file as it was.
// Throws platform::Error (53 when the backup is not there).
void restoreDatabase(const platform::AppFolder &app, const QString &source);

} // namespace talvesk::backup
