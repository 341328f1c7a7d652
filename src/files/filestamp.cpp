#include "files/filestamp.h"

#include "files/descriptors.h"
#include "files/filenames.h"

#include <sys/stat.h>

FileStamp stampOf(const QString &path)
{
    FileStamp stamp;
    struct stat st;
    if (stat(nameToNative(path).constData(), &st) != 0)
        return stamp;
    stamp.exists = true;
    stamp.device = st.st_dev;
    stamp.inode = st.st_ino;
    stamp.size = st.st_size;
    stamp.mtime = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return stamp;
}

QByteArray contentHash(QByteArrayView bytes)
{
    return QCryptographicHash::hash(bytes, contentHashKind).toHex();
}

QByteArray contentHashOf(int fd, QCryptographicHash::Algorithm kind)
{
    QCryptographicHash hash(kind);
    const bool read = readPieces(fd, [&](QByteArrayView piece, qint64) {
        hash.addData(piece);
        return true;
    });
    return read ? hash.result().toHex() : QByteArray();
}

FileKind kindOf(const QString &path)
{
    struct stat st;
    if (stat(nameToNative(path).constData(), &st) != 0)
        return FileKind::Missing;
    return S_ISREG(st.st_mode) ? FileKind::Regular : S_ISDIR(st.st_mode) ? FileKind::Directory : FileKind::Other;
}
