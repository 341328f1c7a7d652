#include "files/textcodec.h"

#include "files/knownencodings.h"
#include "formats/carriedbytes.h"

namespace {

// What detection may answer and what the editor offers, grouped by script.
const KnownEncoding knownEncodings[] = {
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

void decodeLatin1(QByteArrayView bytes, QString &out)
{
    out.resize(bytes.size());
    QChar *data = out.data();
    for (qsizetype i = 0; i < bytes.size(); ++i)
        data[i] = QChar(uchar(bytes[i]));
}

LineEnds lineEndsOf(QStringView text)
{
    const qsizetype lf = text.count(u'\n');
    const qsizetype crlf = text.count(u"\r\n");
    if (lf == 0)
        return text.contains(u'\r') ? LineEnds::CR : LineEnds::LF;
    return crlf == 0 ? LineEnds::LF : crlf == lf ? LineEnds::CRLF : LineEnds::Mixed;
}

LineEnds firstLineEndOf(QStringView text)
{
    const qsizetype lf = text.indexOf(u'\n');
    if (lf < 0)
        return text.contains(u'\r') ? LineEnds::CR : LineEnds::LF;
    return lf > 0 && text[lf - 1] == u'\r' ? LineEnds::CRLF : LineEnds::LF;
}

} // namespace

const KnownEncoding *knownEncoding(const QString &name)
{
    for (const KnownEncoding &known : knownEncodings) {
        if (name.compare(QLatin1String(known.name), Qt::CaseInsensitive) == 0)
            return &known;
    }
    return nullptr;
}

QString canonicalEncoding(const QString &name)
{
    if (name.compare(QLatin1String(bytesName), Qt::CaseInsensitive) == 0)
        return QLatin1String(bytesName);
    if (const KnownEncoding *known = knownEncoding(name))
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
    for (const KnownEncoding &known : knownEncodings) {
        if (groups.isEmpty() || groups.back().script != QLatin1String(known.script))
            groups.append({QLatin1String(known.script), {}});
        groups.back().names << QLatin1String(known.name);
    }
    return groups;
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
    const KnownEncoding *known = knownEncoding(encoding);
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
