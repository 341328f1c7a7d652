// The batch tool's rewrite of a whole file.
#pragma once

#include "engine/subengine.h"
#include "files/textcodec.h"

#include <QByteArrayView>
#include <QString>

#include <optional>

class QIODevice;

// What the user chose to write the result in, where it differs from the
// file's own format.
struct OutputChoice
{
    QString encoding;                // empty: the file's own
    bool bom = false;                // a byte-order mark, whether the file had one or not
    std::optional<LineEnds> lineEnds;

    FileFormat applyTo(FileFormat format) const;
};

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

// Writes UTF-8 text that comes in pieces (cues as they are made) in another
// encoding, a line at a time, each line checked first; its line ends (LF or
// CR LF) stay.
class Utf8Reencoder
{
public:
    Utf8Reencoder(const QString &encoding, QIODevice &out);
    // False when a line holds what the encoding cannot store ("line L,
    // column C holds ...", counted in the whole text) or `out` fails; error()
    // says which.
    bool write(QByteArrayView utf8);
    // The last line, which has no line end.
    bool finish();
    const QString &error() const { return m_error; }

private:
    bool put(QByteArrayView line, QStringView end);
    bool send();

    LineCodec m_codec;
    QIODevice &m_out;
    QByteArray m_pending; // the start of a line whose end is still to come
    QByteArray m_encoded;
    QString m_line;
    qsizetype m_lineNumber = 0;
    QString m_error;
};
