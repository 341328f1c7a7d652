#include "engine/checks.h"

#include "formats/bracketlayout.h"
#include "formats/stylecodes.h"
#include "formats/subrip.h"
#include "formats/twothreads.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

using K = CheckKind;

// Times closer than this are one time: a frame number divided by the rate
// is seldom exact, and a time at its limit is within it.
constexpr double slackSeconds = 1e-6;
constexpr double slackMs = slackSeconds * 1000.0;

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

// Reads line `number` of a text (`first`: the text's first line, which
// may name the rate); with `textProblems`, adds the problems of its text
// alone that `rules` looks for.
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
        checked.display = defaultDisplayMs({engine.showSeconds, engine.lengthDependent}, text);
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

// When `s` hides, in seconds, given the subtitle after it (null: none).
double hideOf(const CheckedLine &s, const CheckedLine *next)
{
    if (s.ownHide)
        return s.hide;
    return double(hideNotPast(std::llround(s.show * 1000.0), s.display,
                              next ? std::llround(next->show * 1000.0) : -1)) / 1000.0;
}

// The problems of the subtitle `cur` on `line` that come from its times,
// given the subtitles before (on `prevLine`) and after it.
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

CheckList::CheckList(const CheckRules &rules, double fps) : m_rules(rules), m_fps(fps) {}

CheckedLine CheckList::read(QStringView line, qsizetype number, std::vector<CheckProblem> *textProblems)
{
    return readChecked(m_engine, line, number, number == 0, m_rules, textProblems);
}

void CheckList::checkRange(qsizetype from, qsizetype to, const std::vector<CheckProblem> &textProblems,
                           std::vector<CheckProblem> &out) const
{
    const qsizetype size = lineCount();
    qsizetype prev = from - 1;
    while (prev >= 0 && !m_lines[size_t(prev)].subtitle)
        --prev;
    auto text = std::lower_bound(textProblems.cbegin(), textProblems.cend(), from,
                                 [](const CheckProblem &p, qsizetype line) { return p.line < line; });
    qsizetype next = from;
    while (next < size && !m_lines[size_t(next)].subtitle)
        ++next;
    for (qsizetype line = next; line < to; line = next) {
        next = line + 1;
        while (next < size && !m_lines[size_t(next)].subtitle)
            ++next;
        timingProblems(prev >= 0 ? &m_lines[size_t(prev)] : nullptr, prev, m_lines[size_t(line)], line,
                       next < size ? &m_lines[size_t(next)] : nullptr, m_rules, m_fps, out);
        while (text != textProblems.cend() && text->line < line)
            ++text;
        for (; text != textProblems.cend() && text->line == line; ++text)
            out.push_back(*text);
        prev = line;
    }
}

void CheckList::countAll(int sign, std::vector<CheckProblem>::const_iterator begin,
                         std::vector<CheckProblem>::const_iterator end)
{
    for (auto it = begin; it != end; ++it)
        m_counts[size_t(it->kind)] += sign;
}

void CheckList::reset(QStringView text)
{
    const qsizetype cut = text.size() >= piecesFrom ? text.indexOf(u'\n', text.size() / 2) : -1;
    const QStringView parts[] = {cut < 0 ? text : text.first(cut), cut < 0 ? QStringView() : text.sliced(cut + 1)};
    qsizetype from[] = {0, 0};
    std::vector<LineSource> pieces;
    for (int i = 0; i < (cut < 0 ? 1 : 2); ++i) {
        pieces.push_back([&, i](QStringView &line) {
            if (from[i] < 0)
                return false;
            const qsizetype end = parts[i].indexOf(u'\n', from[i]);
            line = parts[i].sliced(from[i], (end < 0 ? parts[i].size() : end) - from[i]);
            from[i] = end < 0 ? -1 : end + 1;
            return true;
        });
    }
    reset(pieces, text.size() / 40);
}

void CheckList::reset(const std::vector<LineSource> &pieces, qsizetype lines)
{
    m_engine.fps = m_fps;
    m_counts.fill(0);
    // Each piece is read on a thread of its own, its lines numbered from
    // its start, then moved to their places.
    struct Read
    {
        std::vector<CheckedLine> lines;
        std::vector<CheckProblem> textProblems;
    };
    std::vector<Read> reads(pieces.size());
    runHalves(int(pieces.size()), [&](int index) {
        SubEngine engine;
        engine.fps = m_fps;
        Read &read = reads[size_t(index)];
        // The first takes the others' lines in after it.
        read.lines.reserve(size_t(lines) / (index == 0 ? 1 : pieces.size()) + 16);
        QStringView line;
        for (qsizetype number = 0; pieces[size_t(index)](line); ++number) {
            read.lines.push_back(readChecked(engine, line, number, index == 0 && number == 0, m_rules,
                                             &read.textProblems));
        }
    });
    m_lines = std::move(reads[0].lines);
    std::vector<CheckProblem> textProblems = std::move(reads[0].textProblems);
    for (size_t i = 1; i < reads.size(); ++i) {
        const qsizetype before = lineCount();
        for (CheckProblem &p : reads[i].textProblems)
            p.line += before;
        m_lines.insert(m_lines.end(), reads[i].lines.cbegin(), reads[i].lines.cend());
        textProblems.insert(textProblems.end(), reads[i].textProblems.cbegin(), reads[i].textProblems.cend());
    }
    // The timing checks, in two halves as well.
    std::vector<CheckProblem> halves[2];
    halves[0].reserve(textProblems.size() + m_lines.size());
    halves[1].reserve(textProblems.size() / 2 + m_lines.size() / 2);
    const qsizetype middle = pieces.size() > 1 ? lineCount() / 2 : lineCount();
    runHalves(pieces.size() > 1 ? 2 : 1, [&](int half) {
        checkRange(half == 0 ? 0 : middle, half == 0 ? middle : lineCount(), textProblems, halves[half]);
    });
    m_problems = std::move(halves[0]);
    m_problems.insert(m_problems.end(), halves[1].cbegin(), halves[1].cend());
    countAll(1, m_problems.cbegin(), m_problems.cend());
}

CheckList::Change CheckList::replaceLines(qsizetype first, qsizetype removed, qsizetype added, const LineAt &lineAt,
                                          const AboutToChange &aboutToChange)
{
    const qsizetype shift = added - removed;
    // Lines kept in number are read again in place.
    const qsizetype kept = std::min(removed, added);
    if (shift < 0)
        m_lines.erase(m_lines.begin() + first + kept, m_lines.begin() + first + removed);
    else if (shift > 0)
        m_lines.insert(m_lines.begin() + first + kept, size_t(shift), CheckedLine());
    const qsizetype size = lineCount();
    // Only the first line names the rate: the line that was first is read
    // again where it moved, and so is the one that became first.
    const qsizetype readAgain = first == 0 && added < size ? added : -1;

    // The lines the edit made, the subtitles on either side of them (whose
    // times depend on theirs), and the lines between, which are none.
    qsizetype from = first - 1;
    while (from >= 0 && !m_lines[size_t(from)].subtitle)
        --from;
    from = from < 0 ? first : from;
    qsizetype to = first + added;
    std::vector<CheckProblem> textProblems;
    for (qsizetype line = from; line < size; ++line) {
        const bool made = (line >= first && line < first + added) || line == readAgain;
        if (!made && !m_lines[size_t(line)].subtitle)
            continue;
        m_lines[size_t(line)] = read(lineAt(line), line, &textProblems);
        to = std::max(to, line + 1);
        if (line >= first + added && line >= readAgain && m_lines[size_t(line)].subtitle)
            break;
    }

    auto byLine = [](const CheckProblem &p, qsizetype line) { return p.line < line; };
    const auto begin = std::lower_bound(m_problems.begin(), m_problems.end(), from, byLine);
    const auto end = std::lower_bound(begin, m_problems.end(), to - shift, byLine);
    std::vector<CheckProblem> fresh;
    checkRange(from, to, textProblems, fresh);
    Change change{begin - m_problems.begin(), end - begin, qsizetype(fresh.size()), shift};
    if (aboutToChange)
        aboutToChange(change, fresh);
    countAll(-1, begin, end);
    countAll(1, fresh.cbegin(), fresh.cend());
    // As many as there were are written over, the rest taken out or put in.
    const qsizetype over = std::min(change.removed, change.added);
    std::copy(fresh.cbegin(), fresh.cbegin() + over, begin);
    const auto rest = m_problems.begin() + change.first + over;
    auto after = rest + (change.removed - over);
    if (change.removed > over)
        after = m_problems.erase(rest, after);
    else if (change.added > over)
        after = m_problems.insert(rest, fresh.cbegin() + over, fresh.cend()) + (change.added - over);
    if (shift != 0) {
        for (auto it = after; it != m_problems.end(); ++it) {
            it->line += shift;
            // Their previous subtitle is after the edit too.
            if (it->kind == K::Overlap || it->kind == K::Order || it->kind == K::Gap)
                it->other += shift;
        }
    }
    return change;
}

std::vector<CheckProblem> checkText(QStringView text, const CheckRules &rules, double fps)
{
    CheckList list(rules, fps);
    list.reset(text);
    return list.problems();
}

QString describeFixes(const FixCounts &counts)
{
    if (counts.moved == 0)
        return QStringLiteral("no hide time to move");
    QStringList kinds;
    auto part = [&](qsizetype n, const char *one, const char *many) {
        if (n > 0)
            kinds << (n == 1 ? QStringLiteral("1 %1").arg(QLatin1String(one))
                             : QStringLiteral("%1 %2").arg(n).arg(QLatin1String(many)));
    };
    part(counts.overlaps, "overlap", "overlaps");
    part(counts.tooShort, "too short", "too short");
    part(counts.gaps, "gap", "gaps");
    return QStringLiteral("%1 moved: %2")
            .arg(counts.moved == 1 ? QStringLiteral("1 hide time") : QStringLiteral("%1 hide times").arg(counts.moved),
                 kinds.join(QStringLiteral(", ")));
}

namespace {

// A subtitle line Fix may move the hide time of.
struct FixLine
{
    CheckedLine times;
    qsizetype at = 0; // where the line starts in the text
    QStringView line;
};

// The edit that mends `cur` against the subtitle after it, if any.
bool fixOne(const FixLine &cur, const CheckedLine *next, const CheckRules &rules, double fps, FixCounts &counts,
            TextEdit &edit)
{
    const CheckedLine &s = cur.times;
    if (!s.ownHide || s.hide < s.show - slackSeconds
        || (s.format != FrameBased && s.format != BracketTime))
        return false;
    BracketParts parts;
    const bool frames = s.format == FrameBased;
    splitBracketLine(cur.line, frames ? u'{' : u'[', frames ? u'}' : u']', parts);
    // Only a plain number is rewritten: nothing else in the field is lost.
    const QStringView field = parts.end;
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (!(field[i].isDigit() && field[i].unicode() < 128) && !(i == 0 && field[i] == u'-' && field.size() > 1))
            return false;
    }
    const double units = frames ? fps : 10.0;
    const auto showUnits = std::llround(s.show * units);
    const auto hideUnits = std::llround(s.hide * units);
    constexpr qint64 none = std::numeric_limits<qint64>::max();
    const double gap = rules.limitOf(K::Gap) / fps;
    // As the checks find them: an overlap is no gap, whether it is looked
    // for or not.
    const bool inOrder = next && next->show >= s.show - slackSeconds;
    const bool overlapping = inOrder && next->show < s.hide - slackSeconds;
    const bool overlap = rules.looksFor(K::Overlap) && overlapping;
    const bool shortGap = rules.looksFor(K::Gap) && inOrder && !overlapping
            && (next->show - s.hide) * fps < rules.limitOf(K::Gap) - slackSeconds;
    qint64 latest = none;
    if (inOrder && rules.looksFor(K::Gap))
        latest = qint64(std::floor((next->show - gap) * units + 1e-9));
    else if (inOrder && rules.looksFor(K::Overlap))
        latest = qint64(std::floor(next->show * units + 1e-9));

    qint64 target = overlap || shortGap ? latest : hideUnits;
    const double minimum = rules.limitOf(K::TooShort);
    const bool tooShort = rules.looksFor(K::TooShort) && (s.hide - s.show) * 1000.0 < minimum - slackMs;
    if (rules.looksFor(K::TooShort) && double(target - showUnits) / units * 1000.0 < minimum - slackMs) {
        const auto least = qint64(std::ceil((s.show + minimum / 1000.0) * units - 1e-9));
        target = std::max(target, std::min(least, latest));
    }
    if (target <= showUnits) {
        // No room for the gap: the overlap goes at least.
        const auto nextShow = overlap ? qint64(std::floor(next->show * units + 1e-9)) : hideUnits;
        target = nextShow > showUnits ? nextShow : hideUnits;
    }
    if (target == hideUnits || target > std::numeric_limits<int>::max())
        return false;
    ++counts.moved;
    counts.overlaps += overlap;
    counts.gaps += shortGap;
    counts.tooShort += tooShort && target > hideUnits;
    edit = TextEdit{cur.at + (field.utf16() - cur.line.utf16()), field.size(), QString::number(target)};
    return true;
}

} // namespace

QList<TextEdit> hideTimeFixes(QStringView text, const CheckRules &rules, double fps, FixCounts &counts)
{
    SubEngine engine;
    engine.fps = fps;
    QList<TextEdit> edits;
    FixLine pending;
    bool anyPending = false;
    auto settle = [&](const CheckedLine *next) {
        TextEdit edit;
        if (anyPending && fixOne(pending, next, rules, readingRate(engine.fps), counts, edit))
            edits.append(edit);
    };
    qsizetype from = 0;
    for (qsizetype number = 0;; ++number) {
        const qsizetype end = text.indexOf(u'\n', from);
        const QStringView line = text.sliced(from, (end < 0 ? text.size() : end) - from);
        const CheckedLine times = readChecked(engine, line, number, number == 0, rules, nullptr);
        if (times.subtitle) {
            settle(&times);
            pending = FixLine{times, from, line};
            anyPending = true;
        }
        if (end < 0)
            break;
        from = end + 1;
    }
    settle(nullptr);
    return edits;
}

QString withEdits(QStringView text, const QList<TextEdit> &edits)
{
    QString result;
    result.reserve(text.size() + edits.size() * 4);
    qsizetype done = 0;
    for (const TextEdit &e : edits) {
        result += text.sliced(done, e.start - done);
        result += e.text;
        done = e.start + e.length;
    }
    result += text.sliced(done);
    return result;
}
