#include "files/savingformat.h"

bool encodeInFormat(QStringView text, const FileFormat &format, QByteArray &bytes, QString *error)
{
    if (format.lineEnds != LineEnds::CRLF)
        return encodeSubtitleText(text, format, bytes, error);
    FileFormat plain = format;
    plain.lineEnds = LineEnds::LF;
    return encodeSubtitleText(text.toString().replace(u'\n', QStringLiteral("\r\n")), plain, bytes, error);
}

QStringList savingEncodings()
{
    QStringList names;
    for (const EncodingGroup &group : commonEncodings()) {
        for (const QString &name : group.names) {
            if (name != u"bytes" && !names.contains(name))
                names << name;
        }
    }
    return names;
}
