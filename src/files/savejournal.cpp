#include "files/savejournal.h"

#include "files/filenames.h"
#include "files/filestamp.h"
#include "files/statefolder.h"
#include "files/systemcalls.h"

#include <QFile>
#include <QIODevice>
#include <QRandomGenerator>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace journal;

namespace {

QByteArray absolute(const QByteArray &path)
{
    if (path.startsWith('/'))
        return path;
    char *here = getcwd(nullptr, 0);
    const QByteArray made = QByteArray(here ? here : ".") + '/' + path;
    free(here);
    return made;
}

} // namespace

namespace journal {

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

BackupFolder::BackupFolder() : fd(openStateFolder(QStringLiteral("backup"), &path, &error, false)) {}

BackupFolder::~BackupFolder()
{
    if (fd >= 0)
        close(fd);
}

bool removeAll(int folder, const UnfinishedSave &save, FileError *error)
{
    const QString folderPath = save.backupPath.left(save.backupPath.lastIndexOf(u'/') + 1);
    for (const QByteArray &name : {save.newBytes, save.backup, save.record}) {
        if (name.isEmpty() || unlinkat(folder, name.constData(), 0) == 0 || (errno == ENOENT && name != save.record))
            continue;
        if (error)
            *error = FileError(FileError::Remove, folderPath + nameFromNative(name), errno);
        return false;
    }
    return true;
}

bool readRecord(const QByteArray &text, UnfinishedSave &save)
{
    const bool first = text.startsWith(firstMagic);
    if (!first && !text.startsWith(magic))
        return false;
    const char *const keys[] = {"path=", "backup=", "new=", "device=", "inode=", "old-size=", "new-size=",
                                first ? "sha256=" : "blake2b=" };
    QByteArray fields[8];
    for (const QByteArray &line : text.split('\n')) {
        for (int i = 0; i < 8; ++i) {
            if (line.startsWith(keys[i]))
                fields[i] = line.mid(qstrlen(keys[i]));
        }
    }
    const QByteArray path = QByteArray::fromPercentEncoding(fields[0]);
    save.backup = QByteArray::fromPercentEncoding(fields[1]);
    save.newBytes = first ? QByteArray() : QByteArray::fromPercentEncoding(fields[2]);
    save.path = nameFromNative(path);
    save.device = fields[3].toULongLong();
    save.inode = fields[4].toULongLong();
    save.oldSize = fields[5].toLongLong();
    save.newSize = fields[6].toLongLong();
    save.hash = fields[7];
    save.firstForm = first;
    auto plainName = [](const QByteArray &name) { return !name.contains('/') && name != "." && name != ".."; };
    return !path.isEmpty() && !save.backup.isEmpty() && plainName(save.backup) && plainName(save.newBytes)
            && (first || !save.newBytes.isEmpty());
}

bool holdsNewBytes(int fd, const UnfinishedSave &save)
{
    struct stat st;
    return fstat(fd, &st) == 0 && quint64(st.st_dev) == save.device && quint64(st.st_ino) == save.inode
            && st.st_size == save.newSize
            && contentHashOf(fd, save.firstForm ? QCryptographicHash::Sha256 : contentHashKind) == save.hash;
}

} // namespace journal

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

bool SaveJournal::begin(int folder, const QByteArray &backup, const QByteArray &newBytes, const QByteArray &target,
                        int fd, qint64 newSize, const QByteArray &hash, FileError *why)
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
    text += "new=" + newBytes.toPercentEncoding() + '\n';
    text += "device=" + QByteArray::number(quint64(st.st_dev)) + '\n';
    text += "inode=" + QByteArray::number(quint64(st.st_ino)) + '\n';
    text += "old-size=" + QByteArray::number(qint64(st.st_size)) + '\n';
    text += "new-size=" + QByteArray::number(newSize) + '\n';
    text += "blake2b=" + hash + '\n'; // last: a record without it is cut short
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

bool TemporaryRecord::record(const QByteArray &path, bool beside)
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
        m_text = temporaryMagic;
    }
    if (!beside)
        m_text = temporaryMagic;
    m_text += absolute(path).toPercentEncoding() + '\n';
    return ftruncate(m_fd, 0) == 0 && lseek(m_fd, 0, SEEK_SET) == 0 && writeAll(m_fd, m_text.constData(), m_text.size())
            && fsync(m_fd) == 0;
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
    m_text.clear();
}

bool hasUnsettledSave(int fd)
{
    struct stat file;
    if (fstat(fd, &file) != 0)
        return false;
    const BackupFolder dir;
    bool unsettled = false;
    for (const QByteArray &name : stateFolderEntries(dir.fd, ending)) {
        OpenFile record;
        record.fd = openOwn(dir.fd, name, O_RDONLY);
        QFile text;
        // A record held is a save that runs now, of another file: this
        // one's saves wait for each other.
        if (record.fd < 0 || flock(record.fd, LOCK_SH | LOCK_NB) != 0
            || !text.open(record.fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
            continue;
        UnfinishedSave save;
        save.record = name;
        if (!readRecord(text.read(1 << 16), save) || save.device != quint64(file.st_dev) || save.inode != quint64(file.st_ino))
            continue;
        if (holdsNewBytes(fd, save))
            removeAll(dir.fd, save, nullptr); // it did finish
        else
            unsettled = true;
    }
    return unsettled;
}
