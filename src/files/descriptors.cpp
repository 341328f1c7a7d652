#include "files/descriptors.h"

#include "files/systemcalls.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QList>

#include <cerrno>

#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

// Inode flags (chattr) that a file keeps only as long as it is the same
// file; the ones the file system sets by itself are left out.
constexpr int keptInodeFlags = FS_SECRM_FL | FS_UNRM_FL | FS_COMPR_FL | FS_SYNC_FL | FS_NODUMP_FL
        | FS_NOATIME_FL | FS_JOURNAL_DATA_FL | FS_NOTAIL_FL | FS_NOCOW_FL | FS_NOCOMP_FL | FS_DAX_FL;

QList<QByteArray> attributeNames(int fd)
{
    QList<QByteArray> names;
    const ssize_t size = flistxattr(fd, nullptr, 0);
    if (size <= 0)
        return names;
    QByteArray list(size, Qt::Uninitialized);
    const ssize_t got = flistxattr(fd, list.data(), size_t(list.size()));
    if (got < 0)
        return names;
    for (const QByteArray &name : list.first(got).split('\0')) {
        if (!name.isEmpty())
            names << name;
    }
    return names;
}

} // namespace

int closeChecked(int &fd)
{
    if (fd < 0)
        return 0;
    const int result = systemCalls().close(fd);
    fd = -1;
    return result == 0 ? 0 : errno;
}

void closeQuietly(int &fd)
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}

bool lockForSaving(int fd)
{
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0)
            return true;
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK)
            return true;
        if (waited.elapsed() >= lockWait)
            return false;
        usleep(10000);
    }
}

bool readPieces(int fd, const std::function<bool(QByteArrayView piece, qint64 offset)> &take)
{
    QByteArray chunk(1 << 20, Qt::Uninitialized);
    for (qint64 offset = 0;;) {
        const ssize_t got = pread(fd, chunk.data(), size_t(chunk.size()), offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return got == 0;
        if (!take(QByteArrayView(chunk.constData(), got), offset))
            return false;
        offset += got;
    }
}

bool copyBytes(int from, int to, qint64 at, QCryptographicHash *hash)
{
    return readPieces(from, [&](QByteArrayView piece, qint64 offset) {
        if (hash)
            hash->addData(piece);
        return writeAll(to, piece.data(), piece.size(), at < 0 ? -1 : at + offset);
    });
}

bool copyInodeFlags(int from, int to)
{
    int wanted = 0, had = 0;
    if (ioctl(from, FS_IOC_GETFLAGS, &wanted) != 0)
        return true; // a file system without them
    if (wanted & (FS_IMMUTABLE_FL | FS_APPEND_FL))
        return false;
    if ((wanted & keptInodeFlags) == 0)
        return true;
    if (ioctl(to, FS_IOC_GETFLAGS, &had) != 0)
        return false;
    int flags = (had & ~keptInodeFlags) | (wanted & keptInodeFlags);
    if (flags != had)
        ioctl(to, FS_IOC_SETFLAGS, &flags);
    return ioctl(to, FS_IOC_GETFLAGS, &had) == 0 && ((had ^ wanted) & keptInodeFlags) == 0;
}

bool copyAttributes(int from, int to)
{
    const QList<QByteArray> wanted = attributeNames(from);
    for (const QByteArray &name : attributeNames(to)) {
        if (!wanted.contains(name) && fremovexattr(to, name.constData()) != 0)
            return false;
    }
    for (const QByteArray &name : wanted) {
        const ssize_t size = fgetxattr(from, name.constData(), nullptr, 0);
        if (size < 0)
            return false;
        QByteArray value(size, Qt::Uninitialized);
        const ssize_t got = fgetxattr(from, name.constData(), value.data(), size_t(value.size()));
        if (got < 0 || fsetxattr(to, name.constData(), value.constData(), size_t(got), 0) != 0)
            return false;
    }
    return true;
}
