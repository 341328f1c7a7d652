// Saving files so that a failure never costs the old file.
//
// The new bytes go to a new file beside the old one and are flushed to disk
// before the old file is touched. The new file then takes the old one's
// place by rename where that keeps everything the file had: its other names
// (hard links), owner and group, all twelve mode bits, ACLs and extended
// attributes. Where a rename cannot keep them, or the folder may not be
// written, the old bytes are first copied to a backup in the user's state
// folder, the file is overwritten in place and flushed, and the backup is
// removed; a file that cannot be backed up is not saved. A symbolic link
// keeps working: its target is saved, unless the link sits in a sticky
// folder anyone may write to (/tmp) and belongs to neither the user nor the
// folder's owner. Devices, pipes and open descriptors (/dev/stdout,
// /dev/fd/N) are written as they are. A file another program put in the
// name's place meanwhile is left alone. Every message names the file and
// gives the system's reason.
#pragma once

#include "files/fileerror.h"
#include "files/filestamp.h"

#include <QByteArrayView>
#include <QList>
#include <QString>

#include <memory>
#include <vector>

class QIODevice;

// Files written together, or not at all: each is written whole and flushed
// before commit() puts any of them in place, and those put in place are put
// back when a later one fails, so an error leaves every file as it was.
// Whatever was not committed leaves no trace. Each file is locked against
// other saves (of this program or the editor) from open() to the end of
// commit(); a second save waits two seconds for the lock, then gives up.
class FileSetWriter
{
public:
    enum class Method { Renamed, InPlace, Device };

    FileSetWriter();
    ~FileSetWriter();
    FileSetWriter(const FileSetWriter &) = delete;
    FileSetWriter &operator=(const FileSetWriter &) = delete;

    // Where to write `path`'s new bytes; null, with the error, on failure.
    // With `readFrom`, the file must still be the one that was read, as it
    // was (only the same file, when `settling`). A file whose last save did
    // not finish is refused, unless this save is `settling` it.
    QIODevice *open(const QString &path, FileError *error, const FileStamp *readFrom = nullptr,
                    bool settling = false);
    bool commit(FileError *error);
    // How commit() put each file in place, in the order they were opened.
    QList<Method> methods() const { return m_methods; }

private:
    struct Entry;
    bool apply(Entry &entry, FileError *error);
    // Puts back a file put in place; says in `outcome` what became of it.
    static void takeBack(Entry &entry, FileError &outcome);
    std::vector<std::unique_ptr<Entry>> m_entries;
    QList<Method> m_methods;
};

bool writeSubtitleFile(const QString &path, QByteArrayView bytes, FileError *error,
                       FileSetWriter::Method *method = nullptr, const FileStamp *readFrom = nullptr);

// The system's errno for a failed write to a device FileSetWriter::open()
// returned; 0 for any other device, or while nothing failed.
int writeFailure(const QIODevice &device);
// Why writing `path`'s new bytes to `device` failed: the system's reason,
// naming the backup folder where they waited there, or else `why`.
FileError writeFailure(const QIODevice &device, const QString &path, const QString &why);
