// The five per-line operations, the string functions of the correction, and
// the walk that runs an operation over a whole text.
#include "engine/correction.h"
#include "engine/operations.h"
#include "engine/subengine.h"

#include <QTest>

namespace {

// Sets up `e` from "convert=4", "shift=2 nostart noend", "fps=25>29",
// "showtime length block empty only" or "correct punct dashes double end
// digit color sustain": switches not named are off. Returns the mode.
int setUp(SubEngine &e, const QString &settings)
{
    const QStringList words = settings.split(u' ', Qt::SkipEmptyParts);
    const QString op = words[0].section(u'=', 0, 0), value = words[0].section(u'=', 1);
    e.convert.format = value.toInt();
    e.shift.seconds = value.toDouble();
    e.fpsChange.from = value.section(u'>', 0, 0).toDouble();
    e.fpsChange.to = value.section(u'>', 1).toDouble();
    if (op == u"fps")
        e.fps = 23.976;
    ShowTimeSettings &t = e.showTime;
    CorrectionSettings &c = e.correction;
    const std::pair<const char *, bool &> switches[] = {
            {"empty", t.writeEmptyEnd}, {"only", t.onlyEmptyEnd}, {"length", t.lengthDependent},
            {"block", t.blockTooLong}, {"punct", c.fixPunctuation}, {"dashes", c.fixDashes},
            {"double", c.delDoubleSpaces}, {"end", c.delEndSpaces}, {"digit", c.delDigitSpaces},
            {"color", c.delColor}, {"sustain", c.sustainTime}};
    for (const auto &[word, field] : switches)
        field = words.contains(QLatin1String(word));
    e.shift.start = !words.contains(QStringLiteral("nostart"));
    e.shift.end = !words.contains(QStringLiteral("noend"));
    for (const Operation &operation : operations) {
        if (op == QLatin1String(operation.word))
            return operation.mode;
    }
    return 0;
}

} // namespace

class TestOperations : public QObject
{
    Q_OBJECT

private slots:
    void lines_data();
    void lines();
    void skippingIdleRulesChangesNothing();
    void walk_data();
    void walk();
    void walkLooksAheadAtOriginalText();
    void walkCountsClockLinesNotWritten();
    void oddCharacters();
    void correctionIsLinearOnHugeLines();
};

void TestOperations::lines_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("next");
    QTest::addColumn<QString>("expected");
    QTest::newRow("frames to tenths") << "convert=4" << "{250}{300}Hi |you" << "" << "[100][120]Hi |you";
    QTest::newRow("frames to clock") << "convert=1" << "{250}{300}Hi" << "" << "00:00:10:Hi";
    QTest::newRow("clock to frames") << "convert=3" << "00:01:05:x" << "" << "{1625}{}x";
    QTest::newRow("clock to one-digit") << "convert=2" << "00:01:05:x" << "" << "0:01:05:x";
    QTest::newRow("clock to tenths") << "convert=4" << "0:01:05 x" << "" << "[650][]x";
    QTest::newRow("tenths to frames") << "convert=3" << "[100][]Hi" << "" << "{250}{}Hi";
    QTest::newRow("tenths to clock rounds") << "convert=1" << "[105][200]Hi" << "" << "00:00:11:Hi";
    QTest::newRow("same format rewrites numbers") << "convert=3" << "{0250}{+375}Hi" << "" << "{250}{375}Hi";
    QTest::newRow("same format, negative") << "convert=4" << "[-68][-1]x" << "" << "[-68][-1]x";
    QTest::newRow("empty line") << "convert=3" << "" << "" << "{0}{}";
    QTest::newRow("style code kept") << "convert=4" << "{25}{50}{y:i}Hi" << "" << "[10][20]{y:i}Hi";
    QTest::newRow("overflow kept") << "convert=4" << "{99999999999}{1}x" << "" << "{99999999999}{1}x";
    QTest::newRow("would overflow as frames") << "convert=3" << "[2147483647][]x" << "" << "[2147483647][]x";
    // An absent hide time stays absent, whichever way and in either format.
    QTest::newRow("absent hide, forward") << "shift=2" << "{100}{}x" << "" << "{150}{}x";
    QTest::newRow("absent hide, back") << "shift=-6" << "{100}{}x" << "" << "{-50}{}x";
    QTest::newRow("absent hide, tenths forward") << "shift=2" << "[100][]x" << "" << "[120][]x";
    QTest::newRow("absent hide, tenths back") << "shift=-6" << "[100][0]x" << "" << "[40][]x";
    QTest::newRow("negative hide shifts") << "shift=2" << "[-68][-10]x" << "" << "[-48][10]x";
    QTest::newRow("show only") << "shift=2 noend" << "{100}{}x" << "" << "{150}{}x";
    QTest::newRow("hide only") << "shift=-2.5 nostart" << "[100][150]x" << "" << "[100][125]x";
    QTest::newRow("neither rewrites") << "shift=2 nostart noend" << "{0100}{200}x" << "" << "{100}{200}x";
    QTest::newRow("below zero") << "shift=-10 noend" << "{100}{}x" << "" << "{-150}{}x";
    QTest::newRow("negative show kept") << "shift=2 nostart" << "[-68][10]x" << "" << "[-68][30]x";
    QTest::newRow("clock") << "shift=65" << "00:00:10:x" << "" << "00:01:15:x";
    // A clock holds no time below zero: such a line stays as it was.
    QTest::newRow("clock to zero") << "shift=-10" << "0:00:10:x" << "" << "0:00:00:x";
    QTest::newRow("clock a half below zero") << "shift=-10.5" << "0:00:10:x" << "" << "0:00:10:x";
    QTest::newRow("negative frames into clock") << "convert=1" << "{-164}{}x" << "" << "{-164}{}x";
    QTest::newRow("shift past 32 bits") << "shift=99999999" << "{1}{2}x" << "" << "{1}{2}x";
    QTest::newRow("25 to 29") << "fps=25>29" << "{250}{300}x" << "" << "{290}{348}x";
    QTest::newRow("empty hide stays") << "fps=25>23.976" << "{250}{}x" << "" << "{240}{}x";
    QTest::newRow("tenths untouched") << "fps=25>29" << "[100][150]x" << "" << "[100][150]x";
    QTest::newRow("clock rewritten") << "fps=25>29" << "0:00:10:x" << "" << "0:00:10:x";
    QTest::newRow("words") << "fps=25>29" << "{x" << "" << "{x";
    QTest::newRow("fixed") << "showtime" << "{250}{999}x" << "" << "{250}{325}x";
    QTest::newRow("by length") << "showtime length" << "{250}{}" + QString(25, u'a') << "" << "{250}{338}" + QString(25, u'a');
    // A reader sees one letter where an accent is stored as a combining
    // mark, and one symbol for a surrogate pair: 2 s + 5 / 50 * 3 s, as frames
    // 57.49999...
    QTest::newRow("combining accents") << "showtime length" << QString::fromUtf8("{0}{}e\u0301e\u0301e\u0301e\u0301e\u0301") << "" << QString::fromUtf8("{0}{57}e\u0301e\u0301e\u0301e\u0301e\u0301");
    QTest::newRow("outside the bmp") << "showtime length" << QString::fromUtf8("{0}{}\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600") << "" << QString::fromUtf8("{0}{57}\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600");
    QTest::newRow("empty text") << "showtime length" << "{0}{}" << "" << "{0}{50}";
    QTest::newRow("blocked") << "showtime block" << "[100][]x" << "[120][130]y" << "[100][120]x";
    QTest::newRow("equal not blocked") << "showtime block" << "[100][]x" << "[130][]y" << "[100][130]x";
    QTest::newRow("next at zero") << "showtime block" << "[-10][]x" << "[0][5]y" << "[-10][20]x";
    QTest::newRow("next not subtitle") << "showtime block" << "[100][]x" << "Hello" << "[100][130]x";
    // Never cut back to this line's own show time or before it.
    QTest::newRow("next earlier") << "showtime block" << "[100][]x" << "[50][]y" << "[100][130]x";
    QTest::newRow("next at same time") << "showtime block" << "[100][]x" << "[100][]y" << "[100][130]x";
    QTest::newRow("next just after") << "showtime block" << "[100][]x" << "[101][]y" << "[100][101]x";
    QTest::newRow("next earlier, other format") << "showtime block" << "{350}{420}x" << "[100][150]y" << "{350}{425}x";
    QTest::newRow("next other format") << "showtime block" << "{250}{}x" << "00:00:11:y" << "{250}{275}x";
    QTest::newRow("write empty") << "showtime empty only length block" << "{250}{300}x" << "" << "{250}{}x";
    QTest::newRow("only empty keeps numbers") << "showtime only" << "{0250}{300}x" << "" << "{0250}{300}x";
    QTest::newRow("only empty, zero end") << "showtime only" << "{250}{0}x" << "" << "{250}{325}x";
    QTest::newRow("only empty, clock") << "showtime only" << "00:00:10 x" << "" << "00:00:10:x";
    QTest::newRow("punct") << "correct punct" << "{1}{2}Hello ,world !How are you ?" << "" << "{1}{2}Hello, world! How are you?";
    QTest::newRow("punct ellipsis") << "correct punct" << "{1}{2}Wait...what" << "" << "{1}{2}Wait... what";
    QTest::newRow("punct ellipsis end") << "correct punct" << "{1}{2}Wait ..." << "" << "{1}{2}Wait...";
    QTest::newRow("punct decimal") << "correct punct" << "{1}{2}It costs 3.50 now.Really" << "" << "{1}{2}It costs 3.50 now. Really";
    QTest::newRow("punct comma digits") << "correct punct" << "{1}{2}3,5 m" << "" << "{1}{2}3, 5 m";
    QTest::newRow("punct joins number") << "correct punct" << "{1}{2}Room 1. 5 people" << "" << "{1}{2}Room 1.5 people";
    QTest::newRow("punct clock") << "correct punct" << "{1}{2}12 : 30" << "" << "{1}{2}12:30";
    QTest::newRow("punct row end") << "correct punct" << "{1}{2}Hi. |Yes" << "" << "{1}{2}Hi.|Yes";
    QTest::newRow("punct pair") << "correct punct" << "{1}{2}Hi!?" << "" << "{1}{2}Hi!?";
    // Style codes are the player's: nothing inside one is touched, marks
    // beside one are.
    QTest::newRow("punct style code") << "correct punct" << "{1}{2}{y:i}Hello" << "" << "{1}{2}{y:i}Hello";
    QTest::newRow("punct style codes") << "correct punct" << "{1}{2}{y:b,u}{c:$0000FF}{s:20}{f:Arial}{P:0}Hi" << ""
                                       << "{1}{2}{y:b,u}{c:$0000FF}{s:20}{f:Arial}{P:0}Hi";
    QTest::newRow("punct before style code") << "correct punct" << "{1}{2}Hi ,{y:i}x" << "" << "{1}{2}Hi, {y:i}x";
    QTest::newRow("punct after style code") << "correct punct" << "{1}{2}a{Y:i} .b" << "" << "{1}{2}a{Y:i}. b";
    QTest::newRow("punct style code at end") << "correct punct" << "{1}{2}Hi !{y: i , u}" << "" << "{1}{2}Hi! {y: i , u}";
    QTest::newRow("punct unclosed brace") << "correct punct" << "{1}{2}a {y:i ,b" << "" << "{1}{2}a {y: i, b";
    QTest::newRow("punct closed then unclosed") << "correct punct" << "{1}{2}{P:0}a:b{x:y" << "" << "{1}{2}{P:0}a: b{x: y";
    QTest::newRow("punct lone close") << "correct punct" << "{1}{2}a}:b" << "" << "{1}{2}a}: b";
    QTest::newRow("punct first char") << "correct punct" << "{1}{2} .x" << "" << "{1}{2} . x";
    QTest::newRow("punct only spaces after") << "correct punct" << "{1}{2}End.   " << "" << "{1}{2}End.";
    QTest::newRow("dashes") << "correct dashes" << "{1}{2}-Hi.|-Hello." << "" << "{1}{2}- Hi.|- Hello.";
    QTest::newRow("dashes spaces") << "correct dashes" << "{1}{2}-   Hi" << "" << "{1}{2}- Hi";
    QTest::newRow("dashes after row") << "correct dashes" << "{1}{2}A.| -B" << "" << "{1}{2}A.|- B";
    QTest::newRow("dashes hyphen") << "correct dashes" << "{1}{2}well-known" << "" << "{1}{2}well-known";
    QTest::newRow("dashes later") << "correct dashes" << "{1}{2}Hi -there" << "" << "{1}{2}Hi -there";
    QTest::newRow("dashes double") << "correct dashes" << "{1}{2}--Hi" << "" << "{1}{2}--Hi";
    QTest::newRow("dashes index 0") << "correct dashes" << "{1}{2} -Hi" << "" << "{1}{2} - Hi";
    QTest::newRow("dashes alone") << "correct dashes" << "{1}{2}Hi|-" << "" << "{1}{2}Hi|-";
    QTest::newRow("double") << "correct double" << "{1}{2}  Hello   big  world  " << "" << "{1}{2}Hello big world ";
    QTest::newRow("end") << "correct end" << "{1}{2}  Hello  |  world  " << "" << "{1}{2}  Hello|world";
    QTest::newRow("end index 0") << "correct end" << "{1}{2}   |x" << "" << "{1}{2} |x";
    QTest::newRow("digit") << "correct digit" << "{1}{2}1 000 000 and 2 x" << "" << "{1}{2}1000000 and 2 x";
    QTest::newRow("digit double gap") << "correct digit" << "{1}{2}1  2" << "" << "{1}{2}1  2";
    QTest::newRow("digit after double") << "correct double digit" << "{1}{2}1  2" << "" << "{1}{2}12";
    QTest::newRow("color") << "correct color" << "{1}{2}{c:$0000FF}Hello{y:i} you" << "" << "{1}{2}Hello you";
    QTest::newRow("color open") << "correct color" << "{1}{2}a{b" << "" << "{1}{2}a{b";
    QTest::newRow("color nested") << "correct color" << "{1}{2}{a{b}c}" << "" << "{1}{2}c}";
    QTest::newRow("all text rules") << "correct punct dashes double end digit color" << "{1}{2}  -Hello ,world  !|-  {y:i}1 000 ok  ." << "" << "{1}{2}- Hello, world!|- 1000 ok.";
    QTest::newRow("none") << "correct" << "{1}{2}  a ,b  " << "" << "{1}{2}  a ,b  ";
    // Only ASCII characters are looked at; everything else passes.
    QTest::newRow("non-ascii") << "correct punct dashes double end digit color" << "{1}{2}" + QString::fromUtf8("-Żółw ,正しい\u00a0 !|- \U0001F600  .") << "" << "{1}{2}" + QString::fromUtf8("- Żółw, 正しい\u00a0!|- \U0001F600.");
    QTest::newRow("nul kept") << "correct punct double" << "{1}{2}" + QString::fromUtf16(u"a\0  ,b", 6) << "" << "{1}{2}" + QString::fromUtf16(u"a\0, b", 5);
    QTest::newRow("cut back") << "correct sustain" << "[100][130]x" << "[120][]y" << "[100][120]x";
    QTest::newRow("next earlier") << "correct sustain" << "{500}{600}A" << "{300}{400}B" << "{500}{600}A";
    QTest::newRow("next at same time") << "correct sustain" << "[100][130]x" << "[100][]y" << "[100][130]x";
    QTest::newRow("next just after") << "correct sustain" << "[100][130]x" << "[101][]y" << "[100][101]x";
    QTest::newRow("next at zero") << "correct sustain" << "[100][130]x" << "[0][]y" << "[100][130]x";
    QTest::newRow("next words") << "correct sustain" << "[100][130]x" << "words" << "[100][130]x";
    QTest::newRow("last line") << "correct sustain" << "[100][130]x" << "" << "[100][130]x";
    QTest::newRow("other format") << "correct sustain" << "{250}{400}x" << "00:00:12:y" << "{250}{300}x";
    QTest::newRow("no flag still rewrites") << "correct sustain" << "{0250}{400}x" << "" << "{250}{400}x";
}

void TestOperations::lines()
{
    QFETCH(QString, settings);
    QFETCH(QString, line);
    QFETCH(QString, next);
    SubEngine e;
    const int mode = setUp(e, settings);
    const double fps = e.fps;
    SubEngine::WalkCounts counts;
    QTEST((e.*SubEngine::lineOperation(mode))(line, next, counts), "expected");
    QCOMPARE(e.fps, fps); // the frame-rate change never sets the window's rate
}

void TestOperations::skippingIdleRulesChangesNothing()
{
    // Rules that a quick look finds nothing for are passed over; on any
    // text, with any rules, that must give what running them all gives.
    const QString alphabet = QStringLiteral(" ||--.,:;!?0123a{}") + QChar(0xe9) + QChar(0x2014);
    quint32 seed = 1;
    auto random = [&seed](quint32 below) {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) % below;
    };
    QString scratch;
    for (int round = 0; round < 100000; ++round) {
        QString text;
        const int length = int(random(24));
        for (int i = 0; i < length; ++i)
            text += alphabet[int(random(quint32(alphabet.size())))];
        const quint32 set = random(64);
        const CorrectionRules rules{bool(set & 1), bool(set & 2), bool(set & 4),
                                    bool(set & 8), bool(set & 16), bool(set & 32)};
        QString quick = text, full = text;
        ::correctText(quick, rules, scratch, true);
        ::correctText(full, rules, scratch, false);
        if (quick != full)
            QFAIL(qPrintable(QStringLiteral("\"%1\" rules %2: \"%3\" instead of \"%4\"")
                                     .arg(text, QString::number(set), quick, full)));
    }
}

void TestOperations::walk_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("final newline dropped") << 1 << "a\nb\n" << "a\nb";
    QTest::newRow("empty text") << 1 << "" << "{0}{}";
    QTest::newRow("only a newline") << 1 << "\n" << "{0}{}";
    QTest::newRow("empty line inside") << 4 << "{25}{}a\n\n{50}{}b" << "{29}{}a\n{0}{}\n{58}{}b";
    QTest::newRow("two final newlines") << 1 << "x\n\n" << "x\n{0}{}";
    QTest::newRow("carriage return kept") << 1 << "a\r\nb" << "a\r\nb";
}

void TestOperations::walk()
{
    QFETCH(int, mode);
    QFETCH(QString, text);
    SubEngine e;
    e.convert.format = 3;
    QTEST(e.linesChange(text, mode), "expected");
}

void TestOperations::walkCountsClockLinesNotWritten()
{
    SubEngine e;
    setUp(e, QStringLiteral("shift=-15"));
    SubEngine::WalkCounts walk;
    QCOMPARE(e.linesChange(u"0:00:10:x\n0:00:20:y\nwords\n00:00:01:z\n{100}{}f", ModeShift, &walk),
             "0:00:10:x\n0:00:05:y\nwords\n00:00:01:z\n{-275}{}f");
    QCOMPARE(walk.unwritten, 2);
    QCOMPARE(walk.changed, 2);
    QCOMPARE(walk.notSubtitles, 1);
    e.linesChange(u"0:00:20:y", ModeShift, &walk);
    QCOMPARE(walk.unwritten, 0); // counted afresh
}

void TestOperations::walkLooksAheadAtOriginalText()
{
    // Each line is cut back to the next line's show time as it was before
    // the walk: the second line is rewritten too, but too late to matter.
    SubEngine e;
    setUp(e, QStringLiteral("correct sustain"));
    QCOMPARE(e.linesChange(u"[10][50]a\n[40][60]b\n[55][]c", 5), "[10][40]a\n[40][55]b\n[55][]c");
    e.showTime.seconds = 10.0;
    e.showTime.writeEmptyEnd = e.showTime.onlyEmptyEnd = e.showTime.lengthDependent = false;
    e.showTime.blockTooLong = true;
    QCOMPARE(e.linesChange(u"[10][]a\n[40][]b", 3), "[10][40]a\n[40][140]b");
}

void TestOperations::oddCharacters()
{
    // Characters outside Latin-1, a no-break space and a NUL go through
    // every operation unchanged.
    // A byte that is no UTF-8, carried as U+DCE9, too.
    const QString odd = QString::fromUtf8("Дом\u00a0χ\U0001F600") + QChar(0) + QChar(0xDCE9) + QStringLiteral("end");
    const QString line = QStringLiteral("{25}{50}") + odd;
    for (int mode = 1; mode <= 5; ++mode) {
        SubEngine engine;
        QVERIFY2(engine.linesChange(line, mode).endsWith(odd), qPrintable(QString::number(mode)));
    }
    // A line that is no subtitle passes byte for byte, whatever the operation.
    for (int mode = 1; mode <= 5; ++mode)
        QCOMPARE(SubEngine().linesChange(odd, mode), odd);
}

void TestOperations::correctionIsLinearOnHugeLines()
{
    // Deleting spaces one run at a time from a 2 MB line would move the
    // tail a million times; this would not finish in the test's lifetime.
    QString text;
    for (int i = 0; i < 250000; ++i)
        text += QStringLiteral("a  ,  ");
    SubEngine e;
    setUp(e, QStringLiteral("correct punct dashes double end digit color"));
    SubEngine::WalkCounts counts;
    const QString result = e.correctFunction(QStringLiteral("{1}{2}") + text, u"", counts);
    QCOMPARE(result.size(), 6 + 250000 * 3 - 1);
}

QTEST_APPLESS_MAIN(TestOperations)
#include "tst_operations.moc"
