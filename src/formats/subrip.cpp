#include "formats/subrip.h"

#include "editor/subengine.h"

#include <QList>
#include <QVarLengthArray>

#include <cmath>
#include <vector>

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

// Length of the brace code at the start of `s` ({x:...}), or 0 for braces
// that are text.
qsizetype braceCodeLength(QStringView s)
{
    if (s.size() < 4 || s[0] != u'{' || !isAsciiLetter(s[1]) || s[2] != u':')
        return 0;
    const qsizetype close = s.indexOf(u'}', 3);
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

void appendEscaped(QString &out, QStringView text, CueStyle style)
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

void openTags(QString &out, const Styles &styles)
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

void closeTags(QString &out, const Styles &styles)
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
        if (!c.isSpace())
            return false;
    }
    return true;
}

// One row of a line's text part: its codes taken out (and, with `write`,
// its text appended to `out`). Codes of the whole subtitle go to `cue`,
// when given; WebVTT has no colour of its own without a style sheet, so
// there a colour counts as dropped. Returns whether the row shows anything.
bool readRow(QStringView row, bool bracketTime, CueStyle style, Styles &rowStyles, Styles *cue,
             qsizetype *dropped, QString *out)
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
    for (qsizetype at = row.indexOf(u'{'); at >= 0; at = row.indexOf(u'{', at)) {
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
void appendCueText(QString &out, QStringView text, bool bracketTime, CueStyle style,
                   CueReport &report)
{
    // Codes for the whole subtitle may stand in any row.
    Styles cueStyles;
    const bool codes = text.contains(u'{');
    if (codes) {
        for (QStringView row : text.tokenize(u'|')) {
            Styles ignored;
            readRow(row, bracketTime, style, ignored, &cueStyles, nullptr, nullptr);
        }
    }
    bool first = true;
    for (QStringView row : text.tokenize(u'|')) {
        Styles rowStyles;
        if (!readRow(row, bracketTime, style, rowStyles, nullptr, &report.droppedCodes, nullptr)) {
            report.emptyRows += !text.isEmpty();
            continue;
        }
        if (first)
            openTags(out, cueStyles);
        else
            out += u'\n';
        first = false;
        openTags(out, rowStyles);
        if (codes || (bracketTime && row.startsWith(u'/'))) {
            Styles again;
            readRow(row, bracketTime, style, again, nullptr, nullptr, &out);
        } else {
            appendEscaped(out, row, style);
        }
        closeTags(out, rowStyles);
    }
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
    qsizetype k = putDigits(to, ms / 3600000, 2);
    to[k++] = u':';
    k += putDigits(to + k, ms / 60000 % 60, 2);
    to[k++] = u':';
    k += putDigits(to + k, ms / 1000 % 60, 2);
    to[k++] = style == CueStyle::SubRip ? u',' : u'.';
    k += putDigits(to + k, ms % 1000, 3);
    return k;
}

struct Subtitle
{
    qint64 show = 0;
    qint64 hide = -1; // none
    QStringView text;
    bool bracketTime = false;
};

// Writes one cue; `next` is the show time of the subtitle after it, or -1.
void appendCue(QString &out, qint64 number, const Subtitle &s, qint64 next, CueStyle style,
               const SubEngine &defaults, CueReport &report)
{
    qint64 hide = s.hide;
    if (hide < 0) {
        // The display time Set display times gives a subtitle with its
        // defaults, but not past the next subtitle, nor before this one.
        const double display = defaults.lengthDependent
                ? defaults.getSubtitlesTime(s.text, defaults.showSeconds)
                : defaults.showSeconds;
        hide = s.show + std::llround(display * 1000.0);
        if (next > s.show && hide > next)
            hide = next;
        hide = std::max(hide, s.show + 1);
    }
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
    appendCueText(out, s.text, s.bracketTime, style, report);
    if (out.size() > before)
        out += u'\n';
}

} // namespace

QString exportCues(QStringView text, double fps, CueStyle style, CueReport &report)
{
    report = CueReport();
    SubEngine engine;
    engine.fps = fps;
    const SubEngine defaults;
    QString out;
    out.reserve(text.size() + text.size() / 2);
    if (style == CueStyle::WebVtt)
        out += QLatin1String("WEBVTT\n");
    // A cue is written once the subtitle after it is known.
    Subtitle pending;
    bool havePending = false;
    bool firstLine = true;
    for (QStringView line : text.tokenize(u'\n')) {
        if (firstLine) {
            firstLine = false;
            if (const double rate = frameRateHeader(line); rate > 0) {
                engine.fps = rate;
                continue;
            }
        }
        if (isBlank(line))
            continue;
        int format = NoFormat;
        double show = 0, hide = 0;
        Subtitle s;
        if (!engine.readLine(line, format, show, hide, s.text)) {
            ++report.notSubtitles;
            continue;
        }
        // Back to the whole numbers of the line, then to milliseconds, so
        // that a frame time rounds from its exact value.
        auto toMs = [&](double seconds) -> qint64 {
            switch (format) {
            case FrameBased:
                return std::llround(double(std::llround(seconds * engine.fps)) * 1000.0 / engine.fps);
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
        if (havePending)
            appendCue(out, ++report.cues, pending, s.show, style, defaults, report);
        pending = s;
        havePending = true;
    }
    if (havePending)
        appendCue(out, ++report.cues, pending, -1, style, defaults, report);
    return out;
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
                  QString *error)
{
    report = CueReport();
    SubEngine engine;
    engine.fps = fps;
    const QList<QStringView> lines = text.split(u'\n');
    auto fail = [&](qsizetype index, const QString &what) {
        if (error)
            *error = QStringLiteral("line %1: %2").arg(index + 1).arg(what);
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
        if (!engine.putline(format, show / 1000.0, hide / 1000.0, textPart, line))
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
