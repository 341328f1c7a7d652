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
class QSaveFile;
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

// A file's bytes, mapped into memory where the system allows it.
class FileBytes
{
public:
    FileBytes() = default;
    ~FileBytes();
    FileBytes(const FileBytes &) = delete;
    FileBytes &operator=(const FileBytes &) = delete;

    // False, with a message naming the file, when it cannot be read whole.
    bool load(const QString &path, QString *error);
    QByteArrayView bytes() const { return m_view; }

private:
    void *m_map = nullptr;
    qsizetype m_mapSize = 0;
    QByteArray m_copy;
    QByteArrayView m_view;
};

// False, with a message naming the file, when it cannot be read whole.
bool readSubtitleFile(const QString &path, SubtitleText &result, QString *error);

// Files written together, or not at all: each goes to a temporary file
// beside it, and commit() renames them all into place only once all were
// written. A file that is not a regular file (a device, a pipe) is written
// in place at commit(). Whatever was not committed is dropped.
class FileSetWriter
{
public:
    FileSetWriter();
    ~FileSetWriter();
    FileSetWriter(const FileSetWriter &) = delete;
    FileSetWriter &operator=(const FileSetWriter &) = delete;

    // Where to write `path`'s new bytes; null, with a message, on failure.
    QIODevice *open(const QString &path, QString *error);
    bool commit(QString *error);

private:
    struct Entry;
    std::vector<std::unique_ptr<Entry>> m_entries;
};

bool writeSubtitleFile(const QString &path, QByteArrayView bytes, QString *error);
