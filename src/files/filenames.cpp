#include "files/filenames.h"

#include "files/textcodec.h"

// Bytes that are not UTF-8 are carried as U+DC80..U+DCFF.
static constexpr char16_t carriedFirst = 0xDC80;

QString nameFromNative(QByteArrayView bytes)
{
    QString name;
    name.reserve(bytes.size());
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    qsizetype i = 0;
    while (i < bytes.size()) {
        const int length = utf8SequenceLength(p + i, bytes.size() - i);
        if (length == 0) {
            name += QChar(char16_t(carriedFirst + (p[i] - 0x80)));
            ++i;
        } else {
            // By hand: a decoder would take U+FEFF for a byte-order mark
            // and drop it from the name.
            char32_t c = length == 1 ? p[i] : p[i] & (0x7F >> length);
            for (int k = 1; k < length; ++k)
                c = (c << 6) | (p[i + k] & 0x3F);
            name += QChar::fromUcs4(c);
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
