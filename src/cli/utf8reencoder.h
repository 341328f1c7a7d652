// UTF-8 written in another encoding as it comes.
#pragma once

#include "files/textcodec.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

class QIODevice;

// Writes UTF-8 text that comes in pieces (cues as they are made) in another
// encoding, a line at a time, each line checked first; its line ends (LF or
// CR LF) stay.
class Utf8Reencoder
{
public:
    Utf8Reencoder(const QString &encoding, QIODevice &out);
    // False when a line holds what the encoding cannot store ("line L,
    // column C holds ...", counted in the whole text) or `out` fails; error()
    // says which.
    bool write(QByteArrayView utf8);
    // The last line, which has no line end.
    bool finish();
    const QString &error() const { return m_error; }

private:
    bool put(QByteArrayView line, QStringView end);
    bool send();

    LineCodec m_codec;
    QIODevice &m_out;
    QByteArray m_pending; // the start of a line whose end is still to come
    QByteArray m_encoded;
    QString m_line;
    qsizetype m_lineNumber = 0;
    QString m_error;
};
