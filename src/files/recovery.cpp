#include "files/recovery.h"

#include "files/filenames.h"
#include "files/filesaving.h"
#include "files/statefolder.h"
#include "files/textcodec.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The first form had no line for the file's identity, the second no hash
// of its bytes.
const char magic[] = "tarnlyx recovery 3\n";
const char secondMagic[] = "tarnlyx recovery 2\n";
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
    struct stat st;
    if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0) {
        if (fstat(fd, &st) == 0 && st.st_nlink > 0)
            return fd;
        // Another start took it for a lock left alone between our open and
        // our lock, and removed it: a lock without a name guards nothing.
        errno = EEXIST;
    }
    *errnum = errno;
    if (fd >= 0)
        close(fd);
    return -1;
}

// Up to `size` bytes from the start of the open recovery file `fd` (fewer
// where it ends sooner); false, with errno, when it cannot be read.
bool readStart(int fd, qsizetype size, QByteArray &bytes)
{
    bytes.resize(size);
    qsizetype got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, bytes.data() + got, size_t(size - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        got += n;
    }
    bytes.truncate(got);
    return true;
}

// The recovery file `name`: its first `size` bytes (all of it for -1), its
// length and when it was written; false, with errno, when it cannot be read.
bool readEntry(int folder, const QByteArray &name, qsizetype size, QByteArray &bytes, qint64 *length,
               QDateTime *written)
{
    const int fd = openOwn(folder, name, O_RDONLY);
    struct stat st = {};
    bool read = fd >= 0 && fstat(fd, &st) == 0 && readStart(fd, size < 0 ? qsizetype(st.st_size) : size, bytes);
    const int errnum = errno;
    if (fd >= 0)
        close(fd);
    errno = errnum;
    if (read) {
        *length = st.st_size;
        *written = QDateTime::fromMSecsSinceEpoch(qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000);
    }
    return read;
}

// What the head of a recovery file says: whose text it is, and where the
// text starts in `bytes`. False when `bytes` hold no recovery file's head.
bool readHead(const QByteArray &bytes, RecoveredText &kept, qsizetype *textStart)
{
    const bool first = bytes.startsWith(firstMagic);
    const bool second = bytes.startsWith(secondMagic);
    if (!first && !second && !bytes.startsWith(magic))
        return false;
    const qsizetype nameEnd = bytes.indexOf('\n', sizeof magic - 1);
    const qsizetype stampEnd = first || nameEnd < 0 ? nameEnd : bytes.indexOf('\n', nameEnd + 1);
    if (nameEnd < 0 || stampEnd < 0)
        return false;
    kept.fileName = nameFromNative(QByteArray::fromPercentEncoding(bytes.sliced(sizeof magic - 1, nameEnd - (sizeof magic - 1))));
    const QList<QByteArray> numbers = first ? QList<QByteArray>() : bytes.sliced(nameEnd + 1, stampEnd - nameEnd - 1).split(' ');
    if (numbers.size() == (second ? 4 : 5)) {
        kept.stamp = {true, numbers[0].toULongLong(), numbers[1].toULongLong(), numbers[2].toLongLong(),
                        numbers[3].toLongLong()};
        kept.hash = numbers.value(4);
    } else if (first && !kept.fileName.isEmpty()) {
        kept.stamp = stampOf(kept.fileName); // the file that name holds now, as before
    }
    *textStart = stampEnd + 1;
    return true;
}

// Enough of a recovery file to list it: its head and the text's first lines.
constexpr qsizetype headSize = 64 * 1024;

// The first two lines of `text`, the start of a longer one; `cut`: the
// text goes on past its end, maybe in the middle of a character.
QString firstLinesOf(QByteArrayView text, bool cut)
{
    const qsizetype firstEnd = text.indexOf('\n');
    const qsizetype secondEnd = firstEnd < 0 ? -1 : text.indexOf('\n', firstEnd + 1);
    if (secondEnd >= 0) {
        text.truncate(secondEnd);
    } else if (cut) {
        // A character cut short would show as stray bytes it is not.
        for (qsizetype back = 1; back <= 3 && back <= text.size(); ++back) {
            const auto lead = static_cast<unsigned char>(text[text.size() - back]);
            if (lead < 0x80)
                break;
            if (lead >= 0xC0) {
                const qsizetype length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
                if (length > back)
                    text.truncate(text.size() - back);
                break;
            }
        }
    }
    QString lines;
    LineCodec(QStringLiteral("UTF-8"), false).decode(text, lines);
    return lines;
}

// Removes the locks no window holds whose text was never written (its
// first write failed, and the window ended): nothing else ever would.
void removeLoneLocks(int folder)
{
    struct stat st;
    auto hasText = [&](const QByteArray &lock) {
        return fstatat(folder, (lock.chopped(5) + ".txt").constData(), &st, AT_SYMLINK_NOFOLLOW) == 0
                || errno != ENOENT;
    };
    for (const QByteArray &name : stateFolderEntries(folder, ".lock")) {
        if (hasText(name))
            continue;
        const int fd = openOwn(folder, name, O_RDWR);
        if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 && !hasText(name))
            unlinkat(folder, name.constData(), 0);
        if (fd >= 0)
            close(fd);
    }
}

} // namespace

RecoveredText::Relation RecoveredText::relationTo(const QString &name) const
{
    const FileStamp now = stampOf(name);
    if (!stamp.exists || !now.exists || stamp.device != now.device || stamp.inode != now.inode)
        return Relation::Other;
    // Older recovery files kept no hash: only the very same stamp tells.
    if (hash.isEmpty())
        return now == stamp ? Relation::Same : Relation::Changed;
    const int fd = ::open(nameToNative(name).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat st;
    const bool same = fd >= 0 && fstat(fd, &st) == 0 && quint64(st.st_dev) == stamp.device
            && quint64(st.st_ino) == stamp.inode && contentHashOf(fd) == hash;
    if (fd >= 0)
        close(fd);
    return same ? Relation::Same : Relation::Changed;
}

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

bool RecoveryFile::write(const QString &fileName, const FileStamp &stamp, const QByteArray &hash, const QString &text,
                         FileError *error)
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
                + QByteArray::number(stamp.size) + ' ' + QByteArray::number(stamp.mtime) + ' ' + hash;
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

bool RecoveryFile::readText(QString *text, FileError *error) const
{
    FileError why;
    const Folder dir(&why);
    QByteArray bytes;
    qint64 length = 0;
    QDateTime written;
    RecoveredText kept;
    qsizetype start = 0;
    if (m_lock < 0 || dir.fd < 0 || !readEntry(dir.fd, entryName(m_id, ".txt"), -1, bytes, &length, &written)) {
        if (error)
            *error = dir.fd < 0 ? why : FileError(FileError::StateFile, QString(), m_lock < 0 ? EBADF : errno);
        return false;
    }
    if (!readHead(bytes, kept, &start)) {
        if (error)
            *error = FileError(FileError::StateFile, QString(), FileError::NotRecoveryFile);
        return false;
    }
    LineCodec(QStringLiteral("UTF-8"), false).decode(QByteArrayView(bytes).sliced(start), *text); // stray bytes as they were
    return true;
}

void RecoveryFile::release()
{
    if (m_lock >= 0)
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
        QByteArray head;
        qint64 length = 0;
        RecoveredText kept;
        qsizetype start = 0;
        if (!readEntry(dir.fd, name, headSize, head, &length, &kept.written) || !readHead(head, kept, &start))
            continue;
        kept.id = id;
        kept.firstLines = firstLinesOf(QByteArrayView(head).sliced(start), length > head.size());
        found << kept;
    }
    removeLoneLocks(dir.fd);
    std::sort(found.begin(), found.end(),
              [](const RecoveredText &a, const RecoveredText &b) { return a.written < b.written; });
    return found;
}
