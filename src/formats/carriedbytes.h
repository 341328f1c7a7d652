// Bytes that are not UTF-8, carried through a text.
//
// A file or a file name need not be valid UTF-8. Each byte that is not part
// of a strict UTF-8 sequence travels through the program as one of the lone
// surrogates U+DC80..U+DCFF (byte 0x80 + n as U+DC80 + n), and is written
// back as that byte: the text goes back byte for byte, and two different
// inputs never become one. A U+DC80..U+DCFF that is the second half of a
// surrogate pair is a character like any other.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

constexpr char16_t carriedFirst = 0xDC80;
constexpr char16_t carriedLast = 0xDCFF;

// The unit that carries `byte` (0x80 or above: the bytes below are ASCII).
inline char16_t carriedUnit(unsigned char byte)
{
    return char16_t(carriedFirst + (byte - 0x80));
}
// Whether `unit` is in the carried range (a pair's second half is too).
inline bool inCarriedRange(char16_t unit)
{
    return unit >= carriedFirst && unit <= carriedLast;
}
// The byte `unit` carries.
inline char carriedByte(char16_t unit)
{
    return char(0x80 + (unit - carriedFirst));
}
// Whether `text[i]` carries a byte: in the range and no half of a pair.
inline bool isCarriedByte(QStringView text, qsizetype i)
{
    return inCarriedRange(text[i].unicode()) && (i == 0 || !text[i - 1].isHighSurrogate());
}

// Length of the strict UTF-8 sequence at `p` (`left` bytes on), or 0: no
// overlong forms, no surrogates, nothing past U+10FFFF, no sequence cut off.
inline int utf8SequenceLength(const unsigned char *p, qsizetype left)
{
    const unsigned c = p[0];
    int length;
    unsigned low = 0x80, high = 0xBF; // range of the second byte
    if (c < 0x80)
        return 1;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        low = c == 0xE0 ? 0xA0 : low;
        high = c == 0xED ? 0x9F : high;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        low = c == 0xF0 ? 0x90 : low;
        high = c == 0xF4 ? 0x8F : high;
    } else {
        return 0;
    }
    if (left < length || p[1] < low || p[1] > high)
        return 0;
    for (int i = 2; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
    }
    return length;
}

// `bytes` as text: UTF-8 decoded (a byte-order mark anywhere is a character
// like any other), every other byte carried.
void decodeCarryingStrayBytes(QByteArrayView bytes, QString &out);
// Appends `text` to `out` as UTF-8, each carried byte as itself.
void encodeCarryingStrayBytes(QByteArray &out, QStringView text);
