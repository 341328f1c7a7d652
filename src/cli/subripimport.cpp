// Cues of a SubRip file turned into subtitle lines, a few megabytes at a
// time, straight into the new file.
#include "cli/subripimport.h"

#include "cli/filelayout.h"
#include "files/textcodec.h"
#include "formats/subrip.h"

#include <QIODevice>

namespace {

// The cues of a file read whole, turned into lines and saved as the editor
// does it: for a file that cannot go through UTF-8.
bool importWhole(QByteArrayView bytes, const QString &encoding, int format, double fps, const OutputChoice &choice,
                 QIODevice &out, CueReport &report, FileError *readError, QString *error)
{
    const SubtitleText file = decodeSubtitleBytes(bytes, encoding);
    QString lines;
    if (CueProblem problem; !importSubRip(file.text, format, fps, lines, report, &problem)) {
        if (readError)
            *readError = cueError(readError->path, problem);
        return false;
    }
    FileFormat read = file.format;
    read.finalLineEnd = subRipEndsWithBlankLine(file.text);
    QByteArray saved;
    return encodeSubtitleText(lines, choice.applyTo(read), saved, error) && writeAll(out, saved, error);
}

// Where a piece of SubRip cues may end: after a line that is empty, which
// ends a cue wherever it stands; the first such end at or after `from`, or
// the end of `content`.
qsizetype cueBoundary(QByteArrayView content, qsizetype from, char separator)
{
    for (qsizetype at = from; at < content.size();) {
        const qsizetype end = content.indexOf(separator, at);
        if (end < 0)
            break;
        qsizetype next = end + 1;
        const bool crlf = separator == '\n';
        if (next < content.size() && content[next] == separator)
            return next + 1;
        if (crlf && next + 1 < content.size() && content[next] == '\r' && content[next + 1] == '\n')
            return next + 2;
        at = next;
    }
    return content.size();
}

// Decodes the lines of `bytes` (cut at `separator`, a CR before an LF
// dropped) and joins them with LF, without the line end after the last.
void decodeLines(QByteArrayView bytes, char separator, LineCodec &codec, QString &text)
{
    text.clear();
    QString line;
    for (qsizetype at = 0; at < bytes.size();) {
        qsizetype end = bytes.indexOf(separator, at);
        if (end < 0)
            end = bytes.size();
        QByteArrayView raw = bytes.sliced(at, end - at);
        if (separator == '\n' && raw.endsWith('\r'))
            raw.chop(1);
        codec.decode(raw, line);
        if (at > 0)
            text += u'\n';
        text += line;
        at = end + 1;
        if (end < bytes.size() && at == bytes.size())
            break; // the line end after the last line
    }
}

} // namespace

bool importSubRipBytes(QByteArrayView bytes, const QString &encoding, int format, double fps, const OutputChoice &choice,
                       QIODevice &out, CueReport &report, FileError *readError, QString *error, qsizetype pieceSize)
{
    report = CueReport();
    Layout layout;
    FileFormat output;
    QByteArray utf8;
    FileError notRead;
    bool halfPair = false;
    if (!readLayout(bytes, encoding, choice, utf8, layout, output, readError ? *readError : notRead, halfPair))
        return false;
    if (halfPair)
        return importWhole(bytes, encoding, format, fps, choice, out, report, readError, error);
    const QByteArrayView content = layout.content;
    const char separator = layout.separator;
    // Lines are written with a line end after the last one where the SubRip
    // file ends with an empty line, as the file it was made from did.
    QByteArrayView body = content;
    if (separator == '\n' && body.endsWith("\r\n"))
        body.chop(2);
    else if (body.endsWith(separator))
        body.chop(1);
    output.finalLineEnd = body.endsWith(separator);
    LineCodec in(layout.format.encoding, false);
    LineCodec outCodec(output.encoding, false);
    const QByteArray lineEnd = lineEndOf(output);

    QByteArray chunk;
    auto flush = [&](bool always) {
        if (!always && chunk.size() < (1 << 16))
            return true;
        if (out.write(chunk) != chunk.size()) {
            if (error)
                *error = out.errorString();
            return false;
        }
        chunk.truncate(0);
        return true;
    };
    if (output.bom)
        chunk += byteOrderMarkOf(output);
    QString text, lines;
    qsizetype firstLine = 0, outLine = 0;
    for (qsizetype at = 0; at < content.size();) {
        const qsizetype end = cueBoundary(content, at + (pieceSize > 0 ? pieceSize : qsizetype(4) << 20) - 1, separator);
        const QByteArrayView piece = content.sliced(at, end - at);
        decodeLines(piece, separator, in, text);
        CueReport pieceReport;
        if (CueProblem problem; !importSubRip(text, format, fps, lines, pieceReport, &problem, firstLine)) {
            if (readError)
                *readError = cueError(readError->path, problem);
            return false;
        }
        report.cues += pieceReport.cues;
        report.notSubtitles += pieceReport.notSubtitles;
        report.clampedTimes += pieceReport.clampedTimes;
        report.droppedCodes += pieceReport.droppedCodes;
        report.emptyRows += pieceReport.emptyRows;
        if (pieceReport.cues > 0) {
            for (QStringView line : QStringView(lines).tokenize(u'\n')) {
                ++outLine;
                if (const qsizetype bad = outCodec.firstUnwritable(line); bad >= 0) {
                    if (error)
                        *error = unwritableMessage(line, outLine, bad);
                    return false;
                }
                if (outLine > 1)
                    chunk += lineEnd;
                outCodec.appendEncoded(chunk, line);
                if (!flush(false))
                    return false;
            }
        }
        firstLine += piece.count(separator);
        at = end;
    }
    if (output.finalLineEnd)
        chunk += lineEnd;
    return flush(true);
}
