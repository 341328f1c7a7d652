// The benchmark's test file.
#pragma once

#include <QByteArray>

#include <cstdint>

// A frame-based file in Latin-1 with two-row subtitles, style codes and
// the sloppy spacing that the correction is for. Deterministic.
inline QByteArray generateFile(int lines)
{
    static const char *const words[] = {
        "ni\xf1o", "caf\xe9", "stra\xdf" "e", "gar\xe7on", "pr\xeas", "d\xe9j\xe0", "hola",
        "world", "yes", "no", "maybe", "tomorrow", "1 000", "3.50", "what", "\xbfqu\xe9",
    };
    const int wordCount = int(sizeof words / sizeof *words);
    std::uint32_t seed = 12345;
    auto next = [&seed]() {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) & 0x7fff;
    };
    QByteArray out;
    out.reserve(lines * 64);
    int frame = 100;
    for (int i = 0; i < lines; ++i) {
        frame += 20 + int(next() % 80);
        out += '{' + QByteArray::number(frame) + "}{" + QByteArray::number(frame + 40 + next() % 60)
                + '}';
        if (next() % 4 == 0)
            out += "{y:i}";
        out += "- ";
        for (int w = 0; w < 4; ++w) {
            out += words[next() % wordCount];
            out += (next() % 5 == 0) ? " , " : " ";
        }
        out += "|-";
        for (int w = 0; w < 3; ++w) {
            out += words[next() % wordCount];
            out += ' ';
        }
        out += "!\n";
    }
    return out;
}
