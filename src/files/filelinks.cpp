#include "files/filelinks.h"

#include "files/filenames.h"

#include <QRandomGenerator>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A name that opens whatever a descriptor holds, not a file of that name.
bool isDescriptorName(const QByteArray &path)
{
    if (ownDescriptor(path) >= 0)
        return true;
    const QList<QByteArray> parts = path.split('/');
    return parts.size() == 5 && parts[0].isEmpty() && parts[1] == "proc" && parts[3] == "fd";
}

} // namespace

QByteArray dirOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.first(slash);
}

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

QByteArray temporaryName(const QByteArray &dir)
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray name = dir + "/.tarnlyx-";
    for (int i = 0; i < 6; ++i)
        name += letters[QRandomGenerator::system()->bounded(36)];
    return name;
}
