// Writes UTF-8 text in another encoding, a line at a time.
#include "cli/utf8reencoder.h"

#include <QIODevice>

Utf8Reencoder::Utf8Reencoder(const QString &encoding, QIODevice &out) : m_codec(encoding, false), m_out(out) {}

bool Utf8Reencoder::write(QByteArrayView utf8)
{
    if (!m_error.isEmpty())
        return false;
    m_pending.append(utf8.data(), utf8.size());
    const qsizetype last = m_pending.lastIndexOf('\n');
    if (last < 0)
        return true;
    qsizetype at = 0;
    while (at <= last) {
        const qsizetype end = m_pending.indexOf('\n', at);
        const bool crlf = end > at && m_pending[end - 1] == '\r';
        if (!put(QByteArrayView(m_pending).sliced(at, end - at - crlf), crlf ? u"\r\n" : u"\n"))
            return false;
        at = end + 1;
    }
    m_pending.remove(0, at);
    return m_encoded.size() < (1 << 16) || send();
}

bool Utf8Reencoder::finish()
{
    if (!m_error.isEmpty())
        return false;
    if (!m_pending.isEmpty() && !put(m_pending, u""))
        return false;
    m_pending.clear();
    return send();
}

bool Utf8Reencoder::put(QByteArrayView line, QStringView end)
{
    ++m_lineNumber;
    m_line = QString::fromUtf8(line);
    if (const qsizetype bad = m_codec.firstUnwritable(m_line); bad >= 0) {
        m_error = unwritableMessage(m_line, m_lineNumber, bad);
        return false;
    }
    m_codec.appendEncoded(m_encoded, m_line);
    m_codec.appendEncoded(m_encoded, end);
    return true;
}

bool Utf8Reencoder::send()
{
    if (m_out.write(m_encoded) != m_encoded.size()) {
        m_error = m_out.errorString();
        return false;
    }
    m_encoded.truncate(0);
    return true;
}
