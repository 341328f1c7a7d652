// The batch tool's rewrite: a file's bytes through one operation, a line at
// a time, straight into the new file.
#include "cli/streamrewrite.h"

#include "engine/subengine.h"
#include "formats/twothreads.h"
#include "files/textcodec.h"
#include "formats/subrip.h"

#include <QIODevice>
#include <QScopeGuard>

#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace {

// How a file's bytes are to be read: its format, the bytes that hold the
// text (without a byte-order mark), the byte its lines end at and the line
// end they are written with.
struct Layout
{
    FileFormat format;
    QByteArrayView content;
    char separator = '\n';
    FileError notice; // why a forced encoding does not fit
};

Layout layoutOf(QByteArrayView bytes, const QString &encoding)
{
    Layout layout;
    qsizetype start = 0;
    layout.format = detectFormat(bytes, encoding, &start, layout.notice);
    // A forced encoding that does not fit is an error; a detected one that
    // does not leaves the file as bytes, as the editor reads it.
    if (encoding.isEmpty() || canonicalEncoding(encoding) == layout.format.encoding)
        layout.notice = FileError();
    layout.content = bytes.sliced(start);
    layout.separator = layout.format.lineEnds == LineEnds::CR ? '\r' : '\n';
    return layout;
}

// Whether `text` holds half a surrogate pair: UTF-16 and UTF-32 files may,
// UTF-8 has no form for it.
bool holdsHalfPair(QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!text[i].isSurrogate())
            continue;
        if (!text[i].isHighSurrogate() || i + 1 >= text.size() || !text[i + 1].isLowSurrogate())
            return true;
        ++i;
    }
    return false;
}

enum class WideRead { Read, NotText, HalfPair };

// The text of a file whose lines cannot be cut at a byte (UTF-16, UTF-32),
// `content` without its byte-order mark, as UTF-8, where they can: a piece
// at a time, in memory no larger than the UTF-8 itself. NotText, with the
// reason, when it does not read as `encoding` exactly; HalfPair when it
// holds half a surrogate pair, which the UTF-8 would turn into '?': such a
// file is read whole instead.
WideRead wideToUtf8(QByteArrayView content, const QString &encoding, QByteArray &utf8, FileError *error)
{
    QStringDecoder decoder(encoding.toLatin1().constData(), QStringDecoder::Flag::ConvertInitialBom);
    // Each unit of two bytes gives at most three, each of four at most four.
    utf8.reserve(encoding.startsWith(u"UTF-16") ? content.size() / 2 * 3 + 4 : content.size() + 4);
    QString text;
    QChar held; // the first half of a pair that a piece ends with, for the next piece
    bool halfPair = false;
    for (qsizetype at = 0; at < content.size(); at += 1 << 20) {
        text = decoder.decode(content.sliced(at, std::min<qsizetype>(1 << 20, content.size() - at)));
        if (halfPair)
            continue; // read on only to tell text from no text
        if (!held.isNull())
            text.prepend(std::exchange(held, QChar()));
        if (!text.isEmpty() && text.back().isHighSurrogate()) {
            held = text.back();
            text.chop(1);
        }
        halfPair = holdsHalfPair(text);
        if (!halfPair)
            utf8 += text.toUtf8();
    }
    text = decoder.decode(QByteArrayView());
    if (decoder.hasError()) {
        if (error) {
            error->because = FileError::NotWideText;
            error->about = encoding;
        }
        return WideRead::NotText;
    }
    return halfPair || !held.isNull() ? WideRead::HalfPair : WideRead::Read;
}

// The bytes of a byte-order mark in `format`'s encoding: a UTF-8 mark kept
// before the bytes of another encoding stays one.
QByteArray byteOrderMarkOf(const FileFormat &format)
{
    QByteArray bytes;
    if (format.encoding.startsWith(u"UTF"))
        LineCodec(format.encoding, false).appendEncoded(bytes, QStringView(u"\uFEFF"));
    else
        bytes = "\xEF\xBB\xBF";
    return bytes;
}

// A line end in `format`'s encoding.
QByteArray lineEndOf(const FileFormat &format)
{
    QByteArray bytes;
    LineCodec(format.encoding, false).appendEncoded(bytes, QString::fromLatin1(lineEndBytes(format.writtenLineEnds())));
    return bytes;
}

// Rewrites whole lines `body` (split at LF, a CR before the LF dropped, or
// at CR in a file with no LF) with `after` as the look-ahead of the last
// one, encoding the results and handing them to `write` a chunk at a time.
class LineRewriter
{
public:
    using Writer = std::function<bool(const QByteArray &chunk)>;

    // Written in `output`, with its line ends: the same codec as the
    // input's when the encoding stays, else each its own.
    LineRewriter(const SubEngine &engine, SubEngine::LineOperation operation, const Layout &layout, const FileFormat &output)
        : m_engine(engine), m_operation(operation), m_sameEncoding(output.encoding == layout.format.encoding),
          m_codec(layout.format.encoding, m_sameEncoding), m_outCodec(output.encoding, m_sameEncoding),
          m_separator(layout.separator), m_lineEnd(lineEndOf(output))
    {
    }

    // False when a result cannot be encoded (see badLine()) or `write` fails.
    // `fileStart`: the body starts the file, and its first line may name
    // the frame rate.
    bool run(QByteArrayView body, QStringView after, const Writer &write, bool fileStart)
    {
        m_body = body;
        m_pos = 0;
        m_lineIndex = 0;
        m_badLine = -1;
        m_failed = false;
        m_chunk.truncate(0);
        m_engine.walkLines(
                m_operation, [this](QStringView &line) { return takeLine(line); },
                [this, &write](const QString &result, bool last) { put(result, last, write); }, m_counts,
                after, fileStart);
        return !m_failed;
    }

    // What every run() so far did.
    const SubEngine::WalkCounts &counts() const { return m_counts; }

    // How many lines the last run() wrote (or failed to).
    qsizetype lines() const { return m_lineIndex; }

    // The result, counted from 0 in this body, that could not be encoded,
    // and the message; -1 if none.
    qsizetype badLine() const { return m_badLine; }
    const QString &badLineResult() const { return m_badResult; }
    qsizetype badColumn() const { return m_badColumn; }

private:
    static constexpr qsizetype chunkSize = 1 << 16;

    // Two buffers in turn: a line stays valid while the one after it is read.
    bool takeLine(QStringView &line)
    {
        if (m_pos < 0)
            return false;
        const qsizetype newline = m_body.indexOf(m_separator, m_pos);
        QByteArrayView raw;
        if (newline < 0) {
            raw = m_body.sliced(m_pos);
            m_pos = -1;
        } else {
            raw = m_body.sliced(m_pos, newline - m_pos);
            if (m_separator == '\n' && raw.endsWith('\r'))
                raw.chop(1);
            m_pos = newline + 1;
        }
        QString &buffer = m_buffers[m_current];
        m_current ^= 1;
        m_codec.decode(raw, buffer);
        line = buffer;
        return true;
    }

    void put(const QString &result, bool last, const Writer &write)
    {
        const qsizetype index = m_lineIndex++;
        if (m_failed)
            return;
        const qsizetype bad = m_outCodec.firstUnwritable(result);
        if (bad >= 0) {
            m_badLine = index;
            m_badResult = result;
            m_badColumn = bad;
            m_failed = true;
            return;
        }
        m_outCodec.appendEncoded(m_chunk, result);
        if (!last)
            m_chunk.append(m_lineEnd);
        if (m_chunk.size() >= chunkSize || last) {
            m_failed = !write(m_chunk);
            m_chunk.truncate(0);
        }
    }

    SubEngine m_engine; // its own, for the working space of the correction
    SubEngine::LineOperation m_operation;
    SubEngine::WalkCounts m_counts;
    bool m_sameEncoding;
    LineCodec m_codec;
    LineCodec m_outCodec;
    char m_separator;
    QByteArray m_lineEnd;
    QByteArrayView m_body;
    qsizetype m_pos = 0;
    qsizetype m_lineIndex = 0;
    QString m_buffers[2];
    int m_current = 0;
    QByteArray m_chunk;
    bool m_failed = false;
    qsizetype m_badLine = -1;
    QString m_badResult;
    qsizetype m_badColumn = 0;
};

// A large file is cut at line ends into pieces of about this size, which
// two threads rewrite in turn.
constexpr qsizetype defaultPieceSize = 1 << 19;

struct Piece
{
    QByteArrayView body;
    QString lookAhead; // the first line of the next piece
};

// `asBytes` as the lines are read.
std::vector<Piece> cutIntoPieces(QByteArrayView body, const Layout &layout, qsizetype pieceSize, bool asBytes)
{
    const char separator = layout.separator;
    LineCodec codec(layout.format.encoding, asBytes);
    std::vector<Piece> pieces;
    qsizetype start = 0;
    while (body.size() - start > pieceSize * 3 / 2) {
        const qsizetype cut = body.indexOf(separator, start + pieceSize);
        if (cut < 0)
            break;
        // The piece ends at a line end, and a CR before the LF belongs to it.
        QByteArrayView piece = body.sliced(start, cut - start);
        if (separator == '\n' && piece.endsWith('\r'))
            piece.chop(1);
        pieces.push_back({piece, QString()});
        start = cut + 1;
    }
    pieces.push_back({body.sliced(start), QString()});
    for (size_t i = 0; i + 1 < pieces.size(); ++i) {
        QByteArrayView first = pieces[i + 1].body;
        const qsizetype newline = first.indexOf(separator);
        if (newline >= 0) {
            first = first.first(newline);
            if (separator == '\n' && first.endsWith('\r'))
                first.chop(1);
        }
        codec.decode(first, pieces[i].lookAhead);
    }
    return pieces;
}

// The layout of `bytes` as a rewrite reads it, and the format `choice`
// makes of it to write. UTF-16 and UTF-32 go through UTF-8 (made in
// `utf8`), whose lines can be cut at a byte, and back; one that holds half
// a surrogate pair cannot (`halfPair`), and is to be read whole. False,
// with the reason in `error` (its operation and file left as they are),
// when the file does not read in its encoding.
bool readLayout(QByteArrayView bytes, const QString &encoding, const OutputChoice &choice, QByteArray &utf8,
                Layout &layout, FileFormat &output, FileError &error, bool &halfPair)
{
    halfPair = false;
    layout = layoutOf(bytes, encoding);
    if (layout.notice.because != FileError::NoReason) {
        error.because = layout.notice.because;
        error.about = layout.notice.about;
        error.line = layout.notice.line;
        error.column = layout.notice.column;
        error.byte = layout.notice.byte;
        return false;
    }
    output = choice.applyTo(layout.format);
    if (!LineCodec(layout.format.encoding, true).asciiCompatible()) {
        const WideRead wideRead = wideToUtf8(layout.content, layout.format.encoding, utf8, &error);
        halfPair = wideRead == WideRead::HalfPair;
        if (wideRead != WideRead::Read)
            return halfPair;
        const FileFormat wide = layout.format;
        layout = layoutOf(utf8, QStringLiteral("UTF-8"));
        FileFormat read = layout.format;
        read.encoding = wide.encoding;
        read.bom = wide.bom;
        output = choice.applyTo(read);
    }
    return true;
}

// The lines to rewrite. Reading drops the file's final line end (written
// again at the end), and the walk drops a final empty line after that:
// two line ends at most come off the end.
QByteArrayView bodyOf(const Layout &layout)
{
    QByteArrayView body = layout.content;
    for (int i = 0; i < 2; ++i) {
        if (layout.separator == '\n' && body.endsWith("\r\n"))
            body.chop(2);
        else if (body.endsWith(layout.separator))
            body.chop(1);
        else
            break;
    }
    return body;
}

// The line a rewrite could not encode, in the pieces it was cut into.
struct BadLines
{
    explicit BadLines(size_t pieces) : lines(pieces, -1), results(pieces) {}

    void note(size_t piece, const LineRewriter &rewriter)
    {
        lines[piece] = rewriter.badLine();
        results[piece] = {rewriter.badLineResult(), rewriter.badColumn()};
    }

    // "line N, column C holds ..." in `error`, N counted in the whole file,
    // for the first piece that has such a line; `leftOut`: the rate line,
    // which has a line number but no result, was left out.
    void describe(const std::vector<Piece> &pieces, char separator, qsizetype leftOut, QString &error) const
    {
        qsizetype lineNumber = 1;
        for (size_t i = 0; i < pieces.size(); ++i) {
            if (lines[i] >= 0) {
                error = unwritableMessage(results[i].first, lineNumber + lines[i] + (i == 0 ? leftOut : 0),
                                          results[i].second);
                return;
            }
            lineNumber += pieces[i].body.count(separator) + 1;
        }
    }

    std::vector<qsizetype> lines; // in each piece, from 0; -1: none
    std::vector<std::pair<QString, qsizetype>> results; // the line's result, and the column
};

// Writes `bytes` to `out`; false with the device's reason.
bool writeAll(QIODevice &out, const QByteArray &bytes, QString *error)
{
    if (out.write(bytes) == bytes.size())
        return true;
    if (error)
        *error = out.errorString();
    return false;
}

// The rewrite of a file read whole and saved, as the editor does it: for a
// file that cannot go through UTF-8.
bool rewriteWhole(SubEngine engine, int mode, QByteArrayView bytes, QIODevice &out, QString *error,
                  SubEngine::WalkCounts *counts, const QString &encoding, const OutputChoice &choice)
{
    const SubtitleText file = decodeSubtitleBytes(bytes, encoding);
    QByteArray saved;
    return encodeSubtitleText(engine.linesChange(file.text, mode, counts), choice.applyTo(file.format), saved, error)
            && writeAll(out, saved, error);
}

// The same for SubRip turned into lines.
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

} // namespace

FileFormat OutputChoice::applyTo(FileFormat format) const
{
    if (!encoding.isEmpty()) {
        format.encoding = encoding;
        format.bom = false;
    }
    if (bom)
        format.bom = true;
    if (lineEnds)
        format.lineEnds = *lineEnds;
    return format;
}

bool rewriteSubtitleBytes(const SubEngine &engine, int mode, QByteArrayView bytes, QIODevice &out,
                          QString *error, SubEngine::WalkCounts *counts, qsizetype pieceSize,
                          const QString &encoding, const OutputChoice &choice)
{
    const SubEngine::LineOperation operation = SubEngine::lineOperation(mode);
    Layout layout;
    FileFormat output;
    QByteArray utf8;
    bool halfPair = false;
    if (FileError notRead; !operation || !readLayout(bytes, encoding, choice, utf8, layout, output, notRead, halfPair)) {
        if (error)
            *error = operation ? notRead.reason() : QStringLiteral("undefined operation %1").arg(mode);
        return false;
    }
    if (halfPair)
        return rewriteWhole(engine, mode, bytes, out, error, counts, encoding, choice);

    QString writeError;
    auto writeOut = [&](const QByteArray &chunk) {
        if (out.write(chunk) == chunk.size())
            return true;
        writeError = out.errorString();
        return false;
    };
    if (output.bom && !writeOut(byteOrderMarkOf(output))) {
        if (error)
            *error = writeError;
        return false;
    }
    const QByteArray lineEnd = lineEndOf(output);

    // Pieces 0, 2, 4... are rewritten here and written straight out; pieces
    // 1, 3, 5... by a second thread, whose output waits in a buffer for its
    // turn. Each piece's last line looks ahead at the next piece's first.
    std::vector<Piece> pieces = cutIntoPieces(bodyOf(layout), layout, pieceSize > 0 ? pieceSize : defaultPieceSize,
                                              output.encoding == layout.format.encoding);
    BadLines bad(pieces.size());
    auto runPiece = [&](LineRewriter &rewriter, size_t index, const LineRewriter::Writer &write) {
        const bool ok = rewriter.run(pieces[index].body, pieces[index].lookAhead, write, index == 0);
        bad.note(index, rewriter);
        return ok;
    };

    LineRewriter rewriter(engine, operation, layout, output);
    std::optional<LineRewriter> secondRewriter;
    // Every piece gives a line at least, but the first: a rate line alone
    // there may be left out, and then no line end follows it.
    bool anyLine = false;
    auto lineEndBefore = [&] { return !std::exchange(anyLine, true) || writeOut(lineEnd); };
    bool ok = makeInTurns(
            pieces.size(),
            [&] {
                secondRewriter.emplace(engine, operation, layout, output);
                return [&](size_t i, QByteArray &buffer) {
                    return runPiece(*secondRewriter, i, [&buffer](const QByteArray &chunk) {
                        buffer.append(chunk);
                        return true;
                    });
                };
            },
            [&](size_t i) {
                if (i > 0)
                    return lineEndBefore() && runPiece(rewriter, i, writeOut);
                const bool firstOk = runPiece(rewriter, i, writeOut);
                anyLine = rewriter.lines() > 0;
                return firstOk;
            },
            [&](size_t, const QByteArray &made) { return lineEndBefore() && writeOut(made); });
    if (ok && output.finalLineEnd)
        ok = writeOut(lineEnd);

    SubEngine::WalkCounts walk = rewriter.counts(); // with the first piece, the rate line
    if (secondRewriter)
        walk.addLater(secondRewriter->counts());
    if (counts)
        *counts = walk;
    if (ok)
        return true;
    if (error) {
        *error = writeError;
        // A rate line left out has no result, but a line number.
        bad.describe(pieces, layout.separator, walk.rateLine == SubEngine::RateLine::LeftOut, *error);
    }
    return false;
}

namespace {

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

Utf8Reencoder::Utf8Reencoder(const QString &encoding, QIODevice &out) : m_codec(encoding, false), m_out(out) {}

bool Utf8Reencoder::write(QByteArrayView utf8)
{
    if (!m_error.isEmpty())
        return false;
    m_pending.append(utf8.data(), utf8.size());
    const qsizetype last = m_pending.lastIndexOf('\n');
    if (last < 0)
        return true;
    qsizetype at = 0;
    while (at <= last) {
        const qsizetype end = m_pending.indexOf('\n', at);
        const bool crlf = end > at && m_pending[end - 1] == '\r';
        if (!put(QByteArrayView(m_pending).sliced(at, end - at - crlf), crlf ? u"\r\n" : u"\n"))
            return false;
        at = end + 1;
    }
    m_pending.remove(0, at);
    return m_encoded.size() < (1 << 16) || send();
}

bool Utf8Reencoder::finish()
{
    if (!m_error.isEmpty())
        return false;
    if (!m_pending.isEmpty() && !put(m_pending, u""))
        return false;
    m_pending.clear();
    return send();
}

bool Utf8Reencoder::put(QByteArrayView line, QStringView end)
{
    ++m_lineNumber;
    m_line = QString::fromUtf8(line);
    if (const qsizetype bad = m_codec.firstUnwritable(m_line); bad >= 0) {
        m_error = unwritableMessage(m_line, m_lineNumber, bad);
        return false;
    }
    m_codec.appendEncoded(m_encoded, m_line);
    m_codec.appendEncoded(m_encoded, end);
    return true;
}

bool Utf8Reencoder::send()
{
    if (m_out.write(m_encoded) != m_encoded.size()) {
        m_error = m_out.errorString();
        return false;
    }
    m_encoded.truncate(0);
    return true;
}
