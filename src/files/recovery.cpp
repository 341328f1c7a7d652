#include "files/recovery.h"

#include "files/filenames.h"
#include "files/filesaving.h"
#include "files/textcodec.h"

#include <QDir>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char magic[] = "tarnlyx recovery 1\n";

QByteArray pathOf(const QString &folder, const QString &id, const char *ending)
{
    return nameToNative(folder + u'/' + id + QLatin1String(ending));
}

// Locks `path` for this process; -1 when another holds it.
int takeLock(const QByteArray &path, int *errnum)
{
    const int fd = open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0)
        return fd;
    *errnum = errno;
    if (fd >= 0)
        close(fd);
    return -1;
}

} // namespace

QString RecoveryFile::folder(QString *error)
{
    return stateFolder(QStringLiteral("recovery"), error);
}

RecoveryFile::~RecoveryFile()
{
    if (m_lock >= 0)
        close(m_lock); // the recovery file stays for the next start
}

bool RecoveryFile::adopt(const QString &id)
{
    const QString dir = folder();
    int errnum = 0;
    const int fd = dir.isEmpty() ? -1 : takeLock(pathOf(dir, id, ".lock"), &errnum);
    if (fd < 0)
        return false;
    if (m_lock >= 0)
        close(m_lock);
    m_lock = fd;
    m_id = id;
    return true;
}

bool RecoveryFile::lock(QString *error)
{
    if (m_lock >= 0)
        return true;
    QString why;
    const QString dir = folder(&why);
    int errnum = EEXIST;
    for (int tries = 0; !dir.isEmpty() && m_lock < 0 && tries < 100; ++tries) {
        m_id = QString::number(QRandomGenerator::system()->generate64(), 36);
        if (QFileInfo::exists(dir + u'/' + m_id + QStringLiteral(".lock")))
            continue;
        m_lock = takeLock(pathOf(dir, m_id, ".lock"), &errnum);
    }
    if (m_lock < 0 && error)
        *error = dir.isEmpty() ? why : systemReason(errnum);
    return m_lock >= 0;
}

bool RecoveryFile::write(const QString &fileName, const QString &text, QString *error)
{
    if (!lock(error))
        return false;
    const QByteArray path = pathOf(folder(), m_id, ".txt");
    const int created = open(path.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (created >= 0)
        close(created);
    QByteArray bytes = magic;
    bytes += nameToNative(fileName).toPercentEncoding() + '\n';
    LineCodec(QStringLiteral("UTF-8"), false).appendEncoded(bytes, text); // stray bytes as they were
    return writeSubtitleFile(nameFromNative(path), bytes, error);
}

void RecoveryFile::remove()
{
    if (m_lock < 0)
        return;
    const QString dir = folder();
    unlink(pathOf(dir, m_id, ".txt").constData());
    unlink(pathOf(dir, m_id, ".lock").constData());
    close(m_lock);
    m_lock = -1;
}

QList<RecoveredText> RecoveryFile::orphans()
{
    QList<RecoveredText> found;
    const QString dir = folder();
    if (dir.isEmpty())
        return found;
    const QDir listing(dir);
    for (const QFileInfo &info : listing.entryInfoList({QStringLiteral("*.txt")}, QDir::Files)) {
        const QString id = info.completeBaseName();
        int errnum = 0;
        const int fd = takeLock(pathOf(dir, id, ".lock"), &errnum);
        if (fd < 0)
            continue; // a running window's
        close(fd);
        QFile file(info.filePath());
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray bytes = file.readAll();
        const qsizetype nameEnd = bytes.indexOf('\n', sizeof magic - 1);
        if (!bytes.startsWith(magic) || nameEnd < 0)
            continue;
        const QByteArray name = bytes.sliced(sizeof magic - 1, nameEnd - (sizeof magic - 1));
        QString text;
        LineCodec(QStringLiteral("UTF-8"), false).decode(bytes.sliced(nameEnd + 1), text);
        found << RecoveredText{id, nameFromNative(QByteArray::fromPercentEncoding(name)), text,
                               info.lastModified()};
    }
    std::sort(found.begin(), found.end(),
              [](const RecoveredText &a, const RecoveredText &b) { return a.written < b.written; });
    return found;
}
