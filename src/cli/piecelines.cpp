#include "cli/piecelines.h"

bool PieceLines::next(QStringView &line)
{
    if (!m_decoding)
        return nextOf(m_text, m_pos, u'\n', false, line);
    if (m_at < 0) {
        if (m_pos < 0)
            return false;
        // Up to a line end some way on: few calls, and little memory.
        constexpr qsizetype chunk = 1 << 16;
        const qsizetype cut = m_bytes.size() - m_pos > chunk ? m_bytes.indexOf(m_separator, m_pos + chunk) : -1;
        m_codec.decode(m_bytes.sliced(m_pos, (cut < 0 ? m_bytes.size() : cut) - m_pos), m_buffer);
        m_cutAtLineEnd = cut >= 0;
        m_pos = cut < 0 ? -1 : cut + 1;
        m_at = 0;
    }
    ++m_line;
    return nextOf(m_buffer, m_at, m_separator, m_cutAtLineEnd, line);
}

QStringView PieceLines::at(qsizetype number)
{
    for (; m_line + 1 < number && m_pos >= 0; ++m_line) {
        const qsizetype end = m_decoding ? m_bytes.indexOf(m_separator, m_pos) : m_text.indexOf(u'\n', m_pos);
        m_pos = end < 0 ? -1 : end + 1;
    }
    if (m_line == number || m_pos < 0)
        return m_current;
    ++m_line;
    if (!m_decoding) {
        nextOf(m_text, m_pos, u'\n', false, m_current);
        return m_current;
    }
    const qsizetype end = m_bytes.indexOf(m_separator, m_pos);
    QByteArrayView raw = m_bytes.sliced(m_pos, (end < 0 ? m_bytes.size() : end) - m_pos);
    if (m_separator == '\n' && end >= 0 && raw.endsWith('\r'))
        raw.chop(1);
    m_pos = end < 0 ? -1 : end + 1;
    m_codec.decode(raw, m_buffer);
    return m_current = m_buffer;
}

bool PieceLines::nextOf(QStringView text, qsizetype &from, char16_t separator, bool cut, QStringView &line)
{
    if (from < 0)
        return false;
    const qsizetype end = text.indexOf(QChar(separator), from);
    line = text.sliced(from, (end < 0 ? text.size() : end) - from);
    if (separator == u'\n' && (end >= 0 || cut) && line.endsWith(u'\r'))
        line.chop(1);
    from = end < 0 ? -1 : end + 1;
    return true;
}
