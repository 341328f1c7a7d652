#include "files/filenames.h"

#include "formats/carriedbytes.h"

QString nameFromNative(QByteArrayView bytes)
{
    QString name;
    decodeCarryingStrayBytes(bytes, name);
    return name;
}

QByteArray nameToNative(const QString &name)
{
    QByteArray bytes;
    bytes.reserve(name.size());
    encodeCarryingStrayBytes(bytes, name);
    return bytes;
}

QString shownName(const QString &name)
{
    QString shown;
    shown.reserve(name.size());
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (isCarriedByte(name, i))
            shown += QStringLiteral("\\x") + QString::number(uchar(carriedByte(name[i].unicode())), 16).toUpper();
        else
            shown += name[i];
    }
    return shown;
}
