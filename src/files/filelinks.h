// Where a name leads: the links on the way followed by the rule the system
// applies in folders anyone may write to, and the names that stand for an
// open descriptor rather than a file; the short names of the files a save
// makes for a while.
#pragma once

#include "files/fileerror.h"

#include <QByteArray>
#include <QString>

// The folder part of a native path: "." for a bare name, "/" at the root.
QByteArray dirOf(const QByteArray &path);

// Which of this program's own descriptors a name stands for (/dev/stdout,
// /dev/fd/3, /proc/self/fd/3), or -1.
int ownDescriptor(const QByteArray &path);

// The file a name stands for once every symbolic link on the way is
// followed; it need not exist yet. A link in a sticky folder that anyone may
// write to is followed only if it is ours or the folder owner's, the rule
// the system applies when it protects such links: anyone could have put it
// there. `descriptor` is set instead when the chain reaches a name such as
// /dev/stdout. False, with the system's errno in `errnum`, otherwise.
bool followLinks(QByteArray path, QByteArray &target, QByteArray &descriptor, int &errnum);

// A short name no user file has, in `dir`: ".tarnlyx-" and six letters.
QByteArray temporaryName(const QByteArray &dir);

// Creates `path` empty unless it exists. False with the reason otherwise.
bool createEmptyFile(const QString &path, FileError *error);
