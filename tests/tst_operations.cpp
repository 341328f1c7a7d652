// The five per-line operations, the string functions of the correction, and
// the walk that runs an operation over a whole text.
#include "editor/correction.h"
#include "editor/stringfunctions.h"
#include "editor/subengine.h"
#include "files/subtitlefile.h"
#include "testsupport.h"

#include <QTest>

namespace {

// The correction flags, named in one string so that a table row says which
// are set: "punct dashes double end digit color sustain".
SubEngine correction(const QString &flags)
{
    SubEngine e;
    const QStringList set = flags.split(u' ', Qt::SkipEmptyParts);
    e.fixPunctuation = set.contains(u"punct");
    e.fixDashes = set.contains(u"dashes");
    e.delDoubleSpaces = set.contains(u"double");
    e.delEndSpaces = set.contains(u"end");
    e.delDigitSpaces = set.contains(u"digit");
    e.delColor = set.contains(u"color");
    e.sustainTime = set.contains(u"sustain");
    return e;
}

QStringList lines(const QString &text)
{
    return text.split(u'\n');
}

} // namespace

class TestOperations : public QObject
{
    Q_OBJECT

private slots:
    void convert_data();
    void convert();
    void shift_data();
    void shift();
    void fpsChange_data();
    void fpsChange();
    void showTime_data();
    void showTime();
    void correctText_data();
    void correctText();
    void sustain_data();
    void sustain();
    void stringFunctions();
    void skippingIdleRulesChangesNothing();
    void walk_data();
    void walk();
    void walkLooksAheadAtOriginalText();
    void undefinedModeKeepsText();
    void longLinesAndOddCharacters();
    void correctionIsLinearOnHugeLines();
    void corpusThroughEveryOperation();
    void conversionIsStable();
};

void TestOperations::convert_data()
{
    QTest::addColumn<int>("target");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("expected");
    QTest::newRow("frames to tenths") << 4 << "{250}{300}Hi |you" << "[100][120]Hi |you";
    QTest::newRow("frames to clock") << 1 << "{250}{300}Hi" << "00:00:10:Hi";
    QTest::newRow("clock back to frames") << 3 << "00:00:10:Hi" << "{250}{}Hi";
    QTest::newRow("clock to frames") << 3 << "00:01:05:x" << "{1625}{}x";
    QTest::newRow("clock to one-digit") << 2 << "00:01:05:x" << "0:01:05:x";
    QTest::newRow("clock to tenths") << 4 << "0:01:05 x" << "[650][]x";
    QTest::newRow("tenths to frames") << 3 << "[100][]Hi" << "{250}{}Hi";
    QTest::newRow("tenths to clock rounds") << 1 << "[105][200]Hi" << "00:00:11:Hi";
    QTest::newRow("same format rewrites numbers") << 3 << "{0250}{+375}Hi" << "{250}{375}Hi";
    QTest::newRow("empty line") << 3 << "" << "{0}{}";
    QTest::newRow("words") << 3 << "Hello world" << "Hello world";
    QTest::newRow("style code kept") << 4 << "{25}{50}{y:i}Hi" << "[10][20]{y:i}Hi";
    QTest::newRow("overflow kept") << 4 << "{99999999999}{1}x" << "{99999999999}{1}x";
    QTest::newRow("would overflow as frames") << 3 << "[2147483647][]x" << "[2147483647][]x";
}

void TestOperations::convert()
{
    QFETCH(int, target);
    QFETCH(QString, line);
    SubEngine e;
    e.convertFormat = target;
    QTEST(e.convertFunction(line, u""), "expected");
}

void TestOperations::shift_data()
{
    QTest::addColumn<double>("seconds");
    QTest::addColumn<bool>("start");
    QTest::addColumn<bool>("end");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("expected");
    QTest::newRow("both, empty hide") << 2.0 << true << true << "{100}{}x" << "{150}{50}x";
    QTest::newRow("show only") << 2.0 << true << false << "{100}{}x" << "{150}{}x";
    QTest::newRow("hide only") << -2.5 << false << true << "[100][150]x" << "[100][125]x";
    QTest::newRow("neither rewrites") << 2.0 << false << false << "{0100}{200}x" << "{100}{200}x";
    QTest::newRow("below zero") << -10.0 << true << false << "{100}{}x" << "{-149}{}x";
    QTest::newRow("clock") << 65.0 << true << true << "00:00:10:x" << "00:01:15:x";
    QTest::newRow("words") << 2.0 << true << true << "Hello" << "Hello";
    QTest::newRow("shift past 32 bits") << 99999999.0 << true << true << "{1}{2}x" << "{1}{2}x";
}

void TestOperations::shift()
{
    QFETCH(double, seconds);
    QFETCH(QString, line);
    SubEngine e;
    e.shiftSeconds = seconds;
    QFETCH(bool, start);
    QFETCH(bool, end);
    e.shiftStart = start;
    e.shiftEnd = end;
    QTEST(e.shiftTimeFunction(line, u""), "expected");
}

void TestOperations::fpsChange_data()
{
    QTest::addColumn<double>("from");
    QTest::addColumn<double>("to");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("expected");
    QTest::newRow("25 to 29") << 25.0 << 29.0 << "{250}{300}x" << "{290}{348}x";
    QTest::newRow("empty hide stays") << 25.0 << 23.976 << "{250}{}x" << "{240}{}x";
    QTest::newRow("tenths untouched") << 25.0 << 29.0 << "[100][150]x" << "[100][150]x";
    QTest::newRow("clock rewritten") << 25.0 << 29.0 << "0:00:10:x" << "0:00:10:x";
    QTest::newRow("words") << 25.0 << 29.0 << "{x" << "{x";
}

void TestOperations::fpsChange()
{
    QFETCH(double, from);
    QFETCH(double, to);
    QFETCH(QString, line);
    SubEngine e;
    e.fps = 23.976;
    e.fpsFrom = from;
    e.fpsTo = to;
    QTEST(e.fpsChangeFunction(line, u""), "expected");
    QCOMPARE(e.fps, 23.976);
}

void TestOperations::showTime_data()
{
    QTest::addColumn<QString>("options");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("next");
    QTest::addColumn<QString>("expected");
    QTest::newRow("fixed") << "" << "{250}{999}x" << "" << "{250}{325}x";
    QTest::newRow("by length") << "length" << "{250}{}" + QString(25, u'a') << ""
                               << "{250}{338}" + QString(25, u'a');
    QTest::newRow("blocked") << "block" << "[100][]x" << "[120][130]y" << "[100][120]x";
    QTest::newRow("equal not blocked") << "block" << "[100][]x" << "[130][]y" << "[100][130]x";
    QTest::newRow("next at zero") << "block" << "[100][]x" << "[0][5]y" << "[100][130]x";
    QTest::newRow("next not subtitle") << "block" << "[100][]x" << "Hello" << "[100][130]x";
    QTest::newRow("next earlier") << "block" << "[100][]x" << "[50][]y" << "[100][50]x";
    QTest::newRow("next other format") << "block" << "{250}{}x" << "00:00:11:y" << "{250}{275}x";
    QTest::newRow("write empty") << "empty only length block" << "{250}{300}x" << "" << "{250}{}x";
    QTest::newRow("only empty keeps numbers") << "only" << "{0250}{300}x" << "" << "{0250}{300}x";
    QTest::newRow("only empty, zero end") << "only" << "{250}{0}x" << "" << "{250}{325}x";
    QTest::newRow("only empty, clock") << "only" << "00:00:10 x" << "" << "00:00:10:x";
    QTest::newRow("words") << "" << "x" << "" << "x";
}

void TestOperations::showTime()
{
    QFETCH(QString, options);
    QFETCH(QString, line);
    QFETCH(QString, next);
    SubEngine e;
    e.showSeconds = 3.0;
    e.writeEmptyEnd = options.contains(u"empty");
    e.onlyEmptyEnd = options.contains(u"only");
    e.lengthDependent = options.contains(u"length");
    e.blockTooLong = options.contains(u"block");
    QTEST(e.showTimeChangeFunction(line, next), "expected");
}

void TestOperations::correctText_data()
{
    QTest::addColumn<QString>("flags");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("punct") << "punct" << "Hello ,world !How are you ?" << "Hello, world! How are you?";
    QTest::newRow("punct ellipsis") << "punct" << "Wait...what" << "Wait... what";
    QTest::newRow("punct ellipsis end") << "punct" << "Wait ..." << "Wait...";
    QTest::newRow("punct decimal") << "punct" << "It costs 3.50 now.Really" << "It costs 3.50 now. Really";
    QTest::newRow("punct comma digits") << "punct" << "3,5 m" << "3, 5 m";
    QTest::newRow("punct joins number") << "punct" << "Room 1. 5 people" << "Room 1.5 people";
    QTest::newRow("punct clock") << "punct" << "12 : 30" << "12:30";
    QTest::newRow("punct row end") << "punct" << "Hi. |Yes" << "Hi.|Yes";
    QTest::newRow("punct pair") << "punct" << "Hi!?" << "Hi!?";
    QTest::newRow("punct style code") << "punct" << "{y:i}Hello" << "{y: i}Hello";
    QTest::newRow("punct first char") << "punct" << " .x" << " . x";
    QTest::newRow("punct only spaces after") << "punct" << "End.   " << "End.";
    QTest::newRow("dashes") << "dashes" << "-Hi.|-Hello." << "- Hi.|- Hello.";
    QTest::newRow("dashes spaces") << "dashes" << "-   Hi" << "- Hi";
    QTest::newRow("dashes after row") << "dashes" << "A.| -B" << "A.|- B";
    QTest::newRow("dashes hyphen") << "dashes" << "well-known" << "well-known";
    QTest::newRow("dashes later") << "dashes" << "Hi -there" << "Hi -there";
    QTest::newRow("dashes double") << "dashes" << "--Hi" << "--Hi";
    QTest::newRow("dashes index 0") << "dashes" << " -Hi" << " - Hi";
    QTest::newRow("dashes alone") << "dashes" << "Hi|-" << "Hi|-";
    QTest::newRow("double") << "double" << "  Hello   big  world  " << "Hello big world ";
    QTest::newRow("end") << "end" << "  Hello  |  world  " << "  Hello|world";
    QTest::newRow("end index 0") << "end" << "   |x" << " |x";
    QTest::newRow("digit") << "digit" << "1 000 000 and 2 x" << "1000000 and 2 x";
    QTest::newRow("digit double gap") << "digit" << "1  2" << "1  2";
    QTest::newRow("digit after double") << "double digit" << "1  2" << "12";
    QTest::newRow("color") << "color" << "{c:$0000FF}Hello{y:i} you" << "Hello you";
    QTest::newRow("color open") << "color" << "a{b" << "a{b";
    QTest::newRow("color nested") << "color" << "{a{b}c}" << "c}";
    QTest::newRow("all text rules") << "punct dashes double end digit color"
                                    << "  -Hello ,world  !|-  {y:i}1 000 ok  ."
                                    << "- Hello, world!|- 1000 ok.";
    QTest::newRow("none") << "" << "  a ,b  " << "  a ,b  ";
    // Only ASCII characters are looked at; everything else passes.
    QTest::newRow("non-ascii") << "punct dashes double end digit color"
                               << QString::fromUtf8("-Żółw ,正しい\u00a0 !|- \U0001F600  .")
                               << QString::fromUtf8("- Żółw, 正しい\u00a0!|- \U0001F600.");
    QTest::newRow("nul kept") << "punct double" << QString::fromUtf16(u"a\0  ,b", 6)
                              << QString::fromUtf16(u"a\0, b", 5);
}

void TestOperations::correctText()
{
    QFETCH(QString, flags);
    QFETCH(QString, text);
    QFETCH(QString, expected);
    SubEngine e = correction(flags);
    QCOMPARE(e.correctFunction(QStringLiteral("{1}{2}") + text, u""), QStringLiteral("{1}{2}") + expected);
}

void TestOperations::sustain_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("next");
    QTest::addColumn<QString>("expected");
    QTest::newRow("cut back") << "[100][130]x" << "[120][]y" << "[100][120]x";
    QTest::newRow("next at zero") << "[100][130]x" << "[0][]y" << "[100][130]x";
    QTest::newRow("next words") << "[100][130]x" << "words" << "[100][130]x";
    QTest::newRow("last line") << "[100][130]x" << "" << "[100][130]x";
    QTest::newRow("other format") << "{250}{400}x" << "00:00:12:y" << "{250}{300}x";
    QTest::newRow("no flag still rewrites") << "{0250}{400}x" << "" << "{250}{400}x";
}

void TestOperations::sustain()
{
    QFETCH(QString, line);
    QFETCH(QString, next);
    SubEngine e = correction(QStringLiteral("sustain"));
    QTEST(e.correctFunction(line, next), "expected");
}

void TestOperations::stringFunctions()
{
    QString s = QStringLiteral("a   b");
    QCOMPARE(cutspacesright(s, 1), "ab");
    QCOMPARE(cutspacesright(s, 5), "ab");
    s = QStringLiteral("   b");
    QCOMPARE(cutspacesleft(s, 2), " b");
    QCOMPARE(cutspacesleft(s, 0), " b");
    s = QStringLiteral("a b");
    QCOMPARE(cutspacesleft(s, 2), "a b");
    s = QStringLiteral("x  ");
    delendspc(s);
    QCOMPARE(s, "x");
    s = QStringLiteral("   ");
    delendspc(s);
    QCOMPARE(s, "");
    QVERIFY(numaround(QStringLiteral("1 2"), 1));
    QVERIFY(!numaround(QStringLiteral("1 2"), 0));
    QVERIFY(!numaround(QStringLiteral("1 a"), 1));
    s = QStringLiteral("{a}b{c");
    QCOMPARE(cutcolor(s), 1);
    QCOMPARE(s, "b{c");
    QCOMPARE(cutcolor(s), 0);
    QVERIFY(charintab(u'?', ".,!?:;", 6));
    QVERIFY(!charintab(u'?', ".,!?:;", 3));
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
    e.convertFormat = 3;
    QTEST(e.linesChange(text, mode), "expected");
}

void TestOperations::walkLooksAheadAtOriginalText()
{
    // Each line is cut back to the next line's show time as it was before
    // the walk: the second line is rewritten too, but too late to matter.
    SubEngine e = correction(QStringLiteral("sustain"));
    QCOMPARE(e.linesChange(u"[10][50]a\n[40][60]b\n[55][]c", 5), "[10][40]a\n[40][55]b\n[55][]c");
    e.showSeconds = 10.0;
    e.writeEmptyEnd = e.onlyEmptyEnd = e.lengthDependent = false;
    e.blockTooLong = true;
    QCOMPARE(e.linesChange(u"[10][]a\n[40][]b", 3), "[10][40]a\n[40][140]b");
}

void TestOperations::undefinedModeKeepsText()
{
    SubEngine e;
    for (int i = 0; i < 2; ++i)
        QTest::ignoreMessage(QtDebugMsg, "ERROR: undefined modification called!");
    QCOMPARE(e.linesChange(u"{1}{2}a\nb\n", 9), "{1}{2}a\nb\n");
}

void TestOperations::longLinesAndOddCharacters()
{
    // Lines far longer than any fixed buffer are handled like short ones.
    const QString longText = QString(100000, u'y') + u'.' + QString(5000, u'z');
    SubEngine e = correction(QStringLiteral("punct"));
    QCOMPARE(e.correctFunction(QStringLiteral("{1}{2}") + longText, u""),
             QStringLiteral("{1}{2}") + QString(100000, u'y') + QStringLiteral(". ") + QString(5000, u'z'));
    e.convertFormat = 4;
    QCOMPARE(e.linesChange(QStringLiteral("{25}{50}") + longText, 1), QStringLiteral("[10][20]") + longText);

    // Characters outside Latin-1, a no-break space and a NUL go through
    // every operation unchanged.
    const QString odd = QString::fromUtf8("Дом\u00a0χ\U0001F600") + QChar(0) + QStringLiteral("end");
    const QString line = QStringLiteral("{25}{50}") + odd;
    for (int mode = 1; mode <= 5; ++mode) {
        SubEngine engine;
        QVERIFY2(engine.linesChange(line, mode).endsWith(odd), qPrintable(QString::number(mode)));
    }
    // A line that is no subtitle passes byte for byte.
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
    SubEngine e = correction(QStringLiteral("punct dashes double end digit color"));
    const QString result = e.correctFunction(QStringLiteral("{1}{2}") + text, u"");
    QCOMPARE(result.size(), 6 + 250000 * 3 - 1);
}

void TestOperations::corpusThroughEveryOperation()
{
    REQUIRE_CORPUS();
    for (const QString &name : corpusFiles()) {
        SubtitleText file;
        QString error;
        QVERIFY2(readSubtitleFile(corpusDir() + u'/' + name, file, &error), qPrintable(error));
        const QStringList before = lines(file.text);
        for (int mode = 1; mode <= 5; ++mode) {
            SubEngine e;
            const QStringList after = lines(e.linesChange(file.text, mode));
            QVERIFY2(after.size() == before.size(), qPrintable(name));
            for (qsizetype i = 0; i < before.size(); ++i) {
                int format;
                double show, hide;
                QString text;
                // Lines that are no subtitles are never touched; subtitle
                // lines stay subtitle lines.
                if (!e.getline(before[i], format, show, hide, text))
                    QCOMPARE(after[i], before[i]);
                else
                    QVERIFY2(e.getline(after[i], format, show, hide, text),
                             qPrintable(name + QStringLiteral(": ") + after[i]));
            }
        }
    }
}

void TestOperations::conversionIsStable()
{
    // Converting into a format a second time changes nothing, for every
    // target and every real file (their times are not negative here, where
    // the rounding toward zero would move a time on each rewrite).
    REQUIRE_CORPUS();
    for (const QString &name : corpusFiles()) {
        SubtitleText file;
        QVERIFY(readSubtitleFile(corpusDir() + u'/' + name, file, nullptr));
        for (int target = 1; target <= 4; ++target) {
            SubEngine e;
            e.convertFormat = target;
            const QString once = e.linesChange(file.text, 1);
            const QString twice = e.linesChange(once, 1);
            const QStringList a = lines(once), b = lines(twice);
            QCOMPARE(a.size(), b.size());
            for (qsizetype i = 0; i < a.size(); ++i) {
                int format;
                double show, hide;
                QString text;
                const bool negative = e.getline(a[i], format, show, hide, text)
                        && (show < 0 || hide < 0);
                if (!negative && a[i] != b[i])
                    QFAIL(qPrintable(name + QStringLiteral(": ") + a[i] + QStringLiteral(" -> ") + b[i]));
            }
        }
    }
}

QTEST_APPLESS_MAIN(TestOperations)
#include "tst_operations.moc"
