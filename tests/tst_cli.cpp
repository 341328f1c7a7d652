// The batch tool: options, defaults, files, exit status and messages.
#include "clirun.h"
#include "engine/correctionswitches.h"
#include "engine/fieldranges.h"
#include "engine/operations.h"
#include "files/textcodec.h"
#include "testsupport.h"

#include <QRegularExpression>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QByteArray sample = "{250}{300}Hello ,world  \n[100][150]-Hi|-You\nplain words\n";

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void operations_data();
    void operations();
    void everyTarget();
    void oneRatePerFile_data();
    void oneRatePerFile();
    void usageErrors_data();
    void usageErrors();
    void outputFileAndInPlace();
    void help();
    void rangeEndsAccepted();
    void encodings_data();
    void encodings();
    void info();
    void lineEndsKept_data();
    void lineEndsKept();
    void clockLinesNotWritten();
    void unicodeWithoutMarkReadsBack();
    void tooLargeRefusedUpFront();
};

void TestCli::operations_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("convert default is frames") << QStringList{"convert"} << QByteArray("{250}{300}Hello ,world  \n{250}{375}-Hi|-You\nplain words\n");
    QTest::newRow("convert to h:mm:ss") << QStringList{"convert", "--to=h:mm:ss"} << QByteArray("0:00:10:Hello ,world  \n0:00:10:-Hi|-You\nplain words\n");
    QTest::newRow("convert at 10 fps") << QStringList{"--fps", "10", "convert", "--to", "tenths"} << QByteArray("[250][300]Hello ,world  \n[100][150]-Hi|-You\nplain words\n");
    QTest::newRow("shift default is nothing") << QStringList{"shift"} << QByteArray("{250}{300}Hello ,world  \n[100][150]-Hi|-You\nplain words\n");
    QTest::newRow("shift back, show only") << QStringList{"shift", "--seconds", "-2.5", "--no-hide"} << QByteArray("{188}{300}Hello ,world  \n[75][150]-Hi|-You\nplain words\n");
    QTest::newRow("shift hide only") << QStringList{"shift", "--no-show", "--seconds=1"} << QByteArray("{250}{325}Hello ,world  \n[100][160]-Hi|-You\nplain words\n");
    QTest::newRow("showtime default") << QStringList{"showtime"} << QByteArray("{250}{321}Hello ,world  \n[100][125]-Hi|-You\nplain words\n");
    QTest::newRow("showtime fixed, not blocked") << QStringList{"showtime", "--fixed", "--no-block", "--seconds", "2"} << QByteArray("{250}{300}Hello ,world  \n[100][120]-Hi|-You\nplain words\n");
    QTest::newRow("showtime write empty") << QStringList{"showtime", "--write-empty"} << QByteArray("{250}{}Hello ,world  \n[100][]-Hi|-You\nplain words\n");
    QTest::newRow("showtime only empty") << QStringList{"showtime", "--only-empty"} << QByteArray("{250}{300}Hello ,world  \n[100][150]-Hi|-You\nplain words\n");
    QTest::newRow("fps default") << QStringList{"fps"} << QByteArray("{290}{348}Hello ,world  \n[100][150]-Hi|-You\nplain words\n");
    QTest::newRow("fps from to") << QStringList{"fps", "--from", "29.97", "--to", "25"} << QByteArray("{209}{250}Hello ,world  \n[100][150]-Hi|-You\nplain words\n");
    QTest::newRow("correct default") << QStringList{"correct"} << QByteArray("{250}{300}Hello, world\n[100][150]- Hi|- You\nplain words\n");
    QTest::newRow("correct without sustain and punctuation") << QStringList{"correct", "--no-sustain", "--no-punctuation", "--no-end-spaces"} << QByteArray("{250}{300}Hello ,world \n[100][150]- Hi|- You\nplain words\n");
    QTest::newRow("version") << QStringList{"--version"} << QByteArray("tarnlyx-cli 0.1\n");
    QTest::newRow("options after inputs") << QStringList{"convert", "-", "--to", "tenths"} << QByteArray("[100][120]Hello ,world  \n[100][150]-Hi|-You\nplain words\n");
}

void TestCli::operations()
{
    QFETCH(QStringList, args);
    const CliRun r = runTool(args, sample);
    QCOMPARE(r.err, QByteArray());
    QCOMPARE(r.status, 0);
    QTEST(r.out, "expected");
}

void TestCli::everyTarget()
{
    // Each name and number --to takes.
    const QByteArray lines = "{250}{300}x\n[100][]y\n";
    const struct
    {
        QStringList names;
        QByteArray written;
    } targets[] = {
        {{"hh:mm:ss", "1"}, "00:00:10:x\n00:00:10:y\n"},
        {{"h:mm:ss", "2"}, "0:00:10:x\n0:00:10:y\n"},
        {{"frames", "3"}, "{250}{300}x\n{250}{}y\n"},
        {{"tenths", "4"}, "[100][120]x\n[100][]y\n"},
        {{"srt"}, "1\n00:00:10,000 --> 00:00:12,000\nx\n\n2\n00:00:10,000 --> 00:00:12,060\ny\n\n"},
        {{"vtt"}, "WEBVTT\n\n1\n00:00:10.000 --> 00:00:12.000\nx\n\n2\n00:00:10.000 --> 00:00:12.060\ny\n\n"},
    };
    for (const auto &target : targets) {
        for (const QString &name : target.names) {
            const CliRun r = runTool({"convert", "--to", name}, lines);
            QVERIFY2(r.status == 0 && r.out == target.written, qPrintable(name));
        }
    }
}

void TestCli::oneRatePerFile_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("written");
    const QByteArray leftOut = "tarnlyx-cli: -: the frame rate line {1}{1}29.970 was left out\n";
    QTest::addColumn<QByteArray>("error");
    // --fps is the rate, else the one the first line names; for fps, --from
    // is the rate to read, else that one.
    QTest::newRow("tenths") << QStringList{"--fps", "25", "convert", "--to", "tenths"} << QByteArray("[20][40]caf\xe9\n[80][]b\n") << leftOut;
    QTest::newRow("SubRip") << QStringList{"--fps", "25", "convert", "--to", "srt"}
                            << QByteArray("1\n00:00:02,000 --> 00:00:04,000\ncaf\xc3\xa9\n\n2\n00:00:08,000 --> 00:00:10,060\nb\n\n") << QByteArray();
    QTest::newRow("WebVTT, the line's rate") << QStringList{"convert", "--to", "vtt"}
                                             << QByteArray("WEBVTT\n\n1\n00:00:01.668 --> 00:00:03.337\ncaf\xc3\xa9\n\n2\n00:00:06.673 --> 00:00:08.733\nb\n\n")
                                             << QByteArray();
    QTest::newRow("shift") << QStringList{"--fps", "25", "shift", "--seconds", "1"} << QByteArray("{1}{1}29.970\n{75}{125}caf\xe9\n{225}{}b\n") << QByteArray();
    QTest::newRow("showtime") << QStringList{"--fps", "25", "showtime", "--fixed", "--seconds", "2"}
                              << QByteArray("{1}{1}29.970\n{50}{100}caf\xe9\n{200}{250}b\n") << QByteArray();
    QTest::newRow("fps") << QStringList{"--fps", "25", "fps", "--to", "50"} << QByteArray("{1}{1}50.000\n{100}{200}caf\xe9\n{400}{}b\n") << QByteArray();
    QTest::newRow("fps, the line's rate") << QStringList{"fps", "--to", "50"} << QByteArray("{1}{1}50.000\n{83}{167}caf\xe9\n{334}{}b\n") << QByteArray();
    QTest::newRow("fps, --from") << QStringList{"--fps", "25", "fps", "--from", "10", "--to", "20"}
                                 << QByteArray("{1}{1}20.000\n{100}{200}caf\xe9\n{400}{}b\n") << QByteArray();
}

void TestCli::oneRatePerFile()
{
    QFETCH(QStringList, args);
    const CliRun r = runTool(args, "{1}{1}29.970\n{50}{100}caf\xe9\n{200}{}b\n");
    QCOMPARE(r.status, 0);
    QTEST(r.out, "written");
    QTEST(r.err, "error");
}

void TestCli::usageErrors_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    QTest::newRow("no operation") << QStringList{} << "no operation given";
    QTest::newRow("unknown operation") << QStringList{"rotate"} << "\"rotate\" is not an operation";
    QTest::newRow("unknown option") << QStringList{"--colour"} << "--colour: unknown option";
    QTest::newRow("option of another operation") << QStringList{"shift", "--to", "3"} << "--to: not an option of shift";
    QTest::newRow("not a number") << QStringList{"shift", "--seconds", "two"} << "--seconds: \"two\" is not a number";
    QTest::newRow("comma decimal") << QStringList{"shift", "--seconds", "2,5"} << "is not a number";
    QTest::newRow("shift too far") << QStringList{"shift", "--seconds", "100000000"} << "outside -99999999 to 99999999";
    QTest::newRow("zero target rate") << QStringList{"fps", "--to", "0"} << "--to: 0 is outside";
    QTest::newRow("rate too high") << QStringList{"fps", "--from", "200.5"} << "outside 0.1 to 200";
    QTest::newRow("nan") << QStringList{"fps", "--from", "nan"} << "--from:";
    QTest::newRow("bad format") << QStringList{"convert", "--to", "ass"} << "\"ass\" is not a format";
    QTest::newRow("missing value") << QStringList{"shift", "--seconds"} << "--seconds needs a value";
    QTest::newRow("value on a switch") << QStringList{"shift", "--no-show=1"} << "--no-show takes no value";
    QTest::newRow("several inputs") << QStringList{"convert", "a", "b"} << "several inputs need -i";
    QTest::newRow("-o with -i") << QStringList{"convert", "a", "-o", "b", "-i"} << "-o and -i cannot be used together";
    QTest::newRow("--in-place with --output") << QStringList{"fps", "--in-place", "a", "--output", "b"} << "-o and -i cannot be used together";
    QTest::newRow("-i on stdin") << QStringList{"convert", "-i"} << "-i needs input files";
    QTest::newRow("--force without -i") << QStringList{"convert", "--to", "srt", "a", "--force"} << "--force goes with -i";
    QTest::newRow("unknown encoding") << QStringList{"--encoding", "klingon", "shift"} << "--encoding: \"klingon\" is not an encoding";
    QTest::newRow("info, -o") << QStringList{"info", "-o", "x"} << "info writes to the standard output only";
    QTest::newRow("info, --in-place") << QStringList{"info", "a", "--in-place"} << "info writes to the standard output only";
    QTest::newRow("recover, unknown option") << QStringList{"recover", "--keep", "a"} << "usage: tarnlyx-cli recover [--restore FILE | --discard FILE]";
    QTest::newRow("recover --restore, no file") << QStringList{"recover", "--restore"} << "usage: tarnlyx-cli recover";
    QTest::newRow("recover --discard, two files") << QStringList{"recover", "--discard", "a", "b"} << "usage: tarnlyx-cli recover";
    // Each range, just past each end.
    QTest::newRow("fps 0.09") << QStringList{"--fps", "0.09", "shift"} << "--fps: 0.09 is outside 0.1 to 200";
    QTest::newRow("fps 200.01") << QStringList{"--fps", "200.01", "shift"} << "--fps: 200.01 is outside 0.1 to 200";
    QTest::newRow("shift -100000000") << QStringList{"shift", "--seconds", "-100000000"} << "outside -99999999 to 99999999";
    QTest::newRow("display time 100.01") << QStringList{"showtime", "--seconds", "100.01"} << "outside 0.1 to 100";
    QTest::newRow("display time 0.09") << QStringList{"showtime", "--seconds", "0.09"} << "outside 0.1 to 100";
    QTest::newRow("from 0.09") << QStringList{"fps", "--from", "0.09"} << "outside 0.1 to 200";
    QTest::newRow("to 200.01") << QStringList{"fps", "--to", "200.01"} << "outside 0.1 to 200";
}

void TestCli::usageErrors()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    const CliRun r = runTool(args, sample);
    QCOMPARE(r.status, 2);
    QCOMPARE(r.out, QByteArray());
    QVERIFY2(r.err.startsWith("tarnlyx-cli: "), r.err.constData());
    QVERIFY2(r.err.contains(message.toUtf8()), r.err.constData());
    QCOMPARE(r.err.count('\n'), 1);
    QVERIFY(r.err.endsWith('\n'));
}

void TestCli::outputFileAndInPlace()
{
    // -o writes one file; -i rewrites every input, long names too (their
    // temporary names are short), and an error before the last one is in
    // place changes none of them.
    QTemporaryDir dir;
    const QString a = dir.filePath(QStringLiteral("a.sub"));
    const QString b = dir.filePath(QString(250, u'n'));
    const QString out = dir.filePath(QStringLiteral("out.txt"));
    QVERIFY(writeBytes(a, "{25}{50}a\n") && writeBytes(b, "{50}{75}b"));
    CliRun r = runTool({"convert", "--to", "tenths", a, "--output", out});
    QCOMPARE(r.status, 0);
    QCOMPARE(r.out + r.err, QByteArray());
    QCOMPARE(readBytes(out) + readBytes(a), QByteArray("[10][20]a\n{25}{50}a\n"));
    r = runTool({"fps", "--to", "50", "-i", a, b});
    QCOMPARE(r.status, 0);
    QCOMPARE(r.out + r.err, QByteArray());
    QCOMPARE(readBytes(a) + readBytes(b), QByteArray("{50}{100}a\n{100}{150}b"));
    QCOMPARE(runTool({"fps", "--to", "50", "-i", a, b, dir.path()}).status, 1);
    QCOMPARE(readBytes(a) + readBytes(b), QByteArray("{50}{100}a\n{100}{150}b"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 3);
}

void TestCli::help()
{
    for (const char *help : {"--help", "-h"}) {
        const CliRun r = runTool({"shift", help});
        QVERIFY(r.status == 0 && r.out.startsWith("Usage: tarnlyx-cli ") && r.out.contains("Examples:"));
    }

    // The usage, the completion and the manual page name the correction's
    // switches as its table has them, and those that are off by default.
    const QString usage = QString::fromUtf8(runTool({"--help"}).out);
    const QString completion = QString::fromUtf8(readBytes(sampleFile("../../data/completion/tarnlyx-cli")));
    const QString manual = QString::fromUtf8(readBytes(sampleFile("../../data/man/tarnlyx-cli.1")));
    const QRegularExpressionMatch rules = QRegularExpression("for rule in ([a-z -]*);").match(completion);
    QVERIFY(rules.hasMatch());
    QStringList names;
    for (const CorrectionSwitch &option : correctionSwitches) {
        const QString name = QLatin1String(option.name);
        names += name;
        QVERIFY2(usage.contains("--[no-]" + name + (name == names.first() ? "  " : "")), option.name);
        QVERIFY2(manual.contains(".BR " + QString(name).replace(u'-', QLatin1String("\\-")) + (&option == std::end(correctionSwitches) - 1 ? " ;" : " ,")), option.name);
    }
    QCOMPARE(rules.captured(1), names.join(u' '));
    const QStringList off = switchNames(false);
    QVERIFY(usage.contains("default: all on except " + off.join(" and ")));
    const QString manualOff = manual.section(QStringLiteral("all are on but\n"), 1).section(QStringLiteral(".TP"), 0, 0);
    for (const QString &name : off)
        QVERIFY2(manualOff.contains(QString(name).replace(u'-', QLatin1String("\\-"))), qPrintable(name));
    QCOMPARE(manualOff.count(QStringLiteral(".B")), off.size());

    // The completion, the usage and the manual page know every operation.
    const QStringList completedWords = QRegularExpression("([a-z|]+)\\) operation=\\$word").match(completion).captured(1).split(u'|');
    for (const Operation &operation : ::operations) {
        const QString word = QLatin1String(operation.word);
        QVERIFY2(completedWords.contains(word), operation.word);
        QVERIFY2(usage.contains("\n  " + word + " "), operation.word);
        QVERIFY2(manual.contains("\\fB" + word + "\\fR") || manual.contains(".B " + word + "\n"), operation.word);
    }

    // The manual page states the number fields' ranges as the parser has
    // them; the usage, each range whole on its line.
    QVERIFY(usage.contains("\nRanges: frame rates 0.1 to 200, shift -99999999 to 99999999, display time\n0.1 to 100.\n"));
    for (const Fields::Named &named : Fields::all) {
        const NumberField &field = named.field;
        const QString range = QStringLiteral("%1 to %2").arg(QString::number(field.low, 'g', 10), QString::number(field.high, 'g', 10));
        QVERIFY2(manual.contains(QString(range).replace(u'-', QLatin1String("\\-"))), qPrintable(range));
    }

    // The completion offers every encoding the program knows, and no other.
    const QString offered = completion.section(QStringLiteral("--encoding|--output-encoding)"), 1)
                                    .section(u'\'', 1, 1);
    QStringList known;
    for (const EncodingGroup &group : commonEncodings())
        known += group.names;
    QStringList completed = offered.simplified().split(u' ');
    known.sort();
    completed.sort();
    QCOMPARE(completed, known);
}

void TestCli::rangeEndsAccepted()
{
    for (const QStringList &args : QList<QStringList>{{"--fps", "0.1", "shift"}, {"-i", "--fps", "200", "shift"},
                                                      {"shift", "--seconds", "-99999999"}, {"shift", "--seconds", "99999999"},
                                                      {"showtime", "--seconds", "0.1"}, {"showtime", "--seconds", "100"},
                                                      {"fps", "--from", "0.1", "--to", "200"}, {"fps", "--from", "200", "--to", "0.1"}}) {
        const CliRun r = runTool(args.mid(args[0] == u"-i" ? 1 : 0), "{1}{2}x");
        QVERIFY2(r.status == 0, r.err.constData());
    }
}

void TestCli::encodings_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<int>("status");
    // After a few lines of Japanese, which detection needs to be sure.
    const QByteArray japanese = readBytes(sampleFile("encodings/japanese.Shift_JIS.sub"));
    auto sjis = [&](const char *text) { return japanese + QByteArray(QStringEncoder("Shift_JIS").encode(QString::fromUtf8(text))); };
    // In Shift_JIS the second byte of ポ is "|": read as bytes, the dash
    // rule took it for a row break.
    QTest::newRow("shift_jis, correct") << QStringList{"correct"} << sjis("{200}{250}ポ-ポ|-ポ\n") << sjis("{200}{250}ポ-ポ|- ポ\n") << 0;
    QTest::newRow("shift_jis, 30 kana") << QStringList{"showtime", "--only-empty"} << sjis("{200}{}アイウエオアイウエオアイウエオアイウエオアイウエオアイウエオ")
                                        << sjis("{200}{295}アイウエオアイウエオアイウエオアイウエオアイウエオアイウエオ") << 0;
    QTest::newRow("cr lines") << QStringList{"convert", "--to", "tenths"} << QByteArray("{25}{50}One\r{50}{75}Two\r") << QByteArray("[10][20]One\r[20][30]Two\r") << 0;
    QTest::newRow("forced") << QStringList{"--encoding", "windows-1250", "shift", "--seconds", "1"} << QByteArray("{0}{25}\xb9\n") << QByteArray("{25}{50}\xb9\n") << 0;
    QTest::newRow("forced bytes") << QStringList{"--encoding", "bytes", "correct"} << sjis("{200}{250}ポ-ポ") << sjis("{200}{250}ポ- ポ") << 0;
    QTest::newRow("forced, does not fit") << QStringList{"--encoding", "Shift_JIS", "shift"} << QByteArray("{0}{25}\xb9\xe6\n") << QByteArray() << 1;
    // Bytes that are not UTF-8 in a file read as UTF-8 are written back as they were.
    QTest::newRow("forced utf-8, stray byte") << QStringList{"--encoding", "utf-8", "shift"} << QByteArray("\xb9\n") << QByteArray("\xb9\n") << 0;
    // 0xFF is no Shift_JIS: the file is read one byte per character, and
    // every byte comes back.
    // Half a surrogate pair in UTF-16 comes back as it was, and so does a
    // whole pair that the rewrite's first megabyte ends inside.
    auto utf16 = [](const QString &text) { return QByteArray("\xff\xfe") + QStringEncoder(QStringEncoder::Utf16LE).encode(text); };
    const QString halfPair = QString(QChar(0xDC00));
    QTest::newRow("utf-16, half a pair") << QStringList{"shift", "--seconds", "1"} << utf16("{0}{25}a" + halfPair + "\n") << utf16("{25}{50}a" + halfPair + "\n") << 0;
    QTest::newRow("utf-16 SubRip, half a pair") << QStringList{"convert", "--to", "tenths"}
                                                << utf16("1\n00:00:01,000 --> 00:00:02,000\nx" + halfPair + "\n")
                                                << utf16("[10][20]x" + halfPair) << 0;
    const QString filler = QString((1 << 19) - 9, u'a') + u'\n';
    QTest::newRow("utf-16, pair at a megabyte") << QStringList{"shift", "--seconds", "1"} << utf16(filler + QString::fromUtf16(u"{0}{25}\U0001F600\n"))
                                                << utf16(filler + QString::fromUtf16(u"{25}{50}\U0001F600\n")) << 0;
    QTest::newRow("only bytes read it") << QStringList{"shift"} << japanese + "{0}{25}\xff\n" << japanese + "{0}{25}\xff\n" << 0;
}

void TestCli::encodings()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, input);
    const CliRun r = runTool(args, input);
    QTEST(r.status, "status");
    QTEST(r.out, "output");
    QFETCH(int, status);
    QVERIFY2(status == 0 ? r.err.isEmpty() : r.err.contains(") is not "), r.err.constData());
}

void TestCli::info()
{
    QCOMPARE(runTool({"info", sampleFile("mixed.sub"), sampleFile("frames-crlf.sub")}).out,
             QByteArray(TARNLYX_TEST_DATA "/mixed.sub: UTF-8, LF, 10 lines: 3 frame-based, 2 bracket-time, 2 clock-time, 3 other\n"
                        TARNLYX_TEST_DATA "/frames-crlf.sub: UTF-8, CRLF, 8 lines: 7 frame-based, 0 bracket-time, 0 clock-time, 1 other, frame rate 23.976 (first line)\n"));
    QCOMPARE(runTool({"info"}, "\xef\xbb\xbf[1][2]x\r\ny\n").out, QByteArray("-: UTF-8 with BOM, mixed, 2 lines: 0 frame-based, 1 bracket-time, 0 clock-time, 1 other\n"));
    QCOMPARE(runTool({"info", sampleFile("missing.sub")}).status, 1);
}

void TestCli::lineEndsKept_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("expected"); // empty: the bytes themselves
    QTest::newRow("lf") << QByteArray("{1}{2}a\n{3}{4}b\n") << QByteArray();
    QTest::newRow("lf, no final") << QByteArray("{1}{2}a\n{3}{4}b") << QByteArray();
    QTest::newRow("crlf") << QByteArray("{1}{2}a\r\n{3}{4}b\r\n") << QByteArray();
    QTest::newRow("crlf, no final") << QByteArray("{1}{2}a\r\nb") << QByteArray();
    QTest::newRow("cr") << QByteArray("{1}{2}a\r{3}{4}b\r") << QByteArray();
    QTest::newRow("cr, no final") << QByteArray("{1}{2}a\r{3}{4}b") << QByteArray();
    QTest::newRow("trailing empty line") << QByteArray("{1}{2}a\r\n\r\n") << QByteArray("{1}{2}a\r\n");
    QTest::newRow("mixed, crlf first") << QByteArray("{1}{2}a\r\nb\nc") << QByteArray("{1}{2}a\r\nb\r\nc");
    QTest::newRow("mixed, lf first") << QByteArray("{1}{2}a\nb\r\nc\r\n") << QByteArray("{1}{2}a\nb\nc\n");
    QTest::newRow("utf-8 with a stray byte") << QByteArray("{1}{2}\xc5\xbc\xc3\xb3\xc5\x82\xc4\x87\xc5\xbc\xc3\xb3\xc5\x82\xc4\x87\xc5\xbc\xc3\xb3 \xe9\r\n") << QByteArray();
}

void TestCli::lineEndsKept()
{
    // An operation that changes no line writes the file as it was read,
    // line ends and all (the walk still drops a final empty line).
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, expected);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("in.sub"));
    QVERIFY(writeBytes(path, bytes));
    const CliRun r = runTool({"shift", "-i", path});
    QCOMPARE(r.err, QByteArray());
    QCOMPARE(r.status, 0);
    QCOMPARE(readBytes(path), expected.isEmpty() ? bytes : expected);
}

void TestCli::clockLinesNotWritten()
{
    // A clock-time result below zero leaves its line as it was, and the
    // report says how many; the rest of the file is done.
    CliRun r = runTool({"shift", "--seconds", "-15"}, "0:00:10:a\n0:00:20:b\n00:00:01:c\n");
    QCOMPARE(r.out, QByteArray("0:00:10:a\n0:00:05:b\n00:00:01:c\n"));
    QCOMPARE(r.err, QByteArray("tarnlyx-cli: -: 2 lines could not be written in clock-time\n"));
    QCOMPARE(r.status, 0);
    r = runTool({"convert", "--to", "hh:mm:ss"}, "{-164}{}x\n{25}{}y");
    QCOMPARE(r.out, QByteArray("{-164}{}x\n00:00:01:y"));
    QCOMPARE(r.err, QByteArray("tarnlyx-cli: -: 1 line could not be written in clock-time\n"));
    r = runTool({"convert", "--to", "h:mm:ss"}, "{-12}{}x\n");
    QCOMPARE(r.out, QByteArray("0:00:00:x\n"));
    QCOMPARE(r.err, QByteArray());
}

void TestCli::unicodeWithoutMarkReadsBack()
{
    // UTF-16 and UTF-32 written without a byte-order mark are known again
    // by the NUL bytes beside their ASCII, and read back to the same bytes.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("wide.sub"));
    const QString text = QString::fromUtf8("{0}{25}Za\u017c\u00f3\u0142\u0107\n[10][]\u4e16\U0001F600\n");
    for (const char *encoding : {"UTF-16LE", "UTF-16BE", "UTF-32LE", "UTF-32BE"}) {
        QVERIFY(runTool({"--output-encoding", encoding, "shift", "-o", path}, text.toUtf8()).status == 0);
        const QByteArray written = readBytes(path);
        QVERIFY2(written == QStringEncoder(encoding).encode(text), encoding);
        QCOMPARE(runTool({"info", path}).out, QStringLiteral("%1: %2, LF, 2 lines: 1 frame-based, 1 bracket-time, 0 clock-time, 0 other\n")
                                                      .arg(path, QLatin1String(encoding)).toUtf8());
        QCOMPARE(runTool({"shift", "-i", path}).status, 0);
        QCOMPARE(readBytes(path), written);
    }
}

void TestCli::tooLargeRefusedUpFront()
{
    // Past 1 GiB a file is refused before a byte of it is read (it is
    // sparse here: reading it would take long).
    QTemporaryDir dir;
    QFile big(dir.filePath(QStringLiteral("big.sub")));
    QVERIFY(big.open(QIODevice::WriteOnly) && big.resize((qint64(1) << 30) + 1));
    big.close();
    const CliRun r = runTool({"shift", big.fileName()});
    QCOMPARE(r.status, 1);
    QCOMPARE(r.err, QStringLiteral("tarnlyx-cli: cannot read \"%1\": it is larger than 1 GiB\n").arg(big.fileName()).toUtf8());
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
