// A record of every save that writes over a file, so that one cut short (a
// crash, a kill, a power cut) is found and can be undone.
//
// Before the first byte goes over a file, a record beside the copy of its
// old bytes in $XDG_STATE_HOME/tarnlyx/backup/ names the file (as bytes),
// its device and inode, its old and new size and a hash of the new bytes;
// the record, the copy and their folder are flushed first. The record is
// locked while the save runs and removed once it finished or was undone. A
// record nobody holds is a save that did not finish, unless the file holds
// exactly the new bytes: then the save did finish and the record and copy
// are removed without a word. The copy is locked by its save from the
// moment it is made until the save ends, so that a copy nobody holds and no
// record names (a save killed while it copied) is removed as well.
#pragma once

#include "files/fileerror.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

struct UnfinishedSave
{
    QByteArray record;      // the record's name in the backup folder
    QByteArray backup;      // the old bytes' copy's name there
    QString path;           // the file written over, links followed
    QString backupPath;     // the copy, for messages
    qint64 oldSize = 0, newSize = 0;
};

// The record of one save in progress; removed when it goes unless kept().
class SaveJournal
{
public:
    SaveJournal() = default;
    ~SaveJournal() { end(); }
    SaveJournal(const SaveJournal &) = delete;
    SaveJournal &operator=(const SaveJournal &) = delete;

    // Writes and flushes the record for writing `bytes` over the file
    // `target` (open as `fd`), whose old bytes are copied to `backup` in the
    // backup folder `folder`; the folder is flushed too. False, with the
    // reason, when it cannot be: then nothing may be written over the file.
    bool begin(int folder, const QByteArray &backup, const QByteArray &target, int fd, QByteArrayView bytes,
               FileError *why);
    // The save finished, or was undone: the record goes.
    void end();
    // The save did not finish and the file may be damaged: the record stays.
    void keep();

private:
    int m_folder = -1;  // not owned
    QByteArray m_name;
    int m_fd = -1;      // holds the lock
};

// The name of a new file made beside the file it is to replace, where it
// cannot be made nameless: recorded before it is made, so that one a kill
// left behind is removed at the next start.
class TemporaryRecord
{
public:
    TemporaryRecord() = default;
    ~TemporaryRecord() { end(); }
    TemporaryRecord(const TemporaryRecord &) = delete;
    TemporaryRecord &operator=(const TemporaryRecord &) = delete;

    // Records `path` (made absolute), in place of what was recorded before.
    // False when there is nowhere to record it.
    bool record(const QByteArray &path);
    // The file was renamed into place or removed.
    void end();

private:
    int m_folder = -1;
    QByteArray m_name;
    int m_fd = -1;
};

// Saves that did not finish, oldest first; those that did are cleaned up,
// and so are new files a save that ended early left beside their targets,
// and the copies (and records cut short) of saves killed before they wrote
// anything over their file. Nothing is made when there is no backup folder
// yet.
QList<UnfinishedSave> unfinishedSaves();
// Puts the old bytes back through the save routine, then removes the copy
// and the record. False, with the reason, leaving both.
bool restoreUnfinished(const UnfinishedSave &save, FileError *error);
// Removes the copy and the record: the file stays as it is.
bool discardUnfinished(const UnfinishedSave &save, FileError *error);
