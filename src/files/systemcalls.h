// The system calls that write and read files, through one table that tests
// may replace: to make the n-th call fail (ENOSPC, EIO, EXDEV, EINTR) without
// a full disk, or to change a file between two calls.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

struct SystemCalls
{
    ssize_t (*write)(int, const void *, size_t);
    ssize_t (*pwrite)(int, const void *, size_t, off_t);
    int (*fsync)(int);
    int (*rename)(const char *, const char *);
    int (*linkat)(int, const char *, int, const char *, int);
    int (*ftruncate)(int, off_t);
    int (*close)(int);
    int (*fstat)(int, struct stat *);
};

// The calls in use: the system's own unless a test replaced them.
SystemCalls &systemCalls();
// The system's own.
const SystemCalls &realSystemCalls();
