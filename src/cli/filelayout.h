// The layout of a file's bytes as the batch tool's rewrites read and write
// them: where its text starts, where its lines end, the format it is written
// in.
#pragma once

#include "files/textcodec.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <optional>

class QIODevice;

// What the user chose to write the result in, where it differs from the
// file's own format.
struct OutputChoice
{
    QString encoding;                // empty: the file's own
    bool bom = false;                // a byte-order mark, whether the file had one or not
    std::optional<LineEnds> lineEnds;

    FileFormat applyTo(FileFormat format) const;
};

// How a file's bytes are to be read: its format, the bytes that hold the
// text (without a byte-order mark), the byte its lines end at and the line
// end they are written with.
struct Layout
{
    FileFormat format;
    QByteArrayView content;
    char separator = '\n';
    FileError notice; // why a forced encoding does not fit
};

// The layout of `bytes` read in `encoding` (empty: detected); its notice
// says why a forced encoding does not fit them.
Layout layoutOf(QByteArrayView bytes, const QString &encoding);

// The layout of `bytes` as a rewrite reads it, and the format `choice`
// makes of it to write. UTF-16 and UTF-32 go through UTF-8 (made in
// `utf8`), whose lines can be cut at a byte, and back; one that holds half
// a surrogate pair cannot (`halfPair`), and is to be read whole. False,
// with the reason in `error` (its operation and file left as they are),
// when the file does not read in its encoding.
bool readLayout(QByteArrayView bytes, const QString &encoding, const OutputChoice &choice, QByteArray &utf8,
                Layout &layout, FileFormat &output, FileError &error, bool &halfPair);

// Whether `text` holds half a surrogate pair: UTF-16 and UTF-32 files may,
// UTF-8 has no form for it.
bool holdsHalfPair(QStringView text);

enum class WideRead { Read, NotText, HalfPair };

// The text of a file whose lines cannot be cut at a byte (UTF-16, UTF-32),
// `content` without its byte-order mark, as UTF-8, where they can: a piece
// at a time, in memory no larger than the UTF-8 itself. NotText, with the
// reason, when it does not read as `encoding` exactly; HalfPair when it
// holds half a surrogate pair, which the UTF-8 would turn into '?': such a
// file is read whole instead.
WideRead wideToUtf8(QByteArrayView content, const QString &encoding, QByteArray &utf8, FileError *error);

// The bytes of a byte-order mark in `format`'s encoding: a UTF-8 mark kept
// before the bytes of another encoding stays one.
QByteArray byteOrderMarkOf(const FileFormat &format);

// A line end in `format`'s encoding.
QByteArray lineEndOf(const FileFormat &format);

// Writes `bytes` to `out`; false with the device's reason.
bool writeAll(QIODevice &out, const QByteArray &bytes, QString *error);
