// Arbitrary bytes as a file, the first three choosing the frame rate, the
// kinds left out and where the text is edited, through the checks. Besides
// not crashing, it checks:
// - the list kept through edits (lines taken out and others put in) is
//   what checking the whole edited text gives;
// - Fix moves hide times only, and only for a problem the checks report:
//   every line keeps its format, show time and text part, and fixed once
//   more nothing moves.
#include "engine/checks.h"
#include "files/textcodec.h"
#include "fuzzsupport.h"

#include <QSet>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 3)
        return 0;
    static const double rates[] = {25.0, 23.976, 29.97, 0.1, 200.0, 1.0, 59.94, 10.0};
    const double fps = rates[data[0] & 7];
    CheckRules rules;
    for (int k = 0; k < checkKindCount; ++k)
        rules.on[size_t(k)] = data[1] >> (k % 8) & 1;
    const QByteArray bytes(reinterpret_cast<const char *>(data + 3), qsizetype(size - 3));
    const QString text = decodeSubtitleBytes(bytes).text;

    QStringList lines = text.split(u'\n');
    CheckList list(rules, fps);
    list.reset(text);
    for (int edit = 0; edit < 3; ++edit) {
        const int seed = data[2] * (edit + 7);
        const qsizetype first = seed % (lines.size() + 1);
        const qsizetype removed = std::min<qsizetype>(seed % 3, lines.size() - first);
        const qsizetype added = lines.size() - removed == 0 ? 1 : seed / 3 % 3;
        lines.remove(first, removed);
        for (qsizetype i = 0; i < added; ++i)
            lines.insert(first, lines.value((seed + i * 5) % std::max<qsizetype>(1, lines.size())));
        list.replaceLines(first, removed, added, [&](qsizetype line) { return lines[line]; });
    }
    const QString edited = lines.join(u'\n');
    FUZZ_CHECK(list.problems() == checkText(edited, rules, fps));
    for (const CheckProblem &p : list.problems())
        problemDetail(p, lines[p.line], rules);

    // A hide time moves only for a problem the checks report: its own
    // subtitle too short, or an overlap or short gap before the next.
    QSet<qsizetype> mendable;
    for (const CheckProblem &p : list.problems()) {
        if (p.kind == CheckKind::TooShort)
            mendable.insert(p.line);
        else if (p.kind == CheckKind::Overlap || p.kind == CheckKind::Gap)
            mendable.insert(p.other);
    }
    FixCounts counts;
    const QList<TextEdit> edits = hideTimeFixes(edited, rules, fps, counts);
    for (const TextEdit &edit : edits)
        FUZZ_CHECK(mendable.contains(QStringView(edited).first(edit.start).count(u'\n')));
    const QString fixed = withEdits(edited, edits);
    const QStringList after = fixed.split(u'\n');
    FUZZ_CHECK(after.size() == lines.size());
    SubEngine engine;
    engine.fps = fps;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        int format[2] = {};
        double show[2] = {}, hide[2];
        QString part[2];
        engine.getline(lines[i], format[0], show[0], hide[0], part[0]);
        engine.getline(after[i], format[1], show[1], hide[1], part[1]);
        FUZZ_CHECK(format[0] == format[1] && show[0] == show[1] && part[0] == part[1]);
    }
    FixCounts again;
    FUZZ_CHECK(hideTimeFixes(fixed, rules, fps, again).isEmpty());
    return 0;
}

// Every kind looked for at 25 and at 23.976 frames per second, and most
// at 29.97, each with edits of its own.
QList<QByteArray> fuzzFilePrefixes()
{
    return {QByteArray("\x00\xFF\x11", 3), QByteArray("\x01\xFF\x5A", 3), QByteArray("\x02\x7E\x03", 3)};
}
