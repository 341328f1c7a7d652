#include "files/systemcalls.h"

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

namespace {

int renameWithFlags(const char *from, const char *to, unsigned flags)
{
    return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, flags);
}

} // namespace

const SystemCalls &realSystemCalls()
{
    static const SystemCalls real{::write, ::pwrite, ::fsync, renameWithFlags, ::linkat, ::ftruncate, ::close, ::fstat};
    return real;
}

SystemCalls &systemCalls()
{
    static SystemCalls calls = realSystemCalls();
    return calls;
}

bool writeAll(int fd, const char *data, qsizetype size, qint64 offset)
{
    while (size > 0) {
        const ssize_t done = offset < 0 ? systemCalls().write(fd, data, size_t(size))
                                        : systemCalls().pwrite(fd, data, size_t(size), offset);
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
