// SubRip in: cues become lines, their tags the text parts' codes.
#include "formats/cueparts.h"
#include "formats/lineformat.h"

#include <QList>

#include <algorithm>

using namespace cues;

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
                  CueProblem *problem, qsizetype firstLine)
{
    report = CueReport();
    const QList<QStringView> lines = text.split(u'\n');
    auto fail = [&](qsizetype index, CueProblem::Kind kind, QStringView what = {}) {
        if (problem)
            *problem = {kind, firstLine + index + 1, what.toString()};
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
            return fail(k, CueProblem::NoCueNumber, lines[k].left(40));
        const qsizetype numberLine = k++;
        qint64 show = 0, hide = 0;
        if (k >= lines.size() || !readTimeLine(lines[k], show, hide))
            return fail(k < lines.size() ? k : numberLine, CueProblem::NoTimeLine, lines[numberLine].trimmed());
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
            return fail(timeLine, CueProblem::TimesTooLarge);
        if (report.cues++ > 0)
            result += u'\n';
        result += line;
    }
    out = std::move(result);
    return true;
}
