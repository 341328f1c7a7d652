#include "formats/subrip.h"

#include "editor/subengine.h"

#include <QList>

#include <cmath>
#include <vector>

namespace {

// ---- Codes inside a line's text part ------------------------------------

enum class Scope { Row, Cue };

// A style that becomes a tag: 'i', 'b', 'u', or 'c' for a colour.
struct Style
{
    char kind;
    QString colour; // BBGGRR as the code writes it, for 'c'
};

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
bool codeStyles(QStringView code, Scope &scope, QList<Style> &styles)
{
    const QChar kind = code[1];
    const QStringView value = code.sliced(3, code.size() - 4);
    scope = kind.isUpper() ? Scope::Cue : Scope::Row;
    if (kind == u'y' || kind == u'Y') {
        QList<Style> found;
        for (QChar c : value) {
            if (c == u'i' || c == u'b' || c == u'u')
                found.append(Style{char(c.unicode()), QString()});
            else if (c != u',')
                return false;
        }
        if (found.isEmpty())
            return false;
        styles += found;
        return true;
    }
    if (kind == u'c' || kind == u'C') {
        if (value.size() != 7 || value[0] != u'$')
            return false;
        for (QChar c : value.sliced(1)) {
            if (!isHex(c))
                return false;
        }
        styles.append(Style{'c', value.sliced(1).toString()});
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
    for (QChar c : text) {
        if (c == u'&')
            out += QLatin1String("&amp;");
        else if (c == u'<')
            out += QLatin1String("&lt;");
        else if (c == u'>')
            out += QLatin1String("&gt;");
        else
            out += c;
    }
}

void openTags(QString &out, const QList<Style> &styles)
{
    for (const Style &s : styles) {
        if (s.kind == 'c') {
            // $BBGGRR -> #RRGGBB
            out += QLatin1String("<font color=\"#");
            out += QStringView(s.colour).sliced(4, 2);
            out += QStringView(s.colour).sliced(2, 2);
            out += QStringView(s.colour).sliced(0, 2);
            out += QLatin1String("\">");
        } else {
            out += u'<';
            out += QLatin1Char(s.kind);
            out += u'>';
        }
    }
}

void closeTags(QString &out, const QList<Style> &styles)
{
    for (qsizetype k = styles.size() - 1; k >= 0; --k) {
        if (styles[k].kind == 'c') {
            out += QLatin1String("</font>");
        } else {
            out += QLatin1String("</");
            out += QLatin1Char(styles[k].kind);
            out += u'>';
        }
    }
}

// The cue text of a line's text part: rows on lines of their own, codes as
// tags.
void appendCueText(QString &out, QStringView text, bool bracketTime, CueStyle style,
                   CueReport &report)
{
    struct Row
    {
        QList<Style> styles;
        QString text;
    };
    QList<Style> cueStyles;
    QList<Row> rows;
    for (QStringView part : text.tokenize(u'|')) {
        Row row;
        if (bracketTime && part.startsWith(u'/')) {
            row.styles.append(Style{'i', QString()});
            part = part.sliced(1);
        }
        qsizetype plainFrom = 0;
        for (qsizetype at = 0; at < part.size(); ++at) {
            const qsizetype length = part[at] == u'{' ? braceCodeLength(part.sliced(at)) : 0;
            if (length == 0)
                continue;
            row.text += part.sliced(plainFrom, at - plainFrom);
            Scope scope;
            QList<Style> styles;
            // WebVTT has no colour of its own without a style sheet.
            if (codeStyles(part.sliced(at, length), scope, styles)
                && !(style == CueStyle::WebVtt && styles.constLast().kind == 'c'))
                (scope == Scope::Cue ? cueStyles : row.styles) += styles;
            else
                ++report.droppedCodes;
            at += length - 1;
            plainFrom = at + 1;
        }
        row.text += part.sliced(plainFrom);
        if (row.text.trimmed().isEmpty())
            report.emptyRows += !text.isEmpty();
        else
            rows.append(std::move(row));
    }
    if (rows.isEmpty())
        return;
    openTags(out, cueStyles);
    for (qsizetype r = 0; r < rows.size(); ++r) {
        if (r > 0)
            out += u'\n';
        openTags(out, rows[r].styles);
        appendEscaped(out, rows[r].text, style);
        closeTags(out, rows[r].styles);
    }
    closeTags(out, cueStyles);
}

// ---- Times --------------------------------------------------------------

void appendDigits(QString &out, qint64 value, int width)
{
    char digits[24];
    int n = 0;
    do {
        digits[n++] = char('0' + value % 10);
        value /= 10;
    } while (value > 0);
    for (int k = n; k < width; ++k)
        out += u'0';
    while (n > 0)
        out += QLatin1Char(digits[--n]);
}

// HH:MM:SS,mmm (a point for WebVTT); hours take more digits when they need them.
void appendCueTime(QString &out, qint64 ms, CueStyle style)
{
    appendDigits(out, ms / 3600000, 2);
    out += u':';
    appendDigits(out, ms / 60000 % 60, 2);
    out += u':';
    appendDigits(out, ms / 1000 % 60, 2);
    out += style == CueStyle::SubRip ? u',' : u'.';
    appendDigits(out, ms % 1000, 3);
}

struct Subtitle
{
    qint64 show = 0;
    qint64 hide = -1; // none
    QString text;
    bool bracketTime = false;
};

} // namespace

QString exportCues(QStringView text, double fps, CueStyle style, CueReport &report)
{
    report = CueReport();
    SubEngine engine;
    engine.fps = fps;
    std::vector<Subtitle> subtitles;
    bool firstLine = true;
    for (QStringView line : text.tokenize(u'\n')) {
        if (firstLine) {
            firstLine = false;
            if (const double rate = frameRateHeader(line); rate > 0) {
                engine.fps = rate;
                continue;
            }
        }
        int format = NoFormat;
        double show = 0, hide = 0;
        Subtitle s;
        if (line.trimmed().isEmpty())
            continue;
        if (!engine.getline(line, format, show, hide, s.text)) {
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
        subtitles.push_back(std::move(s));
    }

    // The display time Set display times gives a subtitle with its defaults.
    SubEngine defaults;
    QString out;
    out.reserve(text.size() + qsizetype(subtitles.size()) * 40);
    if (style == CueStyle::WebVtt)
        out += QLatin1String("WEBVTT\n");
    for (size_t k = 0; k < subtitles.size(); ++k) {
        const Subtitle &s = subtitles[k];
        qint64 hide = s.hide;
        if (hide < 0) {
            const double display = defaults.lengthDependent
                    ? defaults.getSubtitlesTime(s.text, defaults.showSeconds)
                    : defaults.showSeconds;
            hide = s.show + std::llround(display * 1000.0);
            if (k + 1 < subtitles.size()) {
                const qint64 next = subtitles[k + 1].show;
                if (next > s.show && hide > next)
                    hide = next;
            }
            hide = std::max(hide, s.show + 1);
        }
        if (k > 0 || style == CueStyle::WebVtt)
            out += u'\n';
        appendDigits(out, qint64(k) + 1, 1);
        out += u'\n';
        appendCueTime(out, s.show, style);
        out += QLatin1String(" --> ");
        appendCueTime(out, hide, style);
        out += u'\n';
        const qsizetype before = out.size();
        appendCueText(out, s.text, s.bracketTime, style, report);
        if (out.size() > before)
            out += u'\n';
    }
    report.cues = qsizetype(subtitles.size());
    return out;
}

// ---- SubRip in ------------------------------------------------------------

namespace {

bool isBlank(QStringView line)
{
    return line.trimmed().isEmpty();
}

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
            rowStyles.prepend(Style{'i', QString()});
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
