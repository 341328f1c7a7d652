#include "files/filesaving.h"

#include "files/descriptors.h"
#include "files/filelinks.h"
#include "files/filenames.h"
#include "files/savingentry.h"
#include "files/systemcalls.h"

#include <QSet>

#include <algorithm>
#include <cerrno>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Hands `why` to the caller, where it asked for it; the entry being opened
// goes, and with it whatever it made.
QIODevice *failed(FileError *error, const FileError &why)
{
    if (error)
        *error = why;
    return nullptr;
}

} // namespace

int writeFailure(const QIODevice &device)
{
    const auto *ours = dynamic_cast<const NewBytes *>(&device);
    return ours ? ours->failure() : 0;
}

FileError writeFailure(const QIODevice &device, const QString &path, const QString &why)
{
    const auto *ours = dynamic_cast<const NewBytes *>(&device);
    return ours && ours->failure() != 0 ? ours->error(path) : FileError(FileError::Write, path, why);
}

FileSetWriter::FileSetWriter() = default;
FileSetWriter::~FileSetWriter() = default;

QIODevice *FileSetWriter::open(const QString &path, FileError *error, const FileStamp *readFrom, bool settling)
{
    auto entry = std::make_unique<Entry>();
    entry->path = path;
    entry->order = int(m_entries.size());
    FileError why;
    struct stat old;
    bool exists = false;
    if (!entry->lookAt(old, exists, &why))
        return failed(error, why);
    if (entry->method != Method::Device) {
        // The file the links led to, opened without following another: the
        // same file, and the one that was read, or nothing is written. It
        // stays open and locked until the save ends, so that another save
        // of it waits for this one; under the lock it is looked at again.
        if (exists && !entry->hold(old, m_entries, &why))
            return failed(error, why);
        if (readFrom
            && (readFrom->exists != exists
                || (exists && (readFrom->device != quint64(old.st_dev) || readFrom->inode != quint64(old.st_ino)))))
            return failed(error, FileError(FileError::Write, path, 0, FileError::ReplacedMeanwhile));
        if (readFrom && exists && !settling
            && (readFrom->size != qint64(old.st_size)
                || readFrom->mtime != qint64(old.st_mtim.tv_sec) * 1000000000 + old.st_mtim.tv_nsec))
            return failed(error, FileError(FileError::Write, path, 0, FileError::ChangedMeanwhile));
        // A save over a file whose last save was cut short would take the
        // damage for the old content: that one is settled first.
        if (exists && !settling && hasUnsettledSave(entry->held))
            return failed(error, FileError(FileError::Unsettled, path, 0));
        if (!entry->makeNewFile(exists, old, &why))
            return failed(error, why);
    }
    const bool inPlace = entry->method == Method::InPlace;
    const int into = entry->method == Method::Device ? -1 : inPlace ? entry->newCopyFd : entry->fd;
    entry->device = std::make_unique<NewBytes>(into, inPlace, inPlace ? entry->backupFolderPath : QString());
    QIODevice *device = entry->device.get();
    m_entries.push_back(std::move(entry));
    return device;
}

bool FileSetWriter::commit(FileError *error)
{
    m_methods.clear();
    // What became of every other file when one failed: those put in place
    // are put back, in the reverse order.
    auto fail = [&](FileError why, const Entry *failed) {
        for (auto it = m_entries.rbegin(); it != m_entries.rend(); ++it) {
            Entry &entry = **it;
            if (&entry == failed)
                continue;
            FileError other(FileError::Write, entry.path, 0);
            if (entry.placed != Entry::Placed::No)
                takeBack(entry, other);
            why.alongside.prepend(other);
        }
        if (error)
            *error = why;
        m_entries.clear();
        return false;
    };
    // Every new file whole and on disk before any old one is touched.
    for (const auto &entry : m_entries) {
        if (entry->device->failure() != 0)
            return fail(entry->device->error(entry->path), entry.get());
        const int made = entry->method == Method::Renamed ? entry->fd : entry->newCopyFd;
        if (entry->method != Method::Device && systemCalls().fsync(made) != 0) {
            const int errnum = errno;
            return fail(entry->method == Method::Renamed
                                ? FileError(FileError::Write, entry->path, errnum)
                                : FileError(FileError::Write, entry->path,
                                            FileError(FileError::BackUp, QString(),
                                                      FileError(FileError::StateFile, entry->backupFolderPath, errnum))),
                        entry.get());
        }
        entry->newSize = entry->device->written();
        entry->newHash = entry->device->hash();
    }
    // A copy of every file that is to be written over.
    for (const auto &entry : m_entries) {
        FileError why;
        if (entry->method == Method::InPlace && !entry->copyOldBytes(&why))
            return fail(FileError(FileError::Write, entry->path, FileError(FileError::BackUp, QString(), why)), entry.get());
    }
    // Files written over go first: a failure there is undone from the copy
    // before any other file is touched.
    std::stable_partition(m_entries.begin(), m_entries.end(),
                          [](const auto &entry) { return entry->method == Method::InPlace; });
    for (const auto &entry : m_entries) {
        FileError why;
        if (!apply(*entry, &why))
            return fail(why, entry.get());
    }
    // The new names on disk, each folder once; the old files go only after.
    QSet<QByteArray> flushed;
    for (const auto &entry : m_entries) {
        const QByteArray dir = dirOf(entry->target);
        if (entry->method != Method::Renamed || flushed.contains(dir))
            continue;
        flushed.insert(dir);
        Descriptor folder;
        folder.fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folder.fd < 0 || systemCalls().fsync(folder.fd) != 0) {
            const int errnum = errno;
            if (error)
                *error = FileError(FileError::Write, entry->path, FileError(FileError::FlushFolder, nameFromNative(dir), errnum));
            for (const auto &placed : m_entries)
                placed->finished = true; // in place, as the message says
            m_entries.clear();
            return false;
        }
    }
    std::sort(m_entries.begin(), m_entries.end(), [](const auto &a, const auto &b) { return a->order < b->order; });
    for (const auto &entry : m_entries) {
        entry->finished = true;
        m_methods << entry->method;
    }
    m_entries.clear();
    return true;
}

void FileSetWriter::takeBack(Entry &entry, FileError &outcome)
{
    using Placed = Entry::Placed;
    outcome.aftermath = FileError::PutBack;
    const Placed placed = std::exchange(entry.placed, Placed::No);
    switch (placed) {
    case Placed::No:
        outcome.aftermath = FileError::Untouched;
        return;
    case Placed::Exchanged:
    case Placed::Held: {
        QByteArray &old = placed == Placed::Exchanged ? entry.temporary : entry.holdName;
        const unsigned flags = placed == Placed::Exchanged ? RENAME_EXCHANGE : 0;
        if (systemCalls().rename(old.constData(), entry.target.constData(), flags) == 0) {
            if (flags == 0)
                old.clear(); // the old file has its name back
            return;
        }
        // The old file stays where it is, for the user to take.
        outcome.errnum = errno;
        outcome.aftermath = FileError::KeptAside;
        outcome.keptIn = nameFromNative(old);
        old.clear();
        entry.temporaryRecord.end();
        return;
    }
    case Placed::Replaced:
        outcome.aftermath = FileError::KeptAside;
        outcome.because = FileError::CannotKeepAside;
        return;
    case Placed::Created: {
        struct stat st;
        if (lstat(entry.target.constData(), &st) == 0 && st.st_ino == entry.madeInode && unlink(entry.target.constData()) == 0)
            return;
        outcome.errnum = errno;
        outcome.aftermath = FileError::KeptAside;
        return;
    }
    case Placed::Written:
        if (entry.putBack())
            return;
        outcome.errnum = errno;
        outcome.aftermath = FileError::KeptAside;
        outcome.keptIn = entry.backupFolderPath + u'/' + nameFromNative(entry.backup);
        return;
    }
}

bool FileSetWriter::apply(Entry &entry, FileError *error)
{
    switch (entry.method) {
    case Method::Renamed:
        return entry.existed ? entry.placeOver(error) : entry.placeCreated(error);
    case Method::InPlace:
        return entry.writeOver(error);
    case Method::Device:
        return entry.writeDevice(error);
    }
    return false;
}

bool writeSubtitleFile(const QString &path, QByteArrayView bytes, FileError *error,
                       FileSetWriter::Method *method, const FileStamp *readFrom)
{
    FileSetWriter writer;
    QIODevice *device = writer.open(path, error, readFrom);
    if (!device)
        return false;
    device->write(bytes.data(), bytes.size());
    if (!writer.commit(error))
        return false;
    if (method)
        *method = writer.methods().value(0);
    return true;
}