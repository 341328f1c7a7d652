#include "formats/numbers.h"

#include <cstdint>

static bool isCSpace(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r';
}

bool fieldToInt(QStringView field, int &value)
{
    qsizetype i = 0;
    const qsizetype n = field.size();
    while (i < n && isCSpace(field[i].unicode()))
        ++i;
    bool negative = false;
    if (i < n && (field[i] == u'+' || field[i] == u'-')) {
        negative = field[i] == u'-';
        ++i;
    }
    std::int64_t v = 0;
    for (; i < n; ++i) {
        const char16_t c = field[i].unicode();
        if (c < u'0' || c > u'9')
            break;
        v = v * 10 + (c - u'0');
        if (v > std::int64_t(INT32_MAX) + 1)
            return false;
    }
    if (negative)
        v = -v;
    if (v > INT32_MAX || v < INT32_MIN)
        return false;
    value = int(v);
    return true;
}

int clockFieldValue(QStringView field)
{
    // Most fields are a few plain digits; read those directly and leave
    // everything else (signs, blanks) to the toolkit's own rule.
    if (!field.isEmpty() && field.size() <= 9) {
        int v = 0;
        bool plain = true;
        for (QChar c : field) {
            if (c < u'0' || c > u'9') {
                plain = false;
                break;
            }
            v = v * 10 + (c.unicode() - u'0');
        }
        if (plain)
            return v;
    }
    // The toolkit's conversion stops at a NUL as at the end of the field;
    // here a NUL is a character like any other, so the field is no number.
    // A sign makes no number either: "-0" is not a clock's 0, and a clock
    // holds no time below zero.
    if (field.contains(QChar(0)) || field.contains(u'-') || field.contains(u'+'))
        return -1;
    bool ok = false;
    const int v = field.toInt(&ok, 10);
    return ok ? v : -1;
}

void appendInt(QString &out, int value)
{
    char16_t buf[12];
    int pos = 12;
    std::int64_t v = value;
    const bool negative = v < 0;
    if (negative)
        v = -v;
    do {
        buf[--pos] = char16_t(u'0' + v % 10);
        v /= 10;
    } while (v != 0);
    if (negative)
        buf[--pos] = u'-';
    out.append(reinterpret_cast<const QChar *>(buf + pos), 12 - pos);
}

QString clockField(int value)
{
    QString s;
    appendInt(s, value);
    if (s.size() == 1)
        s.prepend(u'0');
    return s;
}

bool roundToInt(double value, int &result)
{
    // Half away from zero: a whole number of units below zero comes back as
    // itself, where adding 0.5 and cutting toward zero moved it up by one.
    const double x = value < 0 ? value - 0.5 : value + 0.5;
    // Written so that NaN fails too.
    if (!(x > -2147483649.0 && x < 2147483648.0))
        return false;
    result = int(x);
    return true;
}
