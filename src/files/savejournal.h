// A record of every save that writes over a file, so that one cut short (a
// crash, a kill, a power cut) is found and can be undone without ever
// taking newer work for the damage.
//
// Before the first byte goes over a file, a record beside the copy of its
// old bytes in $XDG_STATE_HOME/tarnlyx/backup/ names the file (as bytes),
// its device and inode, its old and new size and a hash of the new bytes,
// which are kept there too; the record, both copies and their folder are
// flushed first. The record is locked while the save runs and removed once
// it finished or was undone. A record nobody holds is a save that did not
// finish, unless its file holds exactly the new bytes: then the save did
// finish and the record and copies are removed without a word. The copies
// are locked by their save from the moment they are made until the save
// ends, so that copies nobody holds and no record names (a save killed
// before its record was whole) are removed as well.
//
// A kill while the new bytes go over the file leaves each byte of it either
// the old or the new one (a prefix of the new bytes before the rest of the
// old ones, or after a power cut any blocks of each). A file that holds
// anything else was written since: newer work, which a restore never
// writes over.
#pragma once

#include "files/fileerror.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <cerrno>

#include <unistd.h>

struct UnfinishedSave
{
    QByteArray record;      // the record's name in the backup folder
    QByteArray backup;      // the old bytes' copy's name there
    QByteArray newBytes;    // the new bytes' copy's name there; empty in records of the first form
    QString path;           // the file written over, links followed
    QString backupPath;     // the copy, for messages
    quint64 device = 0, inode = 0;
    qint64 oldSize = 0, newSize = 0;
    QByteArray hash;        // of the new bytes (contentHash())
    bool firstForm = false; // SHA-256 for the hash, and no new bytes kept
};

// The record of one save in progress; removed when it goes unless kept().
class SaveJournal
{
public:
    SaveJournal() = default;
    ~SaveJournal() { end(); }
    SaveJournal(const SaveJournal &) = delete;
    SaveJournal &operator=(const SaveJournal &) = delete;

    // Writes and flushes the record for writing the `newSize` bytes of hash
    // `hash`, kept as `newBytes`, over the file `target` (open as `fd`),
    // whose old bytes are copied to `backup`, both in the backup folder
    // `folder`; the folder is flushed too. False, with the reason, when it
    // cannot be: then nothing may be written over the file.
    bool begin(int folder, const QByteArray &backup, const QByteArray &newBytes, const QByteArray &target, int fd,
               qint64 newSize, const QByteArray &hash, FileError *why);
    // The save finished, or was undone: the record goes.
    void end();
    // The save did not finish and the file may be damaged: the record stays.
    void keep();

private:
    int m_folder = -1;  // not owned
    QByteArray m_name;
    int m_fd = -1;      // holds the lock
};

// The names of new files made beside the files they are to replace, where
// they cannot be made nameless, and of the old files a save of several keeps
// until all are in place: recorded before they are made, so that those a kill
// left behind are removed at the next start.
class TemporaryRecord
{
public:
    TemporaryRecord() = default;
    ~TemporaryRecord() { end(); }
    TemporaryRecord(const TemporaryRecord &) = delete;
    TemporaryRecord &operator=(const TemporaryRecord &) = delete;

    // Records `path` (made absolute) beside what was recorded before, or in
    // place of it. False when there is nowhere to record it.
    bool record(const QByteArray &path, bool beside = false);
    // The files were renamed into place or removed.
    void end();

private:
    int m_folder = -1;
    QByteArray m_name;
    int m_fd = -1;
    QByteArray m_text;
};

// Whether the file open as `fd` has a save that did not finish and is not
// settled: no other save may go over it then, or the copy of what that save
// found would be lost. A record whose file holds its new bytes is cleaned
// up on the way.
bool hasUnsettledSave(int fd);

// How the records and the copies are kept in the backup folder, for the
// start-up scan that reads them back.
namespace journal {

// The first form kept no copy of the new bytes.
inline constexpr char magic[] = "tarnlyx save 2\n";
inline constexpr char firstMagic[] = "tarnlyx save 1\n";
inline constexpr char ending[] = ".journal";
inline constexpr char newEnding[] = ".new";
inline constexpr char temporaryMagic[] = "tarnlyx temporary 1\n";
inline constexpr char temporaryEnding[] = ".temporary";

// A file of this user's own in `folder`, never through a link; -1 otherwise.
int openOwn(int folder, const QByteArray &name, int flags);

// Closes a descriptor when it goes out of scope.
struct OpenFile
{
    int fd = -1;
    ~OpenFile()
    {
        if (fd >= 0)
            close(fd);
    }
};

// The backup folder, if there is one: never made here.
struct BackupFolder
{
    BackupFolder();
    ~BackupFolder();
    BackupFolder(const BackupFolder &) = delete;
    BackupFolder &operator=(const BackupFolder &) = delete;
    // Whether there is a folder, but not one this user may trust.
    bool refused() const { return fd < 0 && error.errnum != ENOENT; }
    QString path;
    FileError error; // why there is none
    const int fd;
};

// Removes the copies first: a record left alone then names a file that
// holds the new bytes, or one that cannot be put back, never copies without
// it.
bool removeAll(int folder, const UnfinishedSave &save, FileError *error);
// The fields of a whole record; false for anything else.
bool readRecord(const QByteArray &text, UnfinishedSave &save);
// Whether the file open as `fd` is the one the save wrote over and holds
// exactly its new bytes.
bool holdsNewBytes(int fd, const UnfinishedSave &save);

} // namespace journal
