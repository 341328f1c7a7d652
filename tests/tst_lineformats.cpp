// Reading and writing single subtitle lines in the three formats.
#include "engine/subengine.h"

#include <QTest>

namespace {

// What `getline` makes of a line: "format show hide |text|", or "no".
QString readAs(QStringView line)
{
    SubEngine engine;
    int format = -1;
    double show = -7, hide = -7;
    QString text = QStringLiteral("kept");
    if (!engine.getline(line, format, show, hide, text))
        return QStringLiteral("no %1 %2 %3 |%4|").arg(format).arg(show).arg(hide).arg(text);
    return QStringLiteral("%1 %2 %3 |%4|").arg(format).arg(show, 0, 'g', 12).arg(hide).arg(text);
}

const QString untouched = QStringLiteral("untouched");

} // namespace

class TestLineFormats : public QObject
{
    Q_OBJECT

private slots:
    void read_data();
    void read();
    void write_data();
    void write();
    void engineState();
    void rateHeader();
};

void TestLineFormats::read_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("expected");
    const QString no = QStringLiteral("no 0 -7 -7 |kept|");
    QTest::newRow("empty") << "" << "3 0 0 ||";
    QTest::newRow("frames") << "{250}{375}Hello" << "3 10 15 |Hello|";
    QTest::newRow("frames no end") << "{250}{}Hello" << "3 10 0 |Hello|";
    QTest::newRow("letters read as 0") << "{a}{b}c" << "3 0 0 |c|";
    QTest::newRow("leading number") << "{12abc}{ 25x}x" << "3 0.48 1 |x|";
    QTest::newRow("brace in start") << "{{5}{6}x" << "3 0 0.24 |x|";
    QTest::newRow("negative frames") << "{-25}{25}x" << "3 -1 1 |x|";
    QTest::newRow("int max frames") << "{2147483647}{}x" << "3 85899345.88 0 |x|";
    QTest::newRow("frame overflow") << "{2147483648}{}x" << no;
    QTest::newRow("int min frames") << "{-2147483648}{}x" << "3 -85899345.92 0 |x|";
    QTest::newRow("empty start") << "{}{375}x" << no;
    QTest::newRow("one field") << "{250}x" << no;
    QTest::newRow("second open") << "{250}{" << no;
    QTest::newRow("second unclosed") << "{250}{375x" << no;
    QTest::newRow("double close") << "{5}}{6}x" << no;
    QTest::newRow("mixed brackets") << "{100][150]Hi" << no;
    QTest::newRow("tenths") << "[100][150]Hi" << "4 10 15 |Hi|";
    QTest::newRow("tenths zero end") << "[100][0]Hi" << "4 10 0 |Hi|";
    QTest::newRow("tenths end overflow") << "[1][99999999999999999999]x" << no;
    QTest::newRow("clock") << "00:01:05:Hello" << "1 65 0 |Hello|";
    QTest::newRow("clock short fields") << "1:2:3:x" << "2 3723 0 |x|";
    QTest::newRow("clock space") << "00:01:05 Hello" << "1 65 0 |Hello|";
    QTest::newRow("clock space first") << "00:01:05 :Hello" << "1 65 0 |:Hello|";
    QTest::newRow("clock no text") << "00:01:05" << "1 65 0 ||";
    QTest::newRow("clock no upper bound") << "00:99:99:x" << "1 6039 0 |x|";
    QTest::newRow("bare number") << "123456" << "1 451972416 0 ||";
    QTest::newRow("minutes read twice") << "12:30" << "1 45030 0 ||";
    QTest::newRow("clock at limit") << "596523:14:07:x" << "1 2147483647 0 |x|";
    QTest::newRow("clock overflow") << "596524:00:00:x" << no;
    QTest::newRow("hours overflow") << "99999999999:00:00:x" << no;
    // Ten digits are past 32 bits here; read naively they would wrap to 5.
    QTest::newRow("ten-digit seconds") << "0:00:4294967301:x" << no;
    QTest::newRow("clock letters") << "aa:01:05:x" << no;
    QTest::newRow("empty hours") << ":01:05:x" << no;
    QTest::newRow("empty minutes") << "00::05:x" << no;
    QTest::newRow("negative minutes") << "00:-1:05:x" << no;
    // A sign is no part of a clock field, not even on a zero.
    QTest::newRow("minus zero hours") << "-0:00:07:x" << no;
    QTest::newRow("plus hours") << "+1:00:07:x" << no;
    QTest::newRow("minus zero minutes") << "0:-0:07:x" << no;
    QTest::newRow("plus seconds") << "0:00:+7:x" << no;
    QTest::newRow("minus zero seconds") << "0:00:-0 x" << no;
    QTest::newRow("minutes with words") << "12:30 text" << no;
    QTest::newRow("words") << "Hello world" << no;
    // A NUL is a character like any other: in a text part it is kept, and
    // it is never the end of a number.
    QTest::newRow("nul in minutes") << QString::fromUtf16(u"1:2\0b?", 6) << no;
    QTest::newRow("nul in seconds") << QString::fromUtf16(u"00:00:05\0:x", 11) << no;
    QTest::newRow("nul in text") << QString::fromUtf16(u"{1}{2}a\0b", 9) << QString::fromUtf16(u"3 0.04 0.08 |a\0b|", 17);
    QTest::newRow("non-latin text") << QString::fromUtf8("[1][2]Привет 世界") << QString::fromUtf8("4 0.1 0.2 |Привет 世界|");
}

void TestLineFormats::read()
{
    QFETCH(QString, line);
    QTEST(readAs(line), "expected");
}

void TestLineFormats::write_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<double>("show");
    QTest::addColumn<double>("hide");
    QTest::addColumn<QString>("expected"); // text part "x"
    QTest::newRow("frames") << 3 << 10.0 << 15.0 << "{250}{375}x";
    QTest::newRow("frames empty hide") << 3 << 10.0 << 0.0 << "{250}{}x";
    QTest::newRow("frames at 32-bit limits") << 3 << -2147483648 / 25.0 << 2147483647 / 25.0 << "{-2147483648}{2147483647}x";
    QTest::newRow("tenths") << 4 << 10.0 << 15.0 << "[100][150]x";
    QTest::newRow("tenths empty hide") << 4 << 10.0 << 0.0 << "[100][]x";
    QTest::newRow("tenths round down") << 4 << 1.04 << 2.0 << "[10][20]x";
    QTest::newRow("tiny hide is empty") << 4 << 1.0 << 0.04 << "[10][]x";
    QTest::newRow("clock 1") << 1 << 3725.4 << 99.0 << "01:02:05:x";
    QTest::newRow("clock 2") << 2 << 3725.4 << 99.0 << "1:02:05:x";
    QTest::newRow("clock 2 long hours") << 2 << 43205.0 << 0.0 << "12:00:05:x";
    QTest::newRow("clock rounds up") << 1 << 59.5 << 0.0 << "00:01:00:x";
    QTest::newRow("clock 59 s") << 1 << 59.0 << 0.0 << "00:00:59:x";
    QTest::newRow("clock 3599 s") << 1 << 3599.0 << 0.0 << "00:59:59:x";
    QTest::newRow("clock 100 hours") << 1 << 360000.0 << 0.0 << "100:00:00:x";
    QTest::newRow("clock int max") << 1 << 2147483647.0 << 0.0 << "596523:14:07:x";
    QTest::newRow("zero, clock 1") << 1 << 0.0 << 0.0 << "00:00:00:x";
    QTest::newRow("zero, tenths") << 4 << 0.0 << 0.0 << "[0][]x";
    // Halves round away from zero, so a whole number of units below zero
    // comes back as itself.
    QTest::newRow("negative tenths") << 4 << -0.26 << -1.0 << "[-3][-10]x";
    QTest::newRow("negative halves") << 4 << -0.05 << -0.04 << "[-1][]x";
    QTest::newRow("negative frames") << 3 << -2.72 << -0.02 << "{-68}{-1}x";
    // A clock has no time below zero: such a line is not written. A time
    // that rounds to 0 s is no such time.
    QTest::newRow("negative clock") << 1 << -30.0 << 0.0 << untouched;
    QTest::newRow("negative clock, one second") << 2 << -0.5 << 0.0 << untouched;
    QTest::newRow("clock rounds to zero") << 2 << -0.49 << 0.0 << "0:00:00:x";
    QTest::newRow("clock int min") << 2 << -2147483648.0 << 0.0 << untouched;
    QTest::newRow("int min tenths") << 4 << -214748364.8 << 0.0 << "[-2147483648][]x";
    // Times that would not fit a 32-bit number leave the line alone.
    QTest::newRow("below int min") << 4 << -214748364.85 << 0.0 << untouched;
    QTest::newRow("frames overflow") << 3 << 1e9 << 0.0 << untouched;
    QTest::newRow("hide overflow") << 4 << 1.0 << -1e9 << untouched;
    QTest::newRow("clock overflow") << 1 << 3e9 << 0.0 << untouched;
    QTest::newRow("not a number") << 3 << qQNaN() << 0.0 << untouched;
}

void TestLineFormats::write()
{
    QFETCH(int, format);
    QFETCH(double, show);
    QFETCH(double, hide);
    QFETCH(QString, expected);
    SubEngine engine;
    QString out = untouched;
    QCOMPARE(engine.putline(format, show, hide, u"x", out), expected != untouched);
    QCOMPARE(out, expected);
}

void TestLineFormats::engineState()
{
    // Nothing is left behind between calls: each clock style writes its own
    // whatever was written before, and a read changes no setting. A frame
    // rate of 0 reads as 1, in a walk too; an unknown format code writes
    // nothing and says so.
    SubEngine engine;
    QCOMPARE(engine.fps, 25.0);
    QString out;
    QVERIFY(engine.putline(2, 5.0, 0.0, u"x", out));
    QCOMPARE(out, QStringLiteral("0:00:05:x"));
    QVERIFY(engine.putline(3, 5.0, 0.0, u"x", out));
    QVERIFY(engine.putline(1, 5.0, 0.0, u"x", out));
    QCOMPARE(out, QStringLiteral("00:00:05:x"));
    QCOMPARE(_puttimeline(2, 1, 2, 3, u"x", out), 1);
    QCOMPARE(out, QStringLiteral("1:02:03:x"));
    QCOMPARE(_puttimeline(3, 1, 2, 3, u"y", out), 0);
    QCOMPARE(out, QStringLiteral("1:02:03:x"));
    engine.fps = 0.0;
    int format;
    double show, hide;
    QVERIFY(engine.getline(u"{250}{375}x", format, show, hide, out));
    QCOMPARE(engine.fps, 0.0);
    QCOMPARE(show, 250.0);
    engine.shift.seconds = 1.0;
    QCOMPARE(engine.linesChange(u"{250}{375}x", ModeShift), QStringLiteral("{251}{376}x"));
    out = QStringLiteral("before");
    QTest::ignoreMessage(QtDebugMsg, "putline(): 'format' parametr error!!!");
    QVERIFY(!engine.putline(7, 1.0, 2.0, u"x", out));
    QCOMPARE(out, QStringLiteral("before"));
}

void TestLineFormats::rateHeader()
{
    const struct { const char16_t *line; double rate; } cases[] = {
        {u"{1}{1}23.976", 23.976}, {u"{0}{0}25", 25.0}, {u"{1}{1}1", 1.0}, {u"{1}{1}200", 200.0},
        {u"{1}{1}0.99", 0.0}, {u"{1}{1}200.01", 0.0}, {u"{1}{2}25", 0.0}, {u"{2}{2}25", 0.0},
        {u"{1}{1}25fps", 0.0}, {u"{1}{1}25.", 0.0}, {u"{1}{1}.5", 0.0}, {u"{1}{1}2.3.4", 0.0},
        {u"{1}{1}-25", 0.0}, {u"{1}{1} 25", 0.0}, {u"{1}{1}", 0.0}, {u"[1][1]25", 0.0},
    };
    for (const auto &c : cases)
        QCOMPARE(frameRateHeader(c.line), c.rate);
    // A new rate keeps the decimals the line had, and gets those it needs
    // to a thousandth.
    const struct { const char16_t *line; double rate; const char16_t *written; } rewritten[] = {
        {u"{1}{1}25", 30.0, u"{1}{1}30"}, {u"{1}{1}25.0", 30000.0 / 1001, u"{1}{1}29.97"},
        {u"{0}{0}30", 23.97649, u"{0}{0}23.976"}, {u"{1}{1}25.0000", 23.976, u"{1}{1}23.9760"},
    };
    for (const auto &c : rewritten)
        QCOMPARE(frameRateLine(c.line, c.rate), QString::fromUtf16(c.written));
}

QTEST_APPLESS_MAIN(TestLineFormats)
#include "tst_lineformats.moc"
