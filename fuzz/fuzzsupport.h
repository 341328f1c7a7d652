// What the fuzz targets share.
#pragma once

#include <QByteArray>
#include <QList>

#include <cstdio>
#include <cstdlib>

// A broken invariant: say which, and stop so that the fuzzer keeps the input.
#define FUZZ_CHECK(condition)                                                                \
    do {                                                                                     \
        if (!(condition)) {                                                                  \
            std::fprintf(stderr, "invariant broken: %s (%s:%d)\n", #condition, __FILE__,     \
                         __LINE__);                                                          \
            std::abort();                                                                    \
        }                                                                                    \
    } while (false)

// Bytes after a read and a save: CRLF as LF (or CR kept where lines end at
// CR), no line end after the last line.
inline QByteArray savedForm(QByteArray bytes, bool crLines = false)
{
    if (!crLines)
        bytes.replace("\r\n", "\n");
    if (bytes.endsWith(crLines ? '\r' : '\n'))
        bytes.chop(1);
    return bytes;
}

// What the replay puts before a whole file to run the target on it: one
// prefix per setting worth trying.
QList<QByteArray> fuzzFilePrefixes();
