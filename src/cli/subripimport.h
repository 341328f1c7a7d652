// The batch tool's import of a SubRip file as subtitle lines.
#pragma once

#include "cli/filelayout.h"

#include <QByteArrayView>
#include <QString>

class QIODevice;
struct CueReport;

// Converts SubRip `bytes` into lines of `format` (a SubtitleFormat code),
// frame numbers at `fps`, and writes to `out` what a save of them would: in
// the file's own encoding, line ends and byte-order mark as `output` makes
// them, with a line end after the last line where the SubRip file ends with
// an empty line. A few megabytes of cues at a time (`pieceSize` bytes; 0:
// the usual size), so that memory does not grow with the file. False with
// the reason in `readError` (about the file it names) for text that is not
// in its encoding or a cue that is not well formed, or in `error` when a
// line cannot be encoded or `out` fails.
bool importSubRipBytes(QByteArrayView bytes, const QString &encoding, int format, double fps, const OutputChoice &output,
                       QIODevice &out, CueReport &report, FileError *readError, QString *error, qsizetype pieceSize = 0);
