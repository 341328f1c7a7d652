#include "formats/carriedbytes.h"

#include <QStringDecoder>

void decodeCarryingStrayBytes(QByteArrayView bytes, QString &out)
{
    out.clear();
    out.reserve(bytes.size());
    // Stateless, and with the initial mark kept: every piece between stray
    // bytes is decoded on its own, and a mark there is a character.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless
                                   | QStringDecoder::Flag::ConvertInitialBom);
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    qsizetype start = 0, i = 0;
    while (i <= bytes.size()) {
        const int length = i < bytes.size() ? utf8SequenceLength(p + i, bytes.size() - i) : 0;
        if (length > 0) {
            i += length;
            continue;
        }
        out += decoder.decode(bytes.sliced(start, i - start));
        if (i < bytes.size())
            out += QChar(carriedUnit(p[i]));
        start = ++i;
    }
}

void encodeCarryingStrayBytes(QByteArray &out, QStringView text)
{
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        const bool carried = i < text.size() && isCarriedByte(text, i);
        if (i < text.size() && !carried)
            continue;
        out += text.sliced(start, i - start).toUtf8();
        if (carried)
            out += carriedByte(text[i].unicode());
        start = i + 1;
    }
}
