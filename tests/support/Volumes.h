#pragma once

#include <QString>
#include <QTemporaryDir>

namespace talvesk::test {

// A real file system of its own (tmpfs) of `bytes`, mounted on a fresh folder in this process's
// own mount namespace, so it vanishes with the process: a real full disk, or with `readOnly` a
// real write-protected one. Mounting needs the right to (root, as in the build containers);
// where it is missing, mounted() is false and whyNot() says why.
class ScratchVolume {
public:
    ScratchVolume(qint64 bytes, bool readOnly);
    ~ScratchVolume();
    ScratchVolume(const ScratchVolume &) = delete;
    ScratchVolume &operator=(const ScratchVolume &) = delete;

    bool mounted() const { return mounted_; }
    const QString &whyNot() const { return whyNot_; }
    QString path() const { return dir_.path(); }

private:
    QTemporaryDir dir_;
    bool mounted_ = false;
    QString whyNot_;
};

// A folder this process may not write into: a read-only volume where one can be mounted,
// otherwise a folder without write permission (which does not stop root). ok() is false when
// neither holds.
class WriteProtectedFolder {
public:
    WriteProtectedFolder();
    ~WriteProtectedFolder();
    bool ok() const { return ok_; }
    QString path() const;

private:
    ScratchVolume volume_;
    QTemporaryDir dir_;
    bool ok_ = false;
};

} // namespace talvesk::test
