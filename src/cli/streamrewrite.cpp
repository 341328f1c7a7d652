// The batch tool's rewrite: a file's bytes through one operation, a line at
// a time, straight into the new file.
#include "cli/streamrewrite.h"

#include "cli/filelayout.h"
#include "engine/subengine.h"
#include "files/textcodec.h"
#include "formats/twothreads.h"

#include <QIODevice>

#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace {

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

} // namespace

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

    if (output.bom && !writeAll(out, byteOrderMarkOf(output), error))
        return false;
    QString writeError;
    auto writeOut = [&](const QByteArray &chunk) { return writeAll(out, chunk, &writeError); };
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
