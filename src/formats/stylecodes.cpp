#include "formats/stylecodes.h"

namespace {

bool styleLetters(QStringView value)
{
    bool any = false;
    for (QChar c : value) {
        if (c == u'i' || c == u'b' || c == u'u' || c == u's')
            any = true;
        else if (c != u',')
            return false;
    }
    return any;
}

bool colour(QStringView value)
{
    if (value.size() != 7 || value[0] != u'$')
        return false;
    for (QChar c : value.sliced(1)) {
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F')))
            return false;
    }
    return true;
}

bool name(QStringView value)
{
    return !value.trimmed().isEmpty();
}

bool digits(QStringView value)
{
    if (value.isEmpty())
        return false;
    for (QChar c : value) {
        if (c < u'0' || c > u'9')
            return false;
    }
    return true;
}

struct KnownCode
{
    char16_t letter;
    bool (*value)(QStringView);
};

// The one list of the codes the formats know; each in both cases.
constexpr KnownCode knownCodes[] = {
    {u'y', styleLetters},
    {u'c', colour},
    {u'f', name},
    {u's', digits},
};

} // namespace

qsizetype braceGroupLength(QStringView s)
{
    if (s.isEmpty() || s[0] != u'{')
        return 0;
    const qsizetype close = s.indexOf(u'}', 1);
    return close < 0 ? 0 : close + 1;
}

bool isKnownStyleCode(QStringView code)
{
    if (code.size() < 4 || code[2] != u':')
        return false;
    char16_t letter = code[1].unicode();
    if (letter >= u'A' && letter <= u'Z')
        letter += u'a' - u'A';
    for (const KnownCode &known : knownCodes) {
        if (known.letter == letter)
            return known.value(code.sliced(3, code.size() - 4));
    }
    return false;
}
