// Conversion, time shift and frame-rate change: the operations that change
// only the times of a line, and for the conversion its format.
#include "engine/subengine.h"

QString SubEngine::rewritten(QStringView line, double rate, int format, double show, double hide,
                             QStringView text, WalkCounts &counts)
{
    QString out;
    if (!writeSubtitleLine(format, show, hide, text, rate, out)) {
        counts.unwritten += format == ClockTwoDigitHours || format == ClockOneDigitHour;
        return line.toString();
    }
    return out;
}

QString SubEngine::convertFunction(QStringView line, QStringView /*next*/, WalkCounts &counts)
{
    int format;
    double show, hide;
    QStringView text;
    if (!readOwnLine(line, readingRate(fps), format, show, hide, text, counts))
        return line.toString();
    return rewritten(line, readingRate(fps), convert.format, show, hide, text, counts);
}

QString SubEngine::shiftTimeFunction(QStringView line, QStringView /*next*/, WalkCounts &counts)
{
    int format;
    double show, hide;
    QStringView text;
    if (!readOwnLine(line, readingRate(fps), format, show, hide, text, counts))
        return line.toString();
    // Nothing is clamped. An empty hide time (0) stays empty: shifted, it
    // would become a time of the shift's own, before the show time when
    // the shift is forward.
    if (shift.start)
        show += shift.seconds;
    if (shift.end && hide != 0.0)
        hide += shift.seconds;
    return rewritten(line, readingRate(fps), format, show, hide, text, counts);
}

QString SubEngine::fpsChangeFunction(QStringView line, QStringView /*next*/, WalkCounts &counts)
{
    // Frame numbers are read with one rate and written with the other.
    int format;
    double show, hide;
    QStringView text;
    if (!readOwnLine(line, fpsChange.from, format, show, hide, text, counts))
        return line.toString();
    return rewritten(line, fpsChange.to, format, show, hide, text, counts);
}

double SubEngine::notPast(QStringView next, double show, double hide) const
{
    // A look-ahead line that is no subtitle, or shows at 0 or before, sets
    // no limit; neither does one that shows no later than this one, which
    // would make this subtitle hide before it shows.
    int format;
    double nextShow = 0.0, nextHide;
    QStringView text;
    if (readLine(next, format, nextShow, nextHide, text) && hide > nextShow && nextShow > 0.0
        && nextShow > show)
        return nextShow;
    return hide;
}

QString SubEngine::showTimeChangeFunction(QStringView line, QStringView next, WalkCounts &counts)
{
    int format;
    double show, hide;
    QStringView text;
    if (!readOwnLine(line, readingRate(fps), format, show, hide, text, counts))
        return line.toString();
    if (showTime.writeEmptyEnd)
        return rewritten(line, readingRate(fps), format, show, 0.0, text, counts);
    // A line that keeps its hide time is not written again, so it keeps
    // the way its numbers were written too.
    if (showTime.onlyEmptyEnd && hide != 0.0)
        return line.toString();

    hide = showTime.lengthDependent ? show + getSubtitlesTime(text, showTime.seconds) : show + showTime.seconds;
    if (showTime.blockTooLong)
        hide = notPast(next, show, hide);
    return rewritten(line, readingRate(fps), format, show, hide, text, counts);
}
