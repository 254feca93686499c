#pragma once

#include <QString>

namespace talvesk::platform {

// The caption of the program's main window, also the title of several of its messages and the
// heading of its printed report.
inline const QString kProgramCaption = QStringLiteral("Talvesk虛擬帳號資料處理(Version 1.0)");

// The application folder and every fixed path of the program below it.
class AppFolder {
public:
    explicit AppFolder(QString root);
    // The folder that holds the running program file.
    static AppFolder ofProgram();

    const QString &root() const { return root_; }
    QString credentialFolder() const;  // Env
    QString credentialFile() const;    // Env/IdPass6.ini
    QString databaseFolder() const;    // ldb
    QString databaseFile() const;      // ldb/Vellaroke.mdb
    QString scratchDatabaseFile() const; // ldb/Temp.mdb, the compaction's scratch file
    QString lookupIndexFile() const;   // ldb/LookupIndex.db, the lookup's index, made anew at will
    QString errorLogFile() const;      // ErrLog.txt

private:
    QString root_;
};

// The name of the file a packaged installation puts beside its programs: that folder belongs to
// the system, so the data lives in the user's own folder even for root, who could write there.
inline const QString kInstalledMarker = QStringLiteral("installed-copy");

// Whether the program folder `folder` holds its own data, as a staged or portable copy does: one
// this user may write into and that is not a packaged installation.
bool holdsOwnData(const QString &folder);

// The user's own data folder for the program: $XDG_DATA_HOME/talvesk, by default
// ~/.local/share/talvesk; on Windows %APPDATA%\Talvesk. Not made here.
QString userDataFolder();

} // namespace talvesk::platform
