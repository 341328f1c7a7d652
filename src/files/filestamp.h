// What a file on disk is at one moment, and what it holds in a few bytes.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QCryptographicHash>
#include <QString>

// What a file on disk was at one moment: enough to tell that another
// program has replaced, changed or removed it since.
struct FileStamp
{
    bool exists = false;
    quint64 device = 0, inode = 0;
    qint64 size = 0, mtime = 0;
    bool operator==(const FileStamp &o) const
    {
        return exists == o.exists && device == o.device && inode == o.inode && size == o.size
                && mtime == o.mtime;
    }
    bool operator!=(const FileStamp &o) const { return !(*this == o); }
};
FileStamp stampOf(const QString &path);

// What a file holds, in a few bytes: the hex of a hash of all of it, to tell
// whether it still holds what it held (not to guard against forgery).
inline constexpr QCryptographicHash::Algorithm contentHashKind = QCryptographicHash::Blake2b_256;
QByteArray contentHash(QByteArrayView bytes);
// The same of everything the file open as `fd` holds; empty when it cannot
// be read.
QByteArray contentHashOf(int fd, QCryptographicHash::Algorithm kind = contentHashKind);

enum class FileKind { Missing, Regular, Directory, Other };
FileKind kindOf(const QString &path);
