// Subtitle files on disk: reading them whole, and saving them safely.
#include "files/subtitlefile.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <sys/mman.h>

namespace {

QString readError(const QString &path, const QString &why)
{
    return QStringLiteral("cannot read \"%1\": %2").arg(path, why);
}

// Far more than any subtitle file; the limit keeps a device that never ends
// (or a file of several gigabytes) from taking all memory.
constexpr qint64 maxFileSize = qint64(1) << 30;

QString tooLarge()
{
    return QStringLiteral("it is larger than 1 GiB");
}

QString writeError(const QString &path, const QString &why)
{
    return QStringLiteral("cannot write \"%1\": %2").arg(path, why);
}

} // namespace

FileBytes::~FileBytes()
{
    if (m_map)
        munmap(m_map, size_t(m_mapSize));
}

bool FileBytes::load(const QString &path, QString *error)
{
    auto fail = [&](const QString &why) {
        if (error)
            *error = readError(path, why);
        return false;
    };
    if (QFileInfo(path).isDir())
        return fail(QStringLiteral("it is a directory"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(file.errorString());
    // A regular file is mapped, and its pages brought in at once: much
    // cheaper than copying it into fresh memory. Anything else (a pipe, a
    // device) is read, up to the same limit.
    const qint64 size = file.size();
    if (size > maxFileSize)
        return fail(tooLarge());
    if (!file.isSequential() && size > 0) {
        int flags = MAP_PRIVATE;
#ifdef MAP_POPULATE
        flags |= MAP_POPULATE;
#endif
        void *map = mmap(nullptr, size_t(size), PROT_READ, flags, file.handle(), 0);
        if (map != MAP_FAILED) {
            m_map = map;
            m_mapSize = qsizetype(size);
            m_view = QByteArrayView(static_cast<const char *>(map), m_mapSize);
            return true;
        }
    }
    QByteArray chunk(1 << 16, Qt::Uninitialized);
    for (;;) {
        const qint64 got = file.read(chunk.data(), chunk.size());
        if (got < 0)
            return fail(file.errorString());
        if (got == 0)
            break;
        if (m_copy.size() + got > maxFileSize)
            return fail(tooLarge());
        m_copy.append(chunk.constData(), got);
    }
    m_view = m_copy;
    return true;
}

bool readSubtitleFile(const QString &path, SubtitleText &result, QString *error)
{
    FileBytes bytes;
    if (!bytes.load(path, error))
        return false;
    result = decodeSubtitleBytes(bytes.bytes());
    return true;
}

struct FileSetWriter::Entry
{
    QString path;
    std::unique_ptr<QSaveFile> save; // a regular file, replaced at commit
    QByteArray directBytes;          // anything else, written at commit
    std::unique_ptr<QBuffer> direct;
};

FileSetWriter::FileSetWriter() = default;
FileSetWriter::~FileSetWriter() = default;

QIODevice *FileSetWriter::open(const QString &path, QString *error)
{
    auto entry = std::make_unique<Entry>();
    entry->path = path;
    const QFileInfo info(path);
    // Renaming a new file over a device or a pipe would replace it with a
    // regular file.
    QIODevice *device = nullptr;
    if (info.exists() && !info.isFile() && !info.isDir()) {
        entry->direct = std::make_unique<QBuffer>(&entry->directBytes);
        entry->direct->open(QIODevice::WriteOnly);
        device = entry->direct.get();
    } else {
        entry->save = std::make_unique<QSaveFile>(path);
        if (info.isDir() || !entry->save->open(QIODevice::WriteOnly)) {
            if (error)
                *error = writeError(path, info.isDir() ? QStringLiteral("it is a directory")
                                                       : entry->save->errorString());
            return nullptr;
        }
        device = entry->save.get();
    }
    m_entries.push_back(std::move(entry));
    return device;
}

bool FileSetWriter::commit(QString *error)
{
    // A write that failed earlier shows in the device's error state.
    for (const auto &entry : m_entries) {
        if (entry->save && entry->save->error() != QFileDevice::NoError) {
            if (error)
                *error = writeError(entry->path, entry->save->errorString());
            return false;
        }
    }
    for (const auto &entry : m_entries) {
        if (entry->save) {
            if (!entry->save->commit()) {
                if (error)
                    *error = writeError(entry->path, entry->save->errorString());
                return false;
            }
            continue;
        }
        QFile file(entry->path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)
            || file.write(entry->directBytes) != entry->directBytes.size()) {
            if (error)
                *error = writeError(entry->path, file.errorString());
            return false;
        }
    }
    m_entries.clear();
    return true;
}

bool writeSubtitleFile(const QString &path, QByteArrayView bytes, QString *error)
{
    FileSetWriter writer;
    QIODevice *device = writer.open(path, error);
    if (!device)
        return false;
    if (device->write(bytes.data(), bytes.size()) != bytes.size()) {
        if (error)
            *error = writeError(path, device->errorString());
        return false;
    }
    return writer.commit(error);
}
