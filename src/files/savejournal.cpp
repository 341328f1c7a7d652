#include "files/savejournal.h"

#include "files/filenames.h"
#include "files/filesaving.h"
#include "files/systemcalls.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRandomGenerator>
#include <QSet>

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char magic[] = "tarnlyx save 1\n";
const char ending[] = ".journal";
const char temporaryMagic[] = "tarnlyx temporary 1\n";
const char temporaryEnding[] = ".temporary";

QByteArray absolute(const QByteArray &path)
{
    if (path.startsWith('/'))
        return path;
    char *here = getcwd(nullptr, 0);
    const QByteArray made = QByteArray(here ? here : ".") + '/' + path;
    free(here);
    return made;
}

// Removes the new file a record names if a save left it: a file of this
// user's own whose name is one the saves make.
void removeLeftTemporary(const QByteArray &text)
{
    const qsizetype start = qstrlen(temporaryMagic);
    const QByteArray path = QByteArray::fromPercentEncoding(text.mid(start).trimmed());
    const QByteArray base = path.mid(path.lastIndexOf('/') + 1);
    struct stat st;
    if (text.startsWith(temporaryMagic) && base.startsWith(".tarnlyx-") && base.size() == 15
        && lstat(path.constData(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid())
        unlink(path.constData());
}

QByteArray hashOf(QByteArrayView bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

// A file of this user's own in `folder`, never through a link; -1 otherwise.
int openOwn(int folder, const QByteArray &name, int flags)
{
    const int fd = openat(folder, name.constData(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    struct stat st;
    if (fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid())
        return fd;
    if (fd >= 0)
        close(fd);
    return -1;
}

// Whether the file `path` now holds exactly the bytes of size `size` and
// hash `hash`.
bool holds(const QByteArray &path, qint64 size, const QByteArray &hash)
{
    QFile file;
    const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size != size
        || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        if (fd >= 0)
            close(fd);
        return false;
    }
    QCryptographicHash hasher(QCryptographicHash::Sha256);
    return hasher.addData(&file) && hasher.result().toHex() == hash;
}

struct BackupFolder
{
    BackupFolder() : fd(openStateFolder(QStringLiteral("backup"), &path, &error, false)) {}
    ~BackupFolder()
    {
        if (fd >= 0)
            close(fd);
    }
    BackupFolder(const BackupFolder &) = delete;
    BackupFolder &operator=(const BackupFolder &) = delete;
    QString path;
    FileError error; // why there is none
    const int fd;
};

// Removes the copy first: a record left alone then names a file that holds
// the new bytes, or one that cannot be put back, never a copy without it.
bool removeBoth(int folder, const UnfinishedSave &save, FileError *error)
{
    const bool copyGone = unlinkat(folder, save.backup.constData(), 0) == 0 || errno == ENOENT;
    if (copyGone && unlinkat(folder, save.record.constData(), 0) == 0)
        return true;
    if (error) {
        const QString folderPath = save.backupPath.left(save.backupPath.lastIndexOf(u'/') + 1);
        *error = FileError(FileError::Remove, copyGone ? folderPath + nameFromNative(save.record) : save.backupPath, errno);
    }
    return false;
}

// Whether `text` is a record cut short before it was whole: its save was
// killed before the first byte went over its file.
bool cutShort(const QByteArray &text)
{
    if (!text.startsWith(magic))
        return QByteArrayView(magic).startsWith(text);
    const qsizetype last = text.indexOf("\nsha256=");
    return last < 0 || text.indexOf('\n', last + 1) < 0;
}

// Removes a record cut short and the copy it is named after, once the save
// that made them no longer holds the copy (a save makes its copy first and
// holds it until the record is whole).
void removeCutShort(int folder, const QByteArray &record)
{
    const QByteArray copy = record.chopped(qstrlen(ending));
    struct stat st;
    if (fstatat(folder, copy.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT)
            unlinkat(folder, record.constData(), 0);
        return;
    }
    const int fd = openOwn(folder, copy, O_RDONLY);
    if (fd < 0)
        return;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0 && unlinkat(folder, copy.constData(), 0) == 0)
        unlinkat(folder, record.constData(), 0);
    close(fd);
}

// The name of a copy of old bytes: the file's name, '-' and six letters.
bool isCopyName(const QByteArray &name)
{
    if (name.size() < 7 || name[name.size() - 7] != '-')
        return false;
    return std::all_of(name.end() - 6, name.end(), [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); });
}

// Removes the copies a kill during the copy left: those that nobody holds
// (a save holds its copy from the moment it is made until the save ends)
// and no record names, by its text or by its own name.
void removeLeftCopies(int folder)
{
    QList<std::pair<QByteArray, int>> held;
    for (const QByteArray &name : stateFolderEntries(folder, QByteArray())) {
        const int fd = isCopyName(name) ? openOwn(folder, name, O_RDONLY) : -1;
        if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0)
            held.append({name, fd});
        else if (fd >= 0)
            close(fd); // a save makes it now
    }
    if (held.isEmpty())
        return;
    // The records only now: a save writes its record while it holds the
    // copy, so none can name a copy held here and be missed.
    QSet<QByteArray> named;
    for (const QByteArray &record : stateFolderEntries(folder, ending)) {
        named.insert(record.chopped(qstrlen(ending)));
        QFile file;
        const int fd = openOwn(folder, record, O_RDONLY);
        if (fd < 0 || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
            if (fd >= 0)
                close(fd);
            continue;
        }
        for (const QByteArray &line : file.read(1 << 16).split('\n')) {
            if (line.startsWith("backup="))
                named.insert(QByteArray::fromPercentEncoding(line.mid(7)));
        }
    }
    for (const auto &[name, fd] : held) {
        struct stat mine, now;
        if (!named.contains(name) && fstat(fd, &mine) == 0 && mine.st_nlink > 0
            && fstatat(folder, name.constData(), &now, AT_SYMLINK_NOFOLLOW) == 0 && now.st_ino == mine.st_ino
            && now.st_dev == mine.st_dev)
            unlinkat(folder, name.constData(), 0);
        close(fd);
    }
}

} // namespace

void SaveJournal::end()
{
    if (m_fd < 0)
        return;
    unlinkat(m_folder, m_name.constData(), 0);
    close(m_fd);
    m_fd = -1;
}

void SaveJournal::keep()
{
    if (m_fd >= 0)
        close(m_fd);
    m_fd = -1;
}

bool SaveJournal::begin(int folder, const QByteArray &backup, const QByteArray &target, int fd,
                        QByteArrayView bytes, FileError *why)
{
    struct stat st;
    if (fstat(fd, &st) != 0) {
        *why = FileError(FileError::StateFile, QString(), errno);
        return false;
    }
    const QByteArray path = absolute(target);
    QByteArray text = magic;
    text += "path=" + path.toPercentEncoding() + '\n';
    text += "backup=" + backup.toPercentEncoding() + '\n';
    text += "device=" + QByteArray::number(quint64(st.st_dev)) + '\n';
    text += "inode=" + QByteArray::number(quint64(st.st_ino)) + '\n';
    text += "old-size=" + QByteArray::number(qint64(st.st_size)) + '\n';
    text += "new-size=" + QByteArray::number(qint64(bytes.size())) + '\n';
    text += "sha256=" + hashOf(bytes) + '\n';
    m_folder = folder;
    m_name = backup + ending;
    m_fd = openat(folder, m_name.constData(), O_CREAT | O_EXCL | O_NOFOLLOW | O_RDWR | O_CLOEXEC, 0600);
    // Locked while the save runs: another program's start leaves it alone.
    const bool written = m_fd >= 0 && flock(m_fd, LOCK_EX) == 0 && writeAll(m_fd, text.constData(), text.size())
            && systemCalls().fsync(m_fd) == 0 && systemCalls().fsync(folder) == 0;
    if (!written) {
        *why = FileError(FileError::StateFile, QString(), errno);
        if (m_fd >= 0) {
            unlinkat(folder, m_name.constData(), 0);
            close(m_fd);
            m_fd = -1;
        }
    }
    return written;
}

bool TemporaryRecord::record(const QByteArray &path)
{
    if (m_fd < 0) {
        m_folder = openStateFolder(QStringLiteral("backup"), nullptr, nullptr);
        for (int tries = 0; m_folder >= 0 && m_fd < 0 && tries < 100; ++tries) {
            m_name = QByteArray::number(QRandomGenerator::system()->generate64(), 36) + temporaryEnding;
            m_fd = openat(m_folder, m_name.constData(), O_CREAT | O_EXCL | O_NOFOLLOW | O_RDWR | O_CLOEXEC, 0600);
            if (m_fd < 0 && errno != EEXIST)
                break;
        }
        if (m_fd < 0 || flock(m_fd, LOCK_EX) != 0) {
            end();
            return false;
        }
    }
    const QByteArray text = temporaryMagic + absolute(path).toPercentEncoding() + '\n';
    return ftruncate(m_fd, 0) == 0 && lseek(m_fd, 0, SEEK_SET) == 0 && writeAll(m_fd, text.constData(), text.size()) && fsync(m_fd) == 0;
}

void TemporaryRecord::end()
{
    if (m_fd >= 0) {
        unlinkat(m_folder, m_name.constData(), 0);
        close(m_fd);
    }
    if (m_folder >= 0)
        close(m_folder);
    m_fd = m_folder = -1;
}

QList<UnfinishedSave> unfinishedSaves()
{
    QList<UnfinishedSave> found;
    const BackupFolder dir;
    QList<qint64> times;
    for (const QByteArray &name : stateFolderEntries(dir.fd, ending) + stateFolderEntries(dir.fd, temporaryEnding)) {
        const bool temporary = name.endsWith(temporaryEnding);
        const int fd = openOwn(dir.fd, name, O_RDONLY);
        if (fd < 0)
            continue;
        struct stat st;
        QFile file;
        if (flock(fd, LOCK_SH | LOCK_NB) != 0 || fstat(fd, &st) != 0
            || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
            close(fd); // a save that runs now
            continue;
        }
        const QByteArray text = file.read(1 << 16);
        if (temporary) {
            removeLeftTemporary(text);
            unlinkat(dir.fd, name.constData(), 0);
            continue;
        }
        // All of it read (never a record that could not be), and cut short.
        if (text.size() == st.st_size && cutShort(text)) {
            removeCutShort(dir.fd, name);
            continue;
        }
        if (!text.startsWith(magic))
            continue;
        QByteArray fields[7];
        const char *const keys[] = {"path=", "backup=", "device=", "inode=", "old-size=", "new-size=", "sha256="};
        for (const QByteArray &line : text.split('\n')) {
            for (int i = 0; i < 7; ++i) {
                if (line.startsWith(keys[i]))
                    fields[i] = line.mid(qstrlen(keys[i]));
            }
        }
        UnfinishedSave save;
        save.record = name;
        save.backup = QByteArray::fromPercentEncoding(fields[1]);
        const QByteArray path = QByteArray::fromPercentEncoding(fields[0]);
        save.path = nameFromNative(path);
        save.backupPath = dir.path + u'/' + nameFromNative(save.backup);
        save.oldSize = fields[4].toLongLong();
        save.newSize = fields[5].toLongLong();
        if (path.isEmpty() || save.backup.isEmpty() || save.backup.contains('/'))
            continue;
        if (holds(path, save.newSize, fields[6])) {
            removeBoth(dir.fd, save, nullptr); // it did finish
            continue;
        }
        found << save;
        times << qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    }
    removeLeftCopies(dir.fd);
    QList<int> order(found.size());
    for (int i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return times[a] < times[b]; });
    QList<UnfinishedSave> sorted;
    for (int i : order)
        sorted << found[i];
    return sorted;
}

bool restoreUnfinished(const UnfinishedSave &save, FileError *error)
{
    const BackupFolder dir;
    const int fd = dir.fd < 0 ? -1 : openOwn(dir.fd, save.backup, O_RDONLY);
    QFile file;
    if (fd < 0 || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        const int errnum = errno;
        if (fd >= 0)
            close(fd);
        if (error)
            *error = FileError(FileError::Read, save.backupPath, errnum);
        return false;
    }
    const QByteArray old = file.readAll();
    file.close();
    if (old.size() != save.oldSize) {
        if (error)
            *error = FileError(FileError::CheckCopy, save.backupPath, 0);
        return false;
    }
    if (!writeSubtitleFile(save.path, old, error))
        return false;
    return removeBoth(dir.fd, save, error);
}

bool discardUnfinished(const UnfinishedSave &save, FileError *error)
{
    const BackupFolder dir;
    if (dir.fd < 0) {
        if (error)
            *error = dir.error;
        return false;
    }
    return removeBoth(dir.fd, save, error);
}
