// The layout of a file's bytes, shared by the batch tool's rewrites.
#include "cli/filelayout.h"

#include <QIODevice>
#include <QStringDecoder>

#include <algorithm>
#include <utility>

FileFormat OutputChoice::applyTo(FileFormat format) const
{
    if (!encoding.isEmpty()) {
        format.encoding = encoding;
        format.bom = false;
    }
    if (bom)
        format.bom = true;
    if (lineEnds)
        format.lineEnds = *lineEnds;
    return format;
}

Layout layoutOf(QByteArrayView bytes, const QString &encoding)
{
    Layout layout;
    qsizetype start = 0;
    layout.format = detectFormat(bytes, encoding, &start, layout.notice);
    // A forced encoding that does not fit is an error; a detected one that
    // does not leaves the file as bytes, as the editor reads it.
    if (encoding.isEmpty() || canonicalEncoding(encoding) == layout.format.encoding)
        layout.notice = FileError();
    layout.content = bytes.sliced(start);
    layout.separator = layout.format.lineEnds == LineEnds::CR ? '\r' : '\n';
    return layout;
}

bool holdsHalfPair(QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!text[i].isSurrogate())
            continue;
        if (!text[i].isHighSurrogate() || i + 1 >= text.size() || !text[i + 1].isLowSurrogate())
            return true;
        ++i;
    }
    return false;
}

WideRead wideToUtf8(QByteArrayView content, const QString &encoding, QByteArray &utf8, FileError *error)
{
    QStringDecoder decoder(encoding.toLatin1().constData(), QStringDecoder::Flag::ConvertInitialBom);
    // Each unit of two bytes gives at most three, each of four at most four.
    utf8.reserve(encoding.startsWith(u"UTF-16") ? content.size() / 2 * 3 + 4 : content.size() + 4);
    QString text;
    QChar held; // the first half of a pair that a piece ends with, for the next piece
    bool halfPair = false;
    for (qsizetype at = 0; at < content.size(); at += 1 << 20) {
        text = decoder.decode(content.sliced(at, std::min<qsizetype>(1 << 20, content.size() - at)));
        if (halfPair)
            continue; // read on only to tell text from no text
        if (!held.isNull())
            text.prepend(std::exchange(held, QChar()));
        if (!text.isEmpty() && text.back().isHighSurrogate()) {
            held = text.back();
            text.chop(1);
        }
        halfPair = holdsHalfPair(text);
        if (!halfPair)
            utf8 += text.toUtf8();
    }
    text = decoder.decode(QByteArrayView());
    if (decoder.hasError()) {
        if (error) {
            error->because = FileError::NotWideText;
            error->about = encoding;
        }
        return WideRead::NotText;
    }
    return halfPair || !held.isNull() ? WideRead::HalfPair : WideRead::Read;
}

bool readLayout(QByteArrayView bytes, const QString &encoding, const OutputChoice &choice, QByteArray &utf8,
                Layout &layout, FileFormat &output, FileError &error, bool &halfPair)
{
    halfPair = false;
    layout = layoutOf(bytes, encoding);
    if (layout.notice.because != FileError::NoReason) {
        error.because = layout.notice.because;
        error.about = layout.notice.about;
        error.line = layout.notice.line;
        error.column = layout.notice.column;
        error.byte = layout.notice.byte;
        return false;
    }
    output = choice.applyTo(layout.format);
    if (!LineCodec(layout.format.encoding, true).asciiCompatible()) {
        const WideRead wideRead = wideToUtf8(layout.content, layout.format.encoding, utf8, &error);
        halfPair = wideRead == WideRead::HalfPair;
        if (wideRead != WideRead::Read)
            return halfPair;
        const FileFormat wide = layout.format;
        layout = layoutOf(utf8, QStringLiteral("UTF-8"));
        FileFormat read = layout.format;
        read.encoding = wide.encoding;
        read.bom = wide.bom;
        output = choice.applyTo(read);
    }
    return true;
}

QByteArray byteOrderMarkOf(const FileFormat &format)
{
    QByteArray bytes;
    if (format.encoding.startsWith(u"UTF"))
        LineCodec(format.encoding, false).appendEncoded(bytes, QStringView(u"\uFEFF"));
    else
        bytes = "\xEF\xBB\xBF";
    return bytes;
}

QByteArray lineEndOf(const FileFormat &format)
{
    QByteArray bytes;
    LineCodec(format.encoding, false).appendEncoded(bytes, QString::fromLatin1(lineEndBytes(format.writtenLineEnds())));
    return bytes;
}

bool writeAll(QIODevice &out, const QByteArray &bytes, QString *error)
{
    if (out.write(bytes) == bytes.size())
        return true;
    if (error)
        *error = out.errorString();
    return false;
}
