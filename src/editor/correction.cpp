// Text correction. Every step is a single pass that builds the new text, so
// a long line costs time in proportion to its length, however many spaces
// it holds. Deleting "the run of spaces before" a character never deletes
// the character at index 0.
#include "editor/stringfunctions.h"
#include "editor/subengine.h"

namespace {

const char punctuation[] = ".,!?:;";
constexpr int punctuationCount = 6;

bool isPunctuation(QChar c)
{
    return charintab(c, punctuation, punctuationCount);
}

qsizetype skipSpaces(const QString &s, qsizetype i)
{
    while (i < s.size() && s[i] == u' ')
        ++i;
    return i;
}

// Spaces right before the character about to be appended go, except one
// standing at index 0.
void dropSpacesBefore(QString &out)
{
    qsizetype n = out.size();
    while (n > 1 && out[n - 1] == u' ')
        --n;
    out.truncate(n);
}

// One space after each punctuation mark and none before it; none after a
// mark that ends the text or a row, is followed by another mark, or stands
// inside a number ("3.50", "12:30").
QString fixPunctuationMarks(const QString &t)
{
    QString out;
    out.reserve(t.size() + t.size() / 8);
    qsizetype i = 0;
    while (i < t.size()) {
        const QChar c = t[i];
        if (!isPunctuation(c)) {
            out += c;
            ++i;
            continue;
        }
        i = skipSpaces(t, i + 1);
        dropSpacesBefore(out);
        out += c;
        if (i >= t.size())
            continue;
        const QChar next = t[i];
        const bool inNumber = (c == u'.' || c == u':') && out.size() >= 2
                && isAsciiDigit(out[out.size() - 2]) && isAsciiDigit(next);
        if (next != u'|' && !isPunctuation(next) && !inNumber)
            out += u' ';
    }
    return out;
}

// One space after the dash that opens a row of dialogue ("- Hi."). Only the
// first dash of a row counts, and only with nothing but spaces before it.
QString fixDialogueDashes(const QString &t)
{
    QString out;
    out.reserve(t.size() + 8);
    bool rowStart = true;
    qsizetype i = 0;
    while (i < t.size()) {
        const QChar c = t[i];
        if (c == u'|') {
            rowStart = true;
            out += c;
            ++i;
            continue;
        }
        if (rowStart && c != u' ' && c != u'-')
            rowStart = false;
        if (!rowStart || c != u'-') {
            out += c;
            ++i;
            continue;
        }
        i = skipSpaces(t, i + 1);
        dropSpacesBefore(out);
        out += c;
        if (i < t.size() && t[i] != u'|' && t[i] != u'-')
            out += u' ';
        rowStart = false;
    }
    return out;
}

// No leading spaces, and every run of spaces down to one (a run at the end
// too: it becomes one space, it is not deleted).
QString deleteDoubleSpaces(const QString &t)
{
    QString out;
    out.reserve(t.size());
    for (qsizetype i = skipSpaces(t, 0); i < t.size(); ++i) {
        out += t[i];
        if (t[i] == u' ')
            i = skipSpaces(t, i + 1) - 1;
    }
    return out;
}

// No spaces at the end of the text, nor after or before a row separator.
QString deleteEndSpaces(QString t)
{
    delendspc(t);
    QString afterBars;
    afterBars.reserve(t.size());
    for (qsizetype i = 0; i < t.size(); ++i) {
        afterBars += t[i];
        if (t[i] == u'|')
            i = skipSpaces(t, i + 1) - 1;
    }
    QString out;
    out.reserve(afterBars.size());
    for (QChar c : std::as_const(afterBars)) {
        if (c == u'|')
            dropSpacesBefore(out);
        out += c;
    }
    return out;
}

// A single space between two digits goes: "1 000 000" -> "1000000".
QString deleteDigitSpaces(const QString &t)
{
    QString out;
    out.reserve(t.size());
    for (qsizetype i = 0; i < t.size(); ++i) {
        const QChar c = t[i];
        if (c == u' ' && !out.isEmpty() && isAsciiDigit(out.back()) && i + 1 < t.size()
            && isAsciiDigit(t[i + 1]))
            continue;
        out += c;
    }
    return out;
}

} // namespace

QString SubEngine::correctFunction(QStringView line, QStringView next)
{
    int format;
    double show, hide;
    QStringView part;
    if (!readLine(line, format, show, hide, part))
        return line.toString();

    QString text = part.toString();
    if (fixPunctuation)
        text = fixPunctuationMarks(text);
    if (fixDashes)
        text = fixDialogueDashes(text);
    if (delDoubleSpaces)
        text = deleteDoubleSpaces(text);
    if (delEndSpaces)
        text = deleteEndSpaces(text);
    if (delDigitSpaces)
        text = deleteDigitSpaces(text);
    if (delColor)
        cutcolor(text);
    if (sustainTime) {
        const double nextShow = nextShowTime(next);
        if (hide > nextShow && nextShow > 0.0)
            hide = nextShow;
    }
    return rewritten(line, format, show, hide, text);
}
