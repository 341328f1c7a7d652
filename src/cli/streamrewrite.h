// The batch tool's rewrite of a whole file.
#pragma once

#include "cli/filelayout.h"
#include "engine/subengine.h"

#include <QByteArrayView>
#include <QString>

class QIODevice;

// Runs operation `mode` over a file's bytes and writes to `out` what a save
// after that operation would write (in the format `output` makes of the
// file's own): the same bytes as decoding, the operation's walk and encoding,
// a line at a time, in memory that does not grow with the file (but for a
// UTF-8 copy of a UTF-16 or UTF-32 file). `encoding` forces one, empty to detect it. False with
// a message when the file does not read exactly in the forced encoding, a
// result cannot be encoded, or `out` fails; what was written by then is
// incomplete. What the walk did goes to `counts` where given. A large file
// is done in pieces of about `pieceSize` bytes (0: the usual size) on two
// threads; tests make them small to try many piece ends.
bool rewriteSubtitleBytes(const SubEngine &engine, int mode, QByteArrayView bytes, QIODevice &out,
                          QString *error, SubEngine::WalkCounts *counts, qsizetype pieceSize = 0,
                          const QString &encoding = QString(), const OutputChoice &output = OutputChoice());
