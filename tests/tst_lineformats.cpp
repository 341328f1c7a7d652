// Reading and writing single subtitle lines in the three formats.
#include "editor/subengine.h"

#include <QTest>

class TestLineFormats : public QObject
{
    Q_OBJECT

private slots:
    void secToTime_data();
    void secToTime();
    void subtitlesTime_data();
    void subtitlesTime();
    void bracketLines_data();
    void bracketLines();
    void writeBracketLines();
    void clockLines_data();
    void clockLines();
    void writeClockLines_data();
    void writeClockLines();
    void getline_data();
    void getline();
    void putline_data();
    void putline();
    void putlineSetsTimeStyle();
    void putlineRejectsUnknownFormat();
    void zeroFrameRateReadsAsOne();
};

void TestLineFormats::secToTime_data()
{
    QTest::addColumn<int>("seconds");
    QTest::addColumn<QString>("expected");
    QTest::newRow("zero") << 0 << "00 00 00";
    QTest::newRow("59") << 59 << "00 00 59";
    QTest::newRow("3599") << 3599 << "00 59 59";
    QTest::newRow("hour") << 3600 << "01 00 00";
    QTest::newRow("3725") << 3725 << "01 02 05";
    QTest::newRow("100 hours") << 360000 << "100 00 00";
    QTest::newRow("-30") << -30 << "00 00 -30";
    QTest::newRow("-61") << -61 << "00 -1 -1";
    QTest::newRow("-3661") << -3661 << "-1 -1 -1";
    QTest::newRow("int max") << INT_MAX << "596523 14 07";
    QTest::newRow("int min") << INT_MIN << "-596523 -14 -8";
}

void TestLineFormats::secToTime()
{
    QFETCH(int, seconds);
    QFETCH(QString, expected);
    SubEngine engine;
    QString h, m, s;
    engine.SecToTime(seconds, h, m, s);
    QCOMPARE(h + u' ' + m + u' ' + s, expected);
}

void TestLineFormats::subtitlesTime_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("factor");
    QTest::addColumn<double>("expected");
    QTest::newRow("empty") << QString() << 7.0 << 2.0;
    QTest::newRow("25 chars") << QString(25, u'x') << 2.0 << 3.0;
    QTest::newRow("100 chars") << QString(100, u'x') << 3.0 << 8.0;
    QTest::newRow("fraction of 50") << QString(10, u'x') << 1.0 << 2.2;
    // A reader sees one letter where an accent is stored as a combining
    // mark, and one symbol for a surrogate pair.
    QTest::newRow("combining accents") << QString::fromUtf8("e\u0301e\u0301e\u0301e\u0301e\u0301")
                                       << 10.0 << 3.0;
    QTest::newRow("outside the BMP") << QString::fromUtf8("\U0001F600\U0001F600\U0001F600"
                                                         "\U0001F600\U0001F600")
                                     << 10.0 << 3.0;
    QTest::newRow("latin-1 letters") << QString::fromUtf8("\u00e9\u00e9\u00e9\u00e9\u00e9")
                                     << 10.0 << 3.0;
}

void TestLineFormats::subtitlesTime()
{
    QFETCH(QString, text);
    QFETCH(double, factor);
    QFETCH(double, expected);
    QCOMPARE(SubEngine().getSubtitlesTime(text, factor), expected);
}

void TestLineFormats::bracketLines_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("frameBased");
    QTest::addColumn<bool>("bracketTime");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("end");
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << "" << true << true << "" << "" << "";
    QTest::newRow("full") << "{250}{375}Hello" << true << false << "250" << "375" << "Hello";
    QTest::newRow("no end") << "{250}{}Hello" << true << false << "250" << "" << "Hello";
    QTest::newRow("no text") << "{250}{375}" << true << false << "250" << "375" << "";
    QTest::newRow("style code") << "{250}{375}{b}Hi" << true << false << "250" << "375" << "{b}Hi";
    QTest::newRow("letters") << "{a}{b}c" << true << false << "a" << "b" << "c";
    QTest::newRow("brace in start") << "{{5}{6}x" << true << false << "{5" << "6" << "x";
    QTest::newRow("empty start") << "{}{375}x" << false << false << "" << "" << "";
    QTest::newRow("one field") << "{250}x" << false << false << "" << "" << "";
    QTest::newRow("one closed field") << "{250}" << false << false << "" << "" << "";
    QTest::newRow("second open") << "{250}{" << false << false << "" << "" << "";
    QTest::newRow("second unclosed") << "{250}{375x" << false << false << "" << "" << "";
    QTest::newRow("double close") << "{5}}{6}x" << false << false << "" << "" << "";
    QTest::newRow("bracket") << "[100][150]Hi" << false << true << "100" << "150" << "Hi";
    QTest::newRow("bracket no end") << "[100][]Hi" << false << true << "100" << "" << "Hi";
    QTest::newRow("mixed brackets") << "{100][150]Hi" << false << false << "" << "" << "";
    QTest::newRow("plain words") << "Hello world" << false << false << "" << "" << "";
}

void TestLineFormats::bracketLines()
{
    QFETCH(QString, line);
    QFETCH(bool, frameBased);
    QFETCH(bool, bracketTime);
    SubEngine engine;
    QCOMPARE(engine._isFRMlinecorrect(line), int(frameBased));
    QCOMPARE(engine._isMPLlinecorrect(line), int(bracketTime));
    if (!frameBased && !bracketTime)
        return;
    QString start, end, text;
    if (frameBased) {
        engine._getstartfrm(line, start);
        engine._getendfrm(line, end);
        engine._getfrmtext(line, text);
    } else {
        engine._getstartMPL(line, start);
        engine._getendMPL(line, end);
        engine._getMPLtext(line, text);
    }
    QTEST(start, "start");
    QTEST(end, "end");
    QTEST(text, "text");
}

void TestLineFormats::writeBracketLines()
{
    SubEngine engine;
    QString out;
    engine._putfrmline(250, 375, u"Hello", out);
    QCOMPARE(out, "{250}{375}Hello");
    engine._putfrmline(250, 0, u"Hello", out);
    QCOMPARE(out, "{250}{}Hello");
    engine._putfrmline(0, 0, u"", out);
    QCOMPARE(out, "{0}{}");
    engine._putfrmline(-3, 5, u"", out);
    QCOMPARE(out, "{-3}{5}");
    engine._putfrmline(INT_MIN, INT_MAX, u"x", out);
    QCOMPARE(out, "{-2147483648}{2147483647}x");
    engine._putMPLline(100, 150, u"Hi", out);
    QCOMPARE(out, "[100][150]Hi");
    engine._putMPLline(100, 0, u"Hi", out);
    QCOMPARE(out, "[100][]Hi");
}

void TestLineFormats::clockLines_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("correct");
    QTest::addColumn<int>("style");
    QTest::addColumn<int>("hours");
    QTest::addColumn<int>("minutes");
    QTest::addColumn<int>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("two-digit") << "00:01:05:Hello" << true << 1 << 0 << 1 << 5 << "Hello";
    QTest::newRow("one-digit") << "0:01:05:Hello" << true << 2 << 0 << 1 << 5 << "Hello";
    QTest::newRow("short fields") << "1:2:3:x" << true << 2 << 1 << 2 << 3 << "x";
    QTest::newRow("space separator") << "00:01:05 Hello" << true << 1 << 0 << 1 << 5 << "Hello";
    QTest::newRow("equals separator") << "00:01:05=Hello" << true << 1 << 0 << 1 << 5 << "Hello";
    QTest::newRow("space before colon") << "00:01:05 :Hello" << true << 1 << 0 << 1 << 5 << ":Hello";
    QTest::newRow("no text") << "00:01:05" << true << 1 << 0 << 1 << 5 << "";
    QTest::newRow("no upper bound") << "00:99:99:x" << true << 1 << 0 << 99 << 99 << "x";
    QTest::newRow("bare number") << "123456" << true << 1 << 123456 << 123456 << 123456 << "";
    QTest::newRow("minutes read twice") << "12:30" << true << 1 << 12 << 30 << 30 << "";
    QTest::newRow("letters") << "aa:01:05:x" << false << 1 << -1 << 1 << 5 << "x";
    QTest::newRow("empty hours") << ":01:05:x" << false << 1 << -1 << 1 << 5 << "x";
    QTest::newRow("empty minutes") << "00::05:x" << false << 1 << 0 << -1 << 5 << "x";
    QTest::newRow("negative") << "00:-1:05:x" << false << 1 << 0 << -1 << 5 << "x";
    QTest::newRow("words") << "Hello" << false << 1 << -1 << -1 << -1 << "";
    QTest::newRow("minutes with words") << "12:30 text" << false << 1 << 12 << -1 << 30 << "text";
    QTest::newRow("hours overflow") << "99999999999:00:00:x" << false << 1 << -1 << 0 << 0 << "x";
}

void TestLineFormats::clockLines()
{
    QFETCH(QString, line);
    QFETCH(bool, correct);
    SubEngine engine;
    QCOMPARE(engine._isTIMElinecorrect(line), int(correct));
    int style, h, m, s;
    QString text;
    QCOMPARE(engine._getstarttime(line, style, h, m, s, &text), 1);
    QTEST(style, "style");
    QTEST(h, "hours");
    QTEST(m, "minutes");
    QTEST(s, "seconds");
    QTEST(text, "text");
}

void TestLineFormats::writeClockLines_data()
{
    QTest::addColumn<int>("style");
    QTest::addColumn<int>("hours");
    QTest::addColumn<int>("minutes");
    QTest::addColumn<int>("seconds");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("style 2") << 2 << 1 << 2 << 3 << "x" << "1:02:03:x";
    QTest::newRow("style 1") << 1 << 1 << 2 << 3 << "x" << "01:02:03:x";
    QTest::newRow("style 2 long hours") << 2 << 12 << 0 << 5 << "x" << "12:00:05:x";
    QTest::newRow("zero style 1") << 1 << 0 << 0 << 0 << "" << "00:00:00:";
    QTest::newRow("zero style 2") << 2 << 0 << 0 << 0 << "" << "0:00:00:";
    QTest::newRow("negative seconds") << 1 << 0 << 0 << -30 << "x" << "00:00:-30:x";
}

void TestLineFormats::writeClockLines()
{
    QFETCH(int, style);
    QFETCH(int, hours);
    QFETCH(int, minutes);
    QFETCH(int, seconds);
    QFETCH(QString, text);
    SubEngine engine;
    engine.timeStyle = style;
    QString out;
    QCOMPARE(engine._puttimeline(hours, minutes, seconds, text, out), 1);
    QTEST(out, "expected");

    engine.timeStyle = 3;
    out = QStringLiteral("untouched");
    QCOMPARE(engine._puttimeline(hours, minutes, seconds, text, out), 0);
    QCOMPARE(out, "untouched");
}

void TestLineFormats::getline_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("format");
    QTest::addColumn<double>("show");
    QTest::addColumn<double>("hide");
    QTest::addColumn<QString>("text");
    QTest::newRow("frames") << "{250}{375}Hello" << true << 3 << 10.0 << 15.0 << "Hello";
    QTest::newRow("frames no end") << "{250}{}Hello" << true << 3 << 10.0 << 0.0 << "Hello";
    QTest::newRow("tenths") << "[100][150]Hi" << true << 4 << 10.0 << 15.0 << "Hi";
    QTest::newRow("tenths zero end") << "[100][0]Hi" << true << 4 << 10.0 << 0.0 << "Hi";
    QTest::newRow("clock") << "00:00:10:Hi" << true << 1 << 10.0 << 0.0 << "Hi";
    QTest::newRow("clock one digit") << "0:00:10:Hi" << true << 2 << 10.0 << 0.0 << "Hi";
    QTest::newRow("empty line") << "" << true << 3 << 0.0 << 0.0 << "";
    QTest::newRow("leading number") << "{12abc}{ 25x}x" << true << 3 << 0.48 << 1.0 << "x";
    QTest::newRow("no digits") << "{a}{b}c" << true << 3 << 0.0 << 0.0 << "c";
    QTest::newRow("negative frames") << "{-25}{25}x" << true << 3 << -1.0 << 1.0 << "x";
    QTest::newRow("int max frames") << "{2147483647}{}x" << true << 3 << 2147483647 / 25.0 << 0.0 << "x";
    QTest::newRow("words") << "Hello world" << false << 0 << -7.0 << -7.0 << "kept";
    // Numbers that do not fit a 32-bit integer make the line unreadable,
    // so every operation leaves it as it is.
    QTest::newRow("frame overflow") << "{2147483648}{}x" << false << 0 << -7.0 << -7.0 << "kept";
    QTest::newRow("end overflow") << "[1][99999999999999999999]x" << false << 0 << -7.0 << -7.0 << "kept";
    QTest::newRow("clock overflow") << "596524:00:00:x" << false << 0 << -7.0 << -7.0 << "kept";
    QTest::newRow("clock at limit") << "596523:14:07:x" << true << 1 << 2147483647.0 << 0.0 << "x";
    // Text parts keep every character, a NUL and any script included.
    QTest::newRow("nul in text") << QString::fromUtf16(u"{1}{2}a\0b", 9) << true << 3 << 0.04 << 0.08
                                 << QString::fromUtf16(u"a\0b", 3);
    QTest::newRow("non-latin text") << QString::fromUtf8("[1][2]Привет 世界") << true << 4 << 0.1 << 0.2
                                    << QString::fromUtf8("Привет 世界");
}

void TestLineFormats::getline()
{
    QFETCH(QString, line);
    SubEngine engine;
    int format = -1;
    double show = -7.0, hide = -7.0;
    QString text = QStringLiteral("kept");
    QTEST(engine.getline(line, format, show, hide, text), "accepted");
    QTEST(format, "format");
    QTEST(show, "show");
    QTEST(hide, "hide");
    QTEST(text, "text");
}

void TestLineFormats::putline_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<double>("show");
    QTest::addColumn<double>("hide");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("frames") << 3 << 10.0 << 15.0 << "Hello" << "{250}{375}Hello";
    QTest::newRow("frames empty hide") << 3 << 10.0 << 0.0 << "Hello" << "{250}{}Hello";
    QTest::newRow("tenths empty hide") << 4 << 10.0 << 0.0 << "Hello" << "[100][]Hello";
    QTest::newRow("clock 1") << 1 << 3725.4 << 99.0 << "x" << "01:02:05:x";
    QTest::newRow("clock 2") << 2 << 3725.4 << 99.0 << "x" << "1:02:05:x";
    QTest::newRow("clock rounds up") << 1 << 59.5 << 0.0 << "x" << "00:01:00:x";
    QTest::newRow("tenths round down") << 4 << 1.04 << 2.0 << "x" << "[10][20]x";
    QTest::newRow("tiny hide is empty") << 4 << 1.0 << 0.04 << "x" << "[10][]x";
    QTest::newRow("empty line clock 1") << 1 << 0.0 << 0.0 << "" << "00:00:00:";
    QTest::newRow("empty line clock 2") << 2 << 0.0 << 0.0 << "" << "0:00:00:";
    QTest::newRow("empty line frames") << 3 << 0.0 << 0.0 << "" << "{0}{}";
    QTest::newRow("empty line tenths") << 4 << 0.0 << 0.0 << "" << "[0][]";
    // Below zero the rounding cuts toward zero as well.
    QTest::newRow("negative tenths") << 4 << -0.26 << -1.0 << "x" << "[-2][-9]x";
    QTest::newRow("negative clock") << 1 << -1.0 << 0.0 << "x" << "00:00:00:x";
    QTest::newRow("negative clock minute") << 1 << -61.0 << 0.0 << "x" << "00:-1:00:x";
    // Times that would not fit a 32-bit number leave the line alone.
    QTest::newRow("frames overflow") << 3 << 1e9 << 0.0 << "x" << "untouched";
    QTest::newRow("hide overflow") << 4 << 1.0 << -1e9 << "x" << "untouched";
    QTest::newRow("clock overflow") << 1 << 3e9 << 0.0 << "x" << "untouched";
    QTest::newRow("not a number") << 3 << qQNaN() << 0.0 << "x" << "untouched";
}

void TestLineFormats::putline()
{
    QFETCH(int, format);
    QFETCH(double, show);
    QFETCH(double, hide);
    QFETCH(QString, text);
    QFETCH(QString, expected);
    SubEngine engine;
    QString out = QStringLiteral("untouched");
    QCOMPARE(engine.putline(format, show, hide, text, out), expected != u"untouched");
    QCOMPARE(out, expected);
}

void TestLineFormats::putlineSetsTimeStyle()
{
    SubEngine engine;
    QCOMPARE(engine.timeStyle, 1);
    QCOMPARE(engine.fps, 25.0);
    QString out;
    engine.putline(2, 5.0, 0.0, u"x", out);
    QCOMPARE(engine.timeStyle, 2);
    engine.putline(3, 5.0, 0.0, u"x", out);
    QCOMPARE(engine.timeStyle, 2);
    engine.putline(1, 5.0, 0.0, u"x", out);
    QCOMPARE(engine.timeStyle, 1);
}

void TestLineFormats::putlineRejectsUnknownFormat()
{
    SubEngine engine;
    QString out = QStringLiteral("before");
    QTest::ignoreMessage(QtDebugMsg, "putline(): 'format' parametr error!!!");
    QVERIFY(!engine.putline(7, 1.0, 2.0, u"x", out));
    QCOMPARE(out, "before");
}

void TestLineFormats::zeroFrameRateReadsAsOne()
{
    SubEngine engine;
    engine.fps = 0.0;
    int format;
    double show, hide;
    QString text;
    QVERIFY(engine.getline(u"{250}{375}x", format, show, hide, text));
    QCOMPARE(engine.fps, 1.0);
    QCOMPARE(show, 250.0);
    QCOMPARE(hide, 375.0);
}

QTEST_APPLESS_MAIN(TestLineFormats)
#include "tst_lineformats.moc"
