#include "files/systemcalls.h"

#include <cstdio>

#include <unistd.h>

const SystemCalls &realSystemCalls()
{
    static const SystemCalls real{::write, ::pwrite, ::fsync, ::rename, ::linkat, ::ftruncate, ::close, ::fstat};
    return real;
}

SystemCalls &systemCalls()
{
    static SystemCalls calls = realSystemCalls();
    return calls;
}
