// One file of a FileSetWriter: where it stands from open() to the end of
// commit(), and how it is put in place and taken back.
#pragma once

#include "files/filesaving.h"
#include "files/newbytes.h"
#include "files/savejournal.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

struct FileSetWriter::Entry
{
    // Where the new content stands once put in place, and so how it is
    // taken back when another file of the set fails.
    enum class Placed {
        No,
        Exchanged, // the new file took the name, the old one is at `temporary`
        Held,      // the same, the old one kept under `holdName` by a second link
        Replaced,  // renamed over the old one, which is gone
        Created,   // there was no file of that name
        Written,   // written over the old file, whose copy is in the backup folder
    };

    QString path;             // as given, for messages
    QByteArray target;        // the file itself, links followed
    Method method = Method::Renamed;
    int order = 0;            // when it was opened
    int fd = -1;              // the new file, the old one to write over, or a descriptor
    bool anonymous = false;   // a new file with no name yet
    QByteArray temporary;     // the new file's name while it has one; once exchanged, the old file's
    QByteArray holdName;      // the old file's second name where it cannot be exchanged
    Placed placed = Placed::No;
    ino_t madeInode = 0;      // the new file, once Created
    QByteArray deviceName;    // a device opened at commit, with these flags
    int deviceFlags = O_WRONLY | O_CLOEXEC;
    bool existed = false;     // whether the name held a file, and which, when opened
    dev_t fileDevice = 0;
    ino_t fileInode = 0;
    int held = -1;            // that file, locked against other saves until this one ends
    // Written over in place: the copies of the old and the new bytes in the
    // backup folder, each locked from its first moment until the save ends.
    int backupFolder = -1;
    QString backupFolderPath;
    QByteArray backup;
    int backupHold = -1;
    QByteArray newCopy;
    int newCopyFd = -1;
    QByteArray newHash;
    qint64 newSize = 0;
    bool keptAside = false;   // the file may be damaged: copies and record stay
    bool finished = false;    // the whole set is in place
    SaveJournal journal;      // while the file is written over
    TemporaryRecord temporaryRecord; // while `temporary` or `holdName` is a visible name
    std::unique_ptr<NewBytes> device;

    ~Entry();
    // Follows `path`'s links and looks at what it leads to, in `old` where
    // `exists`; a device, a pipe or an open descriptor is written as it is.
    bool lookAt(struct stat &old, bool &exists, FileError *error);
    // Opens and locks the old file, that must be the one looked at and none
    // of `others`; `old` is then what it is under the lock.
    bool hold(struct stat &old, const std::vector<std::unique_ptr<Entry>> &others, FileError *error);
    // Makes the file the new bytes go to: a new one beside the old where it
    // can be made the same as the old one, else the copies to write over it.
    bool makeNewFile(bool exists, const struct stat &old, FileError *error);
    // Whether the name still holds the file it held when it was opened.
    bool unchanged() const;
    // Opens the old file to be written over, if it is still the one opened.
    bool openToWriteOver();
    // Makes the two copies in the backup folder, empty and locked; the old
    // bytes go into theirs at commit, the new ones are written into theirs.
    bool makeCopies(FileError *why);
    // Copies the old bytes and flushes them.
    bool copyOldBytes(FileError *why);
    // Writes the old bytes back over the file from their copy; false when
    // they cannot be, and the copy and the record then stay.
    bool putBack();

    // Puts the new file in place of a name that held none.
    bool placeCreated(FileError *error);
    // Puts the new file in place of the old one, keeping the old one aside
    // until the set is whole; writes over it where the name cannot be
    // replaced.
    bool placeOver(FileError *error);
    // Writes the new bytes over the old file, after its copy.
    bool writeOver(FileError *error);
    // Writes the bytes kept for a device or a descriptor.
    bool writeDevice(FileError *error);

private:
    // Gives the new file the old one's owner, attributes, mode and flags;
    // false when it cannot have all of them.
    bool takeOldsLooks(const struct stat &old);
    // A save's failure, with the system's reason or `why`.
    bool fail(FileError *error, int errnum, FileError::Reason why = FileError::NoReason) const;
    // Writes over a file that cannot be replaced (one mounted on its name):
    // the new file made so far is copied over it after a copy of the old one.
    bool writeOverMounted(FileError *error);
};
