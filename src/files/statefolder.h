// This program's own folders for what outlives a run (backups of saves in
// progress, recovery copies), and the files in them.
#pragma once

#include "files/fileerror.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

// $XDG_STATE_HOME/tarnlyx/`name` (by default under ~/.local/state), opened
// as a folder, with its path in `path`. Both tarnlyx/ and `name` must be
// real folders (not links) of the effective user with mode 0700; they are
// made so when missing. -1, with the reason, otherwise, or when neither
// XDG_STATE_HOME nor HOME says where. Without `create`, nothing is made.
int openStateFolder(const QString &name, QString *path, FileError *error, bool create = true);
// The names of the entries of the folder open as `dirfd` that end with
// `ending` and are not hidden; none when it cannot be listed.
QList<QByteArray> stateFolderEntries(int dirfd, const QByteArray &ending);

// Puts a new file (mode 0600) holding `bytes` in place of `name` in the
// folder `folder`, flushed to disk. False, with the reason, on failure.
bool replaceFileAt(int folder, const QByteArray &name, QByteArrayView bytes, FileError *error);
