// Reading subtitle files whole, from a name or from standard input.
#pragma once

#include "files/filesaving.h"
#include "files/textcodec.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <atomic>

class QIODevice;

// Far more than any subtitle file; the limit keeps a device that never ends
// (or a file of several gigabytes) from taking all memory.
constexpr qint64 maxSubtitleFileSize = qint64(1) << 30;

// A file's bytes, mapped into memory where the system allows it. A mapped
// file that another program cuts short while it is read does not bring the
// program down: the missing part reads as zeros and changedWhileRead() says
// so, as it does for a file that was rewritten in the meantime.
class FileBytes
{
public:
    FileBytes() = default;
    ~FileBytes();
    FileBytes(const FileBytes &) = delete;
    FileBytes &operator=(const FileBytes &) = delete;

    // False, with the error, when it cannot be read whole.
    bool load(const QString &path, FileError *error);
    QByteArrayView bytes() const { return m_view; }
    bool changedWhileRead() const;
    // The bytes before `end` are needed no more: a mapped file's pages there
    // are let go of (read again from the file if they are touched).
    void release(qsizetype end);
    // Which file was read: its device and inode.
    quint64 device() const { return m_device; }
    quint64 inode() const { return m_inode; }
    // The file as it was when it was opened, before a byte was read.
    FileStamp stamp() const { return {true, m_device, m_inode, m_size, m_mtime}; }

private:
    void *m_map = nullptr;
    qsizetype m_mapSize = 0;
    int m_guard = -1;
    int m_fd = -1;
    qint64 m_size = 0;
    qint64 m_mtime = 0;
    quint64 m_device = 0, m_inode = 0;
    QByteArray m_copy;
    QByteArrayView m_view;
};

// Everything `in` holds, up to the same limit as a file. False with the
// error (a Read that names no file) when it cannot be read or is larger.
bool readAllCapped(QIODevice &in, QByteArray &bytes, FileError *error);

// False, with the error, when it cannot be read whole. An
// empty `encoding` detects it. A file that another program changes while it
// is read is read again, and refused if it keeps changing; `stamp` is the
// file that was read, as it was before the read, and `hash` the
// contentHash() of the bytes read.
bool readSubtitleFile(const QString &path, SubtitleText &result, FileError *error,
                      const QString &encoding = QString(), FileStamp *stamp = nullptr,
                      QByteArray *hash = nullptr);

// The frame rate a file's first line names ({1}{1}23.976) in `encoding`
// (empty: detected), or 0. Only the first kilobytes are read: enough to
// hold that line in any encoding.
double headerRate(QByteArrayView bytes, const QString &encoding);
