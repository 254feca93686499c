#pragma once

#include "platform/AppFolder.h"

#include <QLockFile>
#include <QString>

namespace talvesk::shell {

// One copy of the program per database: a lock file beside the database, held while the program
// runs. A lock left behind by a copy that ended without releasing it (a crash, a power cut) is
// recognised by its process being gone, and taken over.
class InstanceLock {
public:
    explicit InstanceLock(const platform::AppFolder &app);

    enum class Outcome { Locked, HeldElsewhere, NotLockable };
    // Takes the lock without waiting. NotLockable: the lock file cannot be written (a read-only
    // folder), so whether another copy runs cannot be known.
    Outcome tryLock();
    // The process that holds the lock (after HeldElsewhere); 0 when unknown.
    qint64 holderPid() const;

    static QString lockFilePath(const platform::AppFolder &app);

private:
    QLockFile lock_;
};

// What a second copy is told before it stops.
QString alreadyRunningText(qint64 holderPid);

} // namespace talvesk::shell
