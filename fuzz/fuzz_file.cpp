// Any bytes, read as a subtitle file and written back, give the same bytes
// (but CRLF and the final line feed).
#include "files/subtitlefile.h"
#include "fuzzsupport.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const SubtitleText text = decodeSubtitleBytes(bytes);
    QByteArray written;
    QString error;
    FUZZ_CHECK(encodeSubtitleText(text.text, text.encoding, text.bom, written, &error));
    FUZZ_CHECK(written == savedForm(bytes));
    return 0;
}

QList<QByteArray> fuzzFilePrefixes()
{
    return {QByteArray()};
}
