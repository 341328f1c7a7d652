// Small in-place edits of a subtitle's text part. A space is U+0020 only and
// a digit is an ASCII digit: every other character is left alone.
#pragma once

#include <QString>

// Deletes the run of spaces that begins at `p`.
QString &cutspacesright(QString &s, qsizetype p);
// Deletes the run of spaces that ends at `p`, scanning leftward, but never
// the character at index 0.
QString &cutspacesleft(QString &s, qsizetype p);
// Deletes every space at the end of `s`.
void delendspc(QString &s);
// Whether the characters either side of `p` are both digits.
bool numaround(const QString &s, qsizetype p);
// Deletes every {...} group: each "{" up to the first "}" after it. A "{"
// with no "}" after it stays, with the rest of the text. 1 if any went.
int cutcolor(QString &s);
// Whether `c` is one of the first `n` characters of `table`.
bool charintab(QChar c, const char *table, int n);

inline bool isAsciiDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}
