// The device a save's new bytes are written into.
#pragma once

#include "files/fileerror.h"
#include "files/filestamp.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QIODevice>
#include <QString>

#include <memory>

// Writes into a file descriptor, or into memory for a device written at
// commit, hashing what it writes where asked; every failure is kept with
// the system's reason.
class NewBytes : public QIODevice
{
public:
    // `folder`: where the bytes wait, when that is not beside the file.
    explicit NewBytes(int fd, bool hashed = false, const QString &folder = QString()) : m_fd(fd), m_folder(folder)
    {
        if (hashed)
            m_hash = std::make_unique<QCryptographicHash>(contentHashKind);
        QIODevice::open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }
    const QByteArray &kept() const { return m_kept; }
    qint64 written() const { return m_written; }
    QByteArray hash() const { return m_hash ? m_hash->result().toHex() : QByteArray(); }
    int failure() const { return m_errno; }
    // Its failure as a save's.
    FileError error(const QString &path) const;

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override;

private:
    int m_fd;
    QString m_folder;
    int m_errno = 0;
    qint64 m_written = 0;
    QByteArray m_kept;
    std::unique_ptr<QCryptographicHash> m_hash;
};
