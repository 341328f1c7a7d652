// The batch tool's rewrite of a whole file.
#pragma once

#include <QByteArrayView>
#include <QString>

class QIODevice;
class SubEngine;

// Runs operation `mode` over a file's bytes and writes to `out` what a save
// after that operation would write: the same bytes as decoding, the
// operation's walk and encoding, a line at a time, in memory that does not
// grow with the file. `encoding` forces one, empty to detect it. False with
// a message when the file does not read exactly in the forced encoding, a
// result cannot be encoded, or `out` fails; what was written by then is
// incomplete. A large file is done in pieces of about `pieceSize` bytes (0:
// the usual size) on two threads; tests make them small to try many piece
// ends.
bool rewriteSubtitleBytes(SubEngine &engine, int mode, QByteArrayView bytes, QIODevice &out,
                          QString *error, qsizetype pieceSize = 0, const QString &encoding = QString());
