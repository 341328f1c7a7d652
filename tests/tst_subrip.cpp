// SubRip and WebVTT: lines to cues and back, the batch tool's conversions
// and saving in another encoding. Every SubRip or WebVTT file made here is
// read back by ffmpeg, a reader that is not ours.
#include "clirun.h"
#include "ffmpegcheck.h"
#include "formats/subrip.h"
#include "engine/subengine.h"
#include "files/savingformat.h"
#include "files/textcodec.h"
#include "testsupport.h"

#include <QDir>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {

// Cues with text: ffmpeg leaves out the others.
int cuesWithText(const QString &cues)
{
    int count = 0;
    const QStringList blocks = cues.split(QStringLiteral("\n\n"));
    for (const QString &block : blocks)
        count += block.contains(QStringLiteral("-->")) && block.trimmed().count(u'\n') >= 2;
    return count;
}

} // namespace

class TestSubRip : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void linesToCues_data();
    void linesToCues();
    void cuesToLines_data();
    void cuesToLines();
    void largeTextInHalves();
    void unwritableOnlyWhereWritten();
    void diskFillsWhileWriting();
    void recognised_data();
    void recognised();
    void roundTrip_data();
    void roundTrip();
    void batchConversions();
    void batchRefusals();
    void outputEncoding_data();
    void outputEncoding();
    void outputEncodingRefused_data();
    void outputEncodingRefused();

private:
    QTemporaryDir m_dir;
};

void TestSubRip::initTestCase()
{
    QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty(),
             "ffmpeg is needed: scripts/install-deps.sh installs it");
}

void TestSubRip::linesToCues_data()
{
    QTest::addColumn<bool>("webVtt");
    QTest::addColumn<double>("fps");
    QTest::addColumn<QString>("lines");
    QTest::addColumn<QString>("cues");
    QTest::addColumn<QString>("report");
    const bool srt = false, vtt = true;

    QTest::newRow("frames and rows") << srt << 25.0 << "{25}{75}Hello|world"
                                     << "1\n00:00:01,000 --> 00:00:03,000\nHello\nworld\n" << "1 cue";
    QTest::newRow("tenths, WebVTT") << vtt << 25.0 << "[15][20]Hi"
                                    << "WEBVTT\n\n1\n00:00:01.500 --> 00:00:02.000\nHi\n" << "1 cue";
    QTest::newRow("row codes") << srt << 25.0 << "{0}{25}{y:i}a|{y:b}b|{y:u}c|{y:b,u}d"
                               << "1\n00:00:00,000 --> 00:00:01,000\n<i>a</i>\n<b>b</b>\n<u>c</u>\n<b><u>d</u></b>\n"
                               << "1 cue";
    QTest::newRow("code anywhere in the row") << srt << 25.0 << "{0}{25}a {y:i}b"
                                              << "1\n00:00:00,000 --> 00:00:01,000\n<i>a b</i>\n" << "1 cue";
    QTest::newRow("whole subtitle") << srt << 25.0 << "{0}{25}{Y:i}{y:b}a|b"
                                    << "1\n00:00:00,000 --> 00:00:01,000\n<i><b>a</b>\nb</i>\n" << "1 cue";
    QTest::newRow("colour is BBGGRR") << srt << 25.0 << "{0}{25}{c:$0A0B0C}a|{C:$112233}b"
                                      << "1\n00:00:00,000 --> 00:00:01,000\n<font color=\"#332211\"><font color=\"#0C0B0A\">a</font>\nb</font>\n"
                                      << "1 cue";
    QTest::newRow("no colour in WebVTT") << vtt << 25.0 << "{0}{25}{c:$0000FF}a"
                                         << "WEBVTT\n\n1\n00:00:00.000 --> 00:00:01.000\na\n" << "1 cue; 1 code dropped";
    QTest::newRow("other codes dropped") << srt << 25.0 << "{0}{25}{f:Arial}{y:s}{c:$12}{s:12}a{b}"
                                         << "1\n00:00:00,000 --> 00:00:01,000\na{b}\n" << "1 cue; 4 codes dropped";
    QTest::newRow("slash italic in tenths only") << srt << 25.0 << "[0][10]/a|b|/c\n{0}{25}/d"
                                                 << "1\n00:00:00,000 --> 00:00:01,000\n<i>a</i>\nb\n<i>c</i>\n\n"
                                                    "2\n00:00:00,000 --> 00:00:01,000\n/d\n" << "2 cues";
    QTest::newRow("text <&> kept") << srt << 25.0 << "{0}{25}Tom & Jerry <i> -->"
                                   << "1\n00:00:00,000 --> 00:00:01,000\nTom & Jerry <i> -->\n" << "1 cue";
    QTest::newRow("text <&> escaped in WebVTT") << vtt << 25.0 << "{0}{25}Tom & Jerry <i> -->"
                                                << "WEBVTT\n\n1\n00:00:00.000 --> 00:00:01.000\nTom &amp; Jerry &lt;i&gt; --&gt;\n" << "1 cue";
    QTest::newRow("empty rows would end the cue") << srt << 25.0 << "{0}{25}a|| |b\n{25}{50}\n{50}{75}{y:i}"
                                                  << "1\n00:00:00,000 --> 00:00:01,000\na\nb\n\n2\n00:00:01,000 --> 00:00:02,000\n\n"
                                                     "3\n00:00:02,000 --> 00:00:03,000\n"
                                                  << "3 cues; 3 empty rows left out";
    // 2 s + 3 s per 50 characters; cut back to the next show time.
    QTest::newRow("empty end: default display time") << srt << 25.0 << "{0}{}12345678901234567890123456789012345678901234567890"
                                                     << "1\n00:00:00,000 --> 00:00:05,000\n12345678901234567890123456789012345678901234567890\n" << "1 cue";
    QTest::newRow("empty end: codes count") << srt << 25.0 << "[0][]{y:i}a"
                                            << "1\n00:00:00,000 --> 00:00:02,360\n<i>a</i>\n" << "1 cue";
    QTest::newRow("empty end: end field 0") << srt << 25.0 << "{25}{0}"
                                            << "1\n00:00:01,000 --> 00:00:03,000\n" << "1 cue";
    QTest::newRow("empty end: cut at next") << srt << 25.0 << "{0}{}a\n{50}{60}b"
                                            << "1\n00:00:00,000 --> 00:00:02,000\na\n\n2\n00:00:02,000 --> 00:00:02,400\nb\n" << "2 cues";
    QTest::newRow("empty end: next just after") << srt << 25.0 << "{0}{}a\n{51}{60}b"
                                                << "1\n00:00:00,000 --> 00:00:02,040\na\n\n2\n00:00:02,040 --> 00:00:02,400\nb\n" << "2 cues";
    QTest::newRow("empty end: next earlier or equal") << srt << 25.0 << "[50][]a\n[50][60]b\n[10][]c\n[5][60]d"
                                                      << "1\n00:00:05,000 --> 00:00:07,060\na\n\n2\n00:00:05,000 --> 00:00:06,000\nb\n\n"
                                                         "3\n00:00:01,000 --> 00:00:03,060\nc\n\n4\n00:00:00,500 --> 00:00:06,000\nd\n" << "4 cues";
    QTest::newRow("empty end: next after a note") << srt << 25.0 << "[0][]a\nnote\n[10][20]b"
                                                  << "1\n00:00:00,000 --> 00:00:01,000\na\n\n2\n00:00:01,000 --> 00:00:02,000\nb\n"
                                                  << "2 cues; 1 line that is no subtitle left out";
    QTest::newRow("clock-time") << srt << 25.0 << "01:02:03:Hi\n0:00:01 x"
                                << "1\n01:02:03,000 --> 01:02:05,120\nHi\n\n2\n00:00:01,000 --> 00:00:03,060\nx\n" << "2 cues";
    QTest::newRow("below zero") << srt << 25.0 << "{-50}{-25}a\n[-5][5]b\n{-25}{}c"
                                << "1\n00:00:00,000 --> 00:00:00,000\na\n\n2\n00:00:00,000 --> 00:00:00,500\nb\n\n"
                                   "3\n00:00:00,000 --> 00:00:02,060\nc\n" << "3 cues; 4 times below zero written as 0";
    QTest::newRow("half a millisecond rounds up") << srt << 80.0 << "{1}{3}a"
                                                  << "1\n00:00:00,013 --> 00:00:00,038\na\n" << "1 cue";
    QTest::newRow("hundred hours") << srt << 25.0 << "[3600000][3600001]a"
                                   << "1\n100:00:00,000 --> 100:00:00,100\na\n" << "1 cue";
    // 23.976 itself, not 24000/1001 (which would give 00:16:41,000). The
    // rate line is no cue, and the rate asked for is the one used.
    QTest::newRow("rate header") << srt << 23.976 << "{1}{1}23.976\n{24}{48}a\n{24000}{24001}b"
                                 << "1\n00:00:01,001 --> 00:00:02,002\na\n\n2\n00:16:41,001 --> 00:16:41,043\nb\n" << "2 cues";
    QTest::newRow("rate header, another rate") << vtt << 25.0 << "{0}{0}23.976\n{24}{48}a"
                                               << "WEBVTT\n\n1\n00:00:00.960 --> 00:00:01.920\na\n" << "1 cue";
    QTest::newRow("header only on the first line") << srt << 25.0 << "{24}{48}a\n{1}{1}23.976"
                                                   << "1\n00:00:00,960 --> 00:00:01,920\na\n\n2\n00:00:00,040 --> 00:00:00,040\n23.976\n" << "2 cues";
    QTest::newRow("not subtitles, blank lines") << srt << 25.0 << "\nTranslated by us\n\n{bad}{line\n  \n"
                                                << "" << "0 cues; 2 lines that are no subtitles left out";
    QTest::newRow("numbered from 1 in file order") << vtt << 25.0 << "[20][30]b\n[0][10]a"
                                                   << "WEBVTT\n\n1\n00:00:02.000 --> 00:00:03.000\nb\n\n2\n00:00:00.000 --> 00:00:01.000\na\n" << "2 cues";
}

void TestSubRip::linesToCues()
{
    QFETCH(bool, webVtt);
    QFETCH(double, fps);
    QFETCH(QString, lines);
    const CueStyle style = webVtt ? CueStyle::WebVtt : CueStyle::SubRip;
    CueReport report;
    const QString cues = exportCues(lines, fps, style, report);
    QTEST(cues, "cues");
    QTEST(describeCueReport(report), "report");
    // ffmpeg reads it whole (the cues with text).
    static int written = 0;
    const QString path = m_dir.filePath(QStringLiteral("cues%1.%2").arg(++written).arg(webVtt ? "vtt" : "srt"));
    QVERIFY(writeBytes(path, cues.toUtf8()));
    if (!cues.isEmpty())
        QCOMPARE(ffmpegCues(path), cuesWithText(cues));
}

void TestSubRip::cuesToLines_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("cues");
    QTest::addColumn<QString>("lines");
    QTest::addColumn<QString>("report");
    const QString two = QStringLiteral("1\n00:00:01,000 --> 00:00:02,500\nHello\nworld\n\n2\n00:00:03,020 --> 00:00:04,000\nBye\n");

    QTest::newRow("tenths") << int(BracketTime) << two << "[10][25]Hello|world\n[30][40]Bye" << "2 cues";
    QTest::newRow("frames, half up") << int(FrameBased) << two << "{25}{63}Hello|world\n{76}{100}Bye" << "2 cues";
    QTest::newRow("clock-time") << int(ClockOneDigitHour) << two << "0:00:01:Hello|world\n0:00:03:Bye" << "2 cues";
    QTest::newRow("blank lines around, spaces, positions")
            << int(BracketTime) << "\n\n 7 \n00:00:01,000 --> 00:00:02,000 X1:10 X2:20\na\n\n\n\n8\n00:00:02,000-->00:00:03,000\n\n"
            << "[10][20]a\n[20][30]" << "2 cues";
    QTest::newRow("no text") << int(FrameBased) << "1\n00:00:01,000 --> 00:00:02,000" << "{25}{50}" << "1 cue";
    QTest::newRow("italic row, frames") << int(FrameBased) << "1\n00:00:00,000 --> 00:00:01,000\n<i>a</i>\nb\n<I>c</I>"
                                        << "{0}{25}{y:i}a|b|{y:i}c" << "1 cue";
    QTest::newRow("italic row, tenths") << int(BracketTime) << "1\n00:00:00,000 --> 00:00:01,000\n<i>a</i>\nb"
                                        << "[0][10]/a|b" << "1 cue";
    QTest::newRow("italic cue, frames") << int(FrameBased) << "1\n00:00:00,000 --> 00:00:01,000\n<i>a\nb</i>"
                                        << "{0}{25}{Y:i}a|b" << "1 cue";
    QTest::newRow("italic cue, tenths: every row") << int(BracketTime) << "1\n00:00:00,000 --> 00:00:01,000\n<i><b>a</b>\nb</i>"
                                                   << "[0][10]/{y:b}a|/b" << "1 cue";
    QTest::newRow("one row: a row code") << int(FrameBased) << "1\n00:00:00,000 --> 00:00:01,000\n<i>a</i>"
                                         << "{0}{25}{y:i}a" << "1 cue";
    QTest::newRow("nested styles and colour") << int(FrameBased)
                                              << "1\n00:00:00,000 --> 00:00:01,000\n<b><u><font color=\"#112233\">a</font></u></b>\n<font color=#aAbBcC>b</font>"
                                              << "{0}{25}{y:bu}{c:$332211}a|{c:$cCbBaA}b" << "1 cue";
    QTest::newRow("tags inside a row dropped") << int(FrameBased)
                                               << "1\n00:00:00,000 --> 00:00:01,000\na <i>b</i> c\n<s>d</s>\n{\\an8}e\n<font color=\"red\">f</font>"
                                               << "{0}{25}a b c|d|e|f" << "1 cue; 7 codes dropped";
    QTest::newRow("tag over two rows of three") << int(FrameBased) << "1\n00:00:00,000 --> 00:00:01,000\n<i>a\nb</i>\nc"
                                                << "{0}{25}a|b|c" << "1 cue; 2 codes dropped";
    QTest::newRow("text that only looks like tags") << int(BracketTime)
                                                    << "1\n00:00:00,000 --> 00:00:01,000\nTom & Jerry <3 <night> a<b {x}"
                                                    << "[0][10]Tom & Jerry <3 <night> a<b {x}" << "1 cue";

    // Broken cues are reported with their line, never guessed.
    const QString noTimeLine = QStringLiteral("line %1: cue %2 has no time line \"00:00:00,000 --> 00:00:00,000\"");
    QTest::newRow("blank line inside a cue") << int(BracketTime) << "1\n00:00:01,000 --> 00:00:02,000\na\n\nb\n\n2\n00:00:03,000 --> 00:00:04,000\nc"
                                             << "line 5: \"b\" is no cue number" << "";
    QTest::newRow("no time line") << int(BracketTime) << "1\n00:00:01,000 --> 00:00:02,000\na\n\n2\nb" << noTimeLine.arg(6).arg(2) << "";
    QTest::newRow("number at the end") << int(BracketTime) << "1\n00:00:01,000 --> 00:00:02,000\na\n\n2\n" << noTimeLine.arg(6).arg(2) << "";
    QTest::newRow("largest minute and second, nine hour digits") << int(ClockTwoDigitHours)
            << "1\n00:59:59,999 --> 01:00:00,000\na\n\n2\n000000001:00:00,000 --> 1:00:01,000\nb"
            << "01:00:00:a\n01:00:00:b" << "2 cues";
    // Ten hour digits, a point for the comma, minute or second 60, two
    // digits of milliseconds, junk after the end time.
    for (const char *time : {"0000000001:00:00,000 --> 1:00:01,000", "00:00:01.000 --> 00:00:02.000", "00:60:00,000 --> 01:00:01,000",
                             "00:00:60,000 --> 00:01:01,000", "00:00:01,00 --> 00:00:02,000", "00:00:01,000 --> 00:00:02,0001"})
        QTest::newRow(time) << int(BracketTime) << QStringLiteral("1\n%1\na").arg(QLatin1String(time)) << noTimeLine.arg(2).arg(1) << "";
    QTest::newRow("too large for frames") << int(FrameBased) << "1\n999999999:00:00,000 --> 999999999:00:01,000\na"
                                          << "line 2: the times are too large for the format" << "";
}

void TestSubRip::cuesToLines()
{
    QFETCH(int, format);
    QFETCH(QString, cues);
    CueReport counts;
    QString lines = QStringLiteral("untouched");
    CueProblem problem;
    const bool ok = importSubRip(cues, format, 25.0, lines, counts, &problem);
    QFETCH(QString, report);
    if (report.isEmpty()) {
        QVERIFY(!ok);
        QCOMPARE(lines, QStringLiteral("untouched"));
        QTEST(cueError(QString(), problem).reason(), "lines");
        return;
    }
    QVERIFY2(ok, qPrintable(cueError(QString(), problem).reason()));
    QTEST(lines, "lines");
    QCOMPARE(describeCueReport(counts), report);
}

// Long enough to be done in two halves on two threads, and written as
// UTF-8 in many pieces: the numbering runs on across the split and the
// pieces, a cue without a hide time stops at the next show time there too,
// and WebVTT has one header.
void TestSubRip::largeTextInHalves()
{
    const int count = 70000;
    const QString words = QString(59, u'x') + QChar(0xE9);
    QString lines;
    for (int k = 0; k < count; ++k)
        lines += QStringLiteral("[%1][]%2\n").arg(k * 10).arg(words);
    auto time = [](qint64 ms, char point) {
        return QString::asprintf("%02lld:%02lld:%02lld%c%03lld", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60,
                                 point, ms % 1000);
    };
    for (CueStyle style : {CueStyle::SubRip, CueStyle::WebVtt}) {
        const char point = style == CueStyle::SubRip ? ',' : '.';
        QString expected = style == CueStyle::WebVtt ? QStringLiteral("WEBVTT\n\n") : QString();
        for (int k = 0; k < count; ++k) {
            const qint64 hide = k + 1 < count ? (k + 1) * 1000 : k * 1000 + 5600;
            expected += QStringLiteral("%1\n%2 --> %3\n%4\n").arg(k + 1).arg(time(k * 1000, point), time(hide, point), words);
            if (k + 1 < count)
                expected += u'\n';
        }
        CueReport report;
        const QStringList pieces = exportCuePieces(lines, 25.0, style, report);
        QCOMPARE(pieces.size(), 2);
        QCOMPARE(report.cues, count);
        QVERIFY(pieces.join(QString()) == expected);

        // From the text, LF in and CR LF out; from its bytes, CR LF in and LF out.
        const QByteArray utf8 = expected.toUtf8();
        QByteArray crlf = utf8;
        crlf.replace("\n", "\r\n");
        QByteArray bytes = lines.toLatin1();
        bytes.replace("\n", "\r\n");
        CueReport fromText, fromBytes;
        QVERIFY(exportCuesAsUtf8(lines, 25.0, style, true, fromText).join() == crlf);
        QVERIFY(exportCuesAsUtf8(bytes, QStringLiteral("ISO-8859-1"), 25.0, style, false, fromBytes).join() == utf8);
        QCOMPARE(fromText.cues, count);
        QCOMPARE(fromBytes.cues, count);
    }
    // Two halves from 4 Mi characters on.
    CueReport report;
    const QString big(4 * 1024 * 1024, u'\n');
    QCOMPARE(exportCuePieces(big, 25.0, CueStyle::SubRip, report).size(), 2);
    QCOMPARE(exportCuePieces(QStringView(big).sliced(1), 25.0, CueStyle::SubRip, report).size(), 1);
}

// What UTF-8 or the file's encoding cannot hold refuses the short road only
// where it would be written; in a line left out, or in a code dropped, it
// is no reason to refuse. A refusal comes before any byte is handed out.
// A byte that was not UTF-8 (read as U+DC80..U+DCFF) is written as it came.
void TestSubRip::unwritableOnlyWhereWritten()
{
    for (const char16_t carried : {u'\xDC80', u'\xDCFF'}) {
        CueReport report;
        const QString text = QStringLiteral("[0][10]a") + QChar(carried) + QStringLiteral("|b");
        const QByteArray bytes = "1\n00:00:00,000 --> 00:00:01,000\na" + QByteArray(1, char(carried - 0xDC00)) + "\nb\n";
        QCOMPARE(exportCuesAsUtf8(text, 25.0, CueStyle::SubRip, false, report), QByteArrayList{bytes});
    }
    // The same in a text and in windows-1253 bytes (0xD2 is no character
    // there; 0xE1 is an alpha): in a line left out, in a code dropped, in
    // the cue's own text.
    const QChar half(0xD800);
    const QString texts[] = {QStringLiteral("junk ") + half + QStringLiteral("\n[0][10]a"),
                             QStringLiteral("[0][10]a{x:") + half + QStringLiteral("}"),
                             QStringLiteral("[0][10]a") + half};
    const QByteArray greek[] = {"junk \xD2\n[0][10]\xE1", "[0][10]\xE1{x:\xD2}", "[0][10]\xE1\xD2"};
    for (int i = 0; i < 3; ++i) {
        const bool written = i == 2;
        CueReport fromText, fromBytes;
        CueStream stream, greekStream;
        QCOMPARE(stream.read(texts[i], 25.0, CueStyle::SubRip, false), !written);
        QCOMPARE(greekStream.read(greek[i], QStringLiteral("windows-1253"), 25.0, CueStyle::SubRip, false), !written);
        QCOMPARE(exportCuesAsUtf8(texts[i], 25.0, CueStyle::SubRip, false, fromText),
                 written ? QByteArrayList() : QByteArrayList{"1\n00:00:00,000 --> 00:00:01,000\na\n"});
        QCOMPARE(exportCuesAsUtf8(greek[i], QStringLiteral("windows-1253"), 25.0, CueStyle::SubRip, false, fromBytes),
                 written ? QByteArrayList() : QByteArrayList{"1\n00:00:00,000 --> 00:00:01,000\n\xCE\xB1\n"});
        QCOMPARE(fromText.cues, written ? 0 : 1);
    }
}

// A disk that fills while the cues are written, pieces of them already on
// it: the batch tool says so and leaves nothing behind.
void TestSubRip::diskFillsWhileWriting()
{
    if (geteuid() != 0)
        QSKIP("needs root (as in CI): a tmpfs mount");
    const QString disk = m_dir.filePath(QStringLiteral("disk"));
    QVERIFY(QDir().mkpath(disk));
    QCOMPARE(QProcess::execute(QStringLiteral("mount"), {"-t", "tmpfs", "-o", "size=512k", "tmpfs", disk}), 0);
    const auto unmount = qScopeGuard([&] { QProcess::execute(QStringLiteral("umount"), {"-l", disk}); });
    // Some 900 kB of cues, several pieces of them.
    QByteArray bytes;
    for (int i = 0; i < 20000; ++i)
        bytes += "{" + QByteArray::number(i * 25) + "}{" + QByteArray::number(i * 25 + 20) + "}Line " + QByteArray::number(i) + "\n";
    const QString in = m_dir.filePath(QStringLiteral("many.sub"));
    QVERIFY(writeBytes(in, bytes));
    for (const char *to : {"srt", "vtt"}) {
        const CliRun r = runTool({"convert", "--to", to, in, "-o", disk + "/many." + to});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains("No space left on device"), r.err.constData());
        QCOMPARE(QDir(disk).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
    }
}

void TestSubRip::recognised_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("subRip");
    QTest::newRow("cue") << "1\n00:00:01,000 --> 00:00:02,000\na" << true;
    QTest::newRow("blank lines first") << "\n \n12\n00:00:01,000 --> 00:00:02,000" << true;
    QTest::newRow("number only") << "1" << false;
    QTest::newRow("clock-time after a number") << "1\n00:00:01:Hi" << false;
    QTest::newRow("frames") << "{1}{1}25\n{0}{25}a" << false;
    QTest::newRow("WebVTT") << "WEBVTT\n\n1\n00:00:01.000 --> 00:00:02.000\na" << false;
    QTest::newRow("empty") << "" << false;
}

void TestSubRip::recognised()
{
    QFETCH(QString, text);
    QTEST(looksLikeSubRip(text), "subRip");
}

void TestSubRip::roundTrip_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("format");
    QTest::addColumn<double>("fps");
    for (double fps : {25.0, 23.976, 29.97}) {
        QTest::addRow("frames at %g", fps) << sampleFile("roundtrip-frames.sub") << int(FrameBased) << fps;
        QTest::addRow("tenths at %g", fps) << sampleFile("roundtrip-tenths.txt") << int(BracketTime) << fps;
    }
}

// Out to SubRip and back in gives the same bytes, through the batch tool.
void TestSubRip::roundTrip()
{
    QFETCH(QString, file);
    QFETCH(int, format);
    QFETCH(double, fps);
    const QString srt = m_dir.filePath(QStringLiteral("round.srt"));
    const QString back = m_dir.filePath(QStringLiteral("back.sub"));
    const QString ended = m_dir.filePath(QStringLiteral("ended.sub"));
    const QString rate = QString::number(fps);
    // As it is, and with a line end after its last line.
    QVERIFY(writeBytes(ended, readBytes(file) + '\n'));
    for (const QString &source : {file, ended}) {
        CliRun r = runTool({"--fps", rate, "convert", "--to", "srt", source, "-o", srt});
        QCOMPARE(r.err, QByteArray());
        QCOMPARE(r.status, 0);
        QCOMPARE(ffmpegCues(srt), int(readBytes(file).count('\n') + 1));
        r = runTool({"--fps", rate, "convert", "--to", format == FrameBased ? "frames" : "tenths", srt, "-o", back});
        QCOMPARE(r.err, QByteArray());
        QCOMPARE(r.status, 0);
        QCOMPARE(readBytes(back), readBytes(source));
    }
}

void TestSubRip::batchConversions()
{
    const QString sub = m_dir.filePath(QStringLiteral("film.v2/movie.sub"));
    QVERIFY(QDir().mkpath(m_dir.filePath(QStringLiteral("film.v2"))));
    const QByteArray lines = "{25}{50}Hello\r\nnote\r\n{75}{100}{y:i}Bye";
    QVERIFY(writeBytes(sub, lines));

    // -i puts SubRip and WebVTT beside the source; CR LF stays.
    CliRun r = runTool({"convert", "--to", "srt", "-i", sub});
    QCOMPARE(r.status, 0);
    QCOMPARE(r.err, QByteArray("tarnlyx-cli: " + sub.toUtf8() + ": 2 cues; 1 line that is no subtitle left out\n"));
    QCOMPARE(readBytes(sub), lines);
    const QString srt = m_dir.filePath(QStringLiteral("film.v2/movie.srt"));
    const QByteArray cues = "1\r\n00:00:01,000 --> 00:00:02,000\r\nHello\r\n\r\n2\r\n00:00:03,000 --> 00:00:04,000\r\n<i>Bye</i>\r\n";
    QCOMPARE(readBytes(srt), cues);
    QCOMPARE(ffmpegCues(srt), 2);
    r = runTool({"convert", "--to=vtt", "--lf", "--in-place", sub});
    QCOMPARE(r.status, 0);
    const QString vtt = m_dir.filePath(QStringLiteral("film.v2/movie.vtt"));
    QCOMPARE(readBytes(vtt), QByteArray("WEBVTT\n\n1\n00:00:01.000 --> 00:00:02.000\nHello\n\n2\n00:00:03.000 --> 00:00:04.000\n<i>Bye</i>\n"));
    QCOMPARE(ffmpegCues(vtt), 2);

    // A name without an extension gets one; standard input to standard output.
    const QString bare = m_dir.filePath(QStringLiteral("film.v2/bare"));
    QVERIFY(writeBytes(bare, "[10][20]a"));
    QCOMPARE(runTool({"convert", "--to", "srt", "-i", bare}).status, 0);
    QCOMPARE(readBytes(bare + ".srt"), QByteArray("1\n00:00:01,000 --> 00:00:02,000\na\n"));
    QCOMPARE(ffmpegCues(bare + ".srt"), 1);
    r = runTool({"convert", "--to", "vtt"}, "[10][20]a");
    QCOMPARE(r.out, QByteArray("WEBVTT\n\n1\n00:00:01.000 --> 00:00:02.000\na\n"));

    // SubRip in: -i writes NAME.sub beside the .srt, in the rate asked;
    // one that exists is replaced only with --force.
    r = runTool({"--fps", "10", "convert", "--to", "frames", "-i", srt});
    QCOMPARE(r.status, 1);
    QCOMPARE(r.err, "tarnlyx-cli: \"" + sub.toUtf8() + "\" exists; give --force to replace it\n");
    QCOMPARE(readBytes(sub), lines);
    QCOMPARE(runTool({"--fps", "10", "convert", "--to", "frames", "-i", "--force", srt}).status, 0);
    QCOMPARE(readBytes(srt), cues);
    QCOMPARE(readBytes(sub), QByteArray("{10}{20}Hello\r\n{30}{40}{y:i}Bye"));
    r = runTool({"convert", "--to", "hh:mm:ss", srt});
    QCOMPARE(r.out, QByteArray("00:00:01:Hello\r\n00:00:03:{y:i}Bye"));
    r = runTool({"convert", "--to", "h:mm:ss"}, cues);
    QCOMPARE(r.out, QByteArray("0:00:01:Hello\r\n0:00:03:{y:i}Bye"));

    // A large file is written in two pieces: one byte-order mark, every cue.
    QByteArray many;
    for (int k = 0; k < 70000; ++k)
        many += "[" + QByteArray::number(k * 10) + "][" + QByteArray::number(k * 10 + 5) + "]" + QByteArray(60, 'x') + "\n";
    const QString big = m_dir.filePath(QStringLiteral("big.sub"));
    QVERIFY(writeBytes(big, many));
    QCOMPARE(runTool({"--bom", "convert", "--to", "srt", "-i", big}).status, 0);
    const QByteArray bigCues = readBytes(m_dir.filePath(QStringLiteral("big.srt")));
    QVERIFY(bigCues.startsWith("\xef\xbb\xbf" "1\n"));
    QCOMPARE(bigCues.count("\xef\xbb\xbf"), 1);
    QCOMPARE(ffmpegCues(m_dir.filePath(QStringLiteral("big.srt"))), 70000);

    // A large windows-1250 file, CR LF, with a row of only "…" (byte 0x85,
    // a space when read as Latin-1), is written from its bytes: the same
    // bytes as decoding it, making cues and encoding them.
    QByteArray polish;
    for (int k = 0; k < 60000; ++k)
        polish += "{" + QByteArray::number(k * 10) + "}{}Za\xbf\xf3\xb3\xe6 g\xea\x9cl\xb9 ja\x9f\xf1|\x85|" + QByteArray(50, 'x') + "\r\n";
    const QString bigPolish = m_dir.filePath(QStringLiteral("polish.sub"));
    QVERIFY(writeBytes(bigPolish, polish));
    QCOMPARE(runTool({"--encoding", "windows-1250", "convert", "--to", "vtt", "-i", bigPolish}).status, 0);
    CueReport report;
    FileFormat crlf;
    crlf.lineEnds = LineEnds::CRLF;
    crlf.finalLineEnd = true; // the file's last line end: a blank line after the last cue
    QByteArray expected;
    QVERIFY(encodeSubtitleText(exportCues(decodeSubtitleBytes(polish, QStringLiteral("windows-1250")).text, 25.0,
                                      CueStyle::WebVtt, report),
                           crlf, expected, nullptr));
    QVERIFY(readBytes(m_dir.filePath(QStringLiteral("polish.vtt"))) == expected);
    QVERIFY(expected.contains("\r\n\xe2\x80\xa6\r\n"));
}

void TestSubRip::batchRefusals()
{
    const QString srt = m_dir.filePath(QStringLiteral("refused.srt"));
    const QByteArray cues = "1\n00:00:01,000 --> 00:00:02,000\nHello\n";
    QVERIFY(writeBytes(srt, cues));
    const QString broken = m_dir.filePath(QStringLiteral("broken.srt"));
    QVERIFY(writeBytes(broken, cues + "\nnot a number\n"));
    const QString named = m_dir.filePath(QStringLiteral("cues.sub")); // SubRip, so its own target
    QVERIFY(writeBytes(named, cues));
    const QString lines = m_dir.filePath(QStringLiteral("refused.sub"));
    QVERIFY(writeBytes(lines, "[0][10]a"));

    struct Case
    {
        QStringList args;
        QByteArray message;
    };
    const QList<Case> cases = {
        {{"shift", "--seconds", "2", "-i", srt}, "it is a SubRip file: convert it into a line format first"},
        {{"correct", srt, "-o", m_dir.filePath("x.sub")}, "it is a SubRip file"},
        {{"convert", "--to", "srt", "-i", srt}, "it is SubRip already"},
        {{"convert", "--to", "vtt", srt}, "it is SubRip already"},
        {{"convert", "--to", "tenths", "-i", broken}, "line 5: \"not a number\" is no cue number"},
        {{"convert", "--to", "srt", sampleFile("mixed.sub"), "-o", "/dev/full"}, "cannot write \"/dev/full\": No space left on device"},
        {{"convert", "--to", "frames", "-i", named}, "it is the file being converted"},
        {{"convert", "--to", "frames", "-i", lines, srt}, "another INPUT's result goes there too"}, // nothing written
    };
    for (const Case &c : cases) {
        const CliRun r = runTool(c.args);
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains(c.message), r.err.constData());
        QCOMPARE(r.out, QByteArray());
    }
    QCOMPARE(readBytes(srt) + readBytes(named) + readBytes(lines), cues + cues + "[0][10]a");
    QVERIFY(!QFile::exists(m_dir.filePath("x.sub")));
    QVERIFY(!QFile::exists(m_dir.filePath("broken.sub")));
}

void TestSubRip::outputEncoding_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("output");
    const QByteArray polish1250 = "[0][10]Za\xbf\xf3\xb3\xe6\n[10][20]g\xea\x9cl\xb9";
    const QByteArray polishUtf8 = "[0][10]Za\xc5\xbc\xc3\xb3\xc5\x82\xc4\x87\n[10][20]g\xc4\x99\xc5\x9bl\xc4\x85";
    QByteArray polishUtf8Crlf = polishUtf8;
    polishUtf8Crlf.replace("\n", "\r\n");
    QByteArray polish1250Crlf = polish1250;
    polish1250Crlf.replace("\n", "\r\n");

    QTest::newRow("windows-1250 with CR LF") << QStringList{"--output-encoding", "windows-1250", "--crlf", "convert", "--to", "tenths"}
                                             << polishUtf8 << polish1250Crlf;
    QTest::newRow("to UTF-8 without BOM, LF") << QStringList{"--encoding", "windows-1250", "--output-encoding=UTF-8", "--lf", "shift"}
                                              << polish1250Crlf << polishUtf8;
    QTest::newRow("line ends only, every operation") << QStringList{"--crlf", "correct", "--no-sustain", "--no-punctuation"}
                                                     << polishUtf8 << polishUtf8Crlf;
    QTest::newRow("CR and the last line end kept") << QStringList{"--output-encoding", "UTF-8", "shift"}
                                                   << QByteArray("[0][10]a\r[10][20]b\r") << QByteArray("[0][10]a\r[10][20]b\r");
    QTest::newRow("BOM") << QStringList{"--bom", "fps", "--from", "25", "--to", "25"}
                         << polishUtf8 << "\xef\xbb\xbf" + polishUtf8;
    QTest::newRow("UTF-16LE with BOM") << QStringList{"--output-encoding", "UTF-16LE", "--bom", "showtime", "--only-empty"}
                                       << QByteArray("[0][10]a") << QByteArray("\xff\xfe[\0000\0]\0[\0001\0000\0]\0a\0", 18);
    QTest::newRow("SubRip in windows-1250") << QStringList{"--output-encoding", "windows-1250", "convert", "--to", "srt"}
                                            << QByteArray("[0][10]\xc5\xbc") << QByteArray("1\n00:00:00,000 --> 00:00:01,000\n\xbf\n");
}

void TestSubRip::outputEncoding()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, input);
    const QString path = m_dir.filePath(QStringLiteral("encoded.txt"));
    const CliRun r = runTool(args << "-o" << path, input);
    QCOMPARE(r.err, QByteArray());
    QCOMPARE(r.status, 0);
    QTEST(readBytes(path), "output");
    if (args.contains(QStringLiteral("srt")))
        QCOMPARE(ffmpegCues(path, QStringLiteral("CP1250")), 1);
}

void TestSubRip::outputEncodingRefused_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("a letter the encoding lacks") << QStringList{"--output-encoding", "ISO-8859-1", "convert"} << 1
                                                 << QByteArray("line 2, column 10 holds \"\xc5\xbc\" (U+017C)");
    QTest::newRow("not an encoding") << QStringList{"--output-encoding", "klingon", "shift"} << 2
                                     << QByteArray("--output-encoding: \"klingon\" is not an encoding this system knows");
    QTest::newRow("bytes is no encoding to write") << QStringList{"--output-encoding", "bytes", "shift"} << 2
                                                   << QByteArray("\"bytes\" is not an encoding");
    QTest::newRow("BOM in a code page") << QStringList{"--output-encoding", "windows-1250", "--bom", "shift"} << 2
                                        << QByteArray("--bom: windows-1250 has no byte-order mark");
    QTest::newRow("BOM of the input's code page") << QStringList{"--encoding", "windows-1250", "--bom", "shift"} << 1
                                                  << QByteArray("--bom: windows-1250 has no byte-order mark");
    QTest::newRow("both line ends") << QStringList{"--crlf", "shift", "--lf"} << 2 << QByteArray("--crlf and --lf cannot be used together");
    QTest::newRow("WebVTT in a code page") << QStringList{"--output-encoding", "windows-1250", "convert", "--to", "vtt"} << 1
                                           << QByteArray("a WebVTT file is always UTF-8");
    QTest::newRow("info writes no file") << QStringList{"--lf", "info"} << 2 << QByteArray("info writes no file");
}

void TestSubRip::outputEncodingRefused()
{
    QFETCH(QStringList, args);
    const QString path = m_dir.filePath(QStringLiteral("refused.sub"));
    QVERIFY(writeBytes(path, "old"));
    const CliRun r = runTool(args << "-o" << path, "[0][10]a\n[0][10]Za\xc5\xbc\xc3\xb3\xc5\x82\xc4\x87");
    QTEST(r.status, "status");
    QFETCH(QByteArray, message);
    QVERIFY2(r.err.contains(message), r.err.constData());
    QCOMPARE(readBytes(path), QByteArray("old"));
}

QTEST_GUILESS_MAIN(TestSubRip)
#include "tst_subrip.moc"
