// Subtitle file bytes to text and back, whole or a line at a time.
#include "editor/subengine.h"
#include "files/subtitlefile.h"

#include <QIODevice>
#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <cstring>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace {

const char utf8Bom[] = "\xEF\xBB\xBF";

// Strict UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF,
// no sequence cut off at the end), with a fast path over ASCII.
bool isValidUtf8(QByteArrayView bytes)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const auto *const end = p + bytes.size();
    while (p < end) {
        if (end - p >= 8) {
            quint64 word;
            std::memcpy(&word, p, 8);
            if ((word & 0x8080808080808080ull) == 0) {
                p += 8;
                continue;
            }
        }
        const unsigned c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int length;
        unsigned low = 0x80, high = 0xBF; // range of the second byte
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            if (c == 0xE0)
                low = 0xA0;
            else if (c == 0xED)
                high = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            if (c == 0xF0)
                low = 0x90;
            else if (c == 0xF4)
                high = 0x8F;
        } else {
            return false;
        }
        if (end - p < length || p[1] < low || p[1] > high)
            return false;
        for (int i = 2; i < length; ++i) {
            if ((p[i] & 0xC0) != 0x80)
                return false;
        }
        p += length;
    }
    return true;
}

// How a file's bytes are to be read: the encoding, and the bytes that hold
// the text (without the byte-order mark).
struct Layout
{
    FileEncoding encoding = FileEncoding::Utf8;
    bool bom = false;
    QByteArrayView content;
};

Layout layoutOf(QByteArrayView bytes)
{
    Layout layout;
    layout.bom = bytes.startsWith(utf8Bom);
    layout.content = layout.bom ? bytes.sliced(3) : bytes;
    if (!isValidUtf8(layout.content)) {
        layout.encoding = FileEncoding::EightBit;
        layout.bom = false;
        layout.content = bytes;
    }
    return layout;
}

// Decodes into `out`, replacing its contents. A byte-order mark inside the
// text is a character like any other.
void decodeInto(QString &out, QByteArrayView bytes, FileEncoding encoding)
{
    out.resize(bytes.size());
    QChar *data = out.data();
    if (encoding == FileEncoding::EightBit) {
        for (qsizetype i = 0; i < bytes.size(); ++i)
            data[i] = QChar(uchar(bytes[i]));
        return;
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless
                                   | QStringDecoder::Flag::ConvertInitialBom);
    out.truncate(decoder.appendToBuffer(data, bytes) - data);
}

QString unwritableMessage(QStringView line, qsizetype lineNumber, qsizetype at)
{
    char32_t code = line[at].unicode();
    QStringView shown = line.sliced(at, 1);
    if (line[at].isHighSurrogate() && at + 1 < line.size() && line[at + 1].isLowSurrogate()) {
        code = QChar::surrogateToUcs4(line[at], line[at + 1]);
        shown = line.sliced(at, 2);
    }
    const QString hex = QString::number(uint(code), 16).toUpper().rightJustified(4, u'0');
    return QStringLiteral("line %1, column %2 holds \"%3\" (U+%4), which this file's "
                          "encoding cannot store")
            .arg(QString::number(lineNumber), QString::number(at + 1), shown.toString(), hex);
}

// Index of the first character `encoding` cannot store, or -1.
qsizetype firstUnwritable(QStringView text, FileEncoding encoding)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (encoding == FileEncoding::EightBit) {
            if (c.unicode() > 0xFF)
                return i;
        } else if (c.isSurrogate()) {
            // The encoder would write a lone surrogate as a replacement character.
            if (!c.isHighSurrogate() || i + 1 >= text.size() || !text[i + 1].isLowSurrogate())
                return i;
            ++i;
        }
    }
    return -1;
}

// Appends the encoded text; the caller has checked that it can be stored.
void appendEncoded(QByteArray &out, QStringView text, FileEncoding encoding)
{
    const qsizetype start = out.size();
    if (encoding == FileEncoding::EightBit) {
        out.resize(start + text.size());
        char *data = out.data() + start;
        for (qsizetype i = 0; i < text.size(); ++i)
            data[i] = char(text[i].unicode());
        return;
    }
    out.resize(start + text.size() * 3);
    QStringEncoder encoder(QStringEncoder::Utf8, QStringEncoder::Flag::Stateless);
    char *end = encoder.appendToBuffer(out.data() + start, text);
    out.truncate(end - out.constData());
}

} // namespace

SubtitleText decodeSubtitleBytes(QByteArrayView bytes)
{
    const Layout layout = layoutOf(bytes);
    SubtitleText result;
    result.encoding = layout.encoding;
    result.bom = layout.bom;
    decodeInto(result.text, layout.content, layout.encoding);
    if (result.text.contains(u'\r'))
        result.text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (result.text.endsWith(u'\n'))
        result.text.chop(1);
    return result;
}

bool encodeSubtitleText(QStringView text, FileEncoding encoding, bool bom, QByteArray &bytes,
                        QString *error)
{
    const qsizetype bad = firstUnwritable(text, encoding);
    if (bad >= 0) {
        if (error) {
            const qsizetype lineStart = text.first(bad).lastIndexOf(u'\n') + 1;
            const qsizetype lineEnd = text.indexOf(u'\n', bad);
            const QStringView line = text.sliced(lineStart, (lineEnd < 0 ? text.size() : lineEnd)
                                                                    - lineStart);
            *error = unwritableMessage(line, text.first(lineStart).count(u'\n') + 1,
                                       bad - lineStart);
        }
        return false;
    }
    QByteArray out;
    out.reserve(text.size() + 3);
    if (encoding == FileEncoding::Utf8 && bom)
        out.append(utf8Bom);
    appendEncoded(out, text, encoding);
    bytes = std::move(out);
    return true;
}

namespace {

// Rewrites whole lines `body` (split at LF, a CR before the LF dropped) with
// `after` as the look-ahead of the last one, encoding the results and
// handing them to `write` a chunk at a time.
class LineRewriter
{
public:
    using Writer = std::function<bool(const QByteArray &chunk)>;

    LineRewriter(SubEngine &engine, SubEngine::LineOperation operation, FileEncoding encoding)
        : m_engine(engine), m_operation(operation), m_encoding(encoding)
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
        const qsizetype newline = m_body.indexOf('\n', m_pos);
        QByteArrayView raw;
        if (newline < 0) {
            raw = m_body.sliced(m_pos);
            m_pos = -1;
        } else {
            raw = m_body.sliced(m_pos, newline - m_pos);
            if (raw.endsWith('\r'))
                raw.chop(1);
            m_pos = newline + 1;
        }
        QString &buffer = m_buffers[m_current];
        m_current ^= 1;
        decodeInto(buffer, raw, m_encoding);
        line = buffer;
        return true;
    }

    void put(const QString &result, bool last, const Writer &write)
    {
        const qsizetype index = m_lineIndex++;
        if (m_failed)
            return;
        const qsizetype bad = firstUnwritable(result, m_encoding);
        if (bad >= 0) {
            m_badLine = index;
            m_badResult = result;
            m_badColumn = bad;
            m_failed = true;
            return;
        }
        appendEncoded(m_chunk, result, m_encoding);
        if (!last)
            m_chunk.append('\n');
        if (m_chunk.size() >= chunkSize || last) {
            m_failed = !write(m_chunk);
            m_chunk.truncate(0);
        }
    }

    SubEngine &m_engine;
    SubEngine::LineOperation m_operation;
    FileEncoding m_encoding;
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

std::vector<Piece> cutIntoPieces(QByteArrayView body, FileEncoding encoding, qsizetype pieceSize)
{
    std::vector<Piece> pieces;
    qsizetype start = 0;
    while (body.size() - start > pieceSize * 3 / 2) {
        const qsizetype cut = body.indexOf('\n', start + pieceSize);
        if (cut < 0)
            break;
        // The piece ends at a line end, and a CR before the LF belongs to it.
        QByteArrayView piece = body.sliced(start, cut - start);
        if (piece.endsWith('\r'))
            piece.chop(1);
        pieces.push_back({piece, QString()});
        start = cut + 1;
    }
    pieces.push_back({body.sliced(start), QString()});
    for (size_t i = 0; i + 1 < pieces.size(); ++i) {
        QByteArrayView first = pieces[i + 1].body;
        const qsizetype newline = first.indexOf('\n');
        if (newline >= 0) {
            first = first.first(newline);
            if (first.endsWith('\r'))
                first.chop(1);
        }
        decodeInto(pieces[i].lookAhead, first, encoding);
    }
    return pieces;
}

// Hands the odd pieces' output from the second thread to the first, in
// order, through two buffers that are used again and again: the second
// thread may be one piece ahead.
class Handover
{
public:
    // Second thread: a free buffer for piece `index`; null once cancelled.
    QByteArray *take(size_t index)
    {
        const size_t slot = slotOf(index);
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [&] { return m_cancelled || m_state[slot] == Free; });
        if (m_cancelled)
            return nullptr;
        m_buffers[slot].truncate(0); // keeps its memory for the next piece
        return &m_buffers[slot];
    }
    void ready(size_t index, bool ok)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_state[slotOf(index)] = ok ? Ready : Failed;
        m_changed.notify_all();
    }
    // First thread: piece `index`'s bytes once ready; null if it failed.
    const QByteArray *wait(size_t index)
    {
        const size_t slot = slotOf(index);
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [&] { return m_state[slot] != Free; });
        return m_state[slot] == Ready ? &m_buffers[slot] : nullptr;
    }
    void release(size_t index)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_state[slotOf(index)] = Free;
        m_changed.notify_all();
    }
    void cancel()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_cancelled = true;
        m_changed.notify_all();
    }

private:
    // Pieces 1, 3, 5, 7... take slots 0, 1, 0, 1...
    static size_t slotOf(size_t index) { return (index / 2) % 2; }

    enum State { Free, Ready, Failed };
    std::mutex m_mutex;
    std::condition_variable m_changed;
    QByteArray m_buffers[2];
    State m_state[2] = {Free, Free};
    bool m_cancelled = false;
};

} // namespace

bool rewriteSubtitleBytes(SubEngine &engine, int mode, QByteArrayView bytes, QIODevice &out,
                          QString *error, qsizetype pieceSize)
{
    const Layout layout = layoutOf(bytes);
    const SubEngine::LineOperation operation = SubEngine::lineOperation(mode);
    if (!operation) {
        if (error)
            *error = QStringLiteral("undefined operation %1").arg(mode);
        return false;
    }

    // Reading drops the file's final line end, and the walk drops a final
    // empty line after that: two line ends at most come off the end.
    QByteArrayView body = layout.content;
    for (int i = 0; i < 2; ++i) {
        if (body.endsWith("\r\n"))
            body.chop(2);
        else if (body.endsWith('\n'))
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
    if (layout.bom && !writeOut(QByteArray(utf8Bom))) {
        if (error)
            *error = writeError;
        return false;
    }

    // Pieces 0, 2, 4... are rewritten here and written straight out; pieces
    // 1, 3, 5... by a second thread, whose output waits in a buffer for its
    // turn. Each piece's last line looks ahead at the next piece's first.
    std::vector<Piece> pieces = cutIntoPieces(body, layout.encoding,
                                              pieceSize > 0 ? pieceSize : defaultPieceSize);
    std::vector<int> timeStyles(pieces.size(), 0); // the clock style each piece wrote last
    std::vector<qsizetype> badLines(pieces.size(), -1);
    std::vector<std::pair<QString, qsizetype>> badResults(pieces.size());
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
    Handover handover;
    SubEngine secondEngine = engine;
    std::thread second;
    if (pieces.size() > 1) {
        second = std::thread([&] {
            LineRewriter rewriter(secondEngine, operation, layout.encoding);
            for (size_t i = 1; i < pieces.size(); i += 2) {
                QByteArray *buffer = handover.take(i);
                if (!buffer)
                    return;
                const bool ok = runPiece(rewriter, secondEngine, i, [buffer](const QByteArray &chunk) {
                    buffer->append(chunk);
                    return true;
                });
                handover.ready(i, ok);
            }
        });
    }

    bool ok = true;
    LineRewriter rewriter(engine, operation, layout.encoding);
    for (size_t i = 0; ok && i < pieces.size(); ++i) {
        if (i % 2 == 0) {
            const QByteArray separator(i > 0 ? "\n" : "");
            ok = (separator.isEmpty() || writeOut(separator))
                    && runPiece(rewriter, engine, i, writeOut);
        } else {
            const QByteArray *bytesOut = handover.wait(i);
            ok = bytesOut && writeOut("\n") && writeOut(*bytesOut);
            handover.release(i);
        }
    }
    handover.cancel();
    if (second.joinable())
        second.join();

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
            lineNumber += pieces[i].body.count('\n') + 1;
        }
    }
    return false;
}
