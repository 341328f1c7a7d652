// The lines of a file the batch tool checks, read a piece at a time
// without a copy of the whole text.
#pragma once

#include "files/textcodec.h"

#include <QByteArrayView>
#include <QString>
#include <QStringView>

// The lines of one piece of a file: its bytes decoded (as
// decodeSubtitleBytes() would make them), or a text. An object serves
// next() or at(), not both.
class PieceLines
{
public:
    // `asBytes`: a one-byte encoding read one character a byte (as
    // Latin-1), for next() where that tells the checks the same.
    PieceLines(QByteArrayView bytes, const QString &encoding, char separator, bool asBytes = false)
        : m_bytes(bytes), m_codec(encoding, asBytes), m_separator(separator), m_decoding(true)
    {
    }
    explicit PieceLines(QStringView text) : m_text(text), m_codec(QString(), false) {}

    // The next line, which stays valid until the next is asked for; false
    // after the last. Bytes are decoded many lines at a time.
    bool next(QStringView &line);
    qsizetype linesGiven() const { return m_line + 1; }

    // Line `number` of the piece, at or after the last one given; the lines
    // before it are passed over without being decoded.
    QStringView at(qsizetype number);

private:
    // The line of `text` from `from` on, `from` moved past it (-1 after the
    // last); a CR before an LF belongs to the line end, as does one at the
    // end of a text that was `cut` at an LF.
    static bool nextOf(QStringView text, qsizetype &from, char16_t separator, bool cut, QStringView &line);

    QByteArrayView m_bytes;
    QStringView m_text;
    LineCodec m_codec;
    char m_separator = '\n';
    bool m_decoding = false;
    qsizetype m_pos = 0; // where the next line (or lines to decode) start; -1 after the last
    qsizetype m_line = -1;
    QString m_buffer;
    qsizetype m_at = -1;  // next(): where the next line starts in m_buffer; -1 when all are given
    bool m_cutAtLineEnd = false;
    QStringView m_current; // at(): the line given last
};
