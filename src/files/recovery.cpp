#include "files/recovery.h"

#include "files/filenames.h"
#include "files/filesaving.h"
#include "files/textcodec.h"

#include <QFile>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The first form had no line for the file's identity.
const char magic[] = "tarnlyx recovery 2\n";
const char firstMagic[] = "tarnlyx recovery 1\n";

QByteArray entryName(const QString &id, const char *ending)
{
    return nameToNative(id + QLatin1String(ending));
}

// The recovery folder, checked, as an open folder; closed when it goes.
struct Folder
{
    explicit Folder(FileError *error = nullptr) : fd(openStateFolder(QStringLiteral("recovery"), nullptr, error)) {}
    ~Folder()
    {
        if (fd >= 0)
            close(fd);
    }
    Folder(const Folder &) = delete;
    Folder &operator=(const Folder &) = delete;
    const int fd;
};

// A file in the recovery folder, opened only if it is a file of this user's
// own (never through a link); -1 otherwise.
int openOwn(int folder, const QByteArray &name, int flags)
{
    const int fd = openat(folder, name.constData(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    struct stat st;
    if (fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid())
        return fd;
    if (fd >= 0) {
        close(fd);
        errno = EPERM;
    }
    return -1;
}

// Locks `name` for this process; -1 when another holds it.
int takeLock(int folder, const QByteArray &name, int flags, int *errnum)
{
    const int fd = openOwn(folder, name, O_RDWR | O_CREAT | flags);
    if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0)
        return fd;
    *errnum = errno;
    if (fd >= 0)
        close(fd);
    return -1;
}

} // namespace

QString RecoveryFile::folder(FileError *error)
{
    QString path;
    const int fd = openStateFolder(QStringLiteral("recovery"), &path, error);
    if (fd < 0)
        return QString();
    close(fd);
    return path;
}

RecoveryFile::~RecoveryFile()
{
    if (m_lock >= 0)
        close(m_lock); // the recovery file stays for the next start
}

bool RecoveryFile::adopt(const QString &id)
{
    const Folder dir;
    int errnum = 0;
    const int fd = dir.fd < 0 ? -1 : takeLock(dir.fd, entryName(id, ".lock"), 0, &errnum);
    if (fd < 0)
        return false;
    if (m_lock >= 0)
        close(m_lock);
    m_lock = fd;
    m_id = id;
    return true;
}

bool RecoveryFile::lock(FileError *error)
{
    if (m_lock >= 0)
        return true;
    FileError why;
    const Folder dir(&why);
    int errnum = EEXIST;
    for (int tries = 0; dir.fd >= 0 && m_lock < 0 && errnum == EEXIST && tries < 100; ++tries) {
        m_id = QString::number(QRandomGenerator::system()->generate64(), 36);
        m_lock = takeLock(dir.fd, entryName(m_id, ".lock"), O_EXCL, &errnum);
    }
    if (m_lock < 0 && error)
        *error = dir.fd < 0 ? why : FileError(FileError::StateFile, QString(), errnum);
    return m_lock >= 0;
}

QString RecoveryFile::absoluteName(const QString &name)
{
    QByteArray path = nameToNative(name);
    if (path.isEmpty() || path.startsWith('/'))
        return name;
    char *here = getcwd(nullptr, 0);
    if (here)
        path = QByteArray(here) + '/' + path;
    free(here);
    return nameFromNative(path);
}

bool RecoveryFile::write(const QString &fileName, const FileStamp &stamp, const QString &text, FileError *error)
{
    if (!lock(error))
        return false;
    const Folder dir(error);
    if (dir.fd < 0)
        return false;
    QByteArray bytes = magic;
    bytes += nameToNative(fileName).toPercentEncoding() + '\n';
    if (stamp.exists) {
        bytes += QByteArray::number(stamp.device) + ' ' + QByteArray::number(stamp.inode) + ' '
                + QByteArray::number(stamp.size) + ' ' + QByteArray::number(stamp.mtime);
    }
    bytes += '\n';
    LineCodec(QStringLiteral("UTF-8"), false).appendEncoded(bytes, text); // stray bytes as they were
    return replaceFileAt(dir.fd, entryName(m_id, ".txt"), bytes, error);
}

void RecoveryFile::remove()
{
    if (m_lock < 0)
        return;
    const Folder dir;
    if (dir.fd >= 0) {
        unlinkat(dir.fd, entryName(m_id, ".txt").constData(), 0);
        unlinkat(dir.fd, entryName(m_id, ".lock").constData(), 0);
    }
    close(m_lock);
    m_lock = -1;
}

QList<RecoveredText> RecoveryFile::orphans()
{
    QList<RecoveredText> found;
    const Folder dir;
    for (const QByteArray &name : stateFolderEntries(dir.fd, ".txt")) {
        const QString id = nameFromNative(name.chopped(4));
        int errnum = 0;
        const int lock = takeLock(dir.fd, entryName(id, ".lock"), 0, &errnum);
        if (lock < 0)
            continue; // a running window's, or not this user's
        close(lock);
        const int fd = openOwn(dir.fd, name, O_RDONLY);
        struct stat st;
        if (fd < 0 || fstat(fd, &st) != 0) {
            if (fd >= 0)
                close(fd);
            continue;
        }
        QFile file;
        if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
            close(fd);
            continue;
        }
        const QByteArray bytes = file.readAll();
        const bool first = bytes.startsWith(firstMagic);
        const qsizetype nameEnd = bytes.indexOf('\n', sizeof magic - 1);
        const qsizetype stampEnd = first ? nameEnd : bytes.indexOf('\n', nameEnd + 1);
        if ((!first && !bytes.startsWith(magic)) || nameEnd < 0 || stampEnd < 0)
            continue;
        RecoveredText kept;
        kept.id = id;
        kept.fileName = nameFromNative(QByteArray::fromPercentEncoding(bytes.sliced(sizeof magic - 1, nameEnd - (sizeof magic - 1))));
        const QList<QByteArray> numbers = bytes.sliced(nameEnd + 1, stampEnd - nameEnd - 1).split(' ');
        if (!first && numbers.size() == 4) {
            kept.stamp = {true, numbers[0].toULongLong(), numbers[1].toULongLong(), numbers[2].toLongLong(),
                            numbers[3].toLongLong()};
        } else if (first && !kept.fileName.isEmpty()) {
            kept.stamp = stampOf(kept.fileName); // the file that name holds now, as before
        }
        LineCodec(QStringLiteral("UTF-8"), false).decode(bytes.sliced(stampEnd + 1), kept.text);
        kept.written = QDateTime::fromMSecsSinceEpoch(qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000);
        found << kept;
    }
    std::sort(found.begin(), found.end(),
              [](const RecoveredText &a, const RecoveredText &b) { return a.written < b.written; });
    return found;
}
