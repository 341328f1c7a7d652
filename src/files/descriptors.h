// Small tools for file descriptors: closing them with the result checked,
// the lock that keeps two saves of one file apart, reading and copying all
// a file holds, and giving a new file what the old one keeps besides its
// bytes.
#pragma once

#include <QByteArrayView>

#include <functional>

class QCryptographicHash;

// Closes `fd` (unless it is -1) through the system call table and sets it
// to -1; 0, or the system's errno.
int closeChecked(int &fd);
// The same where nothing can be done about a failure.
void closeQuietly(int &fd);

// Closes a descriptor when it goes out of scope.
struct Descriptor
{
    int fd = -1;
    ~Descriptor() { closeChecked(fd); }
};

// How long a save waits for another save of the same file to end before it
// gives up, in milliseconds.
inline constexpr qint64 lockWait = 2000;

// Takes the lock that keeps two saves of one file (in this program or the
// editor) from going over it at once: the kernel lets go of it when a
// process ends, however it ends. False when another save holds it longer
// than lockWait. A file system without such locks is guarded by the checks
// alone.
bool lockForSaving(int fd);

// Hands everything `fd` holds, from its start, to `take` a megabyte at a
// time with where it stands; false when it cannot be read or `take` says so.
bool readPieces(int fd, const std::function<bool(QByteArrayView piece, qint64 offset)> &take);
// Copies everything `from` holds, from its start, to `to`: at its end, or
// from `at` on when that is not -1. `hash`, where given, takes the bytes.
bool copyBytes(int from, int to, qint64 at = -1, QCryptographicHash *hash = nullptr);

// Gives `to` the inode flags (chattr) of `from`; false when it does not
// have them afterwards. An immutable or append-only file is never given a
// double.
bool copyInodeFlags(int from, int to);
// Gives `to` exactly the extended attributes (ACLs among them) of `from`.
bool copyAttributes(int from, int to);
