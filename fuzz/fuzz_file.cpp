// Any bytes, read as a subtitle file and written back, read the same; where
// the lines all end alike they are the very same bytes, and mixed line ends
// all become the first line's.
#include "files/textcodec.h"
#include "fuzzsupport.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const SubtitleText text = decodeSubtitleBytes(bytes);
    QByteArray written;
    QString error;
    FUZZ_CHECK(encodeSubtitleText(text.text, text.format, written, &error));
    const bool mixed = text.format.lineEnds == LineEnds::Mixed;
    if (!mixed)
        FUZZ_CHECK(written == bytes);
    else if (text.format.encoding == u"UTF-8" || text.format.encoding == u"bytes")
        FUZZ_CHECK(written == savedForm(bytes, text.format.firstLineEnd == LineEnds::CRLF));
    // Read again in the same encoding, the saved bytes give the same text
    // (but where a CR that stood before a line end of a mixed file now
    // makes a CRLF).
    const SubtitleText again = decodeSubtitleBytes(written, text.format.encoding);
    FUZZ_CHECK(again.format.bom == text.format.bom && again.format.finalLineEnd == text.format.finalLineEnd);
    FUZZ_CHECK(again.text == text.text || (mixed && text.text.contains(u'\r')));
    return 0;
}

QList<QByteArray> fuzzFilePrefixes()
{
    return {QByteArray()};
}
