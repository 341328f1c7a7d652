// Cues streamed as UTF-8: read once, written a piece at a time, on two
// threads where the text is large.
#include "formats/cueparts.h"
#include "formats/lineformat.h"
#include "formats/twothreads.h"
#include "formats/utf8out.h"

#include <QScopeGuard>
#include <QStringDecoder>

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <cstring>
#include <memory>
#include <vector>

using namespace cues;

namespace {

// Cues are made and written this many at a time (some 400 kB of output).
constexpr size_t cuesPerPiece = 4096;


// Whether CR LF stands anywhere in `bytes`; a byte search finds the rare
// CR much faster than a general one finds the pair.
bool containsCrLf(QByteArrayView bytes)
{
    const char *p = bytes.data();
    const char *const end = p + bytes.size();
    while ((p = static_cast<const char *>(std::memchr(p, '\r', size_t(end - p)))) && p + 1 < end) {
        if (p[1] == '\n')
            return true;
        ++p;
    }
    return false;
}

} // namespace

struct CueStream::Data
{
    // The text read, or the bytes of a one-byte encoding: those are read as
    // Latin-1 a part at a time, and the table maps each on to its own
    // character.
    QStringView text;
    QByteArrayView bytes;
    std::unique_ptr<Utf8Out::Table> table;
    double fps = 25.0;
    CueStyle style = CueStyle::SubRip;
    bool crlf = false;
    // The subtitles, those of a large text's second half kept apart.
    std::vector<Subtitle> subtitles;
    std::vector<Subtitle> later;
    CueReport readReport;
    // Cues made while reading, for a text that may hold what cannot be
    // written: only making them tells whether any of it is written.
    bool made = false;
    QByteArray madeBytes;
    CueReport madeReport;

    // Bytes are read this many at a time, into a buffer used again and again.
    static constexpr qsizetype bytesPerPart = 1 << 18;

    static void widen(QByteArrayView from, QString &to)
    {
        to.resize(from.size());
        char16_t *const units = reinterpret_cast<char16_t *>(to.data());
        const uchar *const source = reinterpret_cast<const uchar *>(from.data());
        for (qsizetype k = 0; k < from.size(); ++k)
            units[k] = source[k];
    }

    qsizetype size() const { return table ? bytes.size() : text.size(); }
    size_t count() const { return subtitles.size() + later.size(); }
    const Subtitle &at(size_t k) const { return k < subtitles.size() ? subtitles[k] : later[k - subtitles.size()]; }
    qsizetype find(QChar separator, qsizetype from) const
    {
        return table ? bytes.indexOf(char(separator.unicode()), from) : text.indexOf(separator, from);
    }

    // Reads the subtitles of [from, to), which ends at a line end or the end.
    void readPart(qsizetype from, qsizetype to, QChar separator, bool crlfLines, std::vector<Subtitle> &into,
                  CueReport &report) const
    {
        t_byteCharacters = table ? table->characters : nullptr;
        into.reserve(into.size() + size_t((to - from) / 40));
        if (!table) {
            readSubtitles(text.sliced(from, to - from), from, separator, crlfLines, fps, into, report);
        } else {
            QString buffer;
            for (qsizetype start = from; start < to;) {
                qsizetype cut = to;
                if (to - start > 2 * bytesPerPart) {
                    const qsizetype end = find(separator, start + bytesPerPart);
                    if (end >= 0 && end < to)
                        cut = end + 1;
                }
                widen(bytes.sliced(start, cut - start), buffer);
                readSubtitles(buffer, start, separator, crlfLines, fps, into, report);
                start = cut;
            }
        }
        t_byteCharacters = nullptr;
    }

    // Reads the subtitles, whose lines end at `separator`.
    void readAll(QChar separator, bool crlfLines)
    {
        // A first line {1}{1}RATE names the file's rate, and is no cue.
        const qsizetype firstEnd = find(separator, 0);
        const qsizetype firstLength = firstEnd < 0 ? size() : firstEnd;
        QString firstBytes;
        if (table)
            widen(bytes.first(firstLength), firstBytes);
        QStringView firstLine = table ? QStringView(firstBytes) : text.first(firstLength);
        if (crlfLines && firstEnd >= 0 && firstLine.endsWith(u'\r'))
            firstLine.chop(1);
        if (frameRateHeader(firstLine) > 0) {
            const qsizetype rest = firstEnd < 0 ? size() : firstEnd + 1;
            text = text.isNull() ? text : text.sliced(rest);
            bytes = bytes.isNull() ? bytes : bytes.sliced(rest);
        }
        // A large text is read in two halves, split at a line end, one of
        // them on a thread of its own.
        const qsizetype split = size() < 4 * 1024 * 1024 ? -1 : find(separator, size() / 2);
        if (split < 0) {
            readPart(0, size(), separator, crlfLines, subtitles, readReport);
            return;
        }
        CueReport secondReport;
        runHalves(2, [&](int half) {
            if (half == 0)
                readPart(0, split + 1, separator, crlfLines, subtitles, readReport);
            else
                readPart(split + 1, size(), separator, crlfLines, later, secondReport);
        });
        add(readReport, secondReport);
    }

    // Appends the cues of piece `index` to `out`; false when they hold
    // what UTF-8 (or the table) cannot store. `buffer` holds the bytes read.
    bool makePiece(size_t index, QByteArray &out, QString &buffer, const CueDisplay &defaults,
                   CueReport &report) const
    {
        const size_t from = index * cuesPerPiece;
        const size_t to = std::min(count(), from + cuesPerPiece);
        QStringView source = text;
        qsizetype base = 0;
        if (table && to > from) {
            base = at(from).textAt;
            widen(bytes.sliced(base, at(to - 1).textAt + at(to - 1).textLength - base), buffer);
            source = buffer;
        }
        Utf8Out cues(out, qsizetype(to - from) * 128 + 64, table.get(), crlf);
        if (index == 0 && style == CueStyle::WebVtt)
            cues += QLatin1String("WEBVTT\n");
        for (size_t k = from; k < to; ++k) {
            const Subtitle &s = at(k);
            appendCue(cues, qint64(k) + 1, s, source.sliced(s.textAt - base, s.textLength),
                      k + 1 < count() ? at(k + 1).show : -1, style, defaults, report);
        }
        return cues.ok();
    }

    // Makes all the cues at once (see `made`); false as makePiece().
    bool makeAll()
    {
        t_byteCharacters = table ? table->characters : nullptr;
        const CueDisplay defaults;
        QString buffer;
        bool ok = true;
        for (size_t i = 0; ok && (i == 0 || i * cuesPerPiece < count()); ++i)
            ok = makePiece(i, madeBytes, buffer, defaults, madeReport);
        t_byteCharacters = nullptr;
        made = true;
        return ok;
    }
};

CueStream::CueStream() : d(std::make_unique<Data>())
{
}

CueStream::~CueStream() = default;

bool CueStream::read(QStringView text, double fps, CueStyle style, bool crlf)
{
    d = std::make_unique<Data>();
    d->fps = fps;
    d->style = style;
    d->crlf = crlf;
    d->text = text;
    d->readAll(u'\n', false);
    // Half a surrogate pair cannot be written in UTF-8 (but for a byte that
    // was not UTF-8, carried through): a text with one somewhere is made
    // whole first, to tell whether any is written.
    const char16_t *const units = text.utf16();
    for (qsizetype k = 0; k < text.size(); ++k) {
#if defined(__SSE2__)
        // Eight units at a time while none is a surrogate.
        const __m128i mask = _mm_set1_epi16(short(0xF800));
        const __m128i surrogate = _mm_set1_epi16(short(0xD800));
        while (text.size() - k >= 8) {
            const __m128i eight = _mm_loadu_si128(reinterpret_cast<const __m128i *>(units + k));
            if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(eight, mask), surrogate)))
                break;
            k += 8;
        }
        if (k == text.size())
            break;
#endif
        const char16_t u = units[k];
        if (!QChar::isSurrogate(u) || (u >= 0xDC80 && u <= 0xDCFF))
            continue;
        if (!QChar::isHighSurrogate(u) || k + 1 == text.size() || !QChar::isLowSurrogate(units[k + 1]))
            return d->makeAll();
        ++k;
    }
    return true;
}

bool CueStream::read(QByteArrayView content, const QString &encoding, double fps, CueStyle style, bool crlf)
{
    // Each byte's character; only where every byte is one character of its
    // own, ASCII stays ASCII and nothing combines with the character before.
    auto table = std::make_unique<Utf8Out::Table>();
    const bool latin1 = encoding == u"bytes" || encoding == u"ISO-8859-1";
    QStringDecoder decoder(latin1 ? "ISO-8859-1" : qPrintable(encoding), QStringDecoder::Flag::Stateless);
    if (!decoder.isValid())
        return false;
    int unknown = 0;
    for (int b = 0; b < 256; ++b) {
        const char byte = char(b);
        const QString character = decoder.decode(QByteArrayView(&byte, 1));
        if (character.size() != 1 || (b < 0x80 && character[0] != QChar(b)) || character[0].isSurrogate()
            || character[0].isMark())
            return false;
        table->characters[b] = character[0].unicode();
        const QByteArray utf8 = character.toUtf8();
        const bool known = character[0] != QChar::ReplacementCharacter;
        // A few holes are a code page's; a byte in two of three is UTF-8's.
        if (!known && ++unknown > 32)
            return false;
        table->length[b] = known ? quint8(utf8.size()) : 0;
        std::copy(utf8.begin(), utf8.end(), table->bytes[b]);
    }
    // Bytes the encoding does not have: the cues are made whole first, to
    // tell whether any is written.
    bool holes = false;
    if (unknown > 0) {
        for (qsizetype k = 0; !holes && k < content.size(); ++k)
            holes = table->length[quint8(content[k])] == 0;
    }
    d = std::make_unique<Data>();
    d->fps = fps;
    d->style = style;
    d->crlf = crlf;
    d->table = std::move(table);
    // Lines end at LF, or at CR in a file that has no LF; a CR before an LF
    // is part of the line end once any line ends so.
    const bool anyLf = content.contains('\n');
    const QChar separator = !anyLf && content.contains('\r') ? u'\r' : u'\n';
    const bool crlfLines = anyLf && containsCrLf(content);
    d->bytes = content;
    d->readAll(separator, crlfLines);
    return holes ? d->makeAll() : true;
}

bool CueStream::write(const Write &write, CueReport &report) const
{
    const Data &data = *d;
    if (data.made) {
        if (!write(data.madeBytes))
            return false;
        report = data.readReport;
        add(report, data.madeReport);
        report.cues = qsizetype(data.count());
        return true;
    }
    const size_t count = (data.count() + cuesPerPiece - 1) / cuesPerPiece;
    const size_t pieces = std::max<size_t>(count, 1);
    const char16_t *const characters = data.table ? data.table->characters : nullptr;
    CueReport reports[2];
    // Pieces 0, 2, 4... are made here and written straight out; pieces 1,
    // 3, 5... by a second thread, whose bytes wait in a buffer for their turn.
    const auto unset = qScopeGuard([] { t_byteCharacters = nullptr; });
    t_byteCharacters = characters;
    const CueDisplay defaults;
    QString read;
    QByteArray bytes;
    const bool ok = makeInTurns(
            pieces,
            [&] {
                // The thread's own: gone with it.
                t_byteCharacters = characters;
                return [&, secondRead = QString()](size_t i, QByteArray &buffer) mutable {
                    return data.makePiece(i, buffer, secondRead, defaults, reports[1]);
                };
            },
            [&](size_t i) {
                bytes.truncate(0);
                return data.makePiece(i, bytes, read, defaults, reports[0]) && write(bytes);
            },
            [&](size_t, const QByteArray &made) { return write(made); });
    if (!ok)
        return false;
    report = data.readReport;
    add(report, reports[0]);
    add(report, reports[1]);
    report.cues = qsizetype(data.count());
    return true;
}

qsizetype CueStream::cues() const
{
    return qsizetype(d->count());
}

namespace {

QByteArrayList writeToBytes(const CueStream &stream, CueReport &report)
{
    QByteArray bytes;
    const bool ok = stream.write([&](QByteArrayView piece) {
        bytes += piece;
        return true;
    }, report);
    return ok ? QByteArrayList{bytes} : QByteArrayList();
}

} // namespace

QByteArrayList exportCuesAsUtf8(QStringView text, double fps, CueStyle style, bool crlf, CueReport &report)
{
    report = CueReport();
    CueStream stream;
    return stream.read(text, fps, style, crlf) ? writeToBytes(stream, report) : QByteArrayList();
}

QByteArrayList exportCuesAsUtf8(QByteArrayView content, const QString &encoding, double fps, CueStyle style,
                                bool crlf, CueReport &report)
{
    report = CueReport();
    CueStream stream;
    return stream.read(content, encoding, fps, style, crlf) ? writeToBytes(stream, report) : QByteArrayList();
}
