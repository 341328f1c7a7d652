// The benchmark's test files.
#pragma once

#include <QByteArray>
#include <QStringEncoder>
#include <QStringList>

#include <cstdint>

// A frame-based file with two-row subtitles, style codes and the sloppy
// spacing that the correction is for, in words of one language, encoded in
// `encoding`. Deterministic.
inline QByteArray generateFile(int lines, const char *encoding = "ISO-8859-1")
{
    static const QStringList latin = QString::fromLatin1(
            "ni\xf1o caf\xe9 stra\xdf" "e gar\xe7on pr\xeas d\xe9j\xe0 hola world yes no maybe tomorrow "
            "1_000 3.50 what \xbfqu\xe9").split(u' ');
    static const QStringList polish = QString::fromUtf8(
            "zażółć gęślą jaźń prowadziłem świetnie być może jutro tak nie 1_000 3.50 co żółw").split(u' ');
    static const QStringList japanese = QString::fromUtf8(
            "ポーポー 汽笛が 鳴った どこへ 行くの 表示 ソファ 昨日の 夜は 1_000 3.50 はい いいえ").split(u' ');
    const QString name = QString::fromLatin1(encoding);
    const QStringList &words = name == u"Shift_JIS" ? japanese : name == u"windows-1250" ? polish : latin;
    std::uint32_t seed = 12345;
    auto next = [&seed]() {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) & 0x7fff;
    };
    QString out;
    out.reserve(lines * 64);
    int frame = 100;
    for (int i = 0; i < lines; ++i) {
        frame += 20 + int(next() % 80);
        out += u'{' + QString::number(frame) + QStringLiteral("}{") + QString::number(frame + 40 + next() % 60) + u'}';
        if (next() % 4 == 0)
            out += QStringLiteral("{y:i}");
        out += QStringLiteral("- ");
        for (int w = 0; w < 4; ++w) {
            out += QString(words[int(next() % words.size())]).replace(u'_', u' ');
            out += (next() % 5 == 0) ? QStringLiteral(" , ") : QStringLiteral(" ");
        }
        out += QStringLiteral("|-");
        for (int w = 0; w < 3; ++w) {
            out += QString(words[int(next() % words.size())]).replace(u'_', u' ');
            out += u' ';
        }
        out += QStringLiteral("!\n");
    }
    return QStringEncoder(encoding).encode(out);
}
