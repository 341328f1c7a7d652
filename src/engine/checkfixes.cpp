#include "engine/checks.h"

#include "engine/checkline.h"
#include "formats/bracketlayout.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

using K = CheckKind;

} // namespace

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
