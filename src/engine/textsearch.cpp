#include "engine/textsearch.h"

#include "engine/subengine.h"

#include <QLocale>

#include <utility>

QRegularExpression searchPattern(const QString &needle, const SearchOptions &options)
{
    QString pattern = options.regularExpression ? needle : QRegularExpression::escape(needle);
    // A whole word starts and ends nowhere inside a word: where the
    // needle's own end is punctuation ("17,", "{Y:i}") any neighbour will do.
    if (options.wholeWords)
        pattern = QStringLiteral("(?:(?<!\\w)|(?!\\w))(?:%1)(?:(?<!\\w)|(?!\\w))").arg(pattern);
    QRegularExpression::PatternOptions flags = QRegularExpression::UseUnicodePropertiesOption;
    if (!options.matchCase)
        flags |= QRegularExpression::CaseInsensitiveOption;
    return QRegularExpression(pattern, flags);
}

QString replacementFor(const QRegularExpressionMatch &match, const QString &replacement,
                       bool regularExpression)
{
    if (!regularExpression || !replacement.contains(u'\\'))
        return replacement;
    QString out;
    out.reserve(replacement.size());
    for (qsizetype i = 0; i < replacement.size(); ++i) {
        const QChar c = replacement[i];
        const QChar next = i + 1 < replacement.size() ? replacement[i + 1] : QChar();
        if (c == u'\\' && next >= u'0' && next <= u'9') {
            out += match.captured(next.digitValue());
            ++i;
        } else if (c == u'\\' && next == u'\\') {
            out += u'\\';
            ++i;
        } else {
            out += c;
        }
    }
    return out;
}

QList<TextEdit> replacementsInText(QStringView text, const QRegularExpression &pattern,
                                   const QString &replacement, bool regularExpression,
                                   const std::function<bool(qsizetype)> &goOn)
{
    QList<TextEdit> edits;
    if (!pattern.isValid())
        return edits;
    // Asked at every line (or match), so that a stop comes at once even
    // where a pattern takes long on each line.
    auto stopped = [&](qsizetype reached) {
        if (!goOn || goOn(reached))
            return false;
        edits.clear();
        return true;
    };
    if (!regularExpression) {
        // Literal text holds no line end, so no match spans one: one pass
        // over the whole text finds what one per line would.
        auto matches = pattern.globalMatch(text);
        while (matches.hasNext()) {
            const QRegularExpressionMatch match = matches.next();
            edits.append({match.capturedStart(), match.capturedLength(), replacement});
            if (stopped(match.capturedEnd()))
                return edits;
        }
        return edits;
    }
    for (qsizetype start = 0; start <= text.size();) {
        qsizetype end = text.indexOf(u'\n', start);
        if (end < 0)
            end = text.size();
        auto matches = pattern.globalMatch(text.sliced(start, end - start));
        while (matches.hasNext()) {
            const QRegularExpressionMatch match = matches.next();
            edits.append({start + match.capturedStart(), match.capturedLength(),
                          replacementFor(match, replacement, regularExpression)});
        }
        if (stopped(end))
            return edits;
        start = end + 1;
    }
    return edits;
}

namespace {

bool allDigits(QStringView s)
{
    if (s.isEmpty())
        return false;
    for (const QChar c : s) {
        if (c < u'0' || c > u'9')
            return false;
    }
    return true;
}

// "12", "12.5" or "12,5"; false for anything else.
bool readSeconds(QStringView s, double &value)
{
    const qsizetype point = s.indexOf(QRegularExpression(QStringLiteral("[.,]")));
    if (point < 0 ? !allDigits(s) : !allDigits(s.first(point)) || !allDigits(s.sliced(point + 1)))
        return false;
    bool ok = false;
    value = QLocale::c().toDouble(s.toString().replace(u',', u'.'), &ok);
    return ok;
}

// Calls `visit(lineNumber, line)` for each line until it returns true;
// returns that line's number, or -1.
template <typename Visit>
qsizetype firstLine(QStringView text, Visit &&visit)
{
    qsizetype number = 0;
    for (qsizetype start = 0; start <= text.size(); ++number) {
        qsizetype end = text.indexOf(u'\n', start);
        if (end < 0)
            end = text.size();
        if (visit(text.sliced(start, end - start)))
            return number;
        start = end + 1;
    }
    return -1;
}

// Whether `line` is the text's first (`first`, cleared here) and names
// the frame rate: that line is no subtitle.
bool isRateLine(QStringView line, bool &first)
{
    return std::exchange(first, false) && frameRateHeader(line) > 0.0;
}

} // namespace

GoToTarget parseGoToTarget(QStringView typed)
{
    const QStringView s = typed.trimmed();
    GoToTarget target;
    bool ok = false;
    if (s.startsWith(u'#') && allDigits(s.sliced(1))) {
        target.number = s.sliced(1).toLongLong(&ok);
        target.kind = ok && target.number > 0 ? GoToTarget::Subtitle : GoToTarget::Invalid;
        return target;
    }
    if (allDigits(s)) {
        target.number = s.toLongLong(&ok);
        target.kind = ok && target.number > 0 ? GoToTarget::Line : GoToTarget::Invalid;
        return target;
    }
    // [[h:]m:]s[.f]: minutes and seconds below 60 once a field stands before them.
    const QList<QStringView> fields = s.split(u':');
    if (fields.size() > 3)
        return target;
    double seconds = 0.0;
    if (!readSeconds(fields.last(), seconds) || (fields.size() > 1 && seconds >= 60.0))
        return target;
    double total = seconds, unit = 60.0;
    for (qsizetype i = fields.size() - 2; i >= 0; --i, unit *= 60.0) {
        if (!allDigits(fields[i]) || fields[i].size() > 9)
            return target;
        const int value = fields[i].toInt();
        if (i > 0 && value >= 60)
            return target;
        total += value * unit;
    }
    target.kind = GoToTarget::Time;
    target.seconds = total;
    return target;
}

qsizetype nthSubtitleLine(SubEngine &engine, QStringView text, qsizetype n)
{
    qsizetype seen = 0;
    int format = 0;
    double show = 0, hide = 0;
    QString part;
    bool first = true;
    return firstLine(text, [&](QStringView line) {
        return !isRateLine(line, first) && !line.isEmpty() && engine.getline(line, format, show, hide, part)
                && ++seen == n;
    });
}

qsizetype subtitleLineAtTime(SubEngine &engine, QStringView text, double seconds)
{
    int format = 0;
    double show = 0, hide = 0;
    QString part;
    bool first = true;
    return firstLine(text, [&](QStringView line) {
        return !isRateLine(line, first) && !line.isEmpty() && engine.getline(line, format, show, hide, part)
                && (show >= seconds || (hide > show && show <= seconds && seconds < hide));
    });
}
