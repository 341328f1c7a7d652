// The checks: each kind at its limit and a step past it, the list kept as
// a text is edited, the hide-time fixes, rule files, and `tarnlyx-cli check`.
#include "clirun.h"
#include "engine/checks.h"
#include "files/systemcalls.h"
#include "files/textcodec.h"
#include "testsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>

namespace {

// "LINE word: detail" for each problem, lines from 1.
QStringList described(QStringView text, const CheckRules &rules, double fps)
{
    const QList<QStringView> lines = text.split(u'\n');
    QStringList out;
    for (const CheckProblem &p : checkText(text, rules, fps))
        out << QStringLiteral("%1 %2: %3").arg(p.line + 1).arg(QLatin1String(kindInfo(p.kind).word),
                                                              problemDetail(p, lines[p.line], rules));
    return out;
}

CheckRules rulesWith(const QStringList &settings)
{
    CheckRules rules;
    for (const QString &s : settings) {
        RuleProblem problem;
        if (!setRule(rules, s.section(u'=', 0, 0), s.section(u'=', 1), &problem))
            qFatal("%s", qPrintable(ruleError(QString(), problem).reason()));
    }
    return rules;
}

QString letters(int n)
{
    return QString(n, u'a');
}

} // namespace

class TestChecks : public QObject
{
    Q_OBJECT

private slots:
    void limits_data();
    void limits();
    void followsEdits();
    void fixes_data();
    void fixes();
    void ruleFiles();
    void handKeptCopies();
    void cliOutput();
    void cliOptions_data();
    void cliOptions();
    void cliKinds();
    void cliFixInPlace();
    void cliLargeFiles_data();
    void cliLargeFiles();
};

void TestChecks::limits_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("rules");
    QTest::addColumn<double>("fps");
    QTest::addColumn<QStringList>("expected");
    // Each row: a subtitle at the limit, then one a step past it.
    QTest::newRow("too short, frames") << "{0}{20}ab\n{100}{119}ab" << QStringList{"min-duration=800"} << 25.0
                                       << QStringList{"2 too-short: 760 < 800 ms"};
    QTest::newRow("too short, tenths") << "[0][8]ab\n[100][107]ab" << QStringList{"min-duration=800"} << 25.0
                                       << QStringList{"2 too-short: 700 < 800 ms"};
    QTest::newRow("too short, clock, at its limit") << "00:00:01:a\n00:00:02:b" << QStringList{"min-duration=1000"}
                                                     << 25.0 << QStringList{};
    QTest::newRow("too short, clock, cut short by the next")
            << "00:00:01:a\n00:00:02:b" << QStringList{"min-duration=1001"} << 25.0
            << QStringList{"1 too-short: 1000 < 1001 ms"};
    QTest::newRow("too long, frames") << "{0}{175}a\n{1000}{1176}a" << QStringList{} << 25.0
                                      << QStringList{"2 too-long: 7040 > 7000 ms"};
    QTest::newRow("too long, tenths") << "[0][70]a\n[1000][1071]a" << QStringList{} << 25.0
                                      << QStringList{"2 too-long: 7100 > 7000 ms"};
    // 2 s plus 3 s per 50 characters, every character counted there.
    QTest::newRow("too long, without a hide time")
            << "{0}{}" + letters(25) + "|" + letters(24) + "\n{1000}{}{y:i}" + letters(23) + "|" + letters(22)
            << QStringList{"max-duration=5000"} << 25.0 << QStringList{"2 too-long: 5060 > 5000 ms"};
    QTest::newRow("gap, frames") << "{0}{30}a\n{32}{60}a\n{100}{130}a\n{131}{160}a" << QStringList{} << 25.0
                                 << QStringList{"4 gap: 1 < 2 frames"};
    QTest::newRow("gap, tenths at 25 fps") << "[0][20]a\n[21][40]a\n[100][120]a\n[120][140]a"
                                           << QStringList{"min-gap=2.5"} << 25.0 << QStringList{"4 gap: 0 < 2.5 frames"};
    QTest::newRow("gap, tenths at 10 fps") << "[0][20]a\n[22][40]a\n[100][120]a\n[121][140]a" << QStringList{} << 10.0
                                           << QStringList{"4 gap: 1 < 2 frames"};
    QTest::newRow("overlap, frames") << "{0}{30}a\n{30}{60}a\n{100}{130}a\n{129}{160}a" << QStringList{"min-gap=0"}
                                     << 25.0 << QStringList{"4 overlap: line 3 by 40 ms"};
    QTest::newRow("overlap, tenths") << "[0][20]a\n[20][40]a\n[100][120]a\n[119][140]a" << QStringList{"min-gap=0"}
                                     << 25.0 << QStringList{"4 overlap: line 3 by 100 ms"};
    QTest::newRow("order") << "{100}{130}a\n{100}{130}a\n{200}{230}a\n{199}{230}a" << QStringList{} << 25.0
                           << QStringList{"2 overlap: line 1 by 1200 ms", "4 order: line 3 shows 40 ms later"};
    QTest::newRow("overlap and order, clock") << "00:00:01:a\n00:00:01:b\n00:00:10:c\n00:00:09:d" << QStringList{}
                                              << 25.0 << QStringList{"2 overlap: line 1 by 2060 ms",
                                                                     "4 order: line 3 shows 1000 ms later"};
    QTest::newRow("too long, clock") << "00:00:00:" + letters(25) + "|" + letters(24) + "\n00:01:00:" + letters(25) + "|"
                    + letters(25) << QStringList{"max-duration=5000"} << 25.0
                                     << QStringList{"2 too-long: 5060 > 5000 ms"};
    QTest::newRow("ends before it starts") << "{10}{10}a\n{100}{99}a" << QStringList{} << 25.0
                                           << QStringList{"1 too-short: 0 < 833 ms",
                                                          "2 ends-before-start: hides 40 ms before it shows"};
    QTest::newRow("reading speed, frames") << "{0}{25}" + letters(20) + "\n{100}{125}" + letters(21) << QStringList{}
                                           << 25.0 << QStringList{"2 reading-speed: 21.0 > 20"};
    // A clock line stays until the next shows: no gap to report there.
    QTest::newRow("reading speed, clock") << "00:00:00:" + letters(20) + "\n00:00:01:x\n00:00:10:" + letters(21)
                    + "\n00:00:11:x" << QStringList{} << 25.0 << QStringList{"3 reading-speed: 21.0 > 20"};
    QTest::newRow("reading speed, just past its limit")
            << "{0}{2500}" + letters(667) + "|" + letters(667) + "|" + letters(667)
            << QStringList{"max-row-length=1000", "max-rows=3", "max-duration=3600000"} << 25.0
            << QStringList{"1 reading-speed: 20.01 > 20"};
    // Codes and the row separator are not read; a letter and its accent are one.
    QTest::newRow("row too long") << "{0}{100}{y:i}" + letters(41) + "e\u0301|" + letters(42) + "\n{200}{300}a|{c:$0000FF}"
                    + letters(43) << QStringList{"max-cps=100"} << 25.0 << QStringList{"2 row-too-long: row 2: 43 > 42"};
    QTest::newRow("row too long, tenths") << "[0][50]/" + letters(42) + "|/" + letters(41) + "/\n[100][150]" + letters(41)
                    + "|/" + letters(42) + "/" << QStringList{"max-cps=100"} << 25.0
                                          << QStringList{"2 row-too-long: row 2: 43 > 42"};
    QTest::newRow("too many rows") << "{0}{50}a|b\n{100}{150}a|b|c" << QStringList{} << 25.0
                                   << QStringList{"2 too-many-rows: 3 > 2"};
    QTest::newRow("empty") << "{0}{50}{y:i} \n{100}{150}{y:i}a\n{200}{250}" << QStringList{} << 25.0
                           << QStringList{"1 empty: no text", "3 empty: no text"};
    QTest::newRow("unknown codes") << "{0}{50}{y:ib}{c:$0000ff}{f:Arial}{s:12}{Y:u,s}{C:$ABCDEF}{F:x}{S:9}a\n"
                                      "{100}{150}{y:q}a{c:0000FF}b{x}{s:}c{"
                                   << QStringList{} << 25.0 << QStringList{"2 unknown-code: {y:q} and 3 more"};
    // Never the rate line, nor lines that are no subtitles, which stand
    // between no two subtitles.
    QTest::newRow("rate line and text lines") << "{1}{1}23.976\n{0}{24}a\nnot a subtitle\n\n{25}{50}b"
                                              << QStringList{} << 23.976 << QStringList{"5 gap: 1 < 2 frames"};
    QTest::newRow("a second rate line is a subtitle") << "{0}{50}a\n{1}{1}25" << QStringList{} << 25.0
                                                      << QStringList{"2 overlap: line 1 by 1960 ms",
                                                                     "2 too-short: 0 < 833 ms"};
    QTest::newRow("kinds left out") << "{0}{10}a|b|c\n{5}{1}" << QStringList{"too-short=off", "too-many-rows=off",
                                                                            "order=off", "ends-before-start=off",
                                                                            "empty=off", "overlap=on"}
                                    << 25.0 << QStringList{"2 overlap: line 1 by 200 ms"};
}

void TestChecks::limits()
{
    QFETCH(QString, text);
    QFETCH(QStringList, rules);
    QFETCH(double, fps);
    QFETCH(QStringList, expected);
    QCOMPARE(described(text, rulesWith(rules), fps), expected);
}

void TestChecks::followsEdits()
{
    // After any edit the list is what checking the whole text gives, with
    // its counts; the first line's place as the rate line included.
    const QStringList pool = {"{1}{1}25", "{0}{20}a", "{10}{30}b|c|d", "[5][9]x", "00:00:03:y", "", "text",
                              "{40}{}" + letters(60), "{41}{45}{q:1}", "{100}{90}z", "{1}{1}25"};
    QRandomGenerator random(7);
    QStringList lines = {"{1}{1}25", "{0}{20}a", "text", "{21}{50}b"};
    CheckList list(CheckRules(), 25.0);
    list.reset(lines.join(u'\n'));
    for (int round = 0; round < 400; ++round) {
        const qsizetype first = random.bounded(int(lines.size()) + 1);
        const qsizetype removed = random.bounded(int(std::min<qsizetype>(3, lines.size() - first)) + 1);
        qsizetype added = random.bounded(4);
        if (lines.size() - removed + added == 0)
            added = 1;
        QStringList made;
        for (qsizetype i = 0; i < added; ++i)
            made << pool[random.bounded(int(pool.size()))];
        lines.remove(first, removed);
        for (qsizetype i = 0; i < added; ++i)
            lines.insert(first + i, made[i]);
        list.replaceLines(first, removed, added, [&](qsizetype line) { return lines[line]; });
        const std::vector<CheckProblem> whole = checkText(lines.join(u'\n'), CheckRules(), 25.0);
        QVERIFY2(list.problems() == whole, qPrintable(lines.join(u" / ")));
        for (const CheckKindInfo &info : checkKinds()) {
            QCOMPARE(list.count(info.kind), std::count_if(whole.begin(), whole.end(), [&](const CheckProblem &p) {
                         return p.kind == info.kind;
                     }));
        }
    }
}

void TestChecks::fixes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("fixed");
    QTest::addColumn<QString>("summary");
    QTest::addColumn<bool>("clean"); // of overlaps, short gaps and too short subtitles once fixed
    QTest::newRow("overlap: the gap left") << "{0}{50}a\n{40}{80}b" << "{0}{38}a\n{40}{80}b"
                                           << "1 hide time moved: 1 overlap" << true;
    QTest::newRow("short gap") << "{0}{39}a\n{40}{80}b" << "{0}{38}a\n{40}{80}b" << "1 hide time moved: 1 gap" << true;
    QTest::newRow("too short, room after it") << "{0}{10}a\n{100}{150}b" << "{0}{21}a\n{100}{150}b"
                                              << "1 hide time moved: 1 too short" << true;
    QTest::newRow("too short, tenths") << "[0][5]a\n[50][60]b" << "[0][9]a\n[50][60]b"
                                       << "1 hide time moved: 1 too short" << true;
    QTest::newRow("too short, only the room there is") << "{0}{10}a\n{20}{60}b" << "{0}{18}a\n{20}{60}b"
                                                       << "1 hide time moved: 1 too short" << false;
    QTest::newRow("no room for the gap: the overlap goes") << "{0}{50}a\n{1}{80}b" << "{0}{1}a\n{1}{80}b"
                                                           << "1 hide time moved: 1 overlap" << false;
    QTest::newRow("too short and overlapping") << "{0}{30}a\n{10}{80}b" << "{0}{8}a\n{10}{80}b"
                                               << "1 hide time moved: 1 overlap" << false;
    QTest::newRow("several, a rate line and text between")
            << "{1}{1}25\n{0}{50}a\nwords\n{40}{45}b\n{70}{100}c"
            << "{1}{1}25\n{0}{38}a\nwords\n{40}{61}b\n{70}{100}c" << "2 hide times moved: 1 overlap, 1 too short"
            << true;
    // No hide time of its own, ending before it starts, clock lines, an
    // end field that is not a plain number; the next out of order.
    QTest::newRow("left alone") << "{0}{}a\n{10}{}b\n{100}{90}c\n00:00:05:d\n{150}{0300x}f\n{300}{320}g\n{290}{400}h"
                                << "{0}{}a\n{10}{}b\n{100}{90}c\n00:00:05:d\n{150}{0300x}f\n{300}{321}g\n{290}{400}h"
                                << "1 hide time moved: 1 too short" << false;
    QTest::newRow("nothing to move") << "{0}{50}a" << "{0}{50}a" << "no hide time to move" << true;
    // Only what the rules look for, the gap in frames at the window's rate.
    QTest::newRow("gap not looked for: up to the next show") << "{0}{50}a\n{40}{80}b" << "{0}{40}a\n{40}{80}b"
                                                            << "1 hide time moved: 1 overlap" << true;
    QTest::newRow("overlap not looked for, the gap is") << "{0}{50}a\n{40}{80}b\n{100}{139}c\n{140}{180}d"
                                                       << "{0}{50}a\n{40}{80}b\n{100}{138}c\n{140}{180}d"
                                                       << "1 hide time moved: 1 gap" << false;
    QTest::newRow("tenths at 10 fps") << "[0][25]a\n[20][40]b" << "[0][18]a\n[20][40]b" << "1 hide time moved: 1 overlap"
                                      << true;
}

void TestChecks::fixes()
{
    QFETCH(QString, text);
    QFETCH(QString, fixed);
    QFETCH(QString, summary);
    QFETCH(bool, clean);
    const QByteArray tag = QTest::currentDataTag();
    const CheckRules rules = rulesWith(tag.startsWith("gap not") ? QStringList{"gap=off"}
                                               : tag.startsWith("overlap not") ? QStringList{"overlap=off"}
                                                                               : QStringList{});
    const double fps = tag.contains("10 fps") ? 10.0 : 25.0;
    FixCounts counts;
    QCOMPARE(withEdits(text, hideTimeFixes(text, rules, fps, counts)), fixed);
    QCOMPARE(describeFixes(counts), summary);
    FixCounts again;
    QVERIFY(hideTimeFixes(fixed, rules, fps, again).isEmpty());
    if (clean) {
        for (const CheckProblem &p : checkText(fixed, rules, fps))
            QVERIFY2(!kindInfo(p.kind).fixable, kindInfo(p.kind).word);
    }
}

void TestChecks::ruleFiles()
{
    CheckRules rules = rulesWith({"max-cps=17.5", "min-gap=0.25", "unknown-code=off", "max-rows=3"});
    CheckRules back;
    RuleProblem problem;
    QVERIFY(rulesFromText(rulesToText(rules), back, &problem));
    QVERIFY(back == rules);
    // Comments, blank lines and spaces; unnamed rules keep their values.
    CheckRules some;
    QVERIFY(rulesFromText(u"# team\n\n  max-rows=3  \r\nempty = off\n", some, &problem));
    QCOMPARE(some.limitOf(CheckKind::TooManyRows), 3.0);
    QVERIFY(!some.looksFor(CheckKind::Empty));
    QCOMPARE(some.limitOf(CheckKind::ReadingSpeed), 20.0);
    // The first bad line is named and nothing is taken.
    const struct
    {
        const char *text, *error;
    } bad[] = {
        {"max-rows = 3\nmax-cps 17", "line 2: \"max-cps 17\" is not NAME = VALUE"},
        {"max-cps = fast", "line 1: max-cps: \"fast\" is not a number with at most 1 decimals"},
        {"max-cps = 17.25", "line 1: max-cps: \"17.25\" is not a number with at most 1 decimals"},
        {"max-rows = 2.0", "line 1: max-rows: \"2.0\" is not a whole number"},
        {"max-rows = 101", "line 1: max-rows: 101 is outside 1 to 100"},
        {"gap = no", "line 1: gap: \"no\" is neither on nor off"},
        {"speed = 3", "line 1: \"speed\" is no rule"},
        // What the file holds is quoted as it stands.
        {"max-cps = %1", "line 1: max-cps: \"%1\" is not a number with at most 1 decimals"},
    };
    for (const auto &b : bad) {
        CheckRules kept = some;
        QVERIFY(!rulesFromText(QString::fromUtf8(b.text), kept, &problem));
        QCOMPARE(ruleError(QString(), problem).reason(), QString::fromUtf8(b.error));
        QVERIFY(kept == some);
    }
}

void TestChecks::handKeptCopies()
{
    // The completion and the manual page name every kind and every limit.
    const QString completion = QString::fromUtf8(readBytes(sampleFile("../../data/completion/tarnlyx-cli")));
    const QString manual = QString::fromUtf8(readBytes(sampleFile("../../data/man/tarnlyx-cli.1")));
    auto roff = [](QString text) { return text.replace(QStringLiteral("-"), QStringLiteral("\\-")); };
    for (const CheckKindInfo &info : checkKinds()) {
        const QString word = QString::fromLatin1(info.word);
        QVERIFY2(QRegularExpression("\\s" + word + "[\\s;]").match(completion).hasMatch(), info.word);
        QVERIFY2(manual.contains(".B " + roff(word) + "\n"), info.word);
        if (info.limitName) {
            const QString option = QStringLiteral("--") + QLatin1String(info.limitName);
            QVERIFY2(QRegularExpression(option + "[\\s|)\"]").match(completion).hasMatch(), info.limitName);
            QVERIFY2(manual.contains(".B " + roff(option) + "\n"), info.limitName);
        }
    }
}

void TestChecks::cliOutput()
{
    QTemporaryDir dir;
    const QString a = dir.filePath("a.sub"), b = dir.filePath("b.sub");
    QVERIFY(writeBytes(a, "{0}{10}Hi \"you\"\n{5}{50}{x}b\n"));
    QVERIFY(writeBytes(b, "{0}{50}fine\n"));
    // Compiler-style lines, files in order; 1 when something was found.
    CliRun r = runTool({"check", a, b});
    QCOMPARE(r.status, 1);
    QCOMPARE(r.out, (a + ":1: too-short: 400 < 833 ms\n" + a + ":2: overlap: line 1 by 200 ms\n" + a
                     + ":2: unknown-code: {x}\n").toUtf8());
    QCOMPARE(r.err, QByteArray());
    r = runTool({"check", b});
    QCOMPARE(r.status, 0);
    QCOMPARE(r.out, QByteArray());
    // JSON for programs, the texts escaped.
    r = runTool({"check", "--format", "json", a, b});
    QCOMPARE(r.status, 1);
    QJsonParseError error;
    const QJsonDocument json = QJsonDocument::fromJson(r.out, &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    const QJsonArray files = json.object()["files"].toArray();
    QCOMPARE(files.size(), 2);
    QCOMPARE(files[1].toObject()["problems"].toArray().size(), 0);
    const QJsonObject first = files[0].toObject()["problems"].toArray()[0].toObject();
    QCOMPARE(files[0].toObject()["file"].toString(), a);
    QCOMPARE(first["line"].toInt(), 1);
    QCOMPARE(first["kind"].toString(), QStringLiteral("too-short"));
    QCOMPARE(first["detail"].toString(), QStringLiteral("400 < 833 ms"));
    QCOMPARE(first["text"].toString(), QStringLiteral("Hi \"you\""));
    // Standard input, by "-" or by no file; the rate its first line names.
    r = runTool({"check"}, "{1}{1}50\n{0}{40}a\n");
    QCOMPARE(r.out, QByteArray("-:2: too-short: 800 < 833 ms\n"));
    r = runTool({"--fps", "10", "check", "-", "--format=text"}, "{1}{1}50\n{0}{40}a\n");
    QCOMPARE(r.status, 0);
    // Read in the encoding asked for, or not at all.
    r = runTool({"check", "--encoding", "windows-1250"}, "{0}{50}{x:\xb9}a\n");
    QCOMPARE(r.out, QByteArray("-:1: unknown-code: {x:\xc4\x85}\n"));
    r = runTool({"--encoding=Shift_JIS", "check"}, "{0}{50}\xb9\xe6\n");
    QCOMPARE(r.status, 2);
    QVERIFY2(r.err.contains("is not Shift_JIS text"), r.err.constData());
    // Blank as its letters are, however the bytes are read: a no-break
    // space is, an ellipsis is not.
    r = runTool({"check", "--encoding", "windows-1252"}, "{0}{50}\x85\n{100}{150}\xa0\n");
    QCOMPARE(r.out, QByteArray("-:2: empty: no text\n"));
    r = runTool({"check", "--encoding", "KOI8-R"}, "{0}{50}\x9a\n{100}{150}\xa0\n");
    QCOMPARE(r.out, QByteArray("-:1: empty: no text\n"));
    // A report that cannot be written is no success.
    QByteArray input = "{0}{10}a\n";
    QBuffer in(&input), out, err;
    in.open(QIODevice::ReadOnly);
    out.open(QIODevice::ReadOnly);
    err.open(QIODevice::WriteOnly);
    QTest::ignoreMessage(QtWarningMsg, "QIODevice::write (QBuffer): ReadOnly device");
    QCOMPARE(runCli({"check"}, in, out, err), 2);
    QVERIFY(err.data().contains("cannot write the standard output"));
    // Nor is one that a full disk takes only when it is flushed.
    QProcess tool;
    tool.setStandardOutputFile(QStringLiteral("/dev/full"));
    tool.start(QStringLiteral(TARNLYX_BUILD_DIR "/tarnlyx-cli"), {"check", a});
    QVERIFY(tool.waitForFinished());
    QCOMPARE(tool.exitCode(), 2);
    QVERIFY(tool.readAllStandardError().contains("No space left on device"));
}

void TestChecks::cliOptions_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("out");
    const QByteArray tooShort = "-:1: too-short: 400 < 833 ms\n";
    // Each limit at both ends of its range and a step past each (-1: no
    // usage error).
    const struct
    {
        const char *option, *lowest, *belowLowest, *highest, *aboveHighest;
    } ranges[] = {
        {"--min-duration", "0", "-1", "60000", "60001"},   {"--max-duration", "100", "99", "3600000", "3600001"},
        {"--min-gap", "0", "-0.01", "100", "100.01"},      {"--max-cps", "1", "0.9", "100", "100.1"},
        {"--max-row-length", "1", "0", "1000", "1001"},   {"--max-rows", "1", "0", "100", "101"},
        {"--fps", "0.1", "0.09", "200", "200.1"},
    };
    for (const auto &r : ranges) {
        for (const char *value : {r.lowest, r.highest})
            QTest::addRow("%s %s", r.option, value) << QStringList{"check", r.option, value} << -1 << QByteArray();
        for (const char *value : {r.belowLowest, r.aboveHighest})
            QTest::addRow("%s %s", r.option, value) << QStringList{"check", r.option, value} << 2 << QByteArray();
    }
    QTest::newRow("--min-duration=") << QStringList{"check", "--min-duration=400"} << 0 << QByteArray();
    QTest::newRow("--format json") << QStringList{"check", "--format", "json", "--no-too-short"} << 0
                                   << QByteArray("{\"files\": [{\"file\": \"-\", \"problems\": []}]}\n");
    QTest::newRow("--encoding") << QStringList{"check", "--encoding", "windows-1250"} << 1 << tooShort;
    QTest::newRow("-h") << QStringList{"check", "-h"} << 0 << QByteArray("Usage");
    QTest::newRow("--help") << QStringList{"check", "--help"} << 0 << QByteArray("Usage");
    const char *const errors[][2] = {
        {"--format", "xml"}, {"--fix", "-"}, {"-i", "-"}, {"--in-place", "-"}, {"--encoding", "klingon"},
        {"--rules", "/nonexistent/team.rules"}, {"--no-speed", "-"}, {"--max-rows", "2.5"}, {"--no-gap=1", "-"},
        {"--max-cps", ""}, {"-", "-"}, {"--save-rules", "/nonexistent/team.rules"},
    };
    for (const auto &e : errors)
        QTest::addRow("%s %s", e[0], e[1]) << QStringList{"check", e[0], e[1]} << 2 << QByteArray();
}

void TestChecks::cliOptions()
{
    QFETCH(QStringList, args);
    QFETCH(int, status);
    QFETCH(QByteArray, out);
    const CliRun r = runTool(args, "{0}{10}abc\n");
    if (status < 0)
        QVERIFY2(r.status != 2, r.err.constData());
    else
        QCOMPARE(r.status, status);
    QVERIFY2(status < 0 || (r.out.startsWith(out) && (!out.isEmpty() || r.out.isEmpty())), r.out.constData());
    QCOMPARE(r.err.isEmpty(), status != 2);
}

void TestChecks::cliKinds()
{
    // One problem of every kind; each can be left out, and looked for again.
    const QByteArray all = "{0}{10}a|b|c\n{100}{400}" + letters(43).toLatin1()
            + "\n{390}{450}{x:1}b\n{380}{420}x\n{500}{490}y\n{600}{625}" + letters(21).toLatin1() + "\n{626}{700}{y:i}\n";
    const QStringList found = QString::fromUtf8(runTool({"check"}, all).out).split(u'\n', Qt::SkipEmptyParts);
    QStringList kinds;
    for (const QString &line : found)
        kinds << line.section(QStringLiteral(": "), 1, 1);
    kinds.sort();
    QStringList words;
    for (const CheckKindInfo &info : checkKinds())
        words << QString::fromLatin1(info.word);
    words.sort();
    QCOMPARE(kinds, words);
    for (const QString &word : std::as_const(words)) {
        const CliRun without = runTool({"check", "--no-" + word}, all);
        QCOMPARE(without.status, 1);
        QStringList left = found;
        left.removeIf([&](const QString &line) { return line.contains(": " + word + ": "); });
        QCOMPARE(QString::fromUtf8(without.out).split(u'\n', Qt::SkipEmptyParts), left);
        QCOMPARE(runTool({"check", "--no-" + word, "--" + word}, all).out, runTool({"check"}, all).out);
    }
}

void TestChecks::cliFixInPlace()
{
    // Through the batch tool's save: the file's encoding, line ends and
    // everything but the hide times stay as they were; what is left is
    // reported, and the rules come from a file the tool wrote.
    QTemporaryDir dir;
    const QString rules = dir.filePath("team.rules"), a = dir.filePath("a.sub"), b = dir.filePath("b.sub");
    QCOMPARE(runTool({"check", "--max-rows", "3", "--no-unknown-code", "--save-rules", rules}).status, 0);
    QVERIFY(readBytes(rules).contains("max-rows = 3\n"));
    const QByteArray polish = QStringEncoder("windows-1250").encode(QStringLiteral("{0}{0050}zażółć\r\n{40}{80}b|c|d\r\n"));
    QVERIFY(writeBytes(a, polish));
    QVERIFY(writeBytes(b, "{0}{10}a\n{11}{20}{q:1}b\n"));
    const CliRun r = runTool({"check", "--rules", rules, "--fix", "--in-place", a, b});
    QCOMPARE(r.status, 1);
    QCOMPARE(readBytes(a), QStringEncoder("windows-1250").encode(QStringLiteral("{0}{38}zażółć\r\n{40}{80}b|c|d\r\n")));
    QCOMPARE(readBytes(b), QByteArray("{0}{9}a\n{11}{32}{q:1}b\n"));
    QCOMPARE(r.out, (b + ":1: too-short: 360 < 833 ms\n").toUtf8());
    QCOMPARE(r.err, ("tarnlyx-cli: " + a + ": 1 hide time moved: 1 overlap\ntarnlyx-cli: " + b
                     + ": 2 hide times moved: 1 too short, 1 gap\n").toUtf8());
    // One file named twice would be written twice.
    QCOMPARE(runTool({"check", "--fix", "-i", a, dir.path() + "/./a.sub"}).status, 2);
    // A save that fails leaves every file as it was, and says why.
    QVERIFY(writeBytes(a, "{0}{50}a\n{40}{80}b\n"));
    systemCalls().fsync = [](int) {
        errno = EIO;
        return -1;
    };
    const CliRun failed = runTool({"check", "--fix", "-i", b, a});
    systemCalls() = realSystemCalls();
    QCOMPARE(failed.status, 2);
    QVERIFY2(failed.err.contains("Input/output error"), failed.err.constData());
    QCOMPARE(failed.out, QByteArray());
    QCOMPARE(readBytes(a), QByteArray("{0}{50}a\n{40}{80}b\n"));
}

void TestChecks::cliLargeFiles_data()
{
    QTest::addColumn<QStringList>("lineEnds"); // taken in turns
    QTest::addColumn<QByteArray>("encoding");
    QTest::newRow("LF") << QStringList{"\n"} << QByteArray("windows-1250");
    QTest::newRow("CR LF") << QStringList{"\r\n"} << QByteArray("windows-1250");
    QTest::newRow("CR") << QStringList{"\r"} << QByteArray("UTF-8");
    QTest::newRow("mixed") << QStringList{"\r\n", "\n"} << QByteArray("UTF-8");
    QTest::newRow("UTF-16") << QStringList{"\n"} << QByteArray("UTF-16LE");
}

void TestChecks::cliLargeFiles()
{
    // A large file is read in two pieces on two threads: wherever the cut
    // falls, the problems and their lines are those of the whole text.
    QFETCH(QStringList, lineEnds);
    QFETCH(QByteArray, encoding);
    QString text = QStringLiteral("{1}{1}25");
    for (int i = 0; text.size() < CheckList::piecesFrom + 4000; ++i) {
        text += lineEnds[i % lineEnds.size()];
        text += QStringLiteral("{%1}{%2}%3ż {y:%4}|%5").arg(i * 30).arg(i * 30 + 10 + i % 40).arg(letters(i % 50))
                        .arg(i % 7 ? 'i' : 'q').arg(i % 3);
    }
    const QByteArray bytes = QStringEncoder(encoding.constData(), QStringEncoder::Flag::WriteBom).encode(text + lineEnds[0]);
    QTemporaryDir dir;
    const QString name = dir.filePath("large.sub");
    QVERIFY(writeBytes(name, bytes));
    const CliRun r = runTool({"check", name});
    QStringList expected;
    for (QString line : described(decodeSubtitleBytes(bytes).text, CheckRules(), 25.0))
        expected << name + u':' + line.replace(line.indexOf(u' '), 1, QStringLiteral(": "));
    QVERIFY(expected.size() > 10000);
    QCOMPARE(QString::fromUtf8(r.out).split(u'\n', Qt::SkipEmptyParts), expected);
}

QTEST_GUILESS_MAIN(TestChecks)
#include "tst_checks.moc"
