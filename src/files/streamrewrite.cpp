// The batch tool's rewrite: a file's bytes through one operation, a line at
// a time, straight into the new file.
#include "files/streamrewrite.h"

#include "editor/subengine.h"
#include "editor/piecehandover.h"
#include "files/textcodec.h"

#include <QIODevice>
#include <QScopeGuard>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
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
    QByteArrayView lineEnd;
    QString notice;
};

Layout layoutOf(QByteArrayView bytes, const QString &encoding)
{
    Layout layout;
    qsizetype start = 0;
    layout.format = detectFormat(bytes, encoding, &start, &layout.notice);
    // A forced encoding that does not fit is an error; a detected one that
    // does not leaves the file as bytes, as the editor reads it.
    if (encoding.isEmpty() || canonicalEncoding(encoding) == layout.format.encoding)
        layout.notice.clear();
    layout.content = bytes.sliced(start);
    layout.separator = layout.format.lineEnds == LineEnds::CR ? '\r' : '\n';
    layout.lineEnd = lineEndBytes(layout.format.writtenLineEnds());
    return layout;
}

// Files whose lines cannot be cut at a byte (UTF-16, UTF-32) go through
// the walk whole.
bool rewriteWhole(SubEngine &engine, int mode, QByteArrayView bytes, QIODevice &out, QString *error,
                  const QString &encoding)
{
    const SubtitleText file = decodeSubtitleBytes(bytes, encoding);
    QByteArray result;
    if (!encodeSubtitleText(engine.linesChange(file.text, mode), file.format, result, error))
        return false;
    if (out.write(result) == result.size())
        return true;
    if (error)
        *error = out.errorString();
    return false;
}

// Rewrites whole lines `body` (split at LF, a CR before the LF dropped, or
// at CR in a file with no LF) with `after` as the look-ahead of the last
// one, encoding the results and handing them to `write` a chunk at a time.
class LineRewriter
{
public:
    using Writer = std::function<bool(const QByteArray &chunk)>;

    LineRewriter(SubEngine &engine, SubEngine::LineOperation operation, const Layout &layout)
        : m_engine(engine), m_operation(operation), m_codec(layout.format.encoding, true),
          m_separator(layout.separator), m_lineEnd(layout.lineEnd)
    {
    }

    // False when a result cannot be encoded (see badLine()) or `write` fails.
    bool run(QByteArrayView body, QStringView after, const Writer &write)
    {
        m_body = body;
        m_pos = 0;
        m_lineIndex = 0;
        m_badLine = -1;
        m_failed = false;
        m_chunk.truncate(0);
        m_engine.walkLines(
                m_operation, [this](QStringView &line) { return takeLine(line); },
                [this, &write](const QString &result, bool last) { put(result, last, write); },
                after);
        return !m_failed;
    }

    // The line, counted from 0 in this body, whose result could not be
    // encoded, and the message; -1 if none.
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
        const qsizetype bad = m_codec.firstUnwritable(result);
        if (bad >= 0) {
            m_badLine = index;
            m_badResult = result;
            m_badColumn = bad;
            m_failed = true;
            return;
        }
        m_codec.appendEncoded(m_chunk, result);
        if (!last)
            m_chunk.append(m_lineEnd);
        if (m_chunk.size() >= chunkSize || last) {
            m_failed = !write(m_chunk);
            m_chunk.truncate(0);
        }
    }

    SubEngine &m_engine;
    SubEngine::LineOperation m_operation;
    LineCodec m_codec;
    char m_separator;
    QByteArrayView m_lineEnd;
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

std::vector<Piece> cutIntoPieces(QByteArrayView body, const Layout &layout, qsizetype pieceSize)
{
    const char separator = layout.separator;
    LineCodec codec(layout.format.encoding, true);
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


} // namespace

bool rewriteSubtitleBytes(SubEngine &engine, int mode, QByteArrayView bytes, QIODevice &out,
                          QString *error, qsizetype pieceSize, const QString &encoding)
{
    const SubEngine::LineOperation operation = SubEngine::lineOperation(mode);
    if (!operation) {
        if (error)
            *error = QStringLiteral("undefined operation %1").arg(mode);
        return false;
    }
    const Layout layout = layoutOf(bytes, encoding);
    if (!layout.notice.isEmpty()) {
        if (error)
            *error = layout.notice;
        return false;
    }
    if (!LineCodec(layout.format.encoding, true).asciiCompatible())
        return rewriteWhole(engine, mode, bytes, out, error, layout.format.encoding);

    // Reading drops the file's final line end (written again at the end),
    // and the walk drops a final empty line after that: two line ends at
    // most come off the end.
    QByteArrayView body = layout.content;
    for (int i = 0; i < 2; ++i) {
        if (layout.separator == '\n' && body.endsWith("\r\n"))
            body.chop(2);
        else if (body.endsWith(layout.separator))
            body.chop(1);
        else
            break;
    }

    QString writeError;
    auto writeOut = [&](const QByteArray &chunk) {
        if (out.write(chunk) == chunk.size())
            return true;
        writeError = out.errorString();
        return false;
    };
    if (layout.format.bom && !writeOut(QByteArray("\xEF\xBB\xBF"))) {
        if (error)
            *error = writeError;
        return false;
    }

    // Pieces 0, 2, 4... are rewritten here and written straight out; pieces
    // 1, 3, 5... by a second thread, whose output waits in a buffer for its
    // turn. Each piece's last line looks ahead at the next piece's first.
    std::vector<Piece> pieces = cutIntoPieces(body, layout, pieceSize > 0 ? pieceSize : defaultPieceSize);
    std::vector<int> timeStyles(pieces.size(), 0); // the clock style each piece wrote last
    std::vector<qsizetype> badLines(pieces.size(), -1);
    std::vector<std::pair<QString, qsizetype>> badResults(pieces.size());
    engine.lastWalk = SubEngine::WalkCounts();
    auto runPiece = [&](LineRewriter &rewriter, SubEngine &pieceEngine, size_t index,
                        const LineRewriter::Writer &write) {
        pieceEngine.timeStyle = 0; // written before it is read, so free to mark with
        const bool ok = rewriter.run(pieces[index].body, pieces[index].lookAhead, write);
        timeStyles[index] = pieceEngine.timeStyle;
        badLines[index] = rewriter.badLine();
        badResults[index] = {rewriter.badLineResult(), rewriter.badColumn()};
        return ok;
    };

    const int initialStyle = engine.timeStyle;
    PieceHandover handover;
    SubEngine secondEngine = engine;
    HelperThread second;
    // Without a second thread this one rewrites every piece.
    const bool shared = pieces.size() > 1 && second.start([&] {
        LineRewriter rewriter(secondEngine, operation, layout);
        for (size_t i = 1; i < pieces.size(); i += 2) {
            QByteArray *buffer = handover.take(i);
            if (!buffer)
                return;
            bool ok = false;
            const auto told = qScopeGuard([&] { handover.ready(i, ok); });
            ok = runPiece(rewriter, secondEngine, i, [buffer](const QByteArray &chunk) {
                buffer->append(chunk);
                return true;
            });
        }
    });
    // Whatever ends this one (a failure, too little memory), the second
    // stops before what it works on goes.
    const auto stopped = qScopeGuard([&] {
        handover.cancel();
        second.wait();
    });

    bool ok = true;
    LineRewriter rewriter(engine, operation, layout);
    for (size_t i = 0; ok && i < pieces.size(); ++i) {
        if (i % 2 == 0 || !shared) {
            ok = (i == 0 || writeOut(layout.lineEnd.toByteArray()))
                    && runPiece(rewriter, engine, i, writeOut);
        } else {
            const QByteArray *bytesOut = handover.wait(i);
            ok = bytesOut && writeOut(layout.lineEnd.toByteArray()) && writeOut(*bytesOut);
            handover.release(i);
        }
    }
    if (ok && layout.format.finalLineEnd)
        ok = writeOut(layout.lineEnd.toByteArray());
    handover.cancel();
    second.join();

    engine.lastWalk.notSubtitles += secondEngine.lastWalk.notSubtitles;
    engine.lastWalk.unwritten += secondEngine.lastWalk.unwritten;
    engine.timeStyle = initialStyle;
    for (int style : timeStyles) {
        if (style != 0)
            engine.timeStyle = style;
    }
    if (ok)
        return true;
    if (error) {
        *error = writeError;
        qsizetype lineNumber = 1;
        for (size_t i = 0; i < pieces.size(); ++i) {
            if (badLines[i] >= 0) {
                *error = unwritableMessage(badResults[i].first, lineNumber + badLines[i],
                                           badResults[i].second);
                break;
            }
            lineNumber += pieces[i].body.count(layout.separator) + 1;
        }
    }
    return false;
}
