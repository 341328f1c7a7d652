#include "files/filesaving.h"

#include "files/filenames.h"
#include "files/savejournal.h"
#include "files/systemcalls.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QIODevice>
#include <QRandomGenerator>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

QString folderOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return nameFromNative(slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.first(slash));
}

QByteArray dirOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.first(slash);
}

// Which of this program's own descriptors a name stands for (/dev/stdout,
// /dev/fd/3, /proc/self/fd/3), or -1.
int ownDescriptor(const QByteArray &path)
{
    if (path == "/dev/stdin")
        return 0;
    if (path == "/dev/stdout")
        return 1;
    if (path == "/dev/stderr")
        return 2;
    QByteArray number;
    for (const QByteArray &prefix : {QByteArray("/dev/fd/"), QByteArray("/proc/self/fd/"), QByteArray("/proc/thread-self/fd/"),
                                     "/proc/" + QByteArray::number(getpid()) + "/fd/"}) {
        if (path.startsWith(prefix))
            number = path.mid(prefix.size());
    }
    bool ok = false;
    const int fd = number.toInt(&ok);
    return ok && fd >= 0 && !number.startsWith('+') && !number.startsWith('-') ? fd : -1;
}

// A name that opens whatever a descriptor holds, not a file of that name.
bool isDescriptorName(const QByteArray &path)
{
    if (ownDescriptor(path) >= 0)
        return true;
    const QList<QByteArray> parts = path.split('/');
    return parts.size() == 5 && parts[0].isEmpty() && parts[1] == "proc" && parts[3] == "fd";
}

// The file a name stands for once every symbolic link on the way is
// followed; it need not exist yet. A link in a sticky folder that anyone may
// write to is followed only if it is ours or the folder owner's, the rule
// the system applies when it protects such links: anyone could have put it
// there. `descriptor` is set instead when the chain reaches a name such as
// /dev/stdout.
bool followLinks(QByteArray path, QByteArray &target, QByteArray &descriptor, int &errnum)
{
    for (int hops = 0; hops < 40; ++hops) {
        if (isDescriptorName(path)) {
            descriptor = path;
            return true;
        }
        struct stat st;
        if (lstat(path.constData(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            target = path;
            return true;
        }
        struct stat folder;
        if (stat(dirOf(path).constData(), &folder) != 0) {
            errnum = errno;
            return false;
        }
        if ((folder.st_mode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH) && st.st_uid != geteuid()
            && st.st_uid != folder.st_uid) {
            errnum = EACCES;
            return false;
        }
        QByteArray link(st.st_size > 0 ? st.st_size + 1 : 4096, Qt::Uninitialized);
        const ssize_t length = readlink(path.constData(), link.data(), size_t(link.size()));
        if (length < 0) {
            errnum = errno;
            return false;
        }
        link.truncate(length);
        path = link.startsWith('/') ? link : dirOf(path) + '/' + link;
    }
    errnum = ELOOP;
    return false;
}

// Inode flags (chattr) that a file keeps only as long as it is the same
// file; the ones the file system sets by itself are left out.
constexpr int keptInodeFlags = FS_SECRM_FL | FS_UNRM_FL | FS_COMPR_FL | FS_SYNC_FL | FS_NODUMP_FL
        | FS_NOATIME_FL | FS_JOURNAL_DATA_FL | FS_NOTAIL_FL | FS_NOCOW_FL | FS_NOCOMP_FL | FS_DAX_FL;

// Gives `to` the inode flags of `from`; false when it does not have them
// afterwards. An immutable or append-only file is never given a double.
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

// A short name no user file has, in `dir`: ".tarnlyx-" and six letters.
QByteArray temporaryName(const QByteArray &dir)
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray name = dir + "/.tarnlyx-";
    for (int i = 0; i < 6; ++i)
        name += letters[QRandomGenerator::system()->bounded(36)];
    return name;
}

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

// Gives `to` exactly the extended attributes (ACLs among them) of `from`.
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

// Writes into a file descriptor, or into memory for a device written at
// commit, hashing what it writes where asked; every failure is kept with
// the system's reason.
class NewBytes : public QIODevice
{
public:
    // `folder`: where the bytes wait, when that is not beside the file.
    explicit NewBytes(int fd, bool hashed = false, const QString &folder = QString()) : m_fd(fd), m_folder(folder)
    {
        if (hashed)
            m_hash = std::make_unique<QCryptographicHash>(contentHashKind);
        QIODevice::open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }
    const QByteArray &kept() const { return m_kept; }
    qint64 written() const { return m_written; }
    QByteArray hash() const { return m_hash ? m_hash->result().toHex() : QByteArray(); }
    int failure() const { return m_errno; }
    // Its failure as a save's.
    FileError error(const QString &path) const
    {
        if (m_folder.isEmpty())
            return FileError(FileError::Write, path, m_errno);
        return FileError(FileError::Write, path,
                         FileError(FileError::BackUp, QString(), FileError(FileError::StateFile, m_folder, m_errno)));
    }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override
    {
        if (m_errno != 0)
            return -1;
        if (m_fd < 0) {
            m_kept.append(data, size);
        } else if (!writeAll(m_fd, data, size)) {
            m_errno = errno;
            setErrorString(systemReason(m_errno));
            return -1;
        }
        if (m_hash)
            m_hash->addData(QByteArrayView(data, size));
        m_written += size;
        return size;
    }

private:
    int m_fd;
    QString m_folder;
    int m_errno = 0;
    qint64 m_written = 0;
    QByteArray m_kept;
    std::unique_ptr<QCryptographicHash> m_hash;
};

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

// Closes a descriptor when it goes out of scope.
struct Descriptor
{
    int fd = -1;
    ~Descriptor() { closeChecked(fd); }
};

QString replacedMeanwhile()
{
    return QStringLiteral("another program replaced it meanwhile; nothing was written");
}

QString changedMeanwhile()
{
    return QStringLiteral("another program changed it meanwhile; nothing was written");
}

// How long a save waits for another save of the same file to end before it
// gives up, in milliseconds.
constexpr qint64 lockWait = 2000;

// Takes the lock that keeps two saves of one file (in this program or the
// editor) from going over it at once: the kernel lets go of it when a
// process ends, however it ends. False when another save holds it longer
// than lockWait. A file system without such locks is guarded by the checks
// alone.
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

// Hands everything `fd` holds, from its start, to `take` a megabyte at a
// time with where it stands; false when it cannot be read or `take` says so.
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

// Copies everything `from` holds, from its start, to `to`: at its end, or
// from `at` on when that is not -1. `hash`, where given, takes the bytes.
bool copyBytes(int from, int to, qint64 at = -1, QCryptographicHash *hash = nullptr)
{
    return readPieces(from, [&](QByteArrayView piece, qint64 offset) {
        if (hash)
            hash->addData(piece);
        return writeAll(to, piece.data(), piece.size(), at < 0 ? -1 : at + offset);
    });
}

} // namespace

int writeFailure(const QIODevice &device)
{
    const auto *ours = dynamic_cast<const NewBytes *>(&device);
    return ours ? ours->failure() : 0;
}

FileError writeFailure(const QIODevice &device, const QString &path, const QString &why)
{
    const auto *ours = dynamic_cast<const NewBytes *>(&device);
    return ours && ours->failure() != 0 ? ours->error(path) : FileError(FileError::Write, path, why);
}

struct FileSetWriter::Entry
{
    // Where the new content stands once put in place, and so how it is
    // taken back when another file of the set fails.
    enum class Placed {
        No,
        Exchanged, // the new file took the name, the old one is at `temporary`
        Held,      // the same, the old one kept under `holdName` by a second link
        Replaced,  // renamed over the old one, which is gone
        Created,   // there was no file of that name
        Written,   // written over the old file, whose copy is in the backup folder
    };

    QString path;             // as given, for messages
    QByteArray target;        // the file itself, links followed
    Method method = Method::Renamed;
    int order = 0;            // when it was opened
    int fd = -1;              // the new file, the old one to write over, or a descriptor
    bool anonymous = false;   // a new file with no name yet
    QByteArray temporary;     // the new file's name while it has one; once exchanged, the old file's
    QByteArray holdName;      // the old file's second name where it cannot be exchanged
    Placed placed = Placed::No;
    ino_t madeInode = 0;      // the new file, once Created
    QByteArray deviceName;    // a device opened at commit, with these flags
    int deviceFlags = O_WRONLY | O_CLOEXEC;
    bool existed = false;     // whether the name held a file, and which, when opened
    dev_t fileDevice = 0;
    ino_t fileInode = 0;
    int held = -1;            // that file, locked against other saves until this one ends
    // Written over in place: the copies of the old and the new bytes in the
    // backup folder, each locked from its first moment until the save ends.
    int backupFolder = -1;
    QString backupFolderPath;
    QByteArray backup;
    int backupHold = -1;
    QByteArray newCopy;
    int newCopyFd = -1;
    QByteArray newHash;
    qint64 newSize = 0;
    bool keptAside = false;   // the file may be damaged: copies and record stay
    bool finished = false;    // the whole set is in place
    SaveJournal journal;      // while the file is written over
    TemporaryRecord temporaryRecord; // while `temporary` or `holdName` is a visible name
    std::unique_ptr<NewBytes> device;

    ~Entry()
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
    // Whether the name still holds the file it held when it was opened.
    bool unchanged() const
    {
        struct stat st;
        if (lstat(target.constData(), &st) != 0)
            return !existed && errno == ENOENT;
        return existed && !S_ISLNK(st.st_mode) && st.st_dev == fileDevice && st.st_ino == fileInode;
    }
    // Opens the old file to be written over, if it is still the one opened.
    bool openToWriteOver()
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
    // Makes the two copies in the backup folder, empty and locked; the old
    // bytes go into theirs at commit, the new ones are written into theirs.
    bool makeCopies(FileError *why);
    // Copies the old bytes and flushes them.
    bool copyOldBytes(FileError *why);
    // Writes the old bytes back over the file from their copy; false when
    // they cannot be, and the copy and the record then stay.
    bool putBack();
};

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

FileSetWriter::FileSetWriter() = default;
FileSetWriter::~FileSetWriter() = default;

QIODevice *FileSetWriter::open(const QString &path, FileError *error, const FileStamp *readFrom, bool settling)
{
    auto fail = [&](int errnum, const QString &why = QString()) {
        if (error)
            *error = FileError(FileError::Write, path, errnum, why);
        return nullptr;
    };
    auto failWith = [&](const FileError &why) {
        if (error)
            *error = why;
        return nullptr;
    };
    auto entry = std::make_unique<Entry>();
    entry->path = path;
    entry->order = int(m_entries.size());
    const QByteArray name = nameToNative(path);
    QByteArray descriptor;
    int errnum = 0;
    if (!followLinks(name, entry->target, descriptor, errnum))
        return fail(errnum);
    const QByteArray dir = dirOf(entry->target);

    struct stat old;
    bool exists = false;
    if (descriptor.isEmpty()) {
        exists = lstat(entry->target.constData(), &old) == 0;
        if (!exists && errno != ENOENT)
            return fail(errno);
        if (exists && S_ISLNK(old.st_mode))
            return fail(0, replacedMeanwhile());
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
        entry->method = Method::Device;
        const int own = ownDescriptor(descriptor);
        if (own >= 0) {
            const int flags = fcntl(own, F_GETFL);
            if (flags < 0 || (flags & O_ACCMODE) == O_RDONLY)
                return fail(flags < 0 ? errno : EBADF);
            entry->fd = fcntl(own, F_DUPFD_CLOEXEC, 0);
            if (entry->fd < 0)
                return fail(errno);
        } else {
            // Another program's file gets the text after what it holds.
            struct stat st;
            entry->deviceName = descriptor;
            if (stat(descriptor.constData(), &st) == 0 && S_ISREG(st.st_mode))
                entry->deviceFlags |= O_APPEND;
        }
    } else if (exists && S_ISDIR(old.st_mode)) {
        return fail(0, QStringLiteral("it is a directory"));
    } else if (exists && !S_ISREG(old.st_mode)) {
        // Renaming a new file over a device or a pipe would replace it.
        entry->method = Method::Device;
        entry->deviceName = entry->target;
        entry->deviceFlags |= O_NOFOLLOW;
    }
    if (entry->method == Method::Device) {
        entry->device = std::make_unique<NewBytes>(-1);
        QIODevice *device = entry->device.get();
        m_entries.push_back(std::move(entry));
        return device;
    }

    // The file the links led to, opened without following another: the
    // same file, and the one that was read, or nothing is written. It stays
    // open and locked until the save ends, so that another save of it waits
    // for this one; under the lock it is looked at again.
    if (exists) {
        struct stat st;
        entry->held = ::open(entry->target.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (entry->held < 0)
            return fail(errno);
        if (fstat(entry->held, &st) != 0 || st.st_dev != old.st_dev || st.st_ino != old.st_ino)
            return fail(0, replacedMeanwhile());
        entry->existed = true;
        entry->fileDevice = st.st_dev;
        entry->fileInode = st.st_ino;
        for (const auto &other : m_entries) {
            if (other->existed && other->fileDevice == st.st_dev && other->fileInode == st.st_ino)
                return fail(0, QStringLiteral("it is the same file as \"%1\"").arg(shownName(other->path)));
        }
        if (!lockForSaving(entry->held))
            return failWith(FileError(FileError::Busy, path, 0));
        if (!entry->unchanged() || fstat(entry->held, &old) != 0)
            return fail(0, replacedMeanwhile());
    }
    if (readFrom
        && (readFrom->exists != exists
            || (exists && (readFrom->device != quint64(old.st_dev) || readFrom->inode != quint64(old.st_ino)))))
        return fail(0, replacedMeanwhile());
    if (readFrom && exists && !settling
        && (readFrom->size != qint64(old.st_size) || readFrom->mtime != qint64(old.st_mtim.tv_sec) * 1000000000 + old.st_mtim.tv_nsec))
        return fail(0, changedMeanwhile());
    // A save over a file whose last save was cut short would take the
    // damage for the old content: that one is settled first.
    if (exists && !settling && hasUnsettledSave(entry->held))
        return failWith(FileError(FileError::Unsettled, path, 0));

    // A second name, or an owner this user cannot give a new file, is kept
    // only by writing over the file: known from the first look at it.
    if (exists && (old.st_nlink > 1 || (geteuid() != 0 && old.st_uid != geteuid())))
        entry->method = Method::InPlace;

    // The new file: nameless where the system allows it, so that nothing is
    // left behind if the program is killed; else its name is recorded first.
    const mode_t mode = exists ? 0600 : 0666;
    if (entry->method == Method::Renamed) {
        entry->fd = ::open(dir.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
        entry->anonymous = entry->fd >= 0 && access("/proc/self/fd", X_OK) == 0;
        if (entry->fd >= 0 && !entry->anonymous)
            closeChecked(entry->fd);
    }
    for (int tries = 0; entry->method == Method::Renamed && entry->fd < 0 && tries < 100; ++tries) {
        entry->temporary = temporaryName(dir);
        entry->temporaryRecord.record(entry->temporary);
        entry->fd = ::open(entry->temporary.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, mode);
        if (entry->fd < 0 && errno != EEXIST)
            break;
    }
    if (entry->method == Method::Renamed && entry->fd < 0) {
        entry->temporary.clear();
        errnum = errno;
        if (!exists || (errnum != EACCES && errnum != EPERM && errnum != EROFS))
            return failWith(FileError(FileError::Write, path, FileError(FileError::CreateIn, folderOf(entry->target), errnum)));
        entry->method = Method::InPlace;
    }
    if (exists && entry->method == Method::Renamed) {
        // A rename keeps the file only if the new one can be made the same.
        struct stat made;
        const bool same = old.st_nlink == 1 && fchown(entry->fd, old.st_uid, old.st_gid) == 0
                && copyAttributes(entry->held, entry->fd) && fchmod(entry->fd, old.st_mode & 07777) == 0
                && copyInodeFlags(entry->held, entry->fd) && fstat(entry->fd, &made) == 0
                && made.st_uid == old.st_uid && made.st_gid == old.st_gid
                && (made.st_mode & 07777) == (old.st_mode & 07777);
        if (!same) {
            closeChecked(entry->fd);
            if (!entry->temporary.isEmpty())
                unlink(entry->temporary.constData());
            entry->temporary.clear();
            entry->temporaryRecord.end();
            entry->anonymous = false;
            entry->method = Method::InPlace;
        }
    }
    // Written over at commit, after a copy of the old bytes is made; the new
    // ones wait in the backup folder meanwhile.
    if (entry->method == Method::InPlace) {
        FileError why;
        if (!entry->makeCopies(&why))
            return failWith(FileError(FileError::Write, path, FileError(FileError::BackUp, QString(), why)));
        if (!entry->openToWriteOver())
            return fail(errno, replacedMeanwhile());
    }
    const bool inPlace = entry->method == Method::InPlace;
    entry->device = std::make_unique<NewBytes>(inPlace ? entry->newCopyFd : entry->fd, inPlace,
                                               inPlace ? entry->backupFolderPath : QString());
    QIODevice *device = entry->device.get();
    m_entries.push_back(std::move(entry));
    return device;
}

bool FileSetWriter::commit(FileError *error)
{
    m_methods.clear();
    // What became of every other file when one failed: those put in place
    // are put back, in the reverse order.
    auto fail = [&](FileError why, const Entry *failed) {
        for (auto it = m_entries.rbegin(); it != m_entries.rend(); ++it) {
            Entry &entry = **it;
            if (&entry == failed)
                continue;
            FileError other(FileError::Write, entry.path, 0);
            if (entry.placed != Entry::Placed::No)
                takeBack(entry, other);
            why.alongside.prepend(other);
        }
        if (error)
            *error = why;
        m_entries.clear();
        return false;
    };
    // Every new file whole and on disk before any old one is touched.
    for (const auto &entry : m_entries) {
        if (entry->device->failure() != 0)
            return fail(entry->device->error(entry->path), entry.get());
        const int made = entry->method == Method::Renamed ? entry->fd : entry->newCopyFd;
        if (entry->method != Method::Device && systemCalls().fsync(made) != 0) {
            const int errnum = errno;
            return fail(entry->method == Method::Renamed
                                ? FileError(FileError::Write, entry->path, errnum)
                                : FileError(FileError::Write, entry->path,
                                            FileError(FileError::BackUp, QString(),
                                                      FileError(FileError::StateFile, entry->backupFolderPath, errnum))),
                        entry.get());
        }
        entry->newSize = entry->device->written();
        entry->newHash = entry->device->hash();
    }
    // A copy of every file that is to be written over.
    for (const auto &entry : m_entries) {
        FileError why;
        if (entry->method == Method::InPlace && !entry->copyOldBytes(&why))
            return fail(FileError(FileError::Write, entry->path, FileError(FileError::BackUp, QString(), why)), entry.get());
    }
    // Files written over go first: a failure there is undone from the copy
    // before any other file is touched.
    std::stable_partition(m_entries.begin(), m_entries.end(),
                          [](const auto &entry) { return entry->method == Method::InPlace; });
    for (const auto &entry : m_entries) {
        FileError why;
        if (!apply(*entry, &why))
            return fail(why, entry.get());
    }
    // The new names on disk, each folder once; the old files go only after.
    QSet<QByteArray> flushed;
    for (const auto &entry : m_entries) {
        const QByteArray dir = dirOf(entry->target);
        if (entry->method != Method::Renamed || flushed.contains(dir))
            continue;
        flushed.insert(dir);
        Descriptor folder;
        folder.fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folder.fd < 0 || systemCalls().fsync(folder.fd) != 0) {
            const int errnum = errno;
            if (error)
                *error = FileError(FileError::Write, entry->path, FileError(FileError::FlushFolder, nameFromNative(dir), errnum));
            for (const auto &placed : m_entries)
                placed->finished = true; // in place, as the message says
            m_entries.clear();
            return false;
        }
    }
    std::sort(m_entries.begin(), m_entries.end(), [](const auto &a, const auto &b) { return a->order < b->order; });
    for (const auto &entry : m_entries) {
        entry->finished = true;
        m_methods << entry->method;
    }
    m_entries.clear();
    return true;
}

void FileSetWriter::takeBack(Entry &entry, FileError &outcome)
{
    using Placed = Entry::Placed;
    outcome.aftermath = FileError::PutBack;
    const Placed placed = std::exchange(entry.placed, Placed::No);
    switch (placed) {
    case Placed::No:
        outcome.aftermath = FileError::Untouched;
        return;
    case Placed::Exchanged:
    case Placed::Held: {
        QByteArray &old = placed == Placed::Exchanged ? entry.temporary : entry.holdName;
        const unsigned flags = placed == Placed::Exchanged ? RENAME_EXCHANGE : 0;
        if (systemCalls().rename(old.constData(), entry.target.constData(), flags) == 0) {
            if (flags == 0)
                old.clear(); // the old file has its name back
            return;
        }
        // The old file stays where it is, for the user to take.
        outcome.errnum = errno;
        outcome.aftermath = FileError::KeptAside;
        outcome.keptIn = nameFromNative(old);
        old.clear();
        entry.temporaryRecord.end();
        return;
    }
    case Placed::Replaced:
        outcome.aftermath = FileError::KeptAside;
        outcome.detail = QStringLiteral("its file system cannot keep the old file aside");
        return;
    case Placed::Created: {
        struct stat st;
        if (lstat(entry.target.constData(), &st) == 0 && st.st_ino == entry.madeInode && unlink(entry.target.constData()) == 0)
            return;
        outcome.errnum = errno;
        outcome.aftermath = FileError::KeptAside;
        return;
    }
    case Placed::Written:
        if (entry.putBack())
            return;
        outcome.errnum = errno;
        outcome.aftermath = FileError::KeptAside;
        outcome.keptIn = entry.backupFolderPath + u'/' + nameFromNative(entry.backup);
        return;
    }
}

bool FileSetWriter::apply(Entry &entry, FileError *error)
{
    using Placed = Entry::Placed;
    auto fail = [&](int errnum, const QString &why = QString()) {
        *error = FileError(FileError::Write, entry.path, errnum, why);
        return false;
    };
    switch (entry.method) {
    case Method::Renamed: {
        const QByteArray dir = dirOf(entry.target);
        if (!entry.existed) {
            // Only where the name is still free: never over a file another
            // program made meanwhile.
            struct stat made;
            if (fstat(entry.fd, &made) != 0)
                return fail(errno);
            entry.madeInode = made.st_ino;
            int placed = -1;
            if (entry.anonymous) {
                const QByteArray self = "/proc/self/fd/" + QByteArray::number(entry.fd);
                placed = systemCalls().linkat(AT_FDCWD, self.constData(), AT_FDCWD, entry.target.constData(), AT_SYMLINK_FOLLOW);
            } else {
                placed = systemCalls().rename(entry.temporary.constData(), entry.target.constData(), RENAME_NOREPLACE);
                if (placed != 0 && errno == EINVAL) { // a file system without it
                    placed = systemCalls().linkat(AT_FDCWD, entry.temporary.constData(), AT_FDCWD, entry.target.constData(), 0);
                    if (placed == 0)
                        unlink(entry.temporary.constData());
                }
                if (placed == 0)
                    entry.temporary.clear();
            }
            if (placed != 0)
                return fail(errno == EEXIST ? 0 : errno, errno == EEXIST ? replacedMeanwhile() : QString());
            const int closed = closeChecked(entry.fd);
            if (closed != 0) {
                unlink(entry.target.constData());
                return fail(closed);
            }
            entry.placed = Placed::Created;
            return true;
        }
        if (entry.anonymous) {
            const QByteArray self = "/proc/self/fd/" + QByteArray::number(entry.fd);
            for (int tries = 0; tries < 100; ++tries) {
                entry.temporary = temporaryName(dir);
                entry.temporaryRecord.record(entry.temporary);
                if (systemCalls().linkat(AT_FDCWD, self.constData(), AT_FDCWD, entry.temporary.constData(), AT_SYMLINK_FOLLOW) == 0)
                    break;
                const int errnum = errno;
                entry.temporary.clear();
                if (errnum != EEXIST)
                    return fail(errnum);
            }
        }
        const int closed = closeChecked(entry.fd);
        if (closed != 0)
            return fail(closed);
        // Nothing goes over a file that another program put in the name's
        // place since it was opened (or read): that file is theirs.
        if (!entry.unchanged())
            return fail(0, replacedMeanwhile());
        // The old file is kept under the new one's name until every file of
        // the set is in place.
        if (systemCalls().rename(entry.temporary.constData(), entry.target.constData(), RENAME_EXCHANGE) == 0) {
            entry.placed = Placed::Exchanged;
            return true;
        }
        int errnum = errno;
        if (errnum == EINVAL || errnum == ENOSYS || errnum == EOPNOTSUPP) {
            // A file system that cannot exchange: a second name keeps it.
            entry.holdName = temporaryName(dir);
            entry.temporaryRecord.record(entry.holdName, true);
            if (systemCalls().linkat(AT_FDCWD, entry.target.constData(), AT_FDCWD, entry.holdName.constData(), 0) != 0)
                entry.holdName.clear();
            if (systemCalls().rename(entry.temporary.constData(), entry.target.constData(), 0) == 0) {
                entry.temporary.clear();
                entry.placed = entry.holdName.isEmpty() ? Placed::Replaced : Placed::Held;
                return true;
            }
            errnum = errno;
            if (!entry.holdName.isEmpty())
                unlink(entry.holdName.constData());
            entry.holdName.clear();
        }
        if (errnum != EBUSY && errnum != EXDEV)
            return fail(errnum);
        // A file mounted on its name (as /etc/hosts in a container) cannot
        // be replaced: it is written over, after a copy.
        Descriptor made;
        made.fd = ::open(entry.temporary.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        FileError why;
        if (made.fd < 0 || !entry.openToWriteOver())
            return fail(errno, replacedMeanwhile());
        if (!entry.makeCopies(&why) || !entry.copyOldBytes(&why)) {
            *error = FileError(FileError::Write, entry.path, FileError(FileError::BackUp, QString(), why));
            return false;
        }
        QCryptographicHash hash(contentHashKind);
        struct stat st;
        if (fstat(made.fd, &st) != 0 || !copyBytes(made.fd, entry.newCopyFd, -1, &hash)
            || systemCalls().fsync(entry.newCopyFd) != 0)
            return fail(errno);
        entry.newSize = st.st_size;
        entry.newHash = hash.result().toHex();
        entry.method = Method::InPlace;
        return apply(entry, error);
    }
    case Method::InPlace: {
        if (!entry.unchanged())
            return fail(0, replacedMeanwhile());
        FileError why;
        if (!entry.journal.begin(entry.backupFolder, entry.backup, entry.newCopy, entry.target, entry.fd, entry.newSize,
                                 entry.newHash, &why)) {
            why.path = entry.backupFolderPath;
            *error = FileError(FileError::Write, entry.path, FileError(FileError::Journal, QString(), why));
            return false;
        }
        if (copyBytes(entry.newCopyFd, entry.fd, 0) && systemCalls().ftruncate(entry.fd, entry.newSize) == 0
            && systemCalls().fsync(entry.fd) == 0 && closeChecked(entry.fd) == 0) {
            entry.placed = Placed::Written;
            return true;
        }
        FileError failure(FileError::Write, entry.path, errno);
        if (entry.putBack()) {
            failure.aftermath = FileError::PutBack;
        } else {
            failure.aftermath = FileError::KeptAside;
            failure.keptIn = entry.backupFolderPath + u'/' + nameFromNative(entry.backup);
        }
        *error = failure;
        return false;
    }
    case Method::Device: {
        const QByteArray &bytes = entry.device->kept();
        if (entry.fd < 0)
            entry.fd = ::open(entry.deviceName.constData(), entry.deviceFlags);
        if (entry.fd < 0 || !writeAll(entry.fd, bytes.constData(), bytes.size())) {
            const int errnum = errno;
            closeChecked(entry.fd);
            return fail(errnum);
        }
        const int closed = closeChecked(entry.fd);
        return closed == 0 || fail(closed);
    }
    }
    return false;
}

bool writeSubtitleFile(const QString &path, QByteArrayView bytes, FileError *error,
                       FileSetWriter::Method *method, const FileStamp *readFrom)
{
    FileSetWriter writer;
    QIODevice *device = writer.open(path, error, readFrom);
    if (!device)
        return false;
    device->write(bytes.data(), bytes.size());
    if (!writer.commit(error))
        return false;
    if (method)
        *method = writer.methods().value(0);
    return true;
}

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

bool createEmptyFile(const QString &path, FileError *error)
{
    // The links are followed by the same rule as for a save.
    QByteArray target, descriptor;
    int errnum = 0;
    if (!followLinks(nameToNative(path), target, descriptor, errnum)) {
        if (error)
            *error = FileError(FileError::Create, path, errnum);
        return false;
    }
    if (!descriptor.isEmpty())
        target = descriptor;
    const int fd = ::open(target.constData(), O_WRONLY | O_CREAT | O_CLOEXEC | (descriptor.isEmpty() ? O_NOFOLLOW : 0), 0666);
    if (fd < 0 || close(fd) != 0) {
        if (error)
            *error = FileError(FileError::Create, path, errno);
        return false;
    }
    return true;
}

int openStateFolder(const QString &name, QString *path, FileError *error, bool create)
{
    auto fail = [&](const QByteArray &at, int errnum, const QString &why = QString()) {
        if (error)
            *error = FileError(FileError::StateFolder, nameFromNative(at), errnum, why);
        return -1;
    };
    QByteArray at = qgetenv("XDG_STATE_HOME");
    if (!at.startsWith('/')) {
        at = qgetenv("HOME");
        if (!at.startsWith('/'))
            return fail(QByteArray(), 0, QStringLiteral("neither XDG_STATE_HOME nor HOME names a folder to keep it in"));
        at += "/.local/state";
    }
    // The folders above ours are the user's: made if missing, taken as they are.
    QByteArray made;
    for (const QByteArray &part : at.split('/')) {
        if (part.isEmpty())
            continue;
        made += '/' + part;
        if (create && mkdir(made.constData(), 0700) != 0 && errno != EEXIST)
            return fail(made, errno);
    }
    int folder = ::open(at.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return fail(at, errno);
    // Ours holds unsaved text and old file contents: every level must be
    // the user's own folder that no one else may enter or change.
    for (const QByteArray &level : {QByteArray("tarnlyx"), nameToNative(name)}) {
        at += '/' + level;
        const bool created = create && mkdirat(folder, level.constData(), 0700) == 0;
        if (create && !created && errno != EEXIST) {
            const int errnum = errno;
            close(folder);
            return fail(at, errnum);
        }
        const int next = openat(folder, level.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int errnum = errno;
        struct stat st;
        QString why;
        int whyErrno = 0;
        if (next < 0) {
            const bool isLink = fstatat(folder, level.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
            if (isLink)
                why = QStringLiteral("it is a symbolic link, not a folder");
            else if (errnum == ENOTDIR)
                why = QStringLiteral("it is not a folder");
            else
                whyErrno = errnum;
        } else if (fstat(next, &st) != 0) {
            whyErrno = errno;
        } else if (st.st_uid != geteuid()) {
            why = QStringLiteral("it belongs to another user");
        } else if ((st.st_mode & 0777) != 0700 && !(created && fchmod(next, 0700) == 0)) {
            why = QStringLiteral("other users may use it (mode %1, not 0700)").arg(st.st_mode & 07777, 4, 8, QLatin1Char('0'));
        }
        close(folder);
        folder = next;
        if (!why.isEmpty() || whyErrno != 0) {
            if (folder >= 0)
                close(folder);
            return fail(at, whyErrno, why);
        }
    }
    if (path)
        *path = nameFromNative(at);
    return folder;
}

bool replaceFileAt(int folder, const QByteArray &name, QByteArrayView bytes, FileError *error)
{
    QByteArray temporary;
    int fd = -1;
    for (int tries = 0; fd < 0 && tries < 100; ++tries) {
        temporary = temporaryName(QByteArray()).mid(1);
        fd = openat(folder, temporary.constData(), O_CREAT | O_EXCL | O_NOFOLLOW | O_WRONLY | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        if (error)
            *error = FileError(FileError::StateFile, QString(), errno);
        return false;
    }
    const bool written = writeAll(fd, bytes.data(), bytes.size()) && fsync(fd) == 0;
    int errnum = written ? closeChecked(fd) : errno;
    closeChecked(fd);
    if (errnum == 0 && renameat(folder, temporary.constData(), folder, name.constData()) != 0)
        errnum = errno;
    if (errnum != 0) {
        unlinkat(folder, temporary.constData(), 0);
        if (error)
            *error = FileError(FileError::StateFile, QString(), errnum);
        return false;
    }
    fsync(folder);
    return true;
}

QList<QByteArray> stateFolderEntries(int dirfd, const QByteArray &ending)
{
    QList<QByteArray> names;
    const int listed = dirfd < 0 ? -1 : dup(dirfd);
    DIR *listing = listed < 0 ? nullptr : fdopendir(listed);
    if (!listing) {
        if (listed >= 0)
            close(listed);
        return names;
    }
    rewinddir(listing); // the copy shares its place with `dirfd`, which may have been listed before
    while (const dirent *item = readdir(listing)) {
        const QByteArray name(item->d_name);
        if (name.endsWith(ending) && !name.startsWith('.'))
            names << name;
    }
    closedir(listing);
    return names;
}
