// SubRip and WebVTT cues out: the text parts' codes become tags, the
// times cue times.
#include "formats/cueparts.h"
#include "formats/lineformat.h"
#include "formats/twothreads.h"
#include "formats/utf8out.h"

#include <QList>
#include <QScopeGuard>
#include <QStringDecoder>
#include <QVarLengthArray>
#include <QtAlgorithms>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

using namespace cues;

namespace cues {

// The characters of a one-byte encoding read as Latin-1 are those bytes:
// while a thread writes cues from such text, this holds each byte's own
// character, for what only the real one can tell (is it a space?).
thread_local const char16_t *t_byteCharacters = nullptr;

// ---- Codes inside a line's text part ------------------------------------

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

} // namespace cues

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

namespace cues {

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

} // namespace cues

namespace {

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
    auto runBoth = [&](auto &&work) { runHalves(split < 0 ? 1 : 2, work); };
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

// Made here, where its parts are; the UTF-8 stream writes with it too.
template void cues::appendCue<Utf8Out>(Utf8Out &out, qint64 number, const Subtitle &s, QStringView text,
                                 qint64 next, CueStyle style, const CueDisplay &defaults,
                                 CueReport &report);

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
