#include "files/newbytes.h"

#include "files/systemcalls.h"

#include <cerrno>

FileError NewBytes::error(const QString &path) const
{
    if (m_folder.isEmpty())
        return FileError(FileError::Write, path, m_errno);
    return FileError(FileError::Write, path,
                     FileError(FileError::BackUp, QString(), FileError(FileError::StateFile, m_folder, m_errno)));
}

qint64 NewBytes::writeData(const char *data, qint64 size)
{
    if (m_errno != 0)
        return -1;
    if (m_fd < 0) {
        m_kept.append(data, size);
    } else if (!writeAll(m_fd, data, size)) {
        m_errno = errno;
        setErrorString(systemReason(m_errno));
        return -1;
    }
    if (m_hash)
        m_hash->addData(QByteArrayView(data, size));
    m_written += size;
    return size;
}
