#include "engine/stringfunctions.h"

QString &cutspacesright(QString &s, qsizetype p)
{
    if (p < 0 || p >= s.size())
        return s;
    qsizetype e = p;
    while (e < s.size() && s[e] == u' ')
        ++e;
    s.remove(p, e - p);
    return s;
}

QString &cutspacesleft(QString &s, qsizetype p)
{
    if (p <= 0 || p >= s.size() || s[p] != u' ')
        return s;
    qsizetype b = p;
    while (b > 1 && s[b - 1] == u' ')
        --b;
    s.remove(b, p - b + 1);
    return s;
}

void delendspc(QString &s)
{
    qsizetype n = s.size();
    while (n > 0 && s[n - 1] == u' ')
        --n;
    s.truncate(n);
}

bool numaround(const QString &s, qsizetype p)
{
    return p >= 1 && p + 1 < s.size() && isAsciiDigit(s[p - 1]) && isAsciiDigit(s[p + 1]);
}

int cutcolor(QString &s)
{
    // One pass from the left does what deleting the first group again and
    // again would, without moving the tail once per group.
    qsizetype open = s.indexOf(u'{');
    if (open < 0 || s.indexOf(u'}', open) < 0)
        return 0;
    QString out;
    out.reserve(s.size());
    qsizetype from = 0;
    while (open >= 0) {
        const qsizetype close = s.indexOf(u'}', open);
        if (close < 0)
            break;
        out.append(QStringView(s).sliced(from, open - from));
        from = close + 1;
        open = s.indexOf(u'{', from);
    }
    out.append(QStringView(s).sliced(from));
    s = out;
    return 1;
}

bool charintab(QChar c, const char *table, int n)
{
    for (int i = 0; i < n; ++i) {
        if (c == QLatin1Char(table[i]))
            return true;
    }
    return false;
}
