// Reading and writing subtitle files.
//
// Bytes that are valid UTF-8 are read as UTF-8 (a byte-order mark is kept
// aside and written back); any other file is read one character per byte,
// so that every byte survives a round trip. Lines end at LF or CRLF; the
// text holds them joined by LF, without a line feed after the last line,
// and that is also what is written back.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <memory>
#include <vector>

class QIODevice;
class SubEngine;

enum class FileEncoding {
    Utf8,
    EightBit, // one character per byte, U+0000..U+00FF
};

struct SubtitleText
{
    QString text;
    FileEncoding encoding = FileEncoding::Utf8;
    bool bom = false;
};

SubtitleText decodeSubtitleBytes(QByteArrayView bytes);

// The bytes a save writes. False, with a message naming the line and the
// character, when the text holds a character the encoding cannot store.
bool encodeSubtitleText(QStringView text, FileEncoding encoding, bool bom, QByteArray &bytes,
                        QString *error);

// Runs operation `mode` over a file's bytes and writes to `out` what a save
// after that operation would write: the same bytes as decoding, the
// operation's walk and encoding, a line at a time, in memory that does not
// grow with the file. False with a message when a result cannot be encoded
// or `out` fails; what was written by then is incomplete. A large file is
// done in pieces of about `pieceSize` bytes (0: the usual size) on two
// threads; tests make them small to try many piece ends.
bool rewriteSubtitleBytes(SubEngine &engine, int mode, QByteArrayView bytes, QIODevice &out,
                          QString *error, qsizetype pieceSize = 0);
