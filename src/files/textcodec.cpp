#include "files/textcodec.h"

#include "formats/carriedbytes.h"

#include <uchardet/uchardet.h>

#include <algorithm>
#include <cstring>

namespace {

// Encodings subtitles are written in: what detection may answer and what
// the editor offers. One byte per character and nothing that combines:
// safe to rewrite as Latin-1 bytes.
struct Known
{
    const char *name;
    const char *script;
    bool singleByte;
};
const Known knownEncodings[] = {
    {"UTF-8", "Unicode", false},          {"UTF-16LE", "Unicode", false},
    {"UTF-16BE", "Unicode", false},       {"UTF-32LE", "Unicode", false},
    {"UTF-32BE", "Unicode", false},       {"windows-1252", "Western European", true},
    {"ISO-8859-1", "Western European", true}, {"ISO-8859-15", "Western European", true},
    {"windows-1250", "Central European", true}, {"ISO-8859-2", "Central European", true},
    {"windows-1251", "Cyrillic", true},   {"KOI8-R", "Cyrillic", true},
    {"KOI8-U", "Cyrillic", true},         {"ISO-8859-5", "Cyrillic", true},
    {"windows-1253", "Greek", true},      {"ISO-8859-7", "Greek", true},
    {"windows-1254", "Turkish", true},    {"ISO-8859-9", "Turkish", true},
    {"windows-1257", "Baltic", true},     {"ISO-8859-13", "Baltic", true},
    {"windows-1255", "Hebrew", false},    {"windows-1256", "Arabic", false},
    {"Shift_JIS", "Japanese", false},     {"EUC-JP", "Japanese", false},
    {"GB18030", "Chinese", false},        {"Big5", "Chinese", false},
    {"EUC-KR", "Korean", false},
};

const Known *knownEncoding(const QString &name)
{
    for (const Known &known : knownEncodings) {
        if (name.compare(QLatin1String(known.name), Qt::CaseInsensitive) == 0)
            return &known;
    }
    return nullptr;
}

const char bytesName[] = "bytes";

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
    const Known *known = knownEncoding(QString::fromLatin1(uchardet_get_charset(detector)));
    uchardet_delete(detector);
    if (known && std::strncmp(known->name, "UTF", 3) != 0)
        return windowsPageFirst(QLatin1String(known->name), content);
    return fallbackEncoding();
}

void decodeLatin1(QByteArrayView bytes, QString &out)
{
    out.resize(bytes.size());
    QChar *data = out.data();
    for (qsizetype i = 0; i < bytes.size(); ++i)
        data[i] = QChar(uchar(bytes[i]));
}

qsizetype firstDifference(QByteArrayView bytes, QByteArrayView encodedBack)
{
    qsizetype at = 0;
    while (at < bytes.size() && at < encodedBack.size() && bytes[at] == encodedBack[at])
        ++at;
    return at;
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

LineEnds lineEndsOf(QStringView text)
{
    const qsizetype lf = text.count(u'\n');
    const qsizetype crlf = text.count(u"\r\n");
    if (lf == 0)
        return text.contains(u'\r') ? LineEnds::CR : LineEnds::LF;
    return crlf == 0 ? LineEnds::LF : crlf == lf ? LineEnds::CRLF : LineEnds::Mixed;
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

LineEnds firstLineEndOf(QStringView text)
{
    const qsizetype lf = text.indexOf(u'\n');
    if (lf < 0)
        return text.contains(u'\r') ? LineEnds::CR : LineEnds::LF;
    return lf > 0 && text[lf - 1] == u'\r' ? LineEnds::CRLF : LineEnds::LF;
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

QString canonicalEncoding(const QString &name)
{
    if (name.compare(QLatin1String(bytesName), Qt::CaseInsensitive) == 0)
        return QLatin1String(bytesName);
    if (const Known *known = knownEncoding(name))
        return QLatin1String(known->name);
    const QStringDecoder decoder(name.toLatin1().constData());
    if (!decoder.isValid() || !QStringEncoder(name.toLatin1().constData()).isValid())
        return QString();
    const char *qtName = decoder.name();
    return qtName ? QString::fromLatin1(qtName) : name;
}

QList<EncodingGroup> commonEncodings()
{
    QList<EncodingGroup> groups;
    for (const Known &known : knownEncodings) {
        if (groups.isEmpty() || groups.back().script != QLatin1String(known.script))
            groups.append({QLatin1String(known.script), {}});
        groups.back().names << QLatin1String(known.name);
    }
    return groups;
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
    const Known *known = knownEncoding(format.encoding);
    if (format.encoding == u"UTF-8") {
        // Stray bytes are carried through and written back: UTF-8 fits.
        if (strayBytes && !isValidUtf8(content))
            *strayBytes = where(content, firstStrayByte(content));
    } else if (known && known->singleByte) {
        // Byte by byte: which of the 256 come back as themselves.
        LineCodec codec(format.encoding, false);
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
        if (!all)
            misfit = firstByteIn(misfits, content);
    } else if (format.encoding != QLatin1String(bytesName)) {
        // A piece at a time, cut at line ends (a whole unit of UTF-16 or
        // UTF-32), so that the check takes little memory.
        LineCodec codec(format.encoding, false);
        const qsizetype piece = qsizetype(1) << 20;
        QByteArray lineEnd;
        codec.appendEncoded(lineEnd, QStringView(u"\n"));
        QString text;
        QByteArray back;
        for (qsizetype start = 0; start < content.size() && misfit < 0;) {
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
                misfit = start + firstDifference(part, back);
            start = end;
        }
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

SubtitleText decodeSubtitleBytes(QByteArrayView bytes, const QString &encoding,
                                 const std::function<void(qsizetype)> &done)
{
    SubtitleText result;
    qsizetype start = 0;
    result.format = detectFormat(bytes, encoding, &start, result.notice, &result.strayBytes);
    LineCodec codec(result.format.encoding, false);
    const QByteArrayView content = bytes.sliced(start);
    constexpr qsizetype piece = qsizetype(16) << 20;
    if (!done || !codec.asciiCompatible() || content.size() <= piece) {
        codec.decode(content, result.text);
    } else {
        // Cut after a line end: no character of these encodings holds one.
        result.text.reserve(content.size());
        QString part;
        for (qsizetype at = 0; at < content.size();) {
            qsizetype end = content.indexOf('\n', at + piece);
            if (end < 0)
                end = content.indexOf('\r', at + piece);
            end = end < 0 ? content.size() : end + 1;
            codec.decode(content.sliced(at, end - at), part);
            result.text += part;
            at = end;
            done(start + at);
        }
    }
    result.format.lineEnds = lineEndsOf(result.text);
    result.format.firstLineEnd = firstLineEndOf(QStringView(result.text));
    if (result.format.lineEnds == LineEnds::CR)
        result.text.replace(u'\r', u'\n');
    else if (result.format.lineEnds != LineEnds::LF)
        result.text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    result.format.finalLineEnd = result.text.endsWith(u'\n');
    if (result.format.finalLineEnd)
        result.text.chop(1);
    return result;
}

FileError unwritable(QStringView line, qsizetype lineNumber, qsizetype at)
{
    const bool pair = line[at].isHighSurrogate() && at + 1 < line.size() && line[at + 1].isLowSurrogate();
    FileError error(FileError::Write, QString(), FileError::NotInEncoding, line.sliced(at, pair ? 2 : 1).toString());
    error.line = lineNumber;
    error.column = at + 1;
    return error;
}

QString unwritableMessage(QStringView line, qsizetype lineNumber, qsizetype at)
{
    return unwritable(line, lineNumber, at).reason();
}

bool encodeSubtitleText(QStringView text, const FileFormat &format, QByteArray &bytes, QString *error)
{
    FileError why;
    if (encodeSubtitleText(text, format, bytes, why))
        return true;
    if (error)
        *error = why.reason();
    return false;
}

bool encodeSubtitleText(QStringView text, const FileFormat &format, QByteArray &bytes,
                        FileError &error)
{
    LineCodec codec(format.encoding, false);
    const qsizetype bad = codec.firstUnwritable(text);
    if (bad >= 0) {
        const qsizetype lineStart = text.first(bad).lastIndexOf(u'\n') + 1;
        const qsizetype lineEnd = text.indexOf(u'\n', bad);
        const QStringView line = text.sliced(lineStart, (lineEnd < 0 ? text.size() : lineEnd) - lineStart);
        error = unwritable(line, text.first(lineStart).count(u'\n') + 1, bad - lineStart);
        return false;
    }
    QByteArray out;
    out.reserve(text.size() + 4);
    if (format.bom && format.encoding.startsWith(u"UTF"))
        codec.appendEncoded(out, QStringView(u"\uFEFF"));
    else if (format.bom)
        out.append("\xEF\xBB\xBF");
    // Every line ends as the file's first did, the last one only if it did.
    const LineEnds ends = format.writtenLineEnds();
    const QString end = QString::fromLatin1(lineEndBytes(ends));
    if (ends == LineEnds::LF)
        codec.appendEncoded(out, text);
    else
        codec.appendEncoded(out, text.toString().replace(u'\n', end));
    if (format.finalLineEnd)
        codec.appendEncoded(out, end);
    bytes = std::move(out);
    return true;
}

LineCodec::LineCodec(const QString &encoding, bool asBytes)
{
    const Known *known = knownEncoding(encoding);
    if (encoding == QLatin1String(bytesName) || (asBytes && known && known->singleByte))
        m_kind = Kind::Latin1;
    else if (encoding == u"UTF-8")
        m_kind = Kind::Utf8;
    else
        m_kind = encoding.startsWith(u"UTF-16") || encoding.startsWith(u"UTF-32") ? Kind::Wide : Kind::Other;
    if (m_kind == Kind::Other || m_kind == Kind::Wide) {
        const QByteArray name = encoding.toLatin1();
        m_decoder = QStringDecoder(name.constData(), QStringDecoder::Flag::Stateless);
        m_encoder = QStringEncoder(name.constData(), QStringEncoder::Flag::Stateless);
    }
    if (m_kind == Kind::Other && known && known->singleByte && makeTable())
        m_kind = Kind::Table;
}

// The toolkit's codec goes through the text three times to find what it
// cannot store and once more to store it; a one-byte encoding is a table.
bool LineCodec::makeTable()
{
    if (!m_decoder.isValid())
        return false;
    m_bytes = QByteArray(0x10000, '\0');
    for (int byte = 0; byte < 256; ++byte) {
        const char c = char(byte);
        const QString one = m_decoder.decode(QByteArrayView(&c, 1));
        if (one.size() != 1 || m_decoder.hasError() || (byte < 0x80 && one[0].unicode() != byte))
            return false;
        const char16_t u = one[0].unicode();
        if (byte >= 0x80 && u >= 0x80 && u != QChar::ReplacementCharacter && m_bytes[u] == 0) {
            m_upper[byte - 0x80] = u;
            m_bytes[u] = c;
        }
    }
    return true;
}

void LineCodec::decode(QByteArrayView bytes, QString &out)
{
    switch (m_kind) {
    case Kind::Latin1:
        decodeLatin1(bytes, out);
        return;
    case Kind::Utf8: {
        // A byte-order mark inside the text is a character like any other.
        out.resize(bytes.size());
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless
                                       | QStringDecoder::Flag::ConvertInitialBom);
        out.truncate(decoder.appendToBuffer(out.data(), bytes) - out.constData());
        if (decoder.hasError())
            decodeCarryingStrayBytes(bytes, out);
        return;
    }
    case Kind::Table: {
        out.resize(bytes.size());
        char16_t *data = reinterpret_cast<char16_t *>(out.data());
        for (qsizetype i = 0; i < bytes.size(); ++i) {
            const auto byte = static_cast<unsigned char>(bytes[i]);
            const char16_t c = byte < 0x80 ? byte : m_upper[byte - 0x80];
            if (c == 0 && byte != 0) {
                out = m_decoder.decode(bytes); // a byte the encoding lacks: as the toolkit reads it
                return;
            }
            data[i] = c;
        }
        return;
    }
    default:
        out = m_decoder.decode(bytes);
        return;
    }
}

qsizetype LineCodec::firstUnwritable(QStringView text)
{
    if (m_kind == Kind::Latin1) {
        for (qsizetype i = 0; i < text.size(); ++i) {
            if (text[i].unicode() > 0xFF)
                return i;
        }
        return -1;
    }
    if (m_kind == Kind::Utf8) {
        // A lone surrogate has no UTF-8 form, but for a carried byte.
        for (qsizetype i = 0; i < text.size(); ++i) {
            if (!text[i].isSurrogate() || isCarriedByte(text, i))
                continue;
            if (!text[i].isHighSurrogate() || i + 1 >= text.size() || !text[i + 1].isLowSurrogate())
                return i;
            ++i;
        }
        return -1;
    }
    if (m_kind == Kind::Table) {
        for (qsizetype i = 0; i < text.size(); ++i) {
            const char16_t c = text[i].unicode();
            if (c >= 0x80 && m_bytes[c] == 0)
                return i;
        }
        return -1;
    }
    // Whatever does not come back from the encoding is not in it.
    const QString back = m_decoder.decode(m_encoder.encode(text));
    if (back == text)
        return -1;
    qsizetype at = 0;
    while (at < text.size() && at < back.size() && text[at] == back[at])
        ++at;
    if (at > 0 && text[at - 1].isHighSurrogate())
        --at;
    return at;
}

void LineCodec::appendEncoded(QByteArray &out, QStringView text)
{
    const qsizetype start = out.size();
    switch (m_kind) {
    case Kind::Latin1: {
        out.resize(start + text.size());
        char *data = out.data() + start;
        for (qsizetype i = 0; i < text.size(); ++i)
            data[i] = char(text[i].unicode());
        return;
    }
    case Kind::Utf8: {
        out.resize(start + text.size() * 3);
        QStringEncoder encoder(QStringEncoder::Utf8, QStringEncoder::Flag::Stateless);
        char *end = encoder.appendToBuffer(out.data() + start, text);
        out.truncate(end - out.constData());
        if (encoder.hasError()) {
            out.truncate(start);
            encodeCarryingStrayBytes(out, text);
        }
        return;
    }
    case Kind::Table: {
        out.resize(start + text.size());
        char *data = out.data() + start;
        for (qsizetype i = 0; i < text.size(); ++i) {
            const char16_t c = text[i].unicode();
            data[i] = c < 0x80 ? char(c) : m_bytes[c];
        }
        return;
    }
    default:
        out.append(m_encoder.encode(text));
        return;
    }
}
