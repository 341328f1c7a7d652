// The encodings subtitles are written in, shared by the codec and by the
// detection of a file's format (the list itself is in textcodec.cpp).
#pragma once

#include <QString>

struct KnownEncoding
{
    const char *name;
    const char *script;
    // One byte per character and nothing that combines: safe to rewrite as
    // Latin-1 bytes.
    bool singleByte;
};

// The entry for `name` (in any case), or null for an encoding subtitles are
// not written in.
const KnownEncoding *knownEncoding(const QString &name);

// The name of the reading that keeps every byte as one character.
inline constexpr char bytesName[] = "bytes";
