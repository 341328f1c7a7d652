// Whole seconds as clock fields, and the display time a text needs.
#include "formats/lineformat.h"
#include "formats/numbers.h"

#include <QTextBoundaryFinder>

void SecToTime(int seconds, QString &hours, QString &minutes, QString &secs)
{
    int h, m, s;
    splitSeconds(seconds, h, m, s);
    hours = clockField(h);
    minutes = clockField(m);
    secs = clockField(s);
}

// Characters as a reader sees them: a base letter with its combining marks,
// or a surrogate pair, is one. Text without such code points is counted by
// its length, which is the common case and much cheaper.
qsizetype visibleLength(QStringView text)
{
    bool plain = true;
    for (QChar c : text) {
        if (c.unicode() >= 0x0300) {
            plain = false;
            break;
        }
    }
    if (plain)
        return text.size();
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text.data(), text.size());
    qsizetype count = 0;
    while (finder.toNextBoundary() != -1)
        ++count;
    return count;
}

double getSubtitlesTime(QStringView text, double factor)
{
    return 2.0 + (double(visibleLength(text)) / 50.0) * factor;
}
