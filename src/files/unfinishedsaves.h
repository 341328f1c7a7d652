// Saves that a crash, a kill or a power cut left unfinished, found at the
// next start from the records the saves keep (see savejournal.h): each can
// be looked at, undone without ever writing over newer work, or let go.
#pragma once

#include "files/fileerror.h"
#include "files/savejournal.h"

#include <QList>
#include <QString>

// Saves that did not finish, oldest first; those that did are cleaned up,
// and so are new files a save that ended early left beside their targets,
// and the copies (and records cut short) of saves killed before they wrote
// anything over their file. Nothing is made when there is no backup folder
// yet; one that is refused is said in `error`.
QList<UnfinishedSave> unfinishedSaves(FileError *error = nullptr);

// Those of them that wrote over the file `name` leads to now.
QList<UnfinishedSave> unfinishedSavesOf(const QString &name);

// What a name holds now, against what a save that did not finish wrote.
enum class SaveDamage {
    Finished, // that very file, holding the new bytes: the save did finish
    Damaged,  // that very file, as the kill left it: each byte the old or the new one
    Changed,  // that very file, written since: newer work
    Replaced, // another file
    Missing,  // no file
};
// False, with the reason, when the name cannot be looked at.
bool inspectUnfinished(const UnfinishedSave &save, const QString &name, SaveDamage *damage, FileError *error);

// Puts the old bytes back into the file `name` leads to, through the save
// routine, if it is the file the save damaged; makes it anew with them where
// the name is free; else writes them to a new file beside it (NAME.before-save)
// and leaves the file alone. Then the copies and the record go. False, with
// the reason, leaving them all.
bool restoreUnfinished(const UnfinishedSave &save, const QString &name, RestoreOutcome *outcome, FileError *error);
// Removes the copies and the record: the file stays as it is.
bool discardUnfinished(const UnfinishedSave &save, FileError *error);
