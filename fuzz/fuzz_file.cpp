// Any bytes, read as a subtitle file and written back, read the same; in
// UTF-8 and as bytes they are the same bytes (but CRLF and the final line
// end).
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
    // Read again in the same encoding, the saved bytes give the same text
    // (but a CR that the save puts before a line end, and an empty last
    // line, which has no line end after it to be read by).
    const SubtitleText again = decodeSubtitleBytes(written, text.format.encoding);
    const QString expected = text.text.endsWith(u'\n') ? text.text.chopped(1) : text.text;
    FUZZ_CHECK(again.format.bom == text.format.bom && (again.text == expected || text.text.contains(u'\r')));
    // Where lines end at LF bytes, the save changes nothing else.
    if (text.format.encoding == u"UTF-8" || text.format.encoding == u"bytes")
        FUZZ_CHECK(written == savedForm(bytes, text.format.lineEnds == LineEnds::CR));
    return 0;
}

QList<QByteArray> fuzzFilePrefixes()
{
    return {QByteArray()};
}
