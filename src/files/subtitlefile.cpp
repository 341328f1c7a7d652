#include "files/subtitlefile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

#include <memory>

static const char utf8Bom[] = "\xEF\xBB\xBF";

SubtitleText decodeSubtitleBytes(const QByteArray &bytes)
{
    SubtitleText result;
    const bool bom = bytes.startsWith(utf8Bom);
    // Keep any later byte-order mark as a character: only the first one
    // is not part of the text. Stateless: a sequence cut off at the end of
    // the file is an error, not something to wait for.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless
                                   | QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(QByteArrayView(bytes).sliced(bom ? 3 : 0));
    if (decoder.hasError()) {
        text = QString::fromLatin1(bytes);
        result.encoding = FileEncoding::EightBit;
    } else {
        result.bom = bom;
    }
    if (text.contains(u'\r'))
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (text.endsWith(u'\n'))
        text.chop(1);
    result.text = std::move(text);
    return result;
}

static QString describeUnwritable(const QString &text, qsizetype at)
{
    const qsizetype lineStart = text.lastIndexOf(u'\n', at) + 1;
    const qsizetype line = QStringView(text).first(lineStart).count(u'\n') + 1;
    char32_t code = text[at].unicode();
    QString shown = text.mid(at, 1);
    if (text[at].isHighSurrogate() && at + 1 < text.size() && text[at + 1].isLowSurrogate()) {
        code = QChar::surrogateToUcs4(text[at], text[at + 1]);
        shown = text.mid(at, 2);
    }
    const QString hex = QString::number(uint(code), 16).toUpper().rightJustified(4, u'0');
    return QStringLiteral("line %1, column %2 holds \"%3\" (U+%4), which this file's "
                          "encoding cannot store")
            .arg(QString::number(line), QString::number(at - lineStart + 1), shown, hex);
}

bool encodeSubtitleText(const QString &text, FileEncoding encoding, bool bom,
                        QByteArray &bytes, QString *error)
{
    if (encoding == FileEncoding::EightBit) {
        for (qsizetype i = 0; i < text.size(); ++i) {
            if (text[i].unicode() > 0xFF) {
                if (error)
                    *error = describeUnwritable(text, i);
                return false;
            }
        }
        bytes = text.toLatin1();
        return true;
    }
    // The encoder would write a lone surrogate as a replacement character.
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (!c.isSurrogate())
            continue;
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            ++i;
            continue;
        }
        if (error)
            *error = describeUnwritable(text, i);
        return false;
    }
    QByteArray encoded = text.toUtf8();
    bytes = bom ? QByteArray(utf8Bom) + encoded : std::move(encoded);
    return true;
}

bool readSubtitleFile(const QString &path, SubtitleText &result, QString *error)
{
    auto fail = [&](const QString &why) {
        if (error)
            *error = QStringLiteral("cannot read \"%1\": %2").arg(path, why);
        return false;
    };
    if (QFileInfo(path).isDir())
        return fail(QStringLiteral("it is a directory"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(file.errorString());
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return fail(file.errorString());
    result = decodeSubtitleBytes(bytes);
    return true;
}

namespace {

// A regular file (or a new one) is written beside itself and renamed into
// place; anything else would be replaced by a regular file that way.
bool writesInPlace(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() && !info.isFile();
}

QString writeError(const QString &path, const QString &why)
{
    return QStringLiteral("cannot write \"%1\": %2").arg(path, why);
}

bool writeInPlace(const FileWrite &write, QString *error)
{
    QFile file(write.path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        if (error)
            *error = writeError(write.path, file.errorString());
        return false;
    }
    if (file.write(write.bytes) != write.bytes.size() || !file.flush()) {
        if (error)
            *error = writeError(write.path, file.errorString());
        return false;
    }
    file.close();
    return true;
}

} // namespace

bool writeSubtitleFiles(const QList<FileWrite> &writes, QString *error)
{
    // First every temporary file; a failure here drops them all, and no
    // file has changed yet.
    std::vector<std::unique_ptr<QSaveFile>> pending(writes.size());
    for (qsizetype i = 0; i < writes.size(); ++i) {
        const FileWrite &write = writes[i];
        if (writesInPlace(write.path))
            continue;
        auto file = std::make_unique<QSaveFile>(write.path);
        if (!file->open(QIODevice::WriteOnly)
            || file->write(write.bytes) != write.bytes.size()) {
            if (error)
                *error = writeError(write.path, file->errorString());
            return false;
        }
        pending[i] = std::move(file);
    }
    for (qsizetype i = 0; i < writes.size(); ++i) {
        if (!pending[i]) {
            if (!writeInPlace(writes[i], error))
                return false;
        } else if (!pending[i]->commit()) {
            if (error)
                *error = writeError(writes[i].path, pending[i]->errorString());
            return false;
        }
    }
    return true;
}

bool writeSubtitleFile(const QString &path, const QByteArray &bytes, QString *error)
{
    return writeSubtitleFiles({FileWrite{path, bytes}}, error);
}
