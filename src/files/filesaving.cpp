#include "files/filesaving.h"

#include "files/filenames.h"

#include <QDir>
#include <QIODevice>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
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

// The file a name stands for once every symbolic link on the way is followed;
// it need not exist yet.
bool followLinks(QByteArray path, QByteArray &target, int &errnum)
{
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (lstat(path.constData(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            target = path;
            return true;
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

// A short name no user file has, in `dir`: ".tarnlyx-" and six letters.
QByteArray temporaryName(const QByteArray &dir)
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray name = dir + "/.tarnlyx-";
    for (int i = 0; i < 6; ++i)
        name += letters[QRandomGenerator::system()->bounded(36)];
    return name;
}

bool writeAll(int fd, const char *data, qsizetype size, qint64 offset = -1)
{
    while (size > 0) {
        const ssize_t done = offset < 0 ? write(fd, data, size_t(size)) : pwrite(fd, data, size_t(size), offset);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0) {
            if (done == 0)
                errno = ENOSPC;
            return false;
        }
        data += done;
        size -= done;
        if (offset >= 0)
            offset += done;
    }
    return true;
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
    const int result = close(fd);
    fd = -1;
    return result == 0 ? 0 : errno;
}

} // namespace

QString writeError(const QString &path, const QString &why)
{
    return QStringLiteral("cannot write \"%1\": %2").arg(shownName(path), why);
}

struct FileSetWriter::Entry
{
    QString path;             // as given, for messages
    QByteArray target;        // the file itself, links followed
    Method method = Method::Renamed;
    int fd = -1;              // the new file, or the old one to write over
    bool anonymous = false;   // a new file with no name yet
    QByteArray temporary;     // the new file's name while it has one
    QByteArray backup;        // the old bytes' copy while it is written over
    std::unique_ptr<NewBytes> device;

    ~Entry()
    {
        closeChecked(fd);
        if (!temporary.isEmpty())
            unlink(temporary.constData());
        if (!backup.isEmpty())
            unlink(backup.constData());
    }
};

FileSetWriter::FileSetWriter() = default;
FileSetWriter::~FileSetWriter() = default;

QIODevice *FileSetWriter::open(const QString &path, QString *error)
{
    auto fail = [&](const QString &why) {
        if (error)
            *error = writeError(path, why);
        return nullptr;
    };
    auto entry = std::make_unique<Entry>();
    entry->path = path;
    int errnum = 0;
    if (!followLinks(nameToNative(path), entry->target, errnum))
        return fail(systemReason(errnum));
    const QByteArray dir = dirOf(entry->target);

    struct stat old;
    const bool exists = stat(entry->target.constData(), &old) == 0;
    if (!exists && errno != ENOENT)
        return fail(systemReason(errno));
    if (exists && S_ISDIR(old.st_mode))
        return fail(QStringLiteral("it is a directory"));
    if (exists && !S_ISREG(old.st_mode)) {
        // Renaming a new file over a device or a pipe would replace it.
        entry->method = Method::Device;
    } else {
        // The new file: nameless where the system allows it, so that
        // nothing is left behind if the program is killed.
        const mode_t mode = exists ? 0600 : 0666;
        entry->fd = ::open(dir.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
        entry->anonymous = entry->fd >= 0 && access("/proc/self/fd", X_OK) == 0;
        if (entry->fd >= 0 && !entry->anonymous)
            closeChecked(entry->fd);
        for (int tries = 0; entry->fd < 0 && tries < 100; ++tries) {
            entry->temporary = temporaryName(dir);
            entry->fd = ::open(entry->temporary.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, mode);
            if (entry->fd < 0 && errno != EEXIST)
                break;
        }
        if (entry->fd < 0) {
            entry->temporary.clear();
            errnum = errno;
            if (!exists || (errnum != EACCES && errnum != EPERM && errnum != EROFS))
                return fail(QStringLiteral("cannot create a file in the folder \"%1\": %2")
                                    .arg(shownName(folderOf(entry->target)), systemReason(errnum)));
            entry->method = Method::InPlace;
        }
    }
    if (exists && entry->method == Method::Renamed) {
        // A rename keeps the file only if the new one can be made the same.
        const int oldFd = ::open(entry->target.constData(), O_RDONLY | O_CLOEXEC);
        struct stat made;
        const bool same = old.st_nlink == 1 && oldFd >= 0
                && fchown(entry->fd, old.st_uid, old.st_gid) == 0
                && copyAttributes(oldFd, entry->fd) && fchmod(entry->fd, old.st_mode & 07777) == 0
                && fstat(entry->fd, &made) == 0 && made.st_uid == old.st_uid
                && made.st_gid == old.st_gid && (made.st_mode & 07777) == (old.st_mode & 07777);
        if (oldFd >= 0)
            close(oldFd);
        if (!same) {
            closeChecked(entry->fd);
            if (!entry->temporary.isEmpty())
                unlink(entry->temporary.constData());
            entry->temporary.clear();
            entry->anonymous = false;
            entry->method = Method::InPlace;
        }
    }
    if (entry->method == Method::InPlace) {
        // Written over at commit, after a copy of the old bytes is made.
        entry->fd = ::open(entry->target.constData(), O_RDWR | O_CLOEXEC);
        if (entry->fd < 0)
            return fail(systemReason(errno));
    }
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
// backup folder and flushes it; `backup` is its name once it exists.
bool backUp(const QByteArray &target, int fd, QByteArray &backup, QString *why)
{
    const QString folder = stateFolder(QStringLiteral("backup"), why);
    if (folder.isEmpty())
        return false;
    const QByteArray base = target.mid(target.lastIndexOf('/') + 1).left(200);
    int copy = -1;
    for (int tries = 0; copy < 0 && tries < 100; ++tries) {
        backup = temporaryName(nameToNative(folder)).replace("/.tarnlyx-", "/" + base + '-');
        copy = ::open(backup.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
        if (copy < 0 && errno != EEXIST)
            break;
    }
    if (copy < 0) {
        *why = systemReason(errno);
        backup.clear();
        return false;
    }
    const bool copied = copyBytes(fd, copy) && fsync(copy) == 0;
    const int errnum = copied ? closeChecked(copy) : errno;
    closeChecked(copy);
    if (errnum != 0)
        *why = systemReason(errnum);
    return errnum == 0;
}

} // namespace

bool FileSetWriter::commit(QString *error)
{
    m_methods.clear();
    auto fail = [&](const Entry &entry, const QString &why) {
        if (error)
            *error = writeError(entry.path, why);
        m_entries.clear();
        return false;
    };
    // Every new file whole and on disk before any old one is touched.
    for (const auto &entry : m_entries) {
        if (entry->device->failure() != 0)
            return fail(*entry, systemReason(entry->device->failure()));
        if (entry->method == Method::Renamed && fsync(entry->fd) != 0)
            return fail(*entry, systemReason(errno));
    }
    // A copy of every file that is to be written over.
    for (const auto &entry : m_entries) {
        QString why;
        if (entry->method == Method::InPlace && !backUp(entry->target, entry->fd, entry->backup, &why))
            return fail(*entry, QStringLiteral("no copy of it could be kept before writing over it: %1").arg(why));
    }
    QList<Method> methods;
    for (const auto &entry : m_entries)
        methods << entry->method;
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
    m_entries.clear();
    m_methods = methods;
    return true;
}

bool FileSetWriter::apply(Entry &entry, QString *error)
{
    auto fail = [&](const QString &why) {
        if (error)
            *error = writeError(entry.path, why);
        return false;
    };
    switch (entry.method) {
    case Method::Renamed: {
        const QByteArray dir = dirOf(entry.target);
        if (entry.anonymous) {
            const QByteArray self = "/proc/self/fd/" + QByteArray::number(entry.fd);
            for (int tries = 0; tries < 100; ++tries) {
                entry.temporary = temporaryName(dir);
                if (linkat(AT_FDCWD, self.constData(), AT_FDCWD, entry.temporary.constData(), AT_SYMLINK_FOLLOW) == 0)
                    break;
                const int errnum = errno;
                entry.temporary.clear();
                if (errnum != EEXIST)
                    return fail(systemReason(errnum));
            }
        }
        const int closed = closeChecked(entry.fd);
        if (closed != 0)
            return fail(systemReason(closed));
        if (rename(entry.temporary.constData(), entry.target.constData()) != 0)
            return fail(systemReason(errno));
        entry.temporary.clear();
        // The rename itself on disk.
        const int folder = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folder >= 0) {
            fsync(folder);
            close(folder);
        }
        return true;
    }
    case Method::InPlace: {
        const QByteArray &bytes = entry.device->kept();
        if (writeAll(entry.fd, bytes.constData(), bytes.size(), 0) && ftruncate(entry.fd, bytes.size()) == 0
            && fsync(entry.fd) == 0 && closeChecked(entry.fd) == 0)
            return true;
        const QString why = systemReason(errno);
        // Put the old bytes back.
        const int backup = ::open(entry.backup.constData(), O_RDONLY | O_CLOEXEC);
        struct stat st;
        const bool restored = entry.fd >= 0 && backup >= 0 && fstat(backup, &st) == 0
                && lseek(entry.fd, 0, SEEK_SET) == 0 && copyBytes(backup, entry.fd)
                && ftruncate(entry.fd, st.st_size) == 0 && fsync(entry.fd) == 0;
        if (backup >= 0)
            close(backup);
        if (restored)
            return fail(why + QStringLiteral(" (the file was put back as it was)"));
        const QString kept = nameFromNative(entry.backup);
        entry.backup.clear();
        return fail(why + QStringLiteral("; its old content is kept in \"%1\"").arg(shownName(kept)));
    }
    case Method::Device: {
        const QByteArray &bytes = entry.device->kept();
        int fd = ::open(entry.target.constData(), O_WRONLY | O_CLOEXEC);
        if (fd < 0 || !writeAll(fd, bytes.constData(), bytes.size())) {
            const int errnum = errno;
            closeChecked(fd);
            return fail(systemReason(errnum));
        }
        const int closed = closeChecked(fd);
        return closed == 0 || fail(systemReason(closed));
    }
    }
    return false;
}

bool writeSubtitleFile(const QString &path, QByteArrayView bytes, QString *error,
                       FileSetWriter::Method *method)
{
    FileSetWriter writer;
    QIODevice *device = writer.open(path, error);
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

bool createEmptyFile(const QString &path, QString *error)
{
    const int fd = ::open(nameToNative(path).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0 || close(fd) != 0) {
        if (error)
            *error = systemReason(errno);
        return false;
    }
    return true;
}

QString stateFolder(const QString &name, QString *error)
{
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || !base.startsWith(u'/'))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    const QString folder = base + QStringLiteral("/tarnlyx/") + name;
    QByteArray path;
    for (const QByteArray &part : nameToNative(folder).split('/')) {
        if (part.isEmpty())
            continue;
        path += '/' + part;
        if (mkdir(path.constData(), 0700) != 0 && errno != EEXIST) {
            if (error)
                *error = QStringLiteral("\"%1\": %2").arg(shownName(nameFromNative(path)), systemReason(errno));
            return QString();
        }
    }
    return folder;
}
