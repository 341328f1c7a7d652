// Text correction. Every step is a single pass that builds the new text, so
// a long line costs time in proportion to its length, however many spaces
// it holds. Deleting "the run of spaces before" a character never deletes
// the character at index 0.
#include "engine/correction.h"
#include "engine/stringfunctions.h"
#include "engine/subengine.h"

#include <algorithm>
#ifdef __SSE2__
#include <emmintrin.h>
#endif
#include <cstring>
#include <utility>

namespace {

bool isPunctuation(char16_t c)
{
    switch (c) {
    case u'.': case u',': case u'!': case u'?': case u':': case u';':
        return true;
    default:
        return false;
    }
}

bool isDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

// Each step reads `n` characters from `in` and writes the new text to
// `out`, which has room for 2n + 1 characters; it returns the new length.
// Stretches that a step leaves alone are copied whole.
using Step = qsizetype (*)(const char16_t *in, qsizetype n, char16_t *out);

qsizetype skipSpaces(const char16_t *in, qsizetype n, qsizetype i)
{
    while (i < n && in[i] == u' ')
        ++i;
    return i;
}

// The new length once the spaces right before position `o` are gone,
// except one standing at index 0.
qsizetype dropSpacesBefore(const char16_t *out, qsizetype o)
{
    while (o > 1 && out[o - 1] == u' ')
        --o;
    return o;
}

// Copies in[from, to) to out[o...] and returns the new output length.
qsizetype copyStretch(const char16_t *in, qsizetype from, qsizetype to, char16_t *out, qsizetype o)
{
    if (to > from)
        std::memcpy(out + o, in + from, size_t(to - from) * sizeof(char16_t));
    return o + (to > from ? to - from : 0);
}

qsizetype find(const char16_t *in, qsizetype n, qsizetype from, char16_t c)
{
    return QStringView(in, n).indexOf(QChar(c), from);
}

// Index of the first punctuation mark or "{" at or after `i`, or `n`.
qsizetype nextMark(const char16_t *in, qsizetype n, qsizetype i)
{
#ifdef __SSE2__
    for (; i + 8 <= n; i += 8) {
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + i));
        auto is = [c](char16_t m) { return _mm_cmpeq_epi16(c, _mm_set1_epi16(short(m))); };
        const __m128i marks = _mm_or_si128(_mm_or_si128(_mm_or_si128(is(u'.'), is(u',')),
                                                        _mm_or_si128(is(u'!'), is(u'?'))),
                                           _mm_or_si128(_mm_or_si128(is(u':'), is(u';')), is(u'{')));
        const unsigned bits = unsigned(_mm_movemask_epi8(marks));
        if (bits)
            return i + __builtin_ctz(bits) / 2;
    }
#endif
    while (i < n && !isPunctuation(in[i]) && in[i] != u'{')
        ++i;
    return i;
}

// One space after each punctuation mark and none before it; none after a
// mark that ends the text or a row, is followed by another mark, or stands
// inside a number ("3.50", "12:30"). A style code ("{y:i}", "{c:$0000FF}":
// a "{" and the first "}" after it) is a player's, not text: it is copied
// whole. A "{" that no "}" follows is text.
qsizetype fixPunctuationMarks(const char16_t *in, qsizetype n, char16_t *out)
{
    qsizetype o = 0;
    qsizetype i = 0;
    bool closed = true; // whether a "}" may still follow
    while (i < n) {
        const qsizetype mark = nextMark(in, n, i);
        o = copyStretch(in, i, mark, out, o);
        if (mark >= n)
            break;
        if (in[mark] == u'{') {
            const qsizetype close = closed ? find(in, n, mark + 1, u'}') : -1;
            closed = close >= 0;
            const qsizetype end = closed ? close + 1 : mark + 1;
            o = copyStretch(in, mark, end, out, o);
            i = end;
            continue;
        }
        const char16_t c = in[mark];
        i = skipSpaces(in, n, mark + 1);
        o = dropSpacesBefore(out, o);
        out[o++] = c;
        if (i >= n)
            break;
        const char16_t next = in[i];
        const bool inNumber = (c == u'.' || c == u':') && o >= 2 && isDigit(out[o - 2])
                && isDigit(next);
        if (next != u'|' && !isPunctuation(next) && !inNumber)
            out[o++] = u' ';
    }
    return o;
}

// One space after the dash that opens a row of dialogue ("- Hi."). Only the
// first dash of a row counts, and only with nothing but spaces before it.
qsizetype fixDialogueDashes(const char16_t *in, qsizetype n, char16_t *out)
{
    qsizetype o = 0;
    qsizetype row = 0;
    for (;;) {
        qsizetype i = row;
        const qsizetype first = skipSpaces(in, n, row);
        if (first < n && in[first] == u'-') {
            o = copyStretch(in, row, first, out, o);
            i = skipSpaces(in, n, first + 1);
            o = dropSpacesBefore(out, o);
            out[o++] = u'-';
            if (i < n && in[i] != u'|' && in[i] != u'-')
                out[o++] = u' ';
        }
        const qsizetype bar = find(in, n, i, u'|');
        if (bar < 0)
            return copyStretch(in, i, n, out, o);
        o = copyStretch(in, i, bar + 1, out, o);
        row = bar + 1;
    }
}

// No leading spaces, and every run of spaces down to one (a run at the end
// too: it becomes one space, it is not deleted).
qsizetype deleteDoubleSpaces(const char16_t *in, qsizetype n, char16_t *out)
{
    qsizetype o = 0;
    qsizetype i = skipSpaces(in, n, 0);
    const QStringView text(in, n);
    while (i < n) {
        const qsizetype run = text.indexOf(u"  ", i);
        if (run < 0)
            return copyStretch(in, i, n, out, o);
        o = copyStretch(in, i, run + 1, out, o);
        i = skipSpaces(in, n, run + 1);
    }
    return o;
}

// No spaces at the end of the text, nor after or before a row separator.
// (Spaces after a separator go first, then those before one.)
qsizetype deleteEndSpaces(const char16_t *in, qsizetype n, char16_t *out)
{
    while (n > 0 && in[n - 1] == u' ')
        --n;
    qsizetype o = 0;
    qsizetype i = 0;
    for (;;) {
        const qsizetype bar = find(in, n, i, u'|');
        if (bar < 0)
            return copyStretch(in, i, n, out, o);
        o = dropSpacesBefore(out, copyStretch(in, i, bar, out, o));
        out[o++] = u'|';
        i = skipSpaces(in, n, bar + 1);
    }
}

// A single space between two digits goes: "1 000 000" -> "1000000".
qsizetype deleteDigitSpaces(const char16_t *in, qsizetype n, char16_t *out)
{
    qsizetype o = 0;
    qsizetype i = 0;
    for (qsizetype space = find(in, n, 1, u' '); space > 0; space = find(in, n, space + 1, u' ')) {
        if (space + 1 < n && isDigit(in[space - 1]) && isDigit(in[space + 1])) {
            o = copyStretch(in, i, space, out, o);
            i = space + 1;
        }
    }
    return copyStretch(in, i, n, out, o);
}

// Which steps could change the text: one pass over it, so that most lines
// skip most steps without being copied.
constexpr unsigned NeedPunctuation = 1;
constexpr unsigned NeedDashes = 2;
constexpr unsigned NeedDoubleSpaces = 4;
constexpr unsigned NeedEndSpaces = 8;
constexpr unsigned NeedDigitSpaces = 16;

struct Needs
{
    unsigned marks = 0, dashes = 0, doubles = 0, ends = 0, digits = 0;

    // One character `c` between `p` and `q`. Without branches, so that the
    // compiler can test many characters at once. It may ask for a step that
    // then changes nothing (a dash after a space inside a row), never the
    // other way round.
    void look(char16_t p, char16_t c, char16_t q)
    {
        const unsigned space = c == u' ';
        marks |= unsigned(c == u'.') | unsigned(c == u',') | unsigned(c == u'!')
                | unsigned(c == u'?') | unsigned(c == u':') | unsigned(c == u';');
        dashes |= unsigned(c == u'-') & (unsigned(p == u' ') | unsigned(p == u'|'));
        doubles |= space & unsigned(p == u' ');
        ends |= space & (unsigned(p == u'|') | unsigned(q == u'|'));
        digits |= space & unsigned(p >= u'0') & unsigned(p <= u'9') & unsigned(q >= u'0')
                & unsigned(q <= u'9');
    }
};

#ifdef __SSE2__
// Needs::look on eight characters at once.
struct VectorNeeds
{
    __m128i marks = _mm_setzero_si128(), dashes = marks, doubles = marks, ends = marks,
            digits = marks;

    static __m128i is(__m128i v, char16_t c) { return _mm_cmpeq_epi16(v, _mm_set1_epi16(short(c))); }
    static __m128i isDigit(__m128i v)
    {
        const __m128i offset = _mm_sub_epi16(v, _mm_set1_epi16('0'));
        return _mm_cmpeq_epi16(_mm_subs_epu16(offset, _mm_set1_epi16(9)), _mm_setzero_si128());
    }

    void look(const char16_t *at)
    {
        const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i *>(at - 1));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(at));
        const __m128i q = _mm_loadu_si128(reinterpret_cast<const __m128i *>(at + 1));
        const __m128i space = is(c, u' ');
        marks = _mm_or_si128(marks, _mm_or_si128(_mm_or_si128(is(c, u'.'), is(c, u',')),
                                                 _mm_or_si128(_mm_or_si128(is(c, u'!'), is(c, u'?')),
                                                              _mm_or_si128(is(c, u':'), is(c, u';')))));
        dashes = _mm_or_si128(dashes, _mm_and_si128(is(c, u'-'), _mm_or_si128(is(p, u' '), is(p, u'|'))));
        doubles = _mm_or_si128(doubles, _mm_and_si128(space, is(p, u' ')));
        ends = _mm_or_si128(ends, _mm_and_si128(space, _mm_or_si128(is(p, u'|'), is(q, u'|'))));
        digits = _mm_or_si128(digits, _mm_and_si128(space, _mm_and_si128(isDigit(p), isDigit(q))));
    }

    static unsigned any(__m128i v) { return _mm_movemask_epi8(v) != 0; }
    void addTo(Needs &needs) const
    {
        needs.marks |= any(marks);
        needs.dashes |= any(dashes);
        needs.doubles |= any(doubles);
        needs.ends |= any(ends);
        needs.digits |= any(digits);
    }
};
#endif

// The steps that could change the text. Before the first character stands
// a space (a leading space is a double one, a leading dash opens a row) and
// after the last a "|" (a trailing space is one at a row's end).
unsigned neededSteps(const char16_t *t, qsizetype n)
{
    if (n == 0)
        return 0;
    Needs needs;
    needs.look(u' ', t[0], n > 1 ? t[1] : u'|');
    qsizetype i = 1;
#ifdef __SSE2__
    if (n >= 10) {
        // The last group of eight may overlap the one before: looking at a
        // character twice changes nothing.
        VectorNeeds vector;
        for (; i + 9 <= n; i += 8)
            vector.look(t + i);
        vector.look(t + n - 9);
        vector.addTo(needs);
        i = n - 1;
    }
#endif
    for (; i + 1 < n; ++i)
        needs.look(t[i - 1], t[i], t[i + 1]);
    if (n > 1)
        needs.look(t[n - 2], t[n - 1], u'|');
    return (needs.marks ? NeedPunctuation : 0u) | (needs.dashes ? NeedDashes : 0u)
            | (needs.doubles ? NeedDoubleSpaces : 0u) | (needs.ends ? NeedEndSpaces : 0u)
            | (needs.digits ? NeedDigitSpaces : 0u);
}

} // namespace

void correctText(QString &text, const CorrectionRules &rules, QString &scratch, bool skipIdle)
{
    struct StepInfo
    {
        bool enabled;
        unsigned need;
        Step step;
    };
    const StepInfo steps[] = {
        {rules.punctuation, NeedPunctuation, fixPunctuationMarks},
        {rules.dashes, NeedDashes, fixDialogueDashes},
        {rules.doubleSpaces, NeedDoubleSpaces, deleteDoubleSpaces},
        {rules.endSpaces, NeedEndSpaces, deleteEndSpaces},
        {rules.digitSpaces, NeedDigitSpaces, deleteDigitSpaces},
    };
    unsigned need = skipIdle ? neededSteps(reinterpret_cast<const char16_t *>(text.constData()),
                                           text.size())
                             : ~0u;
    for (const StepInfo &info : steps) {
        if (!info.enabled || !(need & info.need))
            continue;
        scratch.resize(text.size() * 2 + 1);
        const qsizetype length = info.step(reinterpret_cast<const char16_t *>(text.constData()),
                                           text.size(), reinterpret_cast<char16_t *>(scratch.data()));
        scratch.truncate(length);
        // The steps only delete spaces and put single spaces after marks
        // and dashes, so one step can make work for a later one in one way
        // only: runs of spaces cut down to one can leave "1 2".
        if (info.step == deleteDoubleSpaces && length != text.size())
            need |= NeedDigitSpaces;
        text.swap(scratch);
    }
    if (rules.color)
        cutcolor(text);
}

QString SubEngine::correctFunction(QStringView line, QStringView next, WalkCounts &counts)
{
    int format;
    double show, hide;
    QStringView part;
    if (!readOwnLine(line, readingRate(fps), format, show, hide, part, counts))
        return line.toString();

    // The text works in two buffers that live as long as the engine, so a
    // line costs no allocation here.
    QString &text = m_textBuffers[0];
    text.resize(part.size());
    std::copy(part.begin(), part.end(), text.begin());
    const CorrectionSettings &c = correction;
    const CorrectionRules rules{c.fixPunctuation, c.fixDashes, c.delDoubleSpaces, c.delEndSpaces, c.delDigitSpaces,
                                c.delColor};
    correctText(text, rules, m_textBuffers[1]);
    if (correction.sustainTime)
        hide = notPast(next, show, hide);
    return rewritten(line, readingRate(fps), format, show, hide, text, counts);
}
