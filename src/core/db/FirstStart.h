#pragma once

#include "platform/AppFolder.h"

#include <QString>

namespace talvesk::db {

// The pair a new credential file holds until the operator changes it with 變更密碼.
inline const QString kInitialUserName = QStringLiteral("ADMIN");
inline const QString kInitialPassword = QStringLiteral("1234");

// The schema a new database is made from, built into the program. Throws platform::Error when
// the build left it out.
QString builtInSchema();

// What completeAppFolder made.
struct Completion {
    bool database = false;
    bool credentials = false;
};

// Completes an application folder: its ldb and Env folders, a new database from `schemaSql` and
// the credential file for the initial pair. What already exists is left alone, so the operator's
// data and password survive. Throws platform::Error.
Completion completeAppFolder(const platform::AppFolder &app, const QString &schemaSql);

// The application folder both programs work in when none is named on the command line.
struct ChosenFolder {
    platform::AppFolder app;
    bool madeNow = false; // the user's data folder was made by this start
};

// A program in `programFolder` works there when that folder holds its own data (a staged or
// portable copy); otherwise in the user's data folder, which the first start makes whole (a new
// database, the initial credentials) under a scratch name and then puts in place in one step, so
// that a start cut short leaves nothing half made. A user's data folder that holds anything is
// used as it is: a database missing from it is the same error as anywhere. Throws platform::Error
// when the user's folder cannot be made.
ChosenFolder appFolderFor(const QString &programFolder);

} // namespace talvesk::db
