#include "formats/subrip.h"

#include "formats/lineformat.h"
#include "formats/piecehandover.h"

#include <QList>
#include <QScopeGuard>
#include <QStringDecoder>
#include <QVarLengthArray>
#include <QtAlgorithms>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// ---- Codes inside a line's text part ------------------------------------

enum class Scope { Row, Cue };

// A style that becomes a tag: 'i', 'b', 'u', or 'c' for a colour.
struct Style
{
    char kind;
    QStringView colour; // BBGGRR as the code writes it, for 'c'
};
using Styles = QVarLengthArray<Style, 8>;

bool isHex(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

bool isAsciiLetter(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

// The index of `c` in `text` from `from` on, or -1: on the short rows and
// lines here, faster than a call into the library for each.
qsizetype findUnit(QStringView text, qsizetype from, char16_t c)
{
    const char16_t *const begin = text.utf16();
    const char16_t *p = begin + from;
    const char16_t *const end = begin + text.size();
#if defined(__SSE2__)
    const __m128i wanted = _mm_set1_epi16(short(c));
    for (; end - p >= 8; p += 8) {
        const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        if (const int mask = _mm_movemask_epi8(_mm_cmpeq_epi16(units, wanted)))
            return p - begin + qCountTrailingZeroBits(uint(mask)) / 2;
    }
#endif
    for (; p < end; ++p) {
        if (*p == c)
            return p - begin;
    }
    return -1;
}

// Calls `take` on each piece of `text` between `separator`s, empty ones
// included; faster than a tokenizer on the short rows and lines here.
template <typename Take>
void forEachPiece(QStringView text, QChar separator, Take &&take)
{
    qsizetype from = 0;
    for (;;) {
        const qsizetype end = findUnit(text, from, separator.unicode());
        if (end < 0) {
            take(text.sliced(from));
            return;
        }
        take(text.sliced(from, end - from));
        from = end + 1;
    }
}

// Length of the brace code at the start of `s` ({x:...}), or 0 for braces
// that are text.
qsizetype braceCodeLength(QStringView s)
{
    if (s.size() < 4 || s[0] != u'{' || !isAsciiLetter(s[1]) || s[2] != u':')
        return 0;
    const qsizetype close = findUnit(s, 3, u'}');
    return close < 0 ? 0 : close + 1;
}

// The styles of a {y:..}/{Y:..} or {c:$..}/{C:$..} code, false for any other
// code (which is then dropped).
bool codeStyles(QStringView code, Scope &scope, Styles &styles)
{
    const QChar kind = code[1];
    const QStringView value = code.sliced(3, code.size() - 4);
    scope = kind.isUpper() ? Scope::Cue : Scope::Row;
    if (kind == u'y' || kind == u'Y') {
        const qsizetype before = styles.size();
        for (QChar c : value) {
            if (c == u'i' || c == u'b' || c == u'u') {
                styles.append(Style{char(c.unicode()), QStringView()});
            } else if (c != u',') {
                styles.resize(before);
                return false;
            }
        }
        return styles.size() > before;
    }
    if (kind == u'c' || kind == u'C') {
        if (value.size() != 7 || value[0] != u'$')
            return false;
        for (QChar c : value.sliced(1)) {
            if (!isHex(c))
                return false;
        }
        styles.append(Style{'c', value.sliced(1)});
        return true;
    }
    return false;
}

template <typename Out>
void appendEscaped(Out &out, QStringView text, CueStyle style)
{
    if (style == CueStyle::SubRip) {
        out += text;
        return;
    }
    qsizetype from = 0;
    for (qsizetype k = 0; k < text.size(); ++k) {
        const QChar c = text[k];
        const char *entity = c == u'&' ? "&amp;" : c == u'<' ? "&lt;" : c == u'>' ? "&gt;" : nullptr;
        if (!entity)
            continue;
        out += text.sliced(from, k - from);
        out += QLatin1String(entity);
        from = k + 1;
    }
    out += text.sliced(from);
}

template <typename Out>
void openTags(Out &out, const Styles &styles)
{
    for (const Style &s : styles) {
        if (s.kind == 'c') {
            // $BBGGRR -> #RRGGBB
            out += QLatin1String("<font color=\"#");
            out += s.colour.sliced(4, 2);
            out += s.colour.sliced(2, 2);
            out += s.colour.sliced(0, 2);
            out += QLatin1String("\">");
        } else {
            const char16_t tag[] = {u'<', char16_t(s.kind), u'>'};
            out += QStringView(tag, 3);
        }
    }
}

template <typename Out>
void closeTags(Out &out, const Styles &styles)
{
    for (qsizetype k = styles.size() - 1; k >= 0; --k) {
        if (styles[k].kind == 'c') {
            out += QLatin1String("</font>");
        } else {
            const char16_t tag[] = {u'<', u'/', char16_t(styles[k].kind), u'>'};
            out += QStringView(tag, 4);
        }
    }
}

// The characters of a one-byte encoding read as Latin-1 are those bytes:
// while a thread writes cues from such text, this holds each byte's own
// character, for what only the real one can tell (is it a space?).
thread_local const char16_t *t_byteCharacters = nullptr;

bool isBlank(QStringView text)
{
    for (QChar c : text) {
        if (!(t_byteCharacters && c.unicode() < 256 ? QChar(t_byteCharacters[c.unicode()]) : c).isSpace())
            return false;
    }
    return true;
}

// One row of a line's text part: its codes taken out (and, with `write`,
// its text appended to `out`). Codes of the whole subtitle go to `cue`,
// when given; WebVTT has no colour of its own without a style sheet, so
// there a colour counts as dropped. Returns whether the row shows anything.
template <typename Out>
bool readRow(QStringView row, bool bracketTime, CueStyle style, Styles &rowStyles, Styles *cue,
             qsizetype *dropped, Out *out)
{
    if (bracketTime && row.startsWith(u'/')) {
        rowStyles.append(Style{'i', QStringView()});
        row = row.sliced(1);
    }
    bool visible = false;
    qsizetype plainFrom = 0;
    auto plain = [&](QStringView text) {
        if (out)
            appendEscaped(*out, text, style);
        else if (!visible)
            visible = !isBlank(text);
    };
    for (qsizetype at = findUnit(row, 0, u'{'); at >= 0; at = findUnit(row, at, u'{')) {
        const qsizetype length = braceCodeLength(row.sliced(at));
        if (length == 0) {
            ++at;
            continue;
        }
        plain(row.sliced(plainFrom, at - plainFrom));
        Scope scope;
        Styles styles;
        if (codeStyles(row.sliced(at, length), scope, styles)
            && !(style == CueStyle::WebVtt && styles.back().kind == 'c')) {
            if (scope == Scope::Row)
                rowStyles.append(styles.constData(), styles.size());
            else if (cue)
                cue->append(styles.constData(), styles.size());
        } else if (dropped) {
            ++*dropped;
        }
        at += length;
        plainFrom = at;
    }
    plain(row.sliced(plainFrom));
    return visible;
}

// The cue text of a line's text part: rows on lines of their own, codes as
// tags. Rows that show nothing are left out: an empty line ends a cue.
template <typename Out>
void appendCueText(Out &out, QStringView text, bool bracketTime, CueStyle style,
                   CueReport &report)
{
    const bool codes = findUnit(text, 0, u'{') >= 0;
    // Codes for the whole subtitle may stand in any row.
    Styles cueStyles;
    if (codes) {
        forEachPiece(text, u'|', [&](QStringView row) {
            Styles ignored;
            readRow<Out>(row, bracketTime, style, ignored, &cueStyles, nullptr, nullptr);
        });
    }
    bool first = true;
    forEachPiece(text, u'|', [&](QStringView row) {
        Styles rowStyles;
        const bool plainRow = !codes && !(bracketTime && row.startsWith(u'/'));
        if (plainRow ? isBlank(row)
                     : !readRow<Out>(row, bracketTime, style, rowStyles, nullptr, &report.droppedCodes, nullptr)) {
            report.emptyRows += !text.isEmpty();
            return;
        }
        if (first)
            openTags(out, cueStyles);
        else
            out += u'\n';
        first = false;
        if (plainRow) {
            appendEscaped(out, row, style);
            return;
        }
        openTags(out, rowStyles);
        Styles again;
        readRow(row, bracketTime, style, again, nullptr, nullptr, &out);
        closeTags(out, rowStyles);
    });
    if (!first)
        closeTags(out, cueStyles);
}

// ---- Times --------------------------------------------------------------

// Appends `value` with at least `width` digits.
qsizetype putDigits(char16_t *to, qint64 value, int width)
{
    char16_t digits[24];
    int n = 0;
    do {
        digits[n++] = char16_t(u'0' + value % 10);
        value /= 10;
    } while (value > 0);
    qsizetype k = 0;
    for (int pad = n; pad < width; ++pad)
        to[k++] = u'0';
    while (n > 0)
        to[k++] = digits[--n];
    return k;
}

// HH:MM:SS,mmm (a point for WebVTT); hours take more digits when they need them.
qsizetype putCueTime(char16_t *to, qint64 ms, CueStyle style)
{
    const qint64 hours = ms / 3600000;
    qsizetype k = 0;
    if (hours < 100) {
        to[k++] = char16_t(u'0' + hours / 10);
        to[k++] = char16_t(u'0' + hours % 10);
    } else {
        k = putDigits(to, hours, 2);
    }
    const int rest = int(ms % 3600000);
    const int minutes = rest / 60000;
    const int seconds = rest / 1000 % 60;
    const int milli = rest % 1000;
    to[k++] = u':';
    to[k++] = char16_t(u'0' + minutes / 10);
    to[k++] = char16_t(u'0' + minutes % 10);
    to[k++] = u':';
    to[k++] = char16_t(u'0' + seconds / 10);
    to[k++] = char16_t(u'0' + seconds % 10);
    to[k++] = style == CueStyle::SubRip ? u',' : u'.';
    to[k++] = char16_t(u'0' + milli / 100);
    to[k++] = char16_t(u'0' + milli / 10 % 10);
    to[k++] = char16_t(u'0' + milli % 10);
    return k;
}

struct Subtitle
{
    qint64 show = 0;
    qint64 hide = -1; // none
    qsizetype textAt = 0; // where its text part stands in the text read
    int textLength = 0; // a line's text part is shorter than 2 Gi characters
    bool bracketTime = false;
};

// Writes one cue, whose text part is `text`; `next` is the show time of the
// subtitle after it, or -1.
template <typename Out>
void appendCue(Out &out, qint64 number, const Subtitle &s, QStringView text, qint64 next, CueStyle style,
               const CueDisplay &defaults, CueReport &report)
{
    qint64 hide = s.hide;
    if (hide < 0)
        hide = hideNotPast(s.show, defaultDisplayMs(defaults, text), next);
    char16_t head[96];
    qsizetype k = 0;
    if (number > 1 || style == CueStyle::WebVtt)
        head[k++] = u'\n';
    k += putDigits(head + k, number, 1);
    head[k++] = u'\n';
    k += putCueTime(head + k, s.show, style);
    for (char16_t c : u" --> ")
        if (c)
            head[k++] = c;
    k += putCueTime(head + k, hide, style);
    head[k++] = u'\n';
    out += QStringView(head, k);
    const qsizetype before = out.size();
    appendCueText(out, text, s.bracketTime, style, report);
    if (out.size() > before)
        out += u'\n';
}

// The subtitles of some lines, their times in milliseconds.
// Lines end at `separator`; with `crlf`, a CR before it belongs to the
// line end (as decoding a file with CR LF line ends takes it). `text`
// stands at `textAt` in the whole text read.
void readSubtitles(QStringView text, qsizetype textAt, QChar separator, bool crlf, double fps,
                   std::vector<Subtitle> &subtitles, CueReport &report)
{
    const double rate = readingRate(fps);
    const size_t room = subtitles.size() + size_t(text.size() / 40);
    if (subtitles.capacity() < room)
        subtitles.reserve(std::max(room, 2 * subtitles.capacity()));
    forEachPiece(text, separator, [&](QStringView line) {
        if (crlf && line.endsWith(u'\r') && line.end() != text.end())
            line.chop(1);
        int format = NoFormat;
        double show = 0, hide = 0;
        Subtitle s;
        if (line.isEmpty())
            return;
        QStringView textPart;
        if (!readSubtitleLine(line, rate, format, show, hide, textPart)) {
            report.notSubtitles += !isBlank(line);
            return;
        }
        // An empty text part stands at the end of its line, so that the
        // subtitles' texts come in the order of the text read.
        s.textAt = textAt + ((textPart.isEmpty() ? line.utf16() + line.size() : textPart.utf16()) - text.utf16());
        s.textLength = int(textPart.size());
        // Back to the whole numbers of the line, then to milliseconds, so
        // that a frame time rounds from its exact value.
        auto toMs = [&](double seconds) -> qint64 {
            switch (format) {
            case FrameBased:
                return std::llround(double(std::llround(seconds * rate)) * 1000.0 / rate);
            case BracketTime:
                return std::llround(seconds * 10.0) * 100;
            default:
                return std::llround(seconds) * 1000;
            }
        };
        s.show = toMs(show);
        if (hide != 0.0)
            s.hide = toMs(hide);
        if (s.show < 0) {
            s.show = 0;
            ++report.clampedTimes;
        }
        if (s.hide < 0 && hide != 0.0) {
            s.hide = 0;
            ++report.clampedTimes;
        }
        s.bracketTime = format == BracketTime;
        subtitles.push_back(s);
    });
}

} // namespace

qint64 defaultDisplayMs(const CueDisplay &defaults, QStringView text)
{
    const double display = defaults.lengthDependent ? getSubtitlesTime(text, defaults.seconds)
                                                    : defaults.seconds;
    return std::llround(display * 1000.0);
}

qint64 hideNotPast(qint64 show, qint64 display, qint64 next)
{
    const qint64 hide = show + display;
    return next > show && hide > next ? next : hide;
}

namespace {

// Cues `first` on, for `subtitles` read from `text`; `next` is the show
// time of the subtitle after the last, or -1.
template <typename Out>
void writeCues(const std::vector<Subtitle> &subtitles, QStringView text, qint64 first, qint64 next,
               CueStyle style, Out &out, CueReport &report)
{
    const CueDisplay defaults;
    for (size_t k = 0; k < subtitles.size(); ++k) {
        const Subtitle &s = subtitles[k];
        appendCue(out, first + qint64(k), s, text.sliced(s.textAt, s.textLength),
                  k + 1 < subtitles.size() ? subtitles[k + 1].show : next, style, defaults, report);
    }
}

void add(CueReport &to, const CueReport &from)
{
    to.cues += from.cues;
    to.notSubtitles += from.notSubtitles;
    to.clampedTimes += from.clampedTimes;
    to.droppedCodes += from.droppedCodes;
    to.emptyRows += from.emptyRows;
}

} // namespace

namespace {

// Cues written as UTF-8 straight away, LF or CR LF at each line end. With a
// table, the text's characters are bytes of a one-byte encoding read as
// Latin-1, and each becomes its own character's UTF-8.
class Utf8Out
{
public:
    struct Table
    {
        char bytes[256][4];
        quint8 length[256]; // 0: a byte the encoding does not have
        char16_t characters[256];
    };

    // Writes on at the end of `bytes`, with room for `room` bytes at first.
    Utf8Out(QByteArray &bytes, qsizetype room, const Table *table, bool crlf)
        : m_bytes(bytes), m_table(table), m_crlf(crlf), m_used(bytes.size())
    {
        m_bytes.resize(m_used + room);
    }
    Utf8Out(const Utf8Out &) = delete;
    Utf8Out(Utf8Out &&other) = default;
    // The bytes end where the writing did.
    ~Utf8Out() { m_bytes.truncate(m_used); }

    Utf8Out &operator+=(QStringView text)
    {
        // Room for the worst case: three bytes a unit, or CR LF; and for a
        // table's four bytes written at once.
        if (m_bytes.size() - m_used < 3 * text.size() + 4)
            m_bytes.resize(std::max(2 * m_bytes.size(), m_used + 3 * text.size() + 64));
        // Taken apart from the object: a store through `p` might change any of it.
        const Table *const table = m_table;
        const bool crlf = m_crlf;
        bool ok = m_ok;
        char *const start = m_bytes.data();
        char *p = start + m_used;
        const char16_t *c = text.utf16();
        const char16_t *const end = c + text.size();
        while (c < end) {
            // Runs of ASCII are most of it, taken eight at a time where
            // the processor can.
#if defined(__SSE2__)
            const __m128i notAscii = _mm_set1_epi16(short(0xFF80));
            const __m128i lineEnd = _mm_set1_epi16(short(u'\n'));
            const __m128i zero = _mm_setzero_si128();
            while (end - c >= 8) {
                const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i *>(c));
                const __m128i other = _mm_or_si128(_mm_cmpeq_epi16(units, lineEnd),
                                                   _mm_cmpeq_epi16(_mm_cmpeq_epi16(_mm_and_si128(units, notAscii), zero), zero));
                // All eight are stored (there is room), those before the
                // first that is no plain ASCII kept.
                _mm_storel_epi64(reinterpret_cast<__m128i *>(p), _mm_packus_epi16(units, units));
                if (const int mask = _mm_movemask_epi8(other)) {
                    const int plain = int(qCountTrailingZeroBits(uint(mask))) / 2;
                    c += plain;
                    p += plain;
                    break;
                }
                c += 8;
                p += 8;
            }
#endif
            while (c < end && *c < 0x80 && *c != u'\n')
                *p++ = char(*c++);
            if (c == end)
                break;
            const char16_t u = *c++;
            if (u == u'\n') {
                if (crlf)
                    *p++ = '\r';
                *p++ = '\n';
            } else if (table) {
                const quint8 n = u < 256 ? table->length[u] : 0;
                ok = ok && n > 0;
                if (n > 0)
                    std::memcpy(p, table->bytes[u], 4);
                p += n;
            } else if (u < 0x800) {
                *p++ = char(0xC0 | (u >> 6));
                *p++ = char(0x80 | (u & 0x3F));
            } else if (QChar::isHighSurrogate(u) && c < end && QChar::isLowSurrogate(*c)) {
                const char32_t v = QChar::surrogateToUcs4(u, *c++);
                *p++ = char(0xF0 | (v >> 18));
                *p++ = char(0x80 | ((v >> 12) & 0x3F));
                *p++ = char(0x80 | ((v >> 6) & 0x3F));
                *p++ = char(0x80 | (v & 0x3F));
            } else if (u >= 0xDC80 && u <= 0xDCFF) {
                // A byte that was not UTF-8, carried through as it came.
                *p++ = char(0x80 + (u - 0xDC80));
            } else {
                ok = ok && !QChar::isSurrogate(u);
                *p++ = char(0xE0 | (u >> 12));
                *p++ = char(0x80 | ((u >> 6) & 0x3F));
                *p++ = char(0x80 | (u & 0x3F));
            }
        }
        m_used = p - start;
        m_size += text.size();
        m_ok = ok;
        return *this;
    }
    // ASCII only, as the tags and entities are.
    Utf8Out &operator+=(QLatin1String text)
    {
        char16_t units[64];
        Q_ASSERT(text.size() <= 64);
        for (qsizetype k = 0; k < text.size(); ++k)
            units[k] = char16_t(text[k].unicode());
        return *this += QStringView(units, text.size());
    }
    Utf8Out &operator+=(QChar c) { return *this += QStringView(&c, 1); }
    Utf8Out &operator+=(char16_t c) { return *this += QStringView(&c, 1); }
    // Characters written, as a QString counts them.
    qsizetype size() const { return m_size; }
    // False when the text held what UTF-8 (or the table) cannot store.
    bool ok() const { return m_ok; }

private:
    QByteArray &m_bytes;
    const Table *m_table;
    bool m_crlf;
    bool m_ok = true;
    qsizetype m_used;
    qsizetype m_size = 0;
};

// The cues of `text`, whose lines end at `separator`, in one piece or (a
// large text) two, each made by `makeOut(piece)` and written on a thread
// of its own. How many pieces.
template <typename MakeOut>
int exportInPieces(QStringView text, QChar separator, bool crlf, double fps, CueStyle style, CueReport &report,
                   MakeOut &&makeOut)
{
    report = CueReport();
    // A first line {1}{1}RATE names the file's rate, and is no cue. The
    // rate the caller gives is the one the user confirmed or asked for.
    const qsizetype firstEnd = text.indexOf(separator);
    QStringView firstLine = firstEnd < 0 ? text : text.first(firstEnd);
    if (crlf && firstEnd >= 0 && firstLine.endsWith(u'\r'))
        firstLine.chop(1);
    if (frameRateHeader(firstLine) > 0)
        text = firstEnd < 0 ? QStringView() : text.sliced(firstEnd + 1);
    // A large text is done in two halves, split at a line end, one of them
    // on a thread of its own; the second half's cues are numbered on from
    // the first's.
    const qsizetype split = text.size() < 4 * 1024 * 1024 ? -1 : text.indexOf(separator, text.size() / 2);
    const QStringView halves[2] = {split < 0 ? text : text.first(split + 1),
                                   split < 0 ? QStringView() : text.sliced(split + 1)};
    std::vector<Subtitle> subtitles[2];
    CueReport reports[2];
    auto runBoth = [&](auto &&work) {
        if (split < 0) {
            work(0);
            return;
        }
        HelperThread second;
        const bool started = second.start([&] { work(1); });
        work(0);
        if (!started)
            work(1);
        second.join();
    };
    runBoth([&](int h) {
        const qsizetype at = halves[h].isEmpty() ? 0 : halves[h].utf16() - text.utf16();
        readSubtitles(halves[h], at, separator, crlf, fps, subtitles[h], reports[h]);
    });
    runBoth([&](int h) {
        auto &&out = makeOut(h, halves[h].size());
        if (h == 0 && style == CueStyle::WebVtt)
            out += QLatin1String("WEBVTT\n");
        const qint64 first = h == 0 ? 1 : qint64(subtitles[0].size()) + 1;
        const qint64 next = h == 0 && !subtitles[1].empty() ? subtitles[1].front().show : -1;
        writeCues(subtitles[h], text, first, next, style, out, reports[h]);
        reports[h].cues = qsizetype(subtitles[h].size());
    });
    add(report, reports[0]);
    add(report, reports[1]);
    return split < 0 ? 1 : 2;
}

} // namespace

QStringList exportCuePieces(QStringView text, double fps, CueStyle style, CueReport &report)
{
    QString out[2];
    const int pieces = exportInPieces(text, u'\n', false, fps, style, report, [&](int h, qsizetype size) -> QString & {
        out[h].reserve(size * 2 + 16);
        return out[h];
    });
    return pieces == 1 ? QStringList{out[0]} : QStringList{out[0], out[1]};
}

QString exportCues(QStringView text, double fps, CueStyle style, CueReport &report)
{
    const QStringList pieces = exportCuePieces(text, fps, style, report);
    return pieces.size() == 1 ? pieces[0] : pieces.join(QString());
}

// ---- Cues streamed as UTF-8 --------------------------------------------------

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
        HelperThread second;
        const bool started = second.start([&] { readPart(split + 1, size(), separator, crlfLines, later, secondReport); });
        readPart(0, split + 1, separator, crlfLines, subtitles, readReport);
        if (!started)
            readPart(split + 1, size(), separator, crlfLines, later, secondReport);
        second.join();
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
    PieceHandover handover;
    HelperThread second;
    // Without a second thread this one makes every piece.
    const bool shared = pieces > 1 && second.start([&] {
        t_byteCharacters = characters;
        const auto unset = qScopeGuard([] { t_byteCharacters = nullptr; });
        const CueDisplay defaults;
        QString read;
        for (size_t i = 1; i < pieces; i += 2) {
            QByteArray *buffer = handover.take(i);
            if (!buffer)
                break;
            bool made = false;
            const auto told = qScopeGuard([&] { handover.ready(i, made); });
            made = data.makePiece(i, *buffer, read, defaults, reports[1]);
        }
    });
    // Whatever ends this one, the second stops before what it works on goes.
    const auto stopped = qScopeGuard([&] {
        t_byteCharacters = nullptr;
        handover.cancel();
        second.wait();
    });
    t_byteCharacters = characters;
    const CueDisplay defaults;
    QString read;
    QByteArray bytes;
    bool ok = true;
    for (size_t i = 0; ok && i < pieces; ++i) {
        if (i % 2 == 0 || !shared) {
            bytes.truncate(0);
            ok = data.makePiece(i, bytes, read, defaults, reports[0]) && write(bytes);
        } else {
            const QByteArray *made = handover.wait(i);
            ok = made && write(*made);
            handover.release(i);
        }
    }
    t_byteCharacters = nullptr;
    handover.cancel();
    second.join();
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

// ---- SubRip in ------------------------------------------------------------

namespace {

bool isCueNumber(QStringView line)
{
    line = line.trimmed();
    if (line.isEmpty())
        return false;
    for (QChar c : line) {
        if (c < u'0' || c > u'9')
            return false;
    }
    return true;
}

// HH:MM:SS,mmm (hours one digit or more) at `at`, moving `at` past it.
bool readCueTime(QStringView s, qsizetype &at, qint64 &ms)
{
    auto digits = [&](int least, int most, qint64 &value) {
        int n = 0;
        value = 0;
        while (at < s.size() && s[at] >= u'0' && s[at] <= u'9' && n < most) {
            value = value * 10 + (s[at].unicode() - '0');
            ++at;
            ++n;
        }
        return n >= least;
    };
    auto expect = [&](QChar c) {
        if (at >= s.size() || s[at] != c)
            return false;
        ++at;
        return true;
    };
    qint64 h, m, sec, milli;
    if (!digits(1, 9, h) || !expect(u':') || !digits(2, 2, m) || !expect(u':')
        || !digits(2, 2, sec) || !expect(u',') || !digits(3, 3, milli) || m > 59 || sec > 59)
        return false;
    ms = ((h * 60 + m) * 60 + sec) * 1000 + milli;
    return true;
}

// "00:00:01,000 --> 00:00:02,500", optionally followed by position words.
bool readTimeLine(QStringView line, qint64 &show, qint64 &hide)
{
    line = line.trimmed();
    qsizetype at = 0;
    if (!readCueTime(line, at, show))
        return false;
    while (at < line.size() && line[at] == u' ')
        ++at;
    if (!line.sliced(at).startsWith(u"-->"))
        return false;
    at += 3;
    while (at < line.size() && line[at] == u' ')
        ++at;
    if (!readCueTime(line, at, hide))
        return false;
    return at == line.size() || line[at] == u' ' || line[at] == u'\t';
}

struct Token
{
    enum Kind { Text, Open, Close, Newline, Other } kind;
    QString name;  // tag name, lower case
    QString value; // text, or a colour as BBGGRR
};

// The colour of <font color="#RRGGBB"> as BBGGRR, or empty.
QString fontColour(QStringView tag)
{
    const qsizetype at = tag.indexOf(QLatin1String("color="), 0, Qt::CaseInsensitive);
    if (at < 0)
        return QString();
    QStringView value = tag.sliced(at + 6);
    if (value.startsWith(u'"') || value.startsWith(u'\''))
        value = value.sliced(1);
    if (value.size() < 7 || value[0] != u'#')
        return QString();
    for (qsizetype k = 1; k <= 6; ++k) {
        if (!isHex(value[k]))
            return QString();
    }
    if (value.size() > 7 && (isHex(value[7]) || isAsciiLetter(value[7])))
        return QString();
    QString colour;
    colour += value.sliced(5, 2);
    colour += value.sliced(3, 2);
    colour += value.sliced(1, 2);
    return colour;
}

// A cue's text as tags and text; {\...} override codes are dropped.
QList<Token> tokenize(QStringView text)
{
    QList<Token> tokens;
    auto addText = [&](QStringView t) {
        if (t.isEmpty())
            return;
        if (!tokens.isEmpty() && tokens.constLast().kind == Token::Text)
            tokens.last().value += t;
        else
            tokens.append(Token{Token::Text, QString(), t.toString()});
    };
    qsizetype from = 0;
    for (qsizetype at = 0; at < text.size(); ++at) {
        const QChar c = text[at];
        if (c == u'\n') {
            addText(text.sliced(from, at - from));
            tokens.append(Token{Token::Newline, QString(), QString()});
            from = at + 1;
        } else if (c == u'<') {
            const qsizetype end = text.indexOf(u'>', at);
            const bool closing = at + 1 < text.size() && text[at + 1] == u'/';
            const qsizetype nameAt = at + 1 + closing;
            if (end < 0 || nameAt >= end || !isAsciiLetter(text[nameAt]))
                continue;
            qsizetype nameEnd = nameAt;
            while (nameEnd < end && isAsciiLetter(text[nameEnd]))
                ++nameEnd;
            Token tag{closing ? Token::Close : Token::Open,
                      text.sliced(nameAt, nameEnd - nameAt).toString().toLower(), QString()};
            // Only the tags SubRip files use are tags: "<night>" is text.
            const bool mapped = tag.name == u"i" || tag.name == u"b" || tag.name == u"u"
                    || tag.name == u"font";
            if (!mapped && tag.name != u"s")
                continue;
            if (mapped && !closing && tag.name == u"font") {
                tag.value = fontColour(text.sliced(nameEnd, end - nameEnd));
                if (tag.value.isEmpty())
                    tag.kind = Token::Other;
            } else if (!mapped) {
                tag.kind = Token::Other;
            }
            addText(text.sliced(from, at - from));
            tokens.append(tag);
            at = end;
            from = at + 1;
        } else if (c == u'{' && at + 1 < text.size() && text[at + 1] == u'\\') {
            const qsizetype end = text.indexOf(u'}', at);
            if (end < 0)
                continue;
            addText(text.sliced(from, at - from));
            tokens.append(Token{Token::Other, QString(), QString()});
            at = end;
            from = at + 1;
        }
    }
    addText(text.sliced(from));
    return tokens;
}

// Takes the tags that wrap the whole of tokens[begin, end) off it, outermost
// first.
QList<Style> peelWrappers(const QList<Token> &tokens, qsizetype &begin, qsizetype &end)
{
    QList<Style> styles;
    while (end - begin >= 2 && tokens[begin].kind == Token::Open) {
        const QString &name = tokens[begin].name;
        int depth = 0;
        qsizetype match = -1;
        for (qsizetype k = begin; k < end; ++k) {
            if (tokens[k].kind == Token::Open && tokens[k].name == name) {
                ++depth;
            } else if (tokens[k].kind == Token::Close && tokens[k].name == name && --depth == 0) {
                match = k;
                break;
            }
        }
        if (match != end - 1)
            break;
        styles.append(Style{name == u"font" ? 'c' : char(name[0].unicode()), tokens[begin].value});
        ++begin;
        --end;
    }
    return styles;
}

// The codes of `styles` in a line's text: {y:ib}{c:$BBGGRR}..., or a leading
// "/" for italic in a bracket-time line.
QString stylesToCodes(const QList<Style> &styles, Scope scope, bool bracketTime)
{
    QString codes;
    QString letters;
    bool slash = false;
    auto flushLetters = [&] {
        if (letters.isEmpty())
            return;
        codes += scope == Scope::Cue ? QLatin1String("{Y:") : QLatin1String("{y:");
        codes += letters;
        codes += u'}';
        letters.clear();
    };
    for (const Style &s : styles) {
        if (s.kind == 'c') {
            flushLetters();
            codes += scope == Scope::Cue ? QLatin1String("{C:$") : QLatin1String("{c:$");
            codes += s.colour;
            codes += u'}';
        } else if (bracketTime && s.kind == 'i') {
            slash = true;
        } else {
            letters += QLatin1Char(s.kind);
        }
    }
    flushLetters();
    return slash ? QStringLiteral("/") + codes : codes;
}

// The text part of a line for a cue's text.
QString cueToTextPart(QStringView cueText, bool bracketTime, CueReport &report)
{
    const QList<Token> tokens = tokenize(cueText);
    qsizetype begin = 0, end = tokens.size();
    QList<Style> cueStyles;
    const bool severalRows = cueText.contains(u'\n');
    if (severalRows)
        cueStyles = peelWrappers(tokens, begin, end);
    // A bracket-time line has no italic for the whole subtitle: each row gets it.
    bool cueItalic = false;
    if (bracketTime) {
        for (qsizetype k = cueStyles.size() - 1; k >= 0; --k) {
            if (cueStyles[k].kind == 'i') {
                cueItalic = true;
                cueStyles.removeAt(k);
            }
        }
    }
    QString out = stylesToCodes(cueStyles, Scope::Cue, false);
    qsizetype rowBegin = begin;
    for (qsizetype k = begin; k <= end; ++k) {
        if (k < end && tokens[k].kind != Token::Newline)
            continue;
        qsizetype b = rowBegin, e = k;
        QList<Style> rowStyles = peelWrappers(tokens, b, e);
        if (cueItalic)
            rowStyles.prepend(Style{'i', QStringView()});
        if (rowBegin > begin)
            out += u'|';
        out += stylesToCodes(rowStyles, Scope::Row, bracketTime);
        for (qsizetype t = b; t < e; ++t) {
            if (tokens[t].kind == Token::Text)
                out += tokens[t].value;
            else
                ++report.droppedCodes;
        }
        rowBegin = k + 1;
    }
    return out;
}

} // namespace

bool looksLikeSubRip(QStringView text)
{
    bool numberSeen = false;
    for (QStringView line : text.tokenize(u'\n')) {
        if (!numberSeen && isBlank(line))
            continue;
        if (!numberSeen) {
            if (!isCueNumber(line))
                return false;
            numberSeen = true;
            continue;
        }
        qint64 show, hide;
        return readTimeLine(line, show, hide);
    }
    return false;
}

bool importSubRip(QStringView text, int format, double fps, QString &out, CueReport &report,
                  QString *error, qsizetype firstLine)
{
    report = CueReport();
    const QList<QStringView> lines = text.split(u'\n');
    auto fail = [&](qsizetype index, const QString &what) {
        if (error)
            *error = QStringLiteral("line %1: %2").arg(firstLine + index + 1).arg(what);
        return false;
    };
    QString result;
    result.reserve(text.size());
    QString cueText;
    QString line;
    qsizetype k = 0;
    while (k < lines.size()) {
        if (isBlank(lines[k])) {
            ++k;
            continue;
        }
        if (!isCueNumber(lines[k]))
            return fail(k, QStringLiteral("\"%1\" is no cue number").arg(lines[k].left(40)));
        const qsizetype numberLine = k++;
        qint64 show = 0, hide = 0;
        if (k >= lines.size() || !readTimeLine(lines[k], show, hide))
            return fail(k < lines.size() ? k : numberLine,
                        QStringLiteral("cue %1 has no time line \"00:00:00,000 --> 00:00:00,000\"")
                                .arg(lines[numberLine].trimmed()));
        const qsizetype timeLine = k++;
        cueText.clear();
        for (bool first = true; k < lines.size() && !isBlank(lines[k]); ++k, first = false) {
            if (!first)
                cueText += u'\n';
            cueText += lines[k];
        }
        const QString textPart = cueToTextPart(cueText, format == BracketTime, report);
        line.clear();
        if (!writeSubtitleLine(format, show / 1000.0, hide / 1000.0, textPart, fps, line))
            return fail(timeLine, QStringLiteral("the times are too large for the format"));
        if (report.cues++ > 0)
            result += u'\n';
        result += line;
    }
    out = std::move(result);
    return true;
}

QString describeCueReport(const CueReport &report)
{
    auto count = [](qsizetype n, const char *one, const char *many) {
        return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
    };
    QStringList parts;
    parts << count(report.cues, "cue", "cues");
    if (report.notSubtitles)
        parts << count(report.notSubtitles, "line that is no subtitle", "lines that are no subtitles") + QStringLiteral(" left out");
    if (report.clampedTimes)
        parts << count(report.clampedTimes, "time", "times") + QStringLiteral(" below zero written as 0");
    if (report.droppedCodes)
        parts << count(report.droppedCodes, "code", "codes") + QStringLiteral(" dropped");
    if (report.emptyRows)
        parts << count(report.emptyRows, "empty row", "empty rows") + QStringLiteral(" left out");
    return parts.join(QStringLiteral("; "));
}
