// Cues written straight into UTF-8 bytes.
#pragma once

#include "formats/carriedbytes.h"

#include <QByteArray>
#include <QChar>
#include <QLatin1String>
#include <QStringView>

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace cues {

// Cues written as UTF-8 straight away, LF or CR LF at each line end. With a
// table, the text's characters are bytes of a one-byte encoding read as
// Latin-1, and each becomes its own character's UTF-8.
class Utf8Out
{
public:
    struct Table
    {
        char bytes[256][4];
        quint8 length[256]; // 0: a byte the encoding does not have
        char16_t characters[256];
    };

    // Writes on at the end of `bytes`, with room for `room` bytes at first.
    Utf8Out(QByteArray &bytes, qsizetype room, const Table *table, bool crlf)
        : m_bytes(bytes), m_table(table), m_crlf(crlf), m_used(bytes.size())
    {
        m_bytes.resize(m_used + room);
    }
    Utf8Out(const Utf8Out &) = delete;
    Utf8Out(Utf8Out &&other) = default;
    // The bytes end where the writing did.
    ~Utf8Out() { m_bytes.truncate(m_used); }

    Utf8Out &operator+=(QStringView text)
    {
        // Room for the worst case: three bytes a unit, or CR LF; and for a
        // table's four bytes written at once.
        if (m_bytes.size() - m_used < 3 * text.size() + 4)
            m_bytes.resize(std::max(2 * m_bytes.size(), m_used + 3 * text.size() + 64));
        // Taken apart from the object: a store through `p` might change any of it.
        const Table *const table = m_table;
        const bool crlf = m_crlf;
        bool ok = m_ok;
        char *const start = m_bytes.data();
        char *p = start + m_used;
        const char16_t *c = text.utf16();
        const char16_t *const end = c + text.size();
        while (c < end) {
            // Runs of ASCII are most of it, taken eight at a time where
            // the processor can.
#if defined(__SSE2__)
            const __m128i notAscii = _mm_set1_epi16(short(0xFF80));
            const __m128i lineEnd = _mm_set1_epi16(short(u'\n'));
            const __m128i zero = _mm_setzero_si128();
            while (end - c >= 8) {
                const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i *>(c));
                const __m128i other = _mm_or_si128(_mm_cmpeq_epi16(units, lineEnd),
                                                   _mm_cmpeq_epi16(_mm_cmpeq_epi16(_mm_and_si128(units, notAscii), zero), zero));
                // All eight are stored (there is room), those before the
                // first that is no plain ASCII kept.
                _mm_storel_epi64(reinterpret_cast<__m128i *>(p), _mm_packus_epi16(units, units));
                if (const int mask = _mm_movemask_epi8(other)) {
                    const int plain = int(qCountTrailingZeroBits(uint(mask))) / 2;
                    c += plain;
                    p += plain;
                    break;
                }
                c += 8;
                p += 8;
            }
#endif
            while (c < end && *c < 0x80 && *c != u'\n')
                *p++ = char(*c++);
            if (c == end)
                break;
            const char16_t u = *c++;
            if (u == u'\n') {
                if (crlf)
                    *p++ = '\r';
                *p++ = '\n';
            } else if (table) {
                const quint8 n = u < 256 ? table->length[u] : 0;
                ok = ok && n > 0;
                if (n > 0)
                    std::memcpy(p, table->bytes[u], 4);
                p += n;
            } else if (u < 0x800) {
                *p++ = char(0xC0 | (u >> 6));
                *p++ = char(0x80 | (u & 0x3F));
            } else if (QChar::isHighSurrogate(u) && c < end && QChar::isLowSurrogate(*c)) {
                const char32_t v = QChar::surrogateToUcs4(u, *c++);
                *p++ = char(0xF0 | (v >> 18));
                *p++ = char(0x80 | ((v >> 12) & 0x3F));
                *p++ = char(0x80 | ((v >> 6) & 0x3F));
                *p++ = char(0x80 | (v & 0x3F));
            } else if (inCarriedRange(u)) {
                // A byte that was not UTF-8, carried through as it came.
                *p++ = carriedByte(u);
            } else {
                ok = ok && !QChar::isSurrogate(u);
                *p++ = char(0xE0 | (u >> 12));
                *p++ = char(0x80 | ((u >> 6) & 0x3F));
                *p++ = char(0x80 | (u & 0x3F));
            }
        }
        m_used = p - start;
        m_size += text.size();
        m_ok = ok;
        return *this;
    }
    // ASCII only, as the tags and entities are.
    Utf8Out &operator+=(QLatin1String text)
    {
        char16_t units[64];
        Q_ASSERT(text.size() <= 64);
        for (qsizetype k = 0; k < text.size(); ++k)
            units[k] = char16_t(text[k].unicode());
        return *this += QStringView(units, text.size());
    }
    Utf8Out &operator+=(QChar c) { return *this += QStringView(&c, 1); }
    Utf8Out &operator+=(char16_t c) { return *this += QStringView(&c, 1); }
    // Characters written, as a QString counts them.
    qsizetype size() const { return m_size; }
    // False when the text held what UTF-8 (or the table) cannot store.
    bool ok() const { return m_ok; }

private:
    QByteArray &m_bytes;
    const Table *m_table;
    bool m_crlf;
    bool m_ok = true;
    qsizetype m_used;
    qsizetype m_size = 0;
};

} // namespace cues
