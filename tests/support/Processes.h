#pragma once

#include <QString>

namespace talvesk::test {

// Another running process that holds a lock file (as a second copy of the program would) until
// it is told to let go, or that dies holding it and leaves a stale lock file behind.
class LockHolder {
public:
    explicit LockHolder(const QString &lockFile);
    // Lets go and waits for the process to end.
    ~LockHolder();
    LockHolder(const LockHolder &) = delete;
    LockHolder &operator=(const LockHolder &) = delete;

    // Whether the process got the lock.
    bool holds() const { return holds_; }
    qint64 pid() const { return pid_; }
    // Ends the process at once, its lock file left as it was.
    void dieHoldingTheLock();

private:
    void finish(char how);
    qint64 pid_ = 0;
    int toChild_ = -1;
    bool holds_ = false;
};

} // namespace talvesk::test
