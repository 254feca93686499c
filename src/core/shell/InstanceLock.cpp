#include "shell/InstanceLock.h"

namespace talvesk::shell {

InstanceLock::InstanceLock(const platform::AppFolder &app) : lock_(lockFilePath(app))
{
    // Held for the whole run: only a holder that is gone makes the lock stale, never its age.
    lock_.setStaleLockTime(0);
}

QString InstanceLock::lockFilePath(const platform::AppFolder &app)
{
    return app.databaseFile() + QStringLiteral(".lock");
}

InstanceLock::Outcome InstanceLock::tryLock()
{
    if (lock_.tryLock(0))
        return Outcome::Locked;
    return lock_.error() == QLockFile::LockFailedError ? Outcome::HeldElsewhere : Outcome::NotLockable;
}

qint64 InstanceLock::holderPid() const
{
    qint64 pid = 0;
    QString host;
    QString name;
    return lock_.getLockInfo(&pid, &host, &name) ? pid : 0;
}

QString alreadyRunningText(qint64 holderPid)
{
    const QString who = holderPid > 0 ? QStringLiteral("(程序 %1)").arg(holderPid) : QString();
    return QStringLiteral("本系統已在執行中%1,同一個資料庫一次只能開啟一個。請切換到已開啟的視窗。").arg(who);
}

} // namespace talvesk::shell
