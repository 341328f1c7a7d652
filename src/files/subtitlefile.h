// Reading and writing subtitle files.
//
// Bytes that are valid UTF-8 are read as UTF-8 (a byte-order mark is kept
// aside and written back); any other file is read one character per byte,
// so that every byte survives a round trip. Lines end at LF or CRLF; the
// text holds them joined by LF, without a line feed after the last line,
// and that is also what is written back.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

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

SubtitleText decodeSubtitleBytes(const QByteArray &bytes);

// The bytes a save writes. False, with a message naming the line and the
// character, when the text holds a character the encoding cannot store.
bool encodeSubtitleText(const QString &text, FileEncoding encoding, bool bom,
                        QByteArray &bytes, QString *error);

// False, with a message naming the file, when it cannot be read whole.
bool readSubtitleFile(const QString &path, SubtitleText &result, QString *error);

struct FileWrite
{
    QString path;
    QByteArray bytes;
};

// Writes every file or, on any error before the last step, none: each file
// goes to a temporary file beside it, and all are renamed into place only
// once all were written. A file that is not a regular file (a device, a
// pipe) is written in place. False with a message naming the file.
bool writeSubtitleFiles(const QList<FileWrite> &writes, QString *error);
bool writeSubtitleFile(const QString &path, const QByteArray &bytes, QString *error);
