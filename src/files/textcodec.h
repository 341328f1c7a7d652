// Subtitle file bytes to text and back: the codec of each encoding, the
// names of the encodings, and carried bytes.
//
// An encoding is accepted only when the text it gives encodes back to the
// very same bytes (formatdetection.h tells which); a file that no encoding
// reads exactly is read one character per byte ("bytes"), so that every
// byte survives. UTF-8 with a few stray bytes stays UTF-8: each byte that is
// not UTF-8 is carried through the text as one of U+DC80..U+DCFF and written
// back as itself. The text holds line ends as LF, without one after the
// last line, and a save writes them back as the file had them.
#pragma once

#include "files/fileerror.h"
#include "files/formatdetection.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringDecoder>
#include <QStringEncoder>

#include <functional>

struct SubtitleText
{
    QString text;
    FileFormat format;
    // Why the file is read one byte per character, naming the first line
    // and byte that did not fit; empty when it is read in its encoding.
    FileError notice;
    // Where the first byte that is not UTF-8 stands in a UTF-8 file that
    // holds such bytes ("line 3, byte 17 (0xE9)"); empty for other files.
    QString strayBytes;
};

// Reads `bytes` in `encoding`, or in the detected encoding when it is empty.
// `done`, where given, is told as the reading goes on how many bytes from
// the start it no longer needs (a large file is read a piece at a time).
SubtitleText decodeSubtitleBytes(QByteArrayView bytes, const QString &encoding = QString(),
                                 const std::function<void(qsizetype)> &done = {});

// The bytes a save writes. False, with a message naming the line, the
// column and the character, when the text holds a character the encoding
// cannot store.
bool encodeSubtitleText(QStringView text, const FileFormat &format, QByteArray &bytes,
                        FileError &error);
bool encodeSubtitleText(QStringView text, const FileFormat &format, QByteArray &bytes,
                        QString *error);

// The name Tarnlyx uses for an encoding the toolkit knows ("latin1" ->
// "ISO-8859-1", "bytes" -> "bytes"), or an empty string.
QString canonicalEncoding(const QString &name);

// The encodings offered to choose from, grouped by script.
struct EncodingGroup
{
    QString script;
    QStringList names;
};
QList<EncodingGroup> commonEncodings();

// Turns the lines of one file into text and back, a line at a time.
// Encodings of one byte per character in which no character combines with
// the one before (windows-1250, KOI8-R...) give the operations the same
// bytes when read as Latin-1, which is much faster: `asBytes` takes that
// road for them.
class LineCodec
{
public:
    LineCodec(const QString &encoding, bool asBytes);
    // Whether lines can be cut at LF and CR bytes (not so for UTF-16/32).
    bool asciiCompatible() const { return m_kind != Kind::Wide; }
    // Replaces `out` with the text of `bytes`. In UTF-8 a byte that is not
    // UTF-8 becomes U+DC80..U+DCFF, which appendEncoded() writes back.
    void decode(QByteArrayView bytes, QString &out);
    // Index of the first character the encoding cannot store, or -1.
    qsizetype firstUnwritable(QStringView text);
    // Appends the encoded text; the caller has checked that it can be stored.
    void appendEncoded(QByteArray &out, QStringView text);

private:
    // Table: a one-byte encoding whose bytes below 0x80 are ASCII, read and
    // written through its 128 upper characters.
    enum class Kind { Utf8, Latin1, Table, Other, Wide };
    bool makeTable();
    Kind m_kind;
    QStringDecoder m_decoder;
    QStringEncoder m_encoder;
    char16_t m_upper[128] = {}; // the character of each byte from 0x80 (0: none)
    QByteArray m_bytes;         // and back, by character (0: none)
};

// The character at `at` of line `lineNumber`, which this file's encoding
// cannot store: the error, and its words.
FileError unwritable(QStringView line, qsizetype lineNumber, qsizetype at);
QString unwritableMessage(QStringView line, qsizetype lineNumber, qsizetype at);
