#include "files/unfinishedsaves.h"

#include "files/filenames.h"
#include "files/filesaving.h"
#include "files/statefolder.h"

#include <QFile>
#include <QIODevice>
#include <QSet>

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace journal;

namespace {

// Removes the new files a record names if a save left them: files of this
// user's own whose names are ones the saves make.
void removeLeftTemporaries(const QByteArray &text)
{
    if (!text.startsWith(temporaryMagic))
        return;
    for (const QByteArray &line : text.mid(qstrlen(temporaryMagic)).split('\n')) {
        const QByteArray path = QByteArray::fromPercentEncoding(line.trimmed());
        const QByteArray base = path.mid(path.lastIndexOf('/') + 1);
        struct stat st;
        if (base.startsWith(".tarnlyx-") && base.size() == 15 && lstat(path.constData(), &st) == 0 && S_ISREG(st.st_mode)
            && st.st_uid == geteuid())
            unlink(path.constData());
    }
}

// Whether `text` is a record cut short before it was whole: its save was
// killed before the first byte went over its file.
bool cutShort(const QByteArray &text)
{
    if (!text.startsWith(magic) && !text.startsWith(firstMagic))
        return QByteArrayView(magic).startsWith(text) || QByteArrayView(firstMagic).startsWith(text);
    const qsizetype last = text.indexOf(text.startsWith(firstMagic) ? "\nsha256=" : "\nblake2b=");
    return last < 0 || text.indexOf('\n', last + 1) < 0;
}

// Removes a record cut short and the copies named after it, once the save
// that made them no longer holds the copy (a save makes its copies first
// and holds them until the record is whole).
void removeCutShort(int folder, const QByteArray &record)
{
    const QByteArray copy = record.chopped(qstrlen(ending));
    struct stat st;
    if (fstatat(folder, copy.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) {
            unlinkat(folder, (copy + newEnding).constData(), 0);
            unlinkat(folder, record.constData(), 0);
        }
        return;
    }
    const int fd = openOwn(folder, copy, O_RDONLY);
    if (fd < 0)
        return;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0 && unlinkat(folder, copy.constData(), 0) == 0) {
        unlinkat(folder, (copy + newEnding).constData(), 0);
        unlinkat(folder, record.constData(), 0);
    }
    close(fd);
}

// The name of a copy of old bytes (the file's name, '-' and six letters),
// or of the new bytes (the same and ".new").
bool isCopyName(QByteArray name)
{
    if (name.endsWith(newEnding))
        name.chop(qstrlen(newEnding));
    if (name.size() < 7 || name[name.size() - 7] != '-')
        return false;
    return std::all_of(name.end() - 6, name.end(), [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); });
}

// Removes the copies a kill before the record was whole left: those that
// nobody holds (a save holds its copies from the moment they are made until
// the save ends) and no record names, by its text or by its own name.
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
    // copies, so none can name a copy held here and be missed.
    QSet<QByteArray> named;
    for (const QByteArray &record : stateFolderEntries(folder, ending)) {
        named.insert(record.chopped(qstrlen(ending)));
        named.insert(record.chopped(qstrlen(ending)) + newEnding);
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
            else if (line.startsWith("new="))
                named.insert(QByteArray::fromPercentEncoding(line.mid(4)));
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

// Whether each byte of `file` is the byte of `old` or of `made` at its place,
// and its size between theirs: what writing `made` over `old` leaves when it
// is cut short anywhere, in any order of its blocks.
bool eachByteOldOrNew(int file, int old, int made)
{
    struct stat f, o, n;
    if (fstat(file, &f) != 0 || fstat(old, &o) != 0 || fstat(made, &n) != 0
        || f.st_size < std::min(o.st_size, n.st_size) || f.st_size > std::max(o.st_size, n.st_size))
        return false;
    constexpr qsizetype chunk = 1 << 20;
    QByteArray a(chunk, Qt::Uninitialized), b(chunk, Qt::Uninitialized), c(chunk, Qt::Uninitialized);
    auto readAt = [](int fd, QByteArray &into, qint64 at, qint64 size) {
        qsizetype got = 0;
        while (got < size) {
            const ssize_t done = pread(fd, into.data() + got, size_t(size - got), at + got);
            if (done < 0 && errno == EINTR)
                continue;
            if (done <= 0)
                return false;
            got += done;
        }
        return true;
    };
    for (qint64 at = 0; at < f.st_size; at += chunk) {
        const qint64 size = std::min<qint64>(chunk, f.st_size - at);
        const qint64 fromOld = std::clamp<qint64>(o.st_size - at, 0, size), fromNew = std::clamp<qint64>(n.st_size - at, 0, size);
        if (!readAt(file, a, at, size) || !readAt(old, b, at, fromOld) || !readAt(made, c, at, fromNew))
            return false;
        for (qint64 i = 0; i < size; ++i) {
            if (!(i < fromOld && a[i] == b[i]) && !(i < fromNew && a[i] == c[i]))
                return false;
        }
    }
    return true;
}

// A name beside `name` that holds nothing yet: NAME.before-save, else
// NAME.before-save-2 and so on.
QString freeNameBeside(const QString &name, int &tries)
{
    for (; tries < 100; ++tries) {
        const QString candidate = name + (tries == 0 ? QStringLiteral(".before-save") : QStringLiteral(".before-save-%1").arg(tries + 1));
        struct stat st;
        if (lstat(nameToNative(candidate).constData(), &st) != 0 && errno == ENOENT)
            return candidate;
    }
    return QString();
}

// Writes the copy open as `copy` to `target` through the save routine: over
// the file `expected` (settling the save that damaged it), or as a new file.
bool writeCopy(int copy, const QString &target, const FileStamp &expected, const UnfinishedSave &save,
               FileError *error)
{
    FileSetWriter writer;
    QIODevice *device = writer.open(target, error, &expected, true);
    if (!device)
        return false;
    // The file may have been written to between the first look and the lock.
    if (expected.exists) {
        SaveDamage damage;
        if (!inspectUnfinished(save, target, &damage, error))
            return false;
        if (damage != SaveDamage::Damaged && damage != SaveDamage::Finished) {
            if (error)
                *error = FileError(FileError::Write, target, FileError::WrittenMeanwhile);
            return false;
        }
    }
    QByteArray chunk(1 << 20, Qt::Uninitialized);
    for (qint64 at = 0;;) {
        const ssize_t got = pread(copy, chunk.data(), size_t(chunk.size()), at);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            if (error)
                *error = FileError(FileError::Read, save.backupPath, errno);
            return false;
        }
        if (got == 0)
            break;
        if (device->write(chunk.constData(), got) != got)
            break; // the commit says why
        at += got;
    }
    return writer.commit(error);
}

} // namespace

QList<UnfinishedSave> unfinishedSaves(FileError *error)
{
    QList<UnfinishedSave> found;
    const BackupFolder dir;
    if (dir.refused() && error)
        *error = dir.error;
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
            removeLeftTemporaries(text);
            unlinkat(dir.fd, name.constData(), 0);
            continue;
        }
        // All of it read (never a record that could not be), and cut short.
        if (text.size() == st.st_size && cutShort(text)) {
            removeCutShort(dir.fd, name);
            continue;
        }
        UnfinishedSave save;
        save.record = name;
        if (!readRecord(text, save))
            continue;
        save.backupPath = dir.path + u'/' + nameFromNative(save.backup);
        OpenFile now;
        now.fd = ::open(nameToNative(save.path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (now.fd >= 0 && holdsNewBytes(now.fd, save)) {
            removeAll(dir.fd, save, nullptr); // it did finish
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

QList<UnfinishedSave> unfinishedSavesOf(const QString &name)
{
    QList<UnfinishedSave> found;
    struct stat st;
    if (stat(nameToNative(name).constData(), &st) != 0)
        return found;
    for (const UnfinishedSave &save : unfinishedSaves()) {
        if (save.device == quint64(st.st_dev) && save.inode == quint64(st.st_ino))
            found << save;
    }
    return found;
}

bool inspectUnfinished(const UnfinishedSave &save, const QString &name, SaveDamage *damage, FileError *error)
{
    OpenFile file;
    file.fd = ::open(nameToNative(name).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat st;
    if (file.fd < 0 && errno == ENOENT) {
        *damage = SaveDamage::Missing;
        return true;
    }
    if (file.fd < 0 || fstat(file.fd, &st) != 0) {
        if (error)
            *error = FileError(FileError::Read, name, errno);
        return false;
    }
    if (!S_ISREG(st.st_mode) || quint64(st.st_dev) != save.device || quint64(st.st_ino) != save.inode) {
        *damage = SaveDamage::Replaced;
        return true;
    }
    if (holdsNewBytes(file.fd, save)) {
        *damage = SaveDamage::Finished;
        return true;
    }
    const BackupFolder dir;
    OpenFile old, made;
    old.fd = dir.fd < 0 ? -1 : openOwn(dir.fd, save.backup, O_RDONLY);
    made.fd = dir.fd < 0 || save.newBytes.isEmpty() ? -1 : openOwn(dir.fd, save.newBytes, O_RDONLY);
    if (old.fd < 0) {
        if (error)
            *error = dir.fd < 0 ? dir.error : FileError(FileError::Read, save.backupPath, errno);
        return false;
    }
    // A record of the first form kept no new bytes: only a file that still
    // holds the old ones is known to be as the kill left it.
    *damage = eachByteOldOrNew(file.fd, old.fd, made.fd >= 0 ? made.fd : old.fd) ? SaveDamage::Damaged : SaveDamage::Changed;
    return true;
}

bool restoreUnfinished(const UnfinishedSave &save, const QString &name, RestoreOutcome *outcome, FileError *error)
{
    const BackupFolder dir;
    if (dir.fd < 0) {
        if (error)
            *error = dir.error;
        return false;
    }
    OpenFile copy;
    copy.fd = openOwn(dir.fd, save.backup, O_RDONLY);
    struct stat st;
    if (copy.fd < 0 || fstat(copy.fd, &st) != 0) {
        if (error)
            *error = FileError(FileError::Read, save.backupPath, errno);
        return false;
    }
    if (st.st_size != save.oldSize) {
        if (error)
            *error = FileError(FileError::CheckCopy, save.backupPath, 0);
        return false;
    }
    SaveDamage damage;
    if (!inspectUnfinished(save, name, &damage, error))
        return false;
    RestoreOutcome done;
    done.path = name;
    switch (damage) {
    case SaveDamage::Finished:
    case SaveDamage::Damaged: {
        FileStamp expected;
        expected.exists = true;
        expected.device = save.device;
        expected.inode = save.inode;
        if (!writeCopy(copy.fd, name, expected, save, error))
            return false;
        done.how = RestoreOutcome::PutBack;
        break;
    }
    case SaveDamage::Missing:
        if (!writeCopy(copy.fd, name, FileStamp(), save, error))
            return false;
        done.how = RestoreOutcome::MadeAnew;
        break;
    case SaveDamage::Changed:
    case SaveDamage::Replaced:
        // Never over the newer work: beside it, under a name no file has.
        done.how = RestoreOutcome::KeptBeside;
        done.replaced = damage == SaveDamage::Replaced;
        for (int tries = 0;; ++tries) {
            done.beside = freeNameBeside(name, tries);
            if (done.beside.isEmpty()) {
                if (error)
                    *error = FileError(FileError::Create, name + QStringLiteral(".before-save"), EEXIST);
                return false;
            }
            FileError why;
            if (writeCopy(copy.fd, done.beside, FileStamp(), save, &why))
                break;
            // Another program made a file of that name meanwhile: the next.
            if (!stampOf(done.beside).exists) {
                if (error)
                    *error = why;
                return false;
            }
        }
        break;
    }
    if (!removeAll(dir.fd, save, error))
        return false;
    if (outcome)
        *outcome = done;
    return true;
}

bool discardUnfinished(const UnfinishedSave &save, FileError *error)
{
    const BackupFolder dir;
    if (dir.fd < 0) {
        if (error)
            *error = dir.error;
        return false;
    }
    return removeAll(dir.fd, save, error);
}
