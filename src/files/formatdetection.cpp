#include "files/formatdetection.h"

#include "files/knownencodings.h"
#include "files/textcodec.h"
#include "formats/carriedbytes.h"

#include <uchardet/uchardet.h>

#include <algorithm>
#include <cstring>

namespace {

// The encoding the user's language is most often written in, for a file
// that detection cannot place.
QString fallbackEncoding()
{
    QByteArray locale;
    for (const char *variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        locale = qgetenv(variable);
        if (!locale.isEmpty())
            break;
    }
    static const struct
    {
        const char *prefixes;
        const char *encoding;
    } byLanguage[] = {
        {"pl cs sk hu hr sl ro", "windows-1250"}, {"ru uk bg sr be", "windows-1251"},
        {"el", "windows-1253"},                   {"ja", "Shift_JIS"},
        {"zh_CN zh_SG", "GB18030"},               {"zh_TW zh_HK", "Big5"},
        {"ko", "EUC-KR"},
    };
    for (const auto &entry : byLanguage) {
        for (const QByteArray &prefix : QByteArray(entry.prefixes).split(' ')) {
            if (locale.startsWith(prefix) && (locale.size() == prefix.size() || !QChar::isLetter(locale[prefix.size()])))
                return QLatin1String(entry.encoding);
        }
    }
    return QStringLiteral("windows-1252");
}

// Multi-byte UTF-8 sequences, and bytes that break UTF-8, in `bytes`.
struct Utf8Counts
{
    qsizetype sequences = 0, stray = 0;
    bool mostlyUtf8() const { return sequences >= 4 && sequences >= 10 * stray; }
};

// Walks `bytes` one UTF-8 sequence at a time (eight ASCII bytes at a stride)
// and hands `visit` the length of each sequence that is not ASCII, 0 for a
// byte that breaks UTF-8; stops early when `visit` returns false.
template <typename Visit>
void walkUtf8(QByteArrayView bytes, Visit &&visit)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const auto *const end = p + bytes.size();
    while (p < end) {
        if (end - p >= 8) {
            quint64 word;
            std::memcpy(&word, p, 8);
            if ((word & 0x8080808080808080ull) == 0) {
                p += 8;
                continue;
            }
        }
        const int length = utf8SequenceLength(p, end - p);
        if (length != 1 && !visit(length))
            return;
        p += length == 0 ? 1 : length;
    }
}

Utf8Counts countUtf8(QByteArrayView bytes)
{
    Utf8Counts counts;
    walkUtf8(bytes, [&](int length) {
        ++(length == 0 ? counts.stray : counts.sequences);
        return true;
    });
    return counts;
}

// Index of the first byte of `bytes` whose entry in `table` is set, or -1.
// A block at a time, without a branch per byte: most files hold none.
qsizetype firstByteIn(const unsigned char (&table)[256], QByteArrayView bytes)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const qsizetype n = bytes.size();
    constexpr qsizetype block = 4096;
    for (qsizetype start = 0; start < n; start += block) {
        const qsizetype end = std::min(n, start + block);
        unsigned a = 0, b = 0, c = 0, d = 0;
        qsizetype i = start;
        for (; i + 4 <= end; i += 4) {
            a |= table[p[i]];
            b |= table[p[i + 1]];
            c |= table[p[i + 2]];
            d |= table[p[i + 3]];
        }
        for (; i < end; ++i)
            a |= table[p[i]];
        if ((a | b | c | d) == 0)
            continue;
        for (i = start;; ++i) {
            if (table[p[i]])
                return i;
        }
    }
    return -1;
}

// Whether bytes that are not strictly UTF-8 are UTF-8 all the same, with
// a few stray bytes: at least four multi-byte sequences, and at least ten
// of them for every byte that breaks UTF-8. A windows-1252 "café" has none.
// A file whose first 64 KiB (what detection looks at) are not mostly UTF-8
// is not counted further: most files in another encoding stop there.
bool isUtf8WithStrayBytes(QByteArrayView bytes)
{
    const qsizetype sample = qsizetype(1) << 16;
    if (bytes.size() > sample && !countUtf8(bytes.first(sample)).mostlyUtf8())
        return false;
    const Utf8Counts counts = countUtf8(bytes);
    return counts.stray > 0 && counts.mostlyUtf8();
}

// Index of the first byte that is not UTF-8, or the size.
qsizetype firstStrayByte(QByteArrayView bytes)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    qsizetype i = 0;
    while (i < bytes.size()) {
        const int length = utf8SequenceLength(p + i, bytes.size() - i);
        if (length == 0)
            break;
        i += length;
    }
    return i;
}

// An ISO-8859 answer stands for the windows code page of the same script
// when both read the file alike: the windows page is what such files are
// written in, and a letter typed later is stored as its byte. Where the
// bytes tell them apart, the answer stays.
QString windowsPageFirst(const QString &iso, QByteArrayView content)
{
    static const char *const pairs[][2] = {
        {"ISO-8859-1", "windows-1252"},  {"ISO-8859-15", "windows-1252"},
        {"ISO-8859-2", "windows-1250"},  {"ISO-8859-7", "windows-1253"},
        {"ISO-8859-9", "windows-1254"},  {"ISO-8859-13", "windows-1257"},
    };
    const char *windows = nullptr;
    for (const auto &pair : pairs) {
        if (iso == QLatin1String(pair[0]))
            windows = pair[1];
    }
    if (!windows)
        return iso;
    // The bytes the two read differently, then whether the file holds one.
    unsigned char differs[256] = {};
    LineCodec isoCodec(iso, false), windowsCodec(QLatin1String(windows), false);
    QString a, b;
    for (int byte = 0x80; byte < 256; ++byte) {
        const char c = char(byte);
        isoCodec.decode(QByteArrayView(&c, 1), a);
        windowsCodec.decode(QByteArrayView(&c, 1), b);
        differs[byte] = a != b;
    }
    return firstByteIn(differs, content) < 0 ? QLatin1String(windows) : iso;
}

// UTF-32 or UTF-16 without a byte-order mark, told by the NUL bytes beside
// its ASCII characters (subtitles are full of digits, brackets, spaces and
// line ends; Greek or Russian ones, where the fewest are, have a quarter):
// the code units of the first 64 KiB must all be valid, and a fifth of
// them, four at least, ASCII. Other text has no NULs, or a stray few.
// Empty for anything else.
QString wideEncodingWithoutMark(QByteArrayView content)
{
    const auto enough = [](qsizetype ascii, qsizetype units) { return ascii >= 4 && ascii * 5 >= units; };
    const auto *p = reinterpret_cast<const unsigned char *>(content.data());
    const qsizetype sample = std::min<qsizetype>(content.size(), qsizetype(1) << 16);
    if (content.size() % 4 == 0 && sample >= 4) {
        for (const bool little : {true, false}) {
            qsizetype ascii = 0;
            bool valid = true;
            for (qsizetype i = 0; valid && i + 4 <= sample; i += 4) {
                const char32_t unit = little ? p[i] | p[i + 1] << 8 | p[i + 2] << 16 | char32_t(p[i + 3]) << 24
                                             : char32_t(p[i]) << 24 | p[i + 1] << 16 | p[i + 2] << 8 | p[i + 3];
                valid = unit <= 0x10FFFF && (unit < 0xD800 || unit > 0xDFFF);
                ascii += unit > 0 && unit < 0x80;
            }
            if (valid && enough(ascii, sample / 4))
                return little ? QStringLiteral("UTF-32LE") : QStringLiteral("UTF-32BE");
        }
    }
    if (content.size() % 2 != 0 || sample < 2)
        return QString();
    for (const bool little : {true, false}) {
        qsizetype ascii = 0;
        bool valid = true;
        bool highBefore = false; // a first half of a surrogate pair
        for (qsizetype i = 0; valid && i + 2 <= sample; i += 2) {
            const char16_t unit = little ? char16_t(p[i] | p[i + 1] << 8) : char16_t(p[i] << 8 | p[i + 1]);
            const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
            valid = highBefore == low;
            highBefore = unit >= 0xD800 && unit <= 0xDBFF;
            ascii += unit > 0 && unit < 0x80;
        }
        // A pair may go on past the sample.
        valid = valid && (!highBefore || sample < content.size());
        if (valid && enough(ascii, sample / 2))
            return little ? QStringLiteral("UTF-16LE") : QStringLiteral("UTF-16BE");
    }
    return QString();
}

// `marked`: the content followed a UTF-8 mark that it does not hold to.
QString detectEncoding(QByteArrayView content, bool marked)
{
    if (const QString wide = marked ? QString() : wideEncodingWithoutMark(content); !wide.isEmpty())
        return wide;
    if (isValidUtf8(content) || isUtf8WithStrayBytes(content))
        return QStringLiteral("UTF-8");
    uchardet_t detector = uchardet_new();
    uchardet_handle_data(detector, content.data(), size_t(std::min<qsizetype>(content.size(), 1 << 16)));
    uchardet_data_end(detector);
    const KnownEncoding *known = knownEncoding(QString::fromLatin1(uchardet_get_charset(detector)));
    uchardet_delete(detector);
    if (known && std::strncmp(known->name, "UTF", 3) != 0)
        return windowsPageFirst(QLatin1String(known->name), content);
    return fallbackEncoding();
}

qsizetype firstDifference(QByteArrayView bytes, QByteArrayView encodedBack)
{
    qsizetype at = 0;
    while (at < bytes.size() && at < encodedBack.size() && bytes[at] == encodedBack[at])
        ++at;
    return at;
}

// Index of the first byte of `content` that does not come back as itself
// when read in `encoding` and written again, or -1.
qsizetype firstMisfit(QByteArrayView content, const QString &encoding)
{
    LineCodec codec(encoding, false);
    const KnownEncoding *known = knownEncoding(encoding);
    if (known && known->singleByte) {
        // Byte by byte: which of the 256 come back as themselves.
        unsigned char misfits[256];
        bool all = true;
        for (int b = 0; b < 256; ++b) {
            const char c = char(b);
            QString text;
            QByteArray back;
            codec.decode(QByteArrayView(&c, 1), text);
            codec.appendEncoded(back, text);
            misfits[b] = !(back.size() == 1 && back[0] == c);
            all = all && !misfits[b];
        }
        return all ? -1 : firstByteIn(misfits, content);
    }
    // A piece at a time, cut at line ends (a whole unit of UTF-16 or
    // UTF-32), so that the check takes little memory.
    const qsizetype piece = qsizetype(1) << 20;
    QByteArray lineEnd;
    codec.appendEncoded(lineEnd, QStringView(u"\n"));
    QString text;
    QByteArray back;
    for (qsizetype start = 0; start < content.size();) {
        qsizetype end = std::min(content.size(), start + piece);
        while (end < content.size()) {
            const qsizetype newline = content.indexOf(lineEnd, end);
            end = newline < 0 ? content.size() : newline + lineEnd.size();
            if (newline < 0 || newline % lineEnd.size() == 0)
                break;
            end = newline + 1; // not at a unit's start: on
        }
        const QByteArrayView part = content.sliced(start, end - start);
        codec.decode(part, text);
        back.clear();
        codec.appendEncoded(back, text);
        if (back != part)
            return start + firstDifference(part, back);
        start = end;
    }
    return -1;
}

// "line 3, byte 17 (0x81)" for the byte at `at`.
QString where(QByteArrayView bytes, qsizetype at)
{
    const qsizetype lineStart = bytes.first(at).lastIndexOf('\n') + 1;
    const QString line = QStringLiteral("line %1, byte %2").arg(bytes.first(at).count('\n') + 1).arg(at - lineStart + 1);
    if (at >= bytes.size())
        return line;
    return line + QStringLiteral(" (0x%1)").arg(QString::number(uchar(bytes[at]), 16).toUpper().rightJustified(2, u'0'));
}

// The end of the first line: CRLF or LF, CR where no line ends at LF, and
// LF for a text of one line.
LineEnds firstLineEndOf(QByteArrayView text)
{
    const qsizetype lf = text.indexOf('\n');
    if (lf < 0)
        return text.contains('\r') ? LineEnds::CR : LineEnds::LF;
    return lf > 0 && text[lf - 1] == '\r' ? LineEnds::CRLF : LineEnds::LF;
}

} // namespace

bool isValidUtf8(QByteArrayView bytes)
{
    bool valid = true;
    walkUtf8(bytes, [&](int length) { return valid = length != 0; });
    return valid;
}

qsizetype byteOrderMark(QByteArrayView bytes, QString *encoding)
{
    static const struct
    {
        const char *mark;
        qsizetype size;
        const char *name;
    } marks[] = {
        {"\xFF\xFE\x00\x00", 4, "UTF-32LE"}, {"\x00\x00\xFE\xFF", 4, "UTF-32BE"},
        {"\xEF\xBB\xBF", 3, "UTF-8"},        {"\xFF\xFE", 2, "UTF-16LE"},
        {"\xFE\xFF", 2, "UTF-16BE"},
    };
    for (const auto &mark : marks) {
        if (bytes.startsWith(QByteArrayView(mark.mark, mark.size))) {
            *encoding = QLatin1String(mark.name);
            return mark.size;
        }
    }
    encoding->clear();
    return 0;
}

QString describeFormat(const FileFormat &format)
{
    return format.bom ? format.encoding + QStringLiteral(" with BOM") : format.encoding;
}

QByteArrayView lineEndBytes(LineEnds ends)
{
    switch (ends) {
    case LineEnds::CRLF: return "\r\n";
    case LineEnds::CR: return "\r";
    default: return "\n";
    }
}

FileFormat detectFormat(QByteArrayView bytes, const QString &encoding, qsizetype *textStart,
                        QString *notice, QString *strayBytes)
{
    FileError why;
    const FileFormat format = detectFormat(bytes, encoding, textStart, why, strayBytes);
    if (notice)
        *notice = why.reason();
    return format;
}

FileFormat detectFormat(QByteArrayView bytes, const QString &encoding, qsizetype *textStart,
                        FileError &notice, QString *strayBytes)
{
    FileFormat format;
    QString marked;
    qsizetype markSize = byteOrderMark(bytes, &marked);
    format.encoding = canonicalEncoding(encoding);
    if (format.encoding.isEmpty()) {
        // A UTF-8 mark before bytes that are not UTF-8 is kept aside all the
        // same, and the rest is read in the encoding it is written in.
        const QByteArrayView rest = bytes.sliced(markSize);
        const bool markHolds = !marked.isEmpty() && (marked != u"UTF-8" || isValidUtf8(rest));
        format.encoding = markHolds ? marked : detectEncoding(rest, !marked.isEmpty());
    }
    // Beside the Unicode encodings, only a UTF-8 mark is kept aside.
    if (!format.encoding.startsWith(u"UTF") && marked != u"UTF-8")
        markSize = 0;
    format.bom = markSize > 0;
    const QByteArrayView content = bytes.sliced(markSize);

    // Only an exact round trip is accepted: no file changes by being read
    // and saved.
    qsizetype misfit = -1;
    if (format.encoding == u"UTF-8") {
        // Stray bytes are carried through and written back: UTF-8 fits.
        if (strayBytes && !isValidUtf8(content))
            *strayBytes = where(content, firstStrayByte(content));
    } else if (format.encoding != QLatin1String(bytesName)) {
        misfit = firstMisfit(content, format.encoding);
    }
    if (misfit >= 0) {
        const qsizetype lineStart = content.first(misfit).lastIndexOf('\n') + 1;
        notice = FileError(FileError::Read, QString(), FileError::NotEncodedText, format.encoding);
        notice.line = content.first(misfit).count('\n') + 1;
        notice.column = misfit - lineStart + 1;
        notice.byte = misfit < content.size() ? int(uchar(content[misfit])) : -1;
        format.encoding = QLatin1String(bytesName);
        format.bom = format.bom && marked == u"UTF-8";
    }
    *textStart = format.bom ? markSize : 0;
    const QByteArrayView text = bytes.sliced(*textStart);
    if (LineCodec(format.encoding, true).asciiCompatible()) {
        format.lineEnds = format.firstLineEnd = firstLineEndOf(text);
        format.finalLineEnd = text.endsWith(format.lineEnds == LineEnds::CR ? '\r' : '\n');
    }
    return format;
}
