#include "files/filenames.h"

#include <cstring>

namespace {

constexpr char16_t carriedFirst = 0xDC80;

// Length of the valid UTF-8 sequence at `p`, or 0.
int sequenceLength(const unsigned char *p, qsizetype left)
{
    const unsigned c = p[0];
    int length;
    unsigned low = 0x80, high = 0xBF;
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

} // namespace

QString nameFromNative(QByteArrayView bytes)
{
    QString name;
    name.reserve(bytes.size());
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    qsizetype i = 0;
    while (i < bytes.size()) {
        const int length = sequenceLength(p + i, bytes.size() - i);
        if (length == 0) {
            name += QChar(char16_t(carriedFirst + (p[i] - 0x80)));
            ++i;
        } else {
            name += QString::fromUtf8(bytes.sliced(i, length));
            i += length;
        }
    }
    return name;
}

QByteArray nameToNative(const QString &name)
{
    QByteArray bytes;
    bytes.reserve(name.size());
    qsizetype start = 0;
    for (qsizetype i = 0; i <= name.size(); ++i) {
        const bool carried = i < name.size() && name[i].unicode() >= carriedFirst
                && name[i].unicode() <= 0xDCFF
                && (i == 0 || !name[i - 1].isHighSurrogate());
        if (i < name.size() && !carried)
            continue;
        bytes += QStringView(name).sliced(start, i - start).toUtf8();
        if (carried)
            bytes += char(0x80 + (name[i].unicode() - carriedFirst));
        start = i + 1;
    }
    return bytes;
}

QString shownName(const QString &name)
{
    QString shown;
    shown.reserve(name.size());
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        if (c >= carriedFirst && c <= 0xDCFF && (i == 0 || !name[i - 1].isHighSurrogate()))
            shown += QStringLiteral("\\x") + QString::number(c - carriedFirst + 0x80, 16).toUpper();
        else
            shown += name[i];
    }
    return shown;
}

QString systemReason(int errnum)
{
    return QString::fromLocal8Bit(std::strerror(errnum));
}
