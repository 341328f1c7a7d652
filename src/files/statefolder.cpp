#include "files/statefolder.h"

#include "files/descriptors.h"
#include "files/filelinks.h"
#include "files/filenames.h"
#include "files/systemcalls.h"

#include <cerrno>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int openStateFolder(const QString &name, QString *path, FileError *error, bool create)
{
    auto fail = [&](const QByteArray &at, int errnum, FileError::Reason why = FileError::NoReason) {
        if (error)
            *error = FileError(FileError::StateFolder, nameFromNative(at), errnum, why);
        return -1;
    };
    QByteArray at = qgetenv("XDG_STATE_HOME");
    if (!at.startsWith('/')) {
        at = qgetenv("HOME");
        if (!at.startsWith('/'))
            return fail(QByteArray(), 0, FileError::NoStateHome);
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
        FileError::Reason why = FileError::NoReason;
        int whyErrno = 0;
        unsigned mode = 0;
        if (next < 0) {
            const bool isLink = fstatat(folder, level.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
            if (isLink)
                why = FileError::SymbolicLink;
            else if (errnum == ENOTDIR)
                why = FileError::NotAFolder;
            else
                whyErrno = errnum;
        } else if (fstat(next, &st) != 0) {
            whyErrno = errno;
        } else if (st.st_uid != geteuid()) {
            why = FileError::OtherUsersOwn;
        } else if ((st.st_mode & 0777) != 0700 && !(created && fchmod(next, 0700) == 0)) {
            why = FileError::OpenToOthers;
            mode = st.st_mode;
        }
        close(folder);
        folder = next;
        if (why != FileError::NoReason || whyErrno != 0) {
            if (folder >= 0)
                close(folder);
            fail(at, whyErrno, why);
            if (error)
                error->mode = mode;
            return -1;
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
