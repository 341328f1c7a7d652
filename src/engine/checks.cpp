#include "engine/checks.h"

#include "engine/checkline.h"
#include "formats/stylecodes.h"
#include "formats/subrip.h"

#include <cmath>

namespace {

using K = CheckKind;

} // namespace

bool blankToViewer(QChar c)
{
    return c.isSpace() && (c.unicode() < 0x80 || c.unicode() > 0x9F);
}

namespace {

// What a viewer sees of a text part.
struct TextFacts
{
    qsizetype chars = 0; // characters in all rows
    qsizetype rows = 1;
    qsizetype longestRow = 0, longestRowNumber = 1;
    bool visible = false; // anything but white space
    qsizetype unknownCodes = 0, firstUnknownAt = 0, firstUnknownLength = 0;
};

// `italicSlash`: a bracket-time line, whose rows may start with a `/` that
// makes them italic.
TextFacts readText(QStringView text, bool italicSlash)
{
    TextFacts facts;
    qsizetype rowChars = 0;
    // Characters from U+0300 on may combine with the one before: a piece
    // with none is counted by its length.
    bool combining = false;
    auto piece = [&](QStringView shown) {
        if (shown.isEmpty())
            return;
        rowChars += combining ? visibleLength(shown) : shown.size();
        combining = false;
        if (!facts.visible)
            facts.visible = !std::all_of(shown.begin(), shown.end(), blankToViewer);
    };
    auto endRow = [&] {
        facts.chars += rowChars;
        if (rowChars > facts.longestRow) {
            facts.longestRow = rowChars;
            facts.longestRowNumber = facts.rows;
        }
        rowChars = 0;
    };
    // Once a `{` has no `}` after it, no later one has: the rest is text.
    bool codesAhead = true;
    qsizetype from = 0, rowStart = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.unicode() >= 0x0300) {
            combining = true;
        } else if (c == u'/' && i == rowStart && italicSlash) {
            from = i + 1;
        } else if (c == u'|') {
            piece(text.sliced(from, i - from));
            endRow();
            ++facts.rows;
            from = rowStart = i + 1;
        } else if (c == u'{' && codesAhead) {
            const qsizetype length = braceGroupLength(text.sliced(i));
            if (length == 0) {
                codesAhead = false;
                continue;
            }
            piece(text.sliced(from, i - from));
            if (!isKnownStyleCode(text.sliced(i, length)) && facts.unknownCodes++ == 0) {
                facts.firstUnknownAt = i;
                facts.firstUnknownLength = length;
            }
            i += length - 1;
            from = i + 1;
        }
    }
    piece(text.sliced(from));
    endRow();
    return facts;
}

} // namespace

CheckedLine readChecked(SubEngine &engine, QStringView line, qsizetype number, bool first, const CheckRules &rules,
                        std::vector<CheckProblem> *textProblems)
{
    CheckedLine checked;
    int format = NoFormat;
    double show = 0, hide = 0;
    QStringView text;
    if (line.isEmpty() || (first && frameRateHeader(line) > 0.0)
        || !engine.readLine(line, format, show, hide, text))
        return checked;
    checked.subtitle = true;
    checked.format = char(format);
    checked.show = show;
    checked.hide = hide;
    checked.ownHide = hide != 0.0;
    if (!checked.ownHide)
        checked.display = defaultDisplayMs({engine.showTime.seconds, engine.showTime.lengthDependent}, text);
    const TextFacts facts = readText(text, format == BracketTime);
    checked.chars = facts.chars;
    if (!textProblems)
        return checked;
    auto add = [&](K kind, double value, qsizetype other = 0, qsizetype length = 0) {
        if (rules.looksFor(kind))
            textProblems->push_back(CheckProblem{number, kind, value, other, length});
    };
    if (facts.longestRow > rules.limitOf(K::RowTooLong))
        add(K::RowTooLong, double(facts.longestRow), facts.longestRowNumber);
    if (facts.rows > rules.limitOf(K::TooManyRows))
        add(K::TooManyRows, double(facts.rows));
    if (!facts.visible)
        add(K::Empty, 0);
    if (facts.unknownCodes > 0)
        add(K::UnknownCode, double(facts.unknownCodes), text.utf16() - line.utf16() + facts.firstUnknownAt,
            facts.firstUnknownLength);
    return checked;
}

namespace {

// When `s` hides, in seconds, given the subtitle after it (null: none).
double hideOf(const CheckedLine &s, const CheckedLine *next)
{
    if (s.ownHide)
        return s.hide;
    return double(hideNotPast(std::llround(s.show * 1000.0), s.display,
                              next ? std::llround(next->show * 1000.0) : -1)) / 1000.0;
}

} // namespace

void timingProblems(const CheckedLine *prev, qsizetype prevLine, const CheckedLine &cur, qsizetype line,
                    const CheckedLine *next, const CheckRules &rules, double fps, std::vector<CheckProblem> &out)
{
    auto add = [&](K kind, double value, qsizetype other = 0) {
        if (rules.looksFor(kind))
            out.push_back(CheckProblem{line, kind, value, other, 0});
    };
    if (prev) {
        const double prevHide = hideOf(*prev, &cur);
        if (cur.show < prev->show - slackSeconds) {
            add(K::Order, (prev->show - cur.show) * 1000.0, prevLine);
        } else if (cur.show < prevHide - slackSeconds) {
            add(K::Overlap, (prevHide - cur.show) * 1000.0, prevLine);
        } else if (prev->ownHide) {
            // A hide time of no subtitle's own ends at the next show by design.
            const double frames = std::max(0.0, (cur.show - prevHide) * fps);
            if (frames < rules.limitOf(K::Gap) - slackSeconds)
                add(K::Gap, frames, prevLine);
        }
    }
    const double hide = hideOf(cur, next);
    if (hide < cur.show - slackSeconds) {
        add(K::EndsBeforeStart, (cur.show - hide) * 1000.0);
    } else {
        const double ms = (hide - cur.show) * 1000.0;
        if (ms < rules.limitOf(K::TooShort) - slackMs)
            add(K::TooShort, ms);
        if (ms > rules.limitOf(K::TooLong) + slackMs)
            add(K::TooLong, ms);
        if (ms > slackMs && cur.chars > 0 && double(cur.chars) * 1000.0 > rules.limitOf(K::ReadingSpeed) * (ms + slackMs))
            add(K::ReadingSpeed, double(cur.chars) * 1000.0 / ms);
    }
}

namespace {

void appendWhole(QString &out, qint64 value)
{
    char16_t digits[24];
    qsizetype at = 24;
    quint64 rest = value < 0 ? quint64(0) - quint64(value) : quint64(value);
    do {
        digits[--at] = char16_t(u'0' + rest % 10);
        rest /= 10;
    } while (rest);
    if (value < 0)
        digits[--at] = u'-';
    out.append(QStringView(digits + at, 24 - at));
}

void appendLimit(QString &out, double limit)
{
    if (limit == std::floor(limit) && std::abs(limit) < 1e15)
        appendWhole(out, qint64(limit));
    else
        out += limitText(limit);
}

// `value` against `limit` as "600 < 833": with `decimals`, or with as
// many more (up to 3) as it takes to show it on its side of the limit.
void appendComparison(QString &out, double value, char16_t sign, double limit, int decimals)
{
    double scale = std::pow(10.0, decimals);
    for (; decimals < 3; ++decimals, scale *= 10.0) {
        const double shown = std::round(value * scale) / scale;
        if (sign == u'<' ? shown < limit : shown > limit)
            break;
    }
    // As printf's %.Nf writes it, without making a string of its own.
    const qint64 scaled = std::llround(value * scale);
    const qint64 unit = std::llround(scale);
    appendWhole(out, scaled / unit);
    if (decimals > 0) {
        out += u'.';
        for (qint64 digit = unit / 10, rest = std::abs(scaled % unit); digit > 0; digit /= 10) {
            out += QChar(u'0' + char16_t(rest / digit));
            rest %= digit;
        }
    }
    out += u' ';
    out += QChar(sign);
    out += u' ';
    appendLimit(out, limit);
}

} // namespace

void appendProblemDetail(QString &out, const CheckProblem &p, QStringView line, const CheckRules &rules)
{
    const double limit = rules.limitOf(p.kind);
    switch (p.kind) {
    case K::Overlap:
    case K::Order:
        out += QLatin1String("line ");
        appendWhole(out, p.other + 1);
        out += p.kind == K::Overlap ? QLatin1String(" by ") : QLatin1String(" shows ");
        appendWhole(out, std::llround(p.value));
        out += p.kind == K::Overlap ? QLatin1String(" ms") : QLatin1String(" ms later");
        return;
    case K::EndsBeforeStart:
        out += QLatin1String("hides ");
        appendWhole(out, std::llround(p.value));
        out += QLatin1String(" ms before it shows");
        return;
    case K::TooShort:
    case K::TooLong:
        appendComparison(out, p.value, p.kind == K::TooShort ? u'<' : u'>', limit, 0);
        out += QLatin1String(" ms");
        return;
    case K::Gap:
        appendComparison(out, p.value, u'<', limit, 0);
        out += QLatin1String(" frames");
        return;
    case K::ReadingSpeed:
        appendComparison(out, p.value, u'>', limit, 1);
        return;
    case K::RowTooLong:
        out += QLatin1String("row ");
        appendWhole(out, p.other);
        out += QLatin1String(": ");
        appendComparison(out, p.value, u'>', limit, 0);
        return;
    case K::TooManyRows:
        appendComparison(out, p.value, u'>', limit, 0);
        return;
    case K::Empty:
        out += QLatin1String("no text");
        return;
    case K::UnknownCode:
        out += line.mid(p.other, p.length);
        if (p.value > 1) {
            out += QLatin1String(" and ");
            appendWhole(out, qint64(p.value) - 1);
            out += QLatin1String(" more");
        }
        return;
    }
}

QString problemDetail(const CheckProblem &p, QStringView line, const CheckRules &rules)
{
    QString detail;
    appendProblemDetail(detail, p, line, rules);
    return detail;
}
