// Arbitrary bytes as a file, the first five choosing an operation and its
// settings, through the file layer, the walk and the writer. Besides not
// crashing, it checks what must always hold:
// - n lines in give n lines out (but a frame rate line that a conversion
//   leaves out), and a line that is no subtitle comes back as it was;
// - the batch tool's line-at-a-time rewrite, in pieces on two threads,
//   writes the same bytes as the editor's whole-text walk and save;
// - a conversion run twice changes nothing the second time.
#include "engine/correctionswitches.h"
#include "engine/subengine.h"
#include "cli/streamrewrite.h"
#include "files/textcodec.h"
#include "fuzzsupport.h"

#include <QBuffer>

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace {

const double rates[] = {25.0, 23.976, 29.97, 0.1, 200.0, 1.0, 59.94, 12.5};
const double shifts[] = {0.0, 2.5, -10.0, 99999999.0, -99999999.0, 0.04, -0.26, 3600.0};
const double displayTimes[] = {3.0, 0.1, 100.0, 0.05, 1.5, 7.0, 0.0, 2.0};

SubEngine engineFrom(const std::uint8_t *p)
{
    SubEngine e;
    e.convert.format = 1 + (p[1] & 3);
    e.showTime.writeEmptyEnd = p[1] & 4;
    e.showTime.onlyEmptyEnd = p[1] & 8;
    e.showTime.lengthDependent = p[1] & 16;
    e.showTime.blockTooLong = p[1] & 32;
    e.shift.start = p[1] & 64;
    e.shift.end = p[1] & 128;
    for (int i = 0; i < correctionSwitchCount; ++i)
        e.correction.*correctionSwitches[i].field = p[2] & (1 << i);
    e.fps = rates[p[3] & 7];
    e.fpsChange.from = rates[(p[3] >> 3) & 7];
    e.fpsChange.to = rates[(p[3] >> 5) & 7];
    e.shift.seconds = shifts[p[4] & 7];
    e.showTime.seconds = displayTimes[(p[4] >> 3) & 7];
    return e;
}

// The lines a walk reads: a final empty line is no line.
QStringList linesOf(const QString &text)
{
    QStringList lines = text.split(u'\n');
    if (lines.size() > 1 && lines.back().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 5)
        return 0;
    const int mode = 1 + data[0] % 5;
    const SubEngine settings = engineFrom(data);
    const QByteArray bytes(reinterpret_cast<const char *>(data + 5), qsizetype(size - 5));

    const SubtitleText file = decodeSubtitleBytes(bytes);
    SubEngine engine = settings;
    SubEngine::WalkCounts walk;
    const QString result = engine.linesChange(file.text, mode, &walk);

    // A rate line left out is the one line in without a line out; any
    // other rate line is the first line out.
    const QStringList in = linesOf(file.text);
    const bool rateLine = frameRateHeader(in[0]) > 0.0;
    const qsizetype leftOut = walk.rateLine == SubEngine::RateLine::LeftOut;
    FUZZ_CHECK((walk.rateLine != SubEngine::RateLine::None) == rateLine);
    const QStringList out = leftOut && in.size() == 1 ? QStringList() : result.split(u'\n');
    FUZZ_CHECK(in.size() == out.size() + leftOut);
    SubEngine reader = settings;
    for (qsizetype i = leftOut; i < in.size(); ++i) {
        int format;
        double show, hide;
        QString text;
        if (mode != ModeFpsChange && !reader.getline(in[i], format, show, hide, text))
            FUZZ_CHECK(out[i - leftOut] == in[i]);
    }
    if (rateLine && !leftOut)
        FUZZ_CHECK(mode == ModeFpsChange ? frameRateHeader(out[0]) > 0.0 || settings.fpsChange.to < 1.0 : out[0] == in[0]);

    QByteArray saved;
    const bool encodable = encodeSubtitleText(result, file.format, saved, nullptr);
    // In the usual pieces and in tiny ones, so that piece ends fall
    // everywhere: between CR and LF, after a BOM, before an empty line.
    const qsizetype tiny = std::max<qsizetype>(1 + data[4] % 61, bytes.size() / 32);
    for (const qsizetype pieceSize : {qsizetype(0), tiny}) {
        SubEngine streaming = settings;
        QBuffer streamed;
        streamed.open(QIODevice::WriteOnly);
        SubEngine::WalkCounts streamedWalk;
        const bool streamOk = rewriteSubtitleBytes(streaming, mode, bytes, streamed, nullptr, &streamedWalk,
                                                   pieceSize);
        FUZZ_CHECK(streamOk == encodable);
        if (encodable) {
            FUZZ_CHECK(streamed.data() == saved);
            // Counted as the walk counts, whichever thread rewrote a line.
            FUZZ_CHECK(streamedWalk.notSubtitles == walk.notSubtitles && streamedWalk.unwritten == walk.unwritten
                       && streamedWalk.rateLine == walk.rateLine);
        }
    }

    // (A text of a rate line alone leaves nothing, which a walk reads as
    // one empty line.)
    if (mode == ModeConvert && !(leftOut && in.size() == 1)) {
        SubEngine again = settings;
        FUZZ_CHECK(again.linesChange(result, mode) == result);
    }
    return 0;
}

// Every operation, the conversion into each format, with the usual settings.
QList<QByteArray> fuzzFilePrefixes()
{
    QList<QByteArray> prefixes;
    for (char mode = 0; mode < 5; ++mode) {
        for (char format = 0; format < (mode == 0 ? 4 : 1); ++format) {
            const char settings[] = {mode, char(0xF0 | format), 0x7F, 0x08, 0x01};
            prefixes << QByteArray(settings, sizeof settings);
        }
    }
    return prefixes;
}
