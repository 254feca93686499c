#include "support/Processes.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLockFile>

#include <optional>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace talvesk::test {

#ifdef _WIN32
// A second process holding the lock is made by fork(): not on Windows, where the tests that need
// one are listed in tests/windows/not-under-wine.txt and not run.
LockHolder::LockHolder(const QString &) {}
LockHolder::~LockHolder() = default;
void LockHolder::dieHoldingTheLock() {}
void LockHolder::finish(char) {}
#else
LockHolder::LockHolder(const QString &lockFile)
{
    int up[2];
    int down[2];
    if (pipe(up) != 0 || pipe(down) != 0)
        return;
    const pid_t child = fork();
    if (child == 0) {
        close(up[0]);
        close(down[1]);
        // The lock names its process, as the program's does, so it is not taken for a stale one.
        if (QCoreApplication::applicationName().isEmpty())
            QCoreApplication::setApplicationName(QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget().section(u'/', -1));
        std::optional<QLockFile> lock(std::in_place, lockFile);
        lock->setStaleLockTime(0);
        const char got = lock->tryLock(0) ? 'y' : 'n';
        if (write(up[1], &got, 1) != 1)
            _exit(1);
        char how = 0;
        if (read(down[0], &how, 1) == 1 && how == 'r')
            lock.reset(); // lets go as a copy that ends normally
        _exit(0);
    }
    close(up[1]);
    close(down[0]);
    pid_ = child;
    toChild_ = down[1];
    char got = 'n';
    holds_ = child > 0 && read(up[0], &got, 1) == 1 && got == 'y';
    close(up[0]);
}

LockHolder::~LockHolder()
{
    finish('r');
}

void LockHolder::dieHoldingTheLock()
{
    finish('k');
}

void LockHolder::finish(char how)
{
    if (toChild_ < 0)
        return;
    [[maybe_unused]] const auto written = write(toChild_, &how, 1);
    close(toChild_);
    toChild_ = -1;
    int status = 0;
    waitpid(static_cast<pid_t>(pid_), &status, 0);
}
#endif

} // namespace talvesk::test
