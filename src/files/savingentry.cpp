#include "files/savingentry.h"

#include "files/descriptors.h"
#include "files/filelinks.h"
#include "files/filenames.h"
#include "files/statefolder.h"
#include "files/systemcalls.h"

#include <QCryptographicHash>

#include <cerrno>

#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

FileSetWriter::Entry::~Entry()
{
    // A commit that ends some other way (too little memory) puts back
    // what it put in place, as a failure would.
    if (placed != Placed::No && !finished) {
        FileError outcome;
        FileSetWriter::takeBack(*this, outcome);
    }
    closeChecked(fd);
    if (!temporary.isEmpty())
        unlink(temporary.constData());
    if (!holdName.isEmpty())
        unlink(holdName.constData());
    if (keptAside) {
        journal.keep();
    } else {
        if (!backup.isEmpty())
            unlinkat(backupFolder, backup.constData(), 0);
        if (!newCopy.isEmpty())
            unlinkat(backupFolder, newCopy.constData(), 0);
        journal.end();
    }
    closeQuietly(backupHold);
    closeQuietly(newCopyFd);
    closeChecked(backupFolder);
    closeQuietly(held);
}

bool FileSetWriter::Entry::lookAt(struct stat &old, bool &exists, FileError *error)
{
    const QByteArray name = nameToNative(path);
    QByteArray descriptor;
    int errnum = 0;
    if (!followLinks(name, target, descriptor, errnum))
        return fail(error, errnum);
    if (descriptor.isEmpty()) {
        exists = lstat(target.constData(), &old) == 0;
        if (!exists && errno != ENOENT)
            return fail(error, errno);
        if (exists && S_ISLNK(old.st_mode))
            return fail(error, 0, FileError::ReplacedMeanwhile);
        // A name that leads somewhere else than its links do (/proc/PID/fd/N
        // and the like) is written through, as it is.
        struct stat named;
        const bool namedExists = stat(name.constData(), &named) == 0;
        if (namedExists != exists || (exists && (named.st_dev != old.st_dev || named.st_ino != old.st_ino)))
            descriptor = name;
    }
    if (!descriptor.isEmpty()) {
        // Standard output and other open descriptors: never replaced, but
        // written through as a device, pipes and append mode respected.
        method = Method::Device;
        const int own = ownDescriptor(descriptor);
        if (own >= 0) {
            const int flags = fcntl(own, F_GETFL);
            if (flags < 0 || (flags & O_ACCMODE) == O_RDONLY)
                return fail(error, flags < 0 ? errno : EBADF);
            fd = fcntl(own, F_DUPFD_CLOEXEC, 0);
            if (fd < 0)
                return fail(error, errno);
        } else {
            // Another program's file gets the text after what it holds.
            struct stat st;
            deviceName = descriptor;
            if (stat(descriptor.constData(), &st) == 0 && S_ISREG(st.st_mode))
                deviceFlags |= O_APPEND;
        }
    } else if (exists && S_ISDIR(old.st_mode)) {
        return fail(error, 0, FileError::IsDirectory);
    } else if (exists && !S_ISREG(old.st_mode)) {
        // Renaming a new file over a device or a pipe would replace it.
        method = Method::Device;
        deviceName = target;
        deviceFlags |= O_NOFOLLOW;
    }
    return true;
}

bool FileSetWriter::Entry::hold(struct stat &old, const std::vector<std::unique_ptr<Entry>> &others, FileError *error)
{
    struct stat st;
    held = ::open(target.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (held < 0)
        return fail(error, errno);
    if (fstat(held, &st) != 0 || st.st_dev != old.st_dev || st.st_ino != old.st_ino)
        return fail(error, 0, FileError::ReplacedMeanwhile);
    existed = true;
    fileDevice = st.st_dev;
    fileInode = st.st_ino;
    for (const auto &other : others) {
        if (other->existed && other->fileDevice == st.st_dev && other->fileInode == st.st_ino)
            {
            fail(error, 0, FileError::SameFileAs);
            error->about = other->path;
            return false;
        }
    }
    if (!lockForSaving(held)) {
        *error = FileError(FileError::Busy, path, 0);
        return false;
    }
    if (!unchanged() || fstat(held, &old) != 0)
        return fail(error, 0, FileError::ReplacedMeanwhile);
    return true;
}

bool FileSetWriter::Entry::makeNewFile(bool exists, const struct stat &old, FileError *error)
{
    // A second name, or an owner this user cannot give a new file, is kept
    // only by writing over the file: known from the first look at it.
    if (exists && (old.st_nlink > 1 || (geteuid() != 0 && old.st_uid != geteuid())))
        method = Method::InPlace;

    // The new file: nameless where the system allows it, so that nothing is
    // left behind if the program is killed; else its name is recorded first.
    const QByteArray dir = dirOf(target);
    const mode_t mode = exists ? 0600 : 0666;
    if (method == Method::Renamed) {
        fd = ::open(dir.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
        anonymous = fd >= 0 && access("/proc/self/fd", X_OK) == 0;
        if (fd >= 0 && !anonymous)
            closeChecked(fd);
    }
    for (int tries = 0; method == Method::Renamed && fd < 0 && tries < 100; ++tries) {
        temporary = temporaryName(dir);
        temporaryRecord.record(temporary);
        fd = ::open(temporary.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, mode);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (method == Method::Renamed && fd < 0) {
        temporary.clear();
        const int errnum = errno;
        if (!exists || (errnum != EACCES && errnum != EPERM && errnum != EROFS)) {
            *error = FileError(FileError::Write, path, FileError(FileError::CreateIn, nameFromNative(dir), errnum));
            return false;
        }
        method = Method::InPlace;
    }
    // A rename keeps the file only if the new one can be made the same.
    if (exists && method == Method::Renamed && !takeOldsLooks(old)) {
        closeChecked(fd);
        if (!temporary.isEmpty())
            unlink(temporary.constData());
        temporary.clear();
        temporaryRecord.end();
        anonymous = false;
        method = Method::InPlace;
    }
    // Written over at commit, after a copy of the old bytes is made; the new
    // ones wait in the backup folder meanwhile.
    if (method == Method::InPlace) {
        FileError why;
        if (!makeCopies(&why)) {
            *error = FileError(FileError::Write, path, FileError(FileError::BackUp, QString(), why));
            return false;
        }
        if (!openToWriteOver())
            return fail(error, errno, FileError::ReplacedMeanwhile);
    }
    return true;
}

bool FileSetWriter::Entry::takeOldsLooks(const struct stat &old)
{
    struct stat made;
    return old.st_nlink == 1 && fchown(fd, old.st_uid, old.st_gid) == 0 && copyAttributes(held, fd)
            && fchmod(fd, old.st_mode & 07777) == 0 && copyInodeFlags(held, fd) && fstat(fd, &made) == 0
            && made.st_uid == old.st_uid && made.st_gid == old.st_gid && (made.st_mode & 07777) == (old.st_mode & 07777);
}

bool FileSetWriter::Entry::unchanged() const
{
    struct stat st;
    if (lstat(target.constData(), &st) != 0)
        return !existed && errno == ENOENT;
    return existed && !S_ISLNK(st.st_mode) && st.st_dev == fileDevice && st.st_ino == fileInode;
}

bool FileSetWriter::Entry::openToWriteOver()
{
    struct stat st;
    fd = ::open(target.constData(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0 && fstat(fd, &st) == 0 && st.st_dev == fileDevice && st.st_ino == fileInode)
        return true;
    if (fd >= 0)
        errno = 0;
    closeQuietly(fd);
    return false;
}

bool FileSetWriter::Entry::makeCopies(FileError *why)
{
    backupFolder = openStateFolder(QStringLiteral("backup"), &backupFolderPath, why);
    if (backupFolder < 0)
        return false;
    // Never a hidden name: the start looks only at names that are not.
    QByteArray base = target.mid(target.lastIndexOf('/') + 1).left(200);
    while (base.startsWith('.'))
        base.remove(0, 1);
    // A new file of that name, locked; -1 with errno (EEXIST: try another
    // name) when it cannot be made.
    auto makeLocked = [&](const QByteArray &name) {
        int made = openat(backupFolder, name.constData(), O_CREAT | O_EXCL | O_NOFOLLOW | O_RDWR | O_CLOEXEC, 0600);
        struct stat st;
        if (made >= 0 && (flock(made, LOCK_EX) != 0 || fstat(made, &st) != 0)) {
            const int errnum = errno;
            unlinkat(backupFolder, name.constData(), 0);
            closeQuietly(made);
            errno = errnum;
        } else if (made >= 0 && st.st_nlink == 0) {
            // Another program's start took it for a leftover between the
            // open and the lock, and removed it: a new one is made.
            closeQuietly(made);
            errno = EEXIST;
        }
        return made;
    };
    for (int tries = 0; backupHold < 0 && tries < 100; ++tries) {
        backup = temporaryName(QByteArray()).replace("/.tarnlyx-", base + '-');
        newCopy = backup + ".new";
        backupHold = makeLocked(backup);
        if (backupHold >= 0) {
            newCopyFd = makeLocked(newCopy);
            if (newCopyFd < 0) {
                const int errnum = errno;
                unlinkat(backupFolder, backup.constData(), 0);
                closeQuietly(backupHold);
                errno = errnum;
            }
        }
        if (backupHold < 0 && errno != EEXIST)
            break;
    }
    if (backupHold < 0) {
        *why = FileError(FileError::StateFile, backupFolderPath, errno);
        backup.clear();
        newCopy.clear();
        return false;
    }
    return true;
}

bool FileSetWriter::Entry::copyOldBytes(FileError *why)
{
    if (copyBytes(held, backupHold) && systemCalls().fsync(backupHold) == 0)
        return true;
    *why = FileError(FileError::StateFile, backupFolderPath, errno);
    return false;
}

bool FileSetWriter::Entry::putBack()
{
    // A close that failed closed the file all the same.
    if (fd < 0)
        openToWriteOver();
    struct stat st;
    const bool restored = fd >= 0 && fstat(backupHold, &st) == 0 && copyBytes(backupHold, fd, 0)
            && systemCalls().ftruncate(fd, st.st_size) == 0 && systemCalls().fsync(fd) == 0;
    keptAside = !restored;
    return restored;
}

bool FileSetWriter::Entry::fail(FileError *error, int errnum, FileError::Reason why) const
{
    *error = FileError(FileError::Write, path, errnum, why);
    return false;
}

bool FileSetWriter::Entry::placeCreated(FileError *error)
{
    // Only where the name is still free: never over a file another
    // program made meanwhile.
    struct stat made;
    if (fstat(fd, &made) != 0)
        return fail(error, errno);
    madeInode = made.st_ino;
    int linked = -1;
    if (anonymous) {
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
        linked = systemCalls().linkat(AT_FDCWD, self.constData(), AT_FDCWD, target.constData(), AT_SYMLINK_FOLLOW);
    } else {
        linked = systemCalls().rename(temporary.constData(), target.constData(), RENAME_NOREPLACE);
        if (linked != 0 && errno == EINVAL) { // a file system without it
            linked = systemCalls().linkat(AT_FDCWD, temporary.constData(), AT_FDCWD, target.constData(), 0);
            if (linked == 0)
                unlink(temporary.constData());
        }
        if (linked == 0)
            temporary.clear();
    }
    if (linked != 0)
        return fail(error, errno == EEXIST ? 0 : errno, errno == EEXIST ? FileError::ReplacedMeanwhile : FileError::NoReason);
    const int closed = closeChecked(fd);
    if (closed != 0) {
        unlink(target.constData());
        return fail(error, closed);
    }
    placed = Placed::Created;
    return true;
}

bool FileSetWriter::Entry::placeOver(FileError *error)
{
    const QByteArray dir = dirOf(target);
    if (anonymous) {
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
        for (int tries = 0; tries < 100; ++tries) {
            temporary = temporaryName(dir);
            temporaryRecord.record(temporary);
            if (systemCalls().linkat(AT_FDCWD, self.constData(), AT_FDCWD, temporary.constData(), AT_SYMLINK_FOLLOW) == 0)
                break;
            const int errnum = errno;
            temporary.clear();
            if (errnum != EEXIST)
                return fail(error, errnum);
        }
    }
    const int closed = closeChecked(fd);
    if (closed != 0)
        return fail(error, closed);
    // Nothing goes over a file that another program put in the name's
    // place since it was opened (or read): that file is theirs.
    if (!unchanged())
        return fail(error, 0, FileError::ReplacedMeanwhile);
    // The old file is kept under the new one's name until every file of
    // the set is in place.
    if (systemCalls().rename(temporary.constData(), target.constData(), RENAME_EXCHANGE) == 0) {
        placed = Placed::Exchanged;
        return true;
    }
    int errnum = errno;
    if (errnum == EINVAL || errnum == ENOSYS || errnum == EOPNOTSUPP) {
        // A file system that cannot exchange: a second name keeps it.
        holdName = temporaryName(dir);
        temporaryRecord.record(holdName, true);
        if (systemCalls().linkat(AT_FDCWD, target.constData(), AT_FDCWD, holdName.constData(), 0) != 0)
            holdName.clear();
        if (systemCalls().rename(temporary.constData(), target.constData(), 0) == 0) {
            temporary.clear();
            placed = holdName.isEmpty() ? Placed::Replaced : Placed::Held;
            return true;
        }
        errnum = errno;
        if (!holdName.isEmpty())
            unlink(holdName.constData());
        holdName.clear();
    }
    if (errnum != EBUSY && errnum != EXDEV)
        return fail(error, errnum);
    return writeOverMounted(error);
}

bool FileSetWriter::Entry::writeOverMounted(FileError *error)
{
    // A file mounted on its name (as /etc/hosts in a container) cannot
    // be replaced: it is written over, after a copy.
    Descriptor made;
    made.fd = ::open(temporary.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    FileError why;
    if (made.fd < 0 || !openToWriteOver())
        return fail(error, errno, FileError::ReplacedMeanwhile);
    if (!makeCopies(&why) || !copyOldBytes(&why)) {
        *error = FileError(FileError::Write, path, FileError(FileError::BackUp, QString(), why));
        return false;
    }
    QCryptographicHash hash(contentHashKind);
    struct stat st;
    if (fstat(made.fd, &st) != 0 || !copyBytes(made.fd, newCopyFd, -1, &hash) || systemCalls().fsync(newCopyFd) != 0)
        return fail(error, errno);
    newSize = st.st_size;
    newHash = hash.result().toHex();
    method = Method::InPlace;
    return writeOver(error);
}

bool FileSetWriter::Entry::writeOver(FileError *error)
{
    if (!unchanged())
        return fail(error, 0, FileError::ReplacedMeanwhile);
    FileError why;
    if (!journal.begin(backupFolder, backup, newCopy, target, fd, newSize, newHash, &why)) {
        why.path = backupFolderPath;
        *error = FileError(FileError::Write, path, FileError(FileError::Journal, QString(), why));
        return false;
    }
    if (copyBytes(newCopyFd, fd, 0) && systemCalls().ftruncate(fd, newSize) == 0 && systemCalls().fsync(fd) == 0
        && closeChecked(fd) == 0) {
        placed = Placed::Written;
        return true;
    }
    FileError failure(FileError::Write, path, errno);
    if (putBack()) {
        failure.aftermath = FileError::PutBack;
    } else {
        failure.aftermath = FileError::KeptAside;
        failure.keptIn = backupFolderPath + u'/' + nameFromNative(backup);
    }
    *error = failure;
    return false;
}

bool FileSetWriter::Entry::writeDevice(FileError *error)
{
    const QByteArray &bytes = device->kept();
    if (fd < 0)
        fd = ::open(deviceName.constData(), deviceFlags);
    if (fd < 0 || !writeAll(fd, bytes.constData(), bytes.size())) {
        const int errnum = errno;
        closeChecked(fd);
        return fail(error, errnum);
    }
    const int closed = closeChecked(fd);
    return closed == 0 || fail(error, closed);
}
