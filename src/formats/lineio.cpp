// The single door between the line operations and the three line formats.
#include "formats/bracketlayout.h"
#include "formats/clocklayout.h"
#include "formats/lineformat.h"
#include "formats/numbers.h"

#include <QDebug>

#include <algorithm>
#include <cstdint>

bool readSubtitleLine(QStringView line, double fps, int &format, double &show, double &hide,
                      QStringView &text)
{
    fps = readingRate(fps);
    BracketParts bracket;
    auto readBracket = [&](int code, double unitsPerSecond) {
        int start = 0, end = 0;
        if (!fieldToInt(bracket.start, start) || !fieldToInt(bracket.end, end))
            return false;
        show = start / unitsPerSecond;
        hide = end / unitsPerSecond;
        text = bracket.text;
        format = code;
        return true;
    };
    if (splitBracketLine(line, u'{', u'}', bracket)) {
        if (readBracket(FrameBased, fps))
            return true;
    } else if (splitBracketLine(line, u'[', u']', bracket)) {
        if (readBracket(BracketTime, 10.0))
            return true;
    } else if (ClockParts clock; readClockLine(line, clock), clock.valid()) {
        const std::int64_t total = std::int64_t(clock.hours) * 3600
                + std::int64_t(clock.minutes) * 60 + clock.seconds;
        if (total <= INT32_MAX) {
            format = clock.style;
            show = double(total);
            hide = 0.0;
            text = clock.text;
            return true;
        }
    }
    format = NoFormat;
    return false;
}

bool writeSubtitleLine(int format, double show, double hide, QStringView text, double fps,
                       QString &out)
{
    int start = 0, end = 0;
    switch (format) {
    case FrameBased:
        if (!roundToInt(show * fps, start) || !roundToInt(hide * fps, end))
            return false;
        return _putfrmline(start, end, text, out) == 1;
    case BracketTime:
        if (!roundToInt(show * 10.0, start) || !roundToInt(hide * 10.0, end))
            return false;
        return _putMPLline(start, end, text, out) == 1;
    case ClockTwoDigitHours:
    case ClockOneDigitHour: {
        int seconds = 0;
        if (!roundToInt(show, seconds) || seconds < 0)
            return false;
        int h, m, s;
        splitSeconds(seconds, h, m, s);
        return _puttimeline(format, h, m, s, text, out) == 1;
    }
    default:
        qDebug("putline(): 'format' parametr error!!!");
        return false;
    }
}

double frameRateHeader(QStringView firstLine)
{
    BracketParts parts;
    if (!splitBracketLine(firstLine, u'{', u'}', parts) || parts.start != parts.end
        || (parts.start != u"0" && parts.start != u"1"))
        return 0.0;
    const QStringView rate = parts.text;
    qsizetype points = 0, digits = 0;
    for (const QChar c : rate) {
        if (c == u'.')
            ++points;
        else if (c >= u'0' && c <= u'9')
            ++digits;
        else
            return 0.0;
    }
    if (points > 1 || digits == 0 || rate.startsWith(u'.') || rate.endsWith(u'.'))
        return 0.0;
    const double value = rate.toDouble();
    return value >= 1.0 && value <= 200.0 ? value : 0.0;
}

QString frameRateLine(QStringView line, double rate)
{
    BracketParts parts;
    splitBracketLine(line, u'{', u'}', parts);
    const qsizetype point = parts.text.indexOf(u'.');
    const int had = point < 0 ? 0 : int(parts.text.size() - point - 1);
    // The fewest decimals that give the rate to a thousandth: 25 needs
    // none, 23.976 three, 29.97002997 two.
    int needs = 3;
    while (needs > 0 && QString::number(rate, 'f', needs).endsWith(u'0'))
        --needs;
    QString out;
    out.reserve(line.size() + 4);
    out += u'{';
    out += parts.start;
    out += QStringLiteral("}{");
    out += parts.end;
    out += u'}';
    out += QString::number(rate, 'f', std::max(had, needs));
    return out;
}
