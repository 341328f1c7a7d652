// Arbitrary bytes as a file, the first choosing the frame rate, out to
// SubRip and WebVTT and in from SubRip. Besides not crashing, it checks:
// - every subtitle line becomes one cue, and our own reader takes back
//   every SubRip file we write, cue for cue;
// - no cue text holds a blank row, which would end the cue early;
// - whatever SubRip in gives is lines that are all subtitles;
// - the roads straight into UTF-8, from the text and from the bytes of a
//   one-byte encoding, give the very bytes the long road does.
#include "engine/subengine.h"
#include "files/savingformat.h"
#include "files/textcodec.h"
#include "formats/subrip.h"
#include "fuzzsupport.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    static const double rates[] = {25.0, 23.976, 29.97, 0.1, 200.0, 1.0, 59.94, 80.0};
    const double fps = rates[data[0] & 7];
    const QByteArray bytes(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    const SubtitleText file = decodeSubtitleBytes(bytes);

    CueReport out;
    const QString cues = exportCues(file.text, fps, CueStyle::SubRip, out);
    CueReport vttReport;
    const QString vtt = exportCues(file.text, fps, CueStyle::WebVtt, vttReport);
    FUZZ_CHECK(vttReport.cues == out.cues);
    FUZZ_CHECK(vtt.startsWith(QLatin1String("WEBVTT\n")));
    FUZZ_CHECK(!cues.contains(QLatin1String("\n\n\n")));

    for (int format : {int(BracketTime), int(FrameBased)}) {
        CueReport in;
        QString lines;
        CueProblem problem;
        const bool imported = importSubRip(cues, format, fps, lines, in, &problem);
        FUZZ_CHECK(imported || problem.kind == CueProblem::TimesTooLarge);
        if (imported)
            FUZZ_CHECK(in.cues == out.cues);
    }

    qsizetype start = 0;
    const FileFormat source = detectFormat(bytes, QString(), &start, nullptr);
    for (const bool crlf : {false, true}) {
        FileFormat utf8;
        utf8.lineEnds = crlf ? LineEnds::CRLF : LineEnds::LF;
        QByteArray expected;
        const bool encodable = encodeSubtitleText(cues, utf8, expected, nullptr);
        CueReport direct;
        const QByteArrayList fromText = exportCuesAsUtf8(file.text, fps, CueStyle::SubRip, crlf, direct);
        FUZZ_CHECK(fromText.isEmpty() != encodable);
        if (encodable) {
            FUZZ_CHECK(fromText.join() == expected);
            FUZZ_CHECK(describeCueReport(direct) == describeCueReport(out));
        }
        CueReport fromBytesReport;
        const QByteArrayList fromBytes = exportCuesAsUtf8(QByteArrayView(bytes).sliced(start), source.encoding, fps,
                                                          CueStyle::SubRip, crlf, fromBytesReport);
        if (!fromBytes.isEmpty()) {
            FUZZ_CHECK(encodable && fromBytes.join() == expected);
            FUZZ_CHECK(describeCueReport(fromBytesReport) == describeCueReport(out));
        }
    }

    CueReport in;
    QString lines;
    if (importSubRip(file.text, BracketTime, fps, lines, in, nullptr) && in.cues > 0) {
        SubEngine reader;
        for (QStringView line : QStringView(lines).tokenize(u'\n')) {
            int format;
            double show, hide;
            QString text;
            FUZZ_CHECK(reader.getline(line, format, show, hide, text) && format == BracketTime);
        }
    }
    return 0;
}

QList<QByteArray> fuzzFilePrefixes()
{
    return {QByteArray(1, 0), QByteArray(1, 1)};
}
