// Clock-time lines: hh:mm:ss:text or h:mm:ss:text, a show time only.
#include "formats/clocklayout.h"
#include "formats/lineformat.h"
#include "formats/numbers.h"

void readClockLine(QStringView line, ClockParts &parts)
{
    QStringView rest = line;

    // Hours and minutes each run to the next ":"; without one the field is
    // the whole rest, and the rest stays as it was for the next field.
    auto colonField = [&rest]() {
        const qsizetype colon = rest.indexOf(u':');
        if (colon < 0)
            return clockFieldValue(rest);
        const int value = clockFieldValue(rest.first(colon));
        rest = rest.sliced(colon + 1);
        return value;
    };
    parts.hours = colonField();
    parts.minutes = colonField();

    // Seconds end at the first ":", "=" or " "; that separator is dropped.
    qsizetype end = -1;
    for (qsizetype i = 0; i < rest.size(); ++i) {
        const QChar c = rest[i];
        if (c == u':' || c == u'=' || c == u' ') {
            end = i;
            break;
        }
    }
    if (end < 0) {
        parts.seconds = clockFieldValue(rest);
        parts.text = QStringView();
    } else {
        parts.seconds = clockFieldValue(rest.first(end));
        parts.text = rest.sliced(end + 1);
    }
    parts.style = (line.size() > 1 && line[1] == u':') ? ClockOneDigitHour : ClockTwoDigitHours;
}

int _getstarttime(QStringView line, int &style, int &hours, int &minutes, int &seconds,
                  QString *text)
{
    ClockParts parts;
    readClockLine(line, parts);
    style = parts.style;
    hours = parts.hours;
    minutes = parts.minutes;
    seconds = parts.seconds;
    if (text)
        *text = parts.text.toString();
    return 1;
}

int _isTIMElinecorrect(QStringView line)
{
    if (line.isEmpty())
        return 1;
    ClockParts parts;
    readClockLine(line, parts);
    return parts.valid() ? 1 : 0;
}

int _puttimeline(int style, int hours, int minutes, int seconds, QStringView text, QString &out)
{
    if (style != ClockTwoDigitHours && style != ClockOneDigitHour)
        return 0;
    out.clear();
    out.reserve(text.size() + 16);
    if (style == ClockTwoDigitHours)
        out += clockField(hours);
    else
        appendInt(out, hours);
    out += u':';
    out += clockField(minutes);
    out += u':';
    out += clockField(seconds);
    out += u':';
    out += text;
    return 1;
}
