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

// Bytes of a file of mixed line ends after a read and a save: every line
// end as the first one (CRLF or LF).
inline QByteArray savedForm(QByteArray bytes, bool crlf)
{
    bytes.replace("\r\n", "\n");
    if (crlf)
        bytes.replace("\n", "\r\n");
    return bytes;
}

// What the replay puts before a whole file to run the target on it: one
// prefix per setting worth trying.
QList<QByteArray> fuzzFilePrefixes();
