// Telling how a file's text is stored: its encoding, byte-order mark and
// line ends.
//
// A byte-order mark (UTF-8, UTF-16 or UTF-32) decides the encoding and is
// kept aside. Otherwise valid UTF-8 is UTF-8; anything else is given to
// uchardet, whose answer is taken only for an encoding that subtitles are
// written in; failing that, the encoding the user's language most often
// uses. An encoding is accepted only when its text encodes back to the very
// same bytes; else the file is read one character per byte ("bytes"). UTF-8
// with a few stray bytes stays UTF-8. Lines end at LF or CRLF, or at CR in a
// file that has no LF.
#pragma once

#include "files/fileerror.h"

#include <QByteArrayView>
#include <QString>

enum class LineEnds { LF, CRLF, Mixed, CR };

// How a file's text is stored: what a save writes back.
struct FileFormat
{
    QString encoding = QStringLiteral("UTF-8"); // a name --encoding takes, or "bytes"
    bool bom = false;
    // The line ends as read: Mixed when the lines do not all end alike.
    LineEnds lineEnds = LineEnds::LF;
    // The end of the file's first line (LF for a file without one), which a
    // file of mixed line ends is written with.
    LineEnds firstLineEnd = LineEnds::LF;
    // Whether the last line ends with a line end.
    bool finalLineEnd = false;

    // What a save ends every line with.
    LineEnds writtenLineEnds() const { return lineEnds == LineEnds::Mixed ? firstLineEnd : lineEnds; }
};

// What decodeSubtitleBytes finds, without making the text where it need
// not: the format (of the line ends, only the first line's and the final
// one: Mixed is not told apart; for UTF-16 and UTF-32 neither), where the
// text starts (after a byte-order mark kept aside), the notice and where
// stray bytes begin.
FileFormat detectFormat(QByteArrayView bytes, const QString &encoding, qsizetype *textStart,
                        QString *notice, QString *strayBytes = nullptr);
FileFormat detectFormat(QByteArrayView bytes, const QString &encoding, qsizetype *textStart,
                        FileError &notice, QString *strayBytes = nullptr);

// "UTF-8", "windows-1250 with BOM", "bytes"...
QString describeFormat(const FileFormat &format);

// The bytes of a line end: "\n", "\r\n" or "\r" (Mixed: "\n").
QByteArrayView lineEndBytes(LineEnds ends);

// Strict UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF, no
// sequence cut off at the end).
bool isValidUtf8(QByteArrayView bytes);

// The byte-order mark `bytes` start with and the encoding it stands for;
// 0 and an empty name without one.
qsizetype byteOrderMark(QByteArrayView bytes, QString *encoding);
