#include "support/Volumes.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#ifdef Q_OS_LINUX
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>
#endif

namespace talvesk::test {

namespace {

#ifdef Q_OS_LINUX
// Mounts made from here on stay in this process; done once.
bool ownMountNamespace(QString &why)
{
    static int state = -1;
    static int savedErrno = 0;
    if (state < 0) {
        state = unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
        savedErrno = errno;
    }
    if (!state)
        why = QStringLiteral("no mount namespace of its own: ") + QString::fromLocal8Bit(std::strerror(savedErrno));
    return state == 1;
}
#endif

} // namespace

ScratchVolume::ScratchVolume(qint64 bytes, bool readOnly)
{
#ifdef Q_OS_LINUX
    if (!ownMountNamespace(whyNot_))
        return;
    const QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0777";
    const unsigned long flags = readOnly ? MS_RDONLY : 0;
    if (mount("tmpfs", QFile::encodeName(dir_.path()).constData(), "tmpfs", flags, options.constData()) != 0) {
        whyNot_ = QStringLiteral("mount: ") + QString::fromLocal8Bit(std::strerror(errno));
        return;
    }
    mounted_ = true;
#else
    Q_UNUSED(bytes);
    Q_UNUSED(readOnly);
    whyNot_ = QStringLiteral("mounting is only done on Linux");
#endif
}

ScratchVolume::~ScratchVolume()
{
#ifdef Q_OS_LINUX
    if (mounted_)
        umount2(QFile::encodeName(dir_.path()).constData(), MNT_DETACH);
#endif
}

WriteProtectedFolder::WriteProtectedFolder() : volume_(64 * 1024, true)
{
    if (volume_.mounted()) {
        ok_ = true;
        return;
    }
#ifdef Q_OS_UNIX
    if (geteuid() != 0) {
        QFile::setPermissions(dir_.path(), QFile::ReadOwner | QFile::ExeOwner);
        ok_ = true;
    }
#endif
}

WriteProtectedFolder::~WriteProtectedFolder()
{
    QFile::setPermissions(dir_.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QString WriteProtectedFolder::path() const
{
    return volume_.mounted() ? volume_.path() : dir_.path();
}

} // namespace talvesk::test
