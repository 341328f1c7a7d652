// The system calls that write and read files, through one table that tests
// may replace: to make the n-th call fail (ENOSPC, EIO, EXDEV, EINTR) without
// a full disk, or to change a file between two calls.
#pragma once

#include <QtGlobal>

#include <sys/stat.h>
#include <sys/types.h>

struct SystemCalls
{
    ssize_t (*write)(int, const void *, size_t);
    ssize_t (*pwrite)(int, const void *, size_t, off_t);
    int (*fsync)(int);
    int (*rename)(const char *, const char *, unsigned); // renameat2() with its flags
    int (*linkat)(int, const char *, int, const char *, int);
    int (*ftruncate)(int, off_t);
    int (*close)(int);
    int (*fstat)(int, struct stat *);
};

// The calls in use: the system's own unless a test replaced them.
SystemCalls &systemCalls();
// The system's own.
const SystemCalls &realSystemCalls();

// Writes all `size` bytes through the table's write (at `offset` through
// pwrite, when it is not -1), again after EINTR and after a short write.
// False with errno set; a write that stores nothing is ENOSPC.
bool writeAll(int fd, const char *data, qsizetype size, qint64 offset = -1);
