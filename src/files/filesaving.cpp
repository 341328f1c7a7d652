#include "files/filesaving.h"

#include "files/filenames.h"
#include "files/savejournal.h"
#include "files/systemcalls.h"

#include <QDir>
#include <QIODevice>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>

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

// Writes into a file descriptor, or into memory for a file written at
// commit; every failure is kept with the system's reason.
class NewBytes : public QIODevice
{
public:
    explicit NewBytes(int fd) : m_fd(fd) { QIODevice::open(QIODevice::WriteOnly | QIODevice::Unbuffered); }
    bool isSequential() const override { return true; }
    const QByteArray &kept() const { return m_kept; }
    void keep(const QByteArray &bytes) { m_kept = bytes; }
    int failure() const { return m_errno; }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override
    {
        if (m_errno != 0)
            return -1;
        if (m_fd < 0) {
            m_kept.append(data, size);
            return size;
        }
        if (!writeAll(m_fd, data, size)) {
            m_errno = errno;
            setErrorString(systemReason(m_errno));
            return -1;
        }
        return size;
    }

private:
    int m_fd;
    int m_errno = 0;
    QByteArray m_kept;
};

int closeChecked(int &fd)
{
    if (fd < 0)
        return 0;
    const int result = systemCalls().close(fd);
    fd = -1;
    return result == 0 ? 0 : errno;
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

} // namespace

int writeFailure(const QIODevice &device)
{
    const auto *ours = dynamic_cast<const NewBytes *>(&device);
    return ours ? ours->failure() : 0;
}

struct FileSetWriter::Entry
{
    QString path;             // as given, for messages
    QByteArray target;        // the file itself, links followed
    Method method = Method::Renamed;
    int order = 0;            // when it was opened
    int fd = -1;              // the new file, the old one to write over, or a descriptor
    bool anonymous = false;   // a new file with no name yet
    QByteArray temporary;     // the new file's name while it has one
    QByteArray deviceName;    // a device opened at commit, with these flags
    int deviceFlags = O_WRONLY | O_CLOEXEC;
    bool existed = false;     // whether the name held a file, and which, when opened
    dev_t fileDevice = 0;
    ino_t fileInode = 0;
    int backupFolder = -1;    // the old bytes' copy while it is written over
    QString backupFolderPath;
    QByteArray backup;
    int backupHold = -1;      // the copy's lock, held until the save ends
    SaveJournal journal;      // while the file is written over
    TemporaryRecord temporaryRecord; // while `temporary` is a visible name
    std::unique_ptr<NewBytes> device;

    ~Entry()
    {
        closeChecked(fd);
        if (!temporary.isEmpty())
            unlink(temporary.constData());
        if (!backup.isEmpty())
            unlinkat(backupFolder, backup.constData(), 0);
        journal.end();
        if (backupHold >= 0)
            close(backupHold);
        closeChecked(backupFolder);
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
        return false;
    }
};

FileSetWriter::FileSetWriter() = default;
FileSetWriter::~FileSetWriter() = default;

QIODevice *FileSetWriter::open(const QString &path, FileError *error, const FileStamp *readFrom)
{
    auto fail = [&](int errnum, const QString &why = QString()) {
        if (error)
            *error = FileError(FileError::Write, path, errnum, why);
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
    // same file, and the one that was read, or nothing is written.
    Descriptor original;
    if (exists) {
        struct stat st;
        original.fd = ::open(entry->target.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (original.fd < 0)
            return fail(errno);
        if (fstat(original.fd, &st) != 0 || st.st_dev != old.st_dev || st.st_ino != old.st_ino)
            return fail(0, replacedMeanwhile());
        entry->existed = true;
        entry->fileDevice = st.st_dev;
        entry->fileInode = st.st_ino;
    }
    if (readFrom
        && (readFrom->exists != exists
            || (exists && (readFrom->device != quint64(old.st_dev) || readFrom->inode != quint64(old.st_ino)))))
        return fail(0, replacedMeanwhile());

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
        if (!exists || (errnum != EACCES && errnum != EPERM && errnum != EROFS)) {
            if (error)
                *error = FileError(FileError::Write, path, FileError(FileError::CreateIn, folderOf(entry->target), errnum));
            return nullptr;
        }
        entry->method = Method::InPlace;
    }
    if (exists && entry->method == Method::Renamed) {
        // A rename keeps the file only if the new one can be made the same.
        struct stat made;
        const bool same = old.st_nlink == 1 && fchown(entry->fd, old.st_uid, old.st_gid) == 0
                && copyAttributes(original.fd, entry->fd) && fchmod(entry->fd, old.st_mode & 07777) == 0
                && copyInodeFlags(original.fd, entry->fd) && fstat(entry->fd, &made) == 0
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
    // Written over at commit, after a copy of the old bytes is made.
    if (entry->method == Method::InPlace && !entry->openToWriteOver())
        return fail(errno, replacedMeanwhile());
    entry->device = std::make_unique<NewBytes>(entry->method == Method::Renamed ? entry->fd : -1);
    QIODevice *device = entry->device.get();
    m_entries.push_back(std::move(entry));
    return device;
}

namespace {

// Copies everything `from` holds, from its start, to the end of `to`.
bool copyBytes(int from, int to)
{
    QByteArray chunk(1 << 20, Qt::Uninitialized);
    for (qint64 offset = 0;;) {
        const ssize_t got = pread(from, chunk.data(), size_t(chunk.size()), offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        if (!writeAll(to, chunk.constData(), got))
            return false;
        offset += got;
    }
}

// Copies the bytes of `fd`, the file `target`, into a new file in the
// backup folder and flushes it; `backup` is its name in `folder` once it
// exists. The copy is locked from its first moment, and `hold` keeps the
// lock after it is closed, until the save ends: the next start of either
// program removes a copy that nobody holds and no record names, which is
// what a kill during the copy leaves.
bool backUp(const QByteArray &target, int fd, int &folder, QString &folderPath, QByteArray &backup, int &hold,
            FileError *why)
{
    folder = openStateFolder(QStringLiteral("backup"), &folderPath, why);
    if (folder < 0)
        return false;
    // Never a hidden name: the start looks only at names that are not.
    QByteArray base = target.mid(target.lastIndexOf('/') + 1).left(200);
    while (base.startsWith('.'))
        base.remove(0, 1);
    int copy = -1;
    for (int tries = 0; copy < 0 && tries < 100; ++tries) {
        backup = temporaryName(QByteArray()).replace("/.tarnlyx-", base + '-');
        copy = openat(folder, backup.constData(), O_CREAT | O_EXCL | O_NOFOLLOW | O_WRONLY | O_CLOEXEC, 0600);
        if (copy < 0 && errno != EEXIST)
            break;
        struct stat st;
        if (copy >= 0 && (flock(copy, LOCK_EX) != 0 || fstat(copy, &st) != 0)) {
            *why = FileError(FileError::StateFile, QString(), errno);
            close(copy);
            return false; // removed with its name
        }
        // Another program's start took it for a leftover between the open
        // and the lock, and removed it: a new one is made.
        if (copy >= 0 && st.st_nlink == 0) {
            close(copy);
            copy = -1;
            errno = EEXIST;
        }
    }
    if (copy < 0) {
        *why = FileError(FileError::StateFile, QString(), errno);
        backup.clear();
        return false;
    }
    bool copied = copyBytes(fd, copy) && systemCalls().fsync(copy) == 0;
    if (copied) {
        hold = fcntl(copy, F_DUPFD_CLOEXEC, 0); // the lock outlives the checked close
        copied = hold >= 0;
    }
    const int errnum = copied ? closeChecked(copy) : errno;
    closeChecked(copy);
    if (errnum != 0)
        *why = FileError(FileError::StateFile, QString(), errnum);
    return errnum == 0;
}

// Everything `fd` holds, from its start.
bool readWhole(int fd, QByteArray &bytes)
{
    struct stat st;
    if (fstat(fd, &st) != 0)
        return false;
    bytes.resize(st.st_size);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t got = pread(fd, bytes.data() + done, size_t(bytes.size() - done), done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            if (got == 0)
                errno = EIO;
            return false;
        }
        done += got;
    }
    return true;
}

} // namespace

bool FileSetWriter::commit(FileError *error)
{
    m_methods.clear();
    auto fail = [&](const FileError &why) {
        if (error)
            *error = why;
        m_entries.clear();
        return false;
    };
    // Every new file whole and on disk before any old one is touched.
    for (const auto &entry : m_entries) {
        if (entry->device->failure() != 0)
            return fail(FileError(FileError::Write, entry->path, entry->device->failure()));
        if (entry->method == Method::Renamed && systemCalls().fsync(entry->fd) != 0)
            return fail(FileError(FileError::Write, entry->path, errno));
    }
    // Nothing goes over a file that another program put in a name's place
    // since it was opened (or read): that file is theirs.
    for (const auto &entry : m_entries) {
        if (entry->method != Method::Device && !entry->unchanged())
            return fail(FileError(FileError::Write, entry->path, replacedMeanwhile()));
    }
    // A copy of every file that is to be written over.
    for (const auto &entry : m_entries) {
        FileError why;
        if (entry->method == Method::InPlace
            && !backUp(entry->target, entry->fd, entry->backupFolder, entry->backupFolderPath, entry->backup,
                       entry->backupHold, &why))
            return fail(FileError(FileError::Write, entry->path, FileError(FileError::BackUp, QString(), why)));
    }
    // Files written over go first: a failure there is undone from the copy
    // before any other file is touched.
    std::stable_partition(m_entries.begin(), m_entries.end(),
                          [](const auto &entry) { return entry->method == Method::InPlace; });
    for (const auto &entry : m_entries) {
        if (!apply(*entry, error)) {
            m_entries.clear();
            return false;
        }
    }
    std::sort(m_entries.begin(), m_entries.end(), [](const auto &a, const auto &b) { return a->order < b->order; });
    for (const auto &entry : m_entries)
        m_methods << entry->method;
    m_entries.clear();
    return true;
}

bool FileSetWriter::apply(Entry &entry, FileError *error)
{
    auto fail = [&](int errnum, const QString &why = QString()) {
        if (error)
            *error = FileError(FileError::Write, entry.path, errnum, why);
        return false;
    };
    auto failAt = [&](const FileError &step) {
        if (error)
            *error = FileError(FileError::Write, entry.path, step);
        return false;
    };
    switch (entry.method) {
    case Method::Renamed: {
        const QByteArray dir = dirOf(entry.target);
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
        if (systemCalls().rename(entry.temporary.constData(), entry.target.constData()) != 0) {
            const int errnum = errno;
            if (!entry.existed || (errnum != EBUSY && errnum != EXDEV))
                return fail(errnum);
            // A file mounted on its name (as /etc/hosts in a container)
            // cannot be replaced: it is written over, after a copy.
            Descriptor made;
            made.fd = ::open(entry.temporary.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
            QByteArray bytes;
            FileError why;
            if (made.fd < 0 || !readWhole(made.fd, bytes) || !entry.openToWriteOver())
                return fail(errno, replacedMeanwhile());
            if (!backUp(entry.target, entry.fd, entry.backupFolder, entry.backupFolderPath, entry.backup, entry.backupHold, &why))
                return failAt(FileError(FileError::BackUp, QString(), why));
            entry.device->keep(bytes);
            entry.method = Method::InPlace;
            return apply(entry, error);
        }
        entry.temporary.clear();
        entry.temporaryRecord.end();
        // The rename itself on disk.
        Descriptor folder;
        folder.fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folder.fd < 0 || systemCalls().fsync(folder.fd) != 0) {
            const int errnum = errno;
            return failAt(FileError(FileError::FlushFolder, nameFromNative(dir), errnum));
        }
        return true;
    }
    case Method::InPlace: {
        const QByteArray &bytes = entry.device->kept();
        FileError why;
        if (!entry.journal.begin(entry.backupFolder, entry.backup, entry.target, entry.fd, bytes, &why))
            return failAt(FileError(FileError::Journal, QString(), why));
        if (writeAll(entry.fd, bytes.constData(), bytes.size(), 0) && systemCalls().ftruncate(entry.fd, bytes.size()) == 0
            && systemCalls().fsync(entry.fd) == 0 && closeChecked(entry.fd) == 0) {
            // The copy goes before the record does.
            unlinkat(entry.backupFolder, entry.backup.constData(), 0);
            entry.backup.clear();
            return true;
        }
        const int failed = errno;
        // Put the old bytes back (a close that failed closed it all the same).
        if (entry.fd < 0)
            entry.openToWriteOver();
        const int backup = openat(entry.backupFolder, entry.backup.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        struct stat st;
        const bool restored = entry.fd >= 0 && backup >= 0 && fstat(backup, &st) == 0
                && lseek(entry.fd, 0, SEEK_SET) == 0 && copyBytes(backup, entry.fd)
                && ftruncate(entry.fd, st.st_size) == 0 && fsync(entry.fd) == 0;
        if (backup >= 0)
            close(backup);
        FileError failure(FileError::Write, entry.path, failed);
        if (restored) {
            unlinkat(entry.backupFolder, entry.backup.constData(), 0);
            failure.aftermath = FileError::PutBack;
        } else {
            failure.aftermath = FileError::KeptAside;
            failure.keptIn = entry.backupFolderPath + u'/' + nameFromNative(entry.backup);
            entry.journal.keep();
        }
        entry.backup.clear();
        if (error)
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
