#include "engine/checkrules.h"

#include <QList>

#include <cmath>

namespace {

using K = CheckKind;

// The defaults are those of the timed-text style guides that broadcasters
// and streaming services publish for adult programmes.
const std::array<CheckKindInfo, checkKindCount> table = {{
    {K::Overlap, "overlap", "overlap", "shows before the previous subtitle hides", nullptr, 0, 0, 0, 0, true},
    {K::Order, "order", "order", "shows before the previous subtitle shows", nullptr, 0, 0, 0, 0, false},
    {K::EndsBeforeStart, "ends-before-start", "ends before it starts", "its hide time comes before its show time",
     nullptr, 0, 0, 0, 0, false},
    {K::TooShort, "too-short", "too short", "shown less than %1 ms", "min-duration", 833, 0, 60000, 0, true},
    {K::TooLong, "too-long", "too long", "shown more than %1 ms", "max-duration", 7000, 100, 3600000, 0, false},
    {K::Gap, "gap", "gap", "less than %1 frames between a hide and the next show", "min-gap", 2, 0, 100, 2, true},
    {K::ReadingSpeed, "reading-speed", "reading speed", "more than %1 characters per second", "max-cps", 20, 1, 100, 1,
     false},
    {K::RowTooLong, "row-too-long", "row too long", "a row of more than %1 characters", "max-row-length", 42, 1, 1000,
     0, false},
    {K::TooManyRows, "too-many-rows", "too many rows", "more than %1 rows", "max-rows", 2, 1, 100, 0, false},
    {K::Empty, "empty", "empty", "a subtitle with no text", nullptr, 0, 0, 0, 0, false},
    {K::UnknownCode, "unknown-code", "unknown style code", "a {...} code the line formats do not know", nullptr,
     0, 0, 0, 0, false},
}};

// A plain decimal number, digits with at most `decimals` after a point.
bool readLimit(QStringView text, int decimals, double &value)
{
    const qsizetype point = text.indexOf(u'.');
    const QStringView whole = point < 0 ? text : text.first(point);
    const QStringView fraction = point < 0 ? QStringView() : text.sliced(point + 1);
    auto digits = [](QStringView s) {
        for (QChar c : s) {
            if (c < u'0' || c > u'9')
                return false;
        }
        return !s.isEmpty();
    };
    if (!digits(whole) || (point >= 0 && (!digits(fraction) || fraction.size() > decimals)))
        return false;
    value = text.toDouble();
    return true;
}

} // namespace

const std::array<CheckKindInfo, checkKindCount> &checkKinds()
{
    return table;
}

bool kindNamed(QStringView word, CheckKind &kind, bool byLimit)
{
    for (const CheckKindInfo &info : table) {
        const char *name = byLimit ? info.limitName : info.word;
        if (name && word == QLatin1String(name)) {
            kind = info.kind;
            return true;
        }
    }
    return false;
}

QString limitText(double value)
{
    if (value == std::floor(value) && std::abs(value) < 1e15)
        return QString::number(qint64(value));
    return QString::number(value, 'g', 10);
}

CheckRules::CheckRules()
{
    on.fill(true);
    for (const CheckKindInfo &info : table)
        limit[size_t(info.kind)] = info.defaultLimit;
}

bool setRule(CheckRules &rules, QStringView name, QStringView value, RuleProblem *problem)
{
    auto fail = [&](RuleProblem::Kind kind) {
        if (problem)
            *problem = {kind, 0, name.toString(), value.toString(), 0, QString(), QString()};
        return false;
    };
    CheckKind kind;
    if (kindNamed(name, kind, true)) {
        const CheckKindInfo &info = kindInfo(kind);
        double number = 0;
        if (!readLimit(value, info.decimals, number)) {
            fail(info.decimals == 0 ? RuleProblem::NotWholeNumber : RuleProblem::TooManyDecimals);
            if (problem)
                problem->decimals = info.decimals;
            return false;
        }
        if (number < info.lowest || number > info.highest) {
            fail(RuleProblem::OutsideRange);
            if (problem) {
                problem->lowest = limitText(info.lowest);
                problem->highest = limitText(info.highest);
            }
            return false;
        }
        rules.limit[size_t(kind)] = number;
        return true;
    }
    if (kindNamed(name, kind)) {
        if (value != u"on" && value != u"off")
            return fail(RuleProblem::NeitherOnNorOff);
        rules.on[size_t(kind)] = value == u"on";
        return true;
    }
    return fail(RuleProblem::NoSuchRule);
}

QString rulesToText(const CheckRules &rules)
{
    QString text = QStringLiteral("# Tarnlyx check rules: a limit is NAME = NUMBER, a kind of problem WORD = on or off.\n");
    for (const CheckKindInfo &info : table) {
        if (info.limitName) {
            text += QStringLiteral("%1 = %2\n")
                            .arg(QLatin1String(info.limitName), limitText(rules.limitOf(info.kind)));
        }
    }
    for (const CheckKindInfo &info : table) {
        text += QStringLiteral("%1 = %2\n")
                        .arg(QLatin1String(info.word), rules.looksFor(info.kind) ? QStringLiteral("on")
                                                                                 : QStringLiteral("off"));
    }
    return text;
}

bool rulesFromText(QStringView text, CheckRules &rules, RuleProblem *problem)
{
    CheckRules read = rules;
    qsizetype number = 0;
    for (QStringView line : text.split(u'\n')) {
        ++number;
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        const qsizetype equals = line.indexOf(u'=');
        RuleProblem why{RuleProblem::NotNameValue, 0, line.toString(), QString(), 0, QString(), QString()};
        if (equals >= 0 && setRule(read, line.first(equals).trimmed(), line.sliced(equals + 1).trimmed(), &why))
            continue;
        why.line = number;
        if (problem)
            *problem = why;
        return false;
    }
    rules = read;
    return true;
}
