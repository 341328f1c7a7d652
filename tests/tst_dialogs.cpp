// The operation dialogs, the commands that run them over a window's text,
// and the editor's walk over what the user sees.
#include "app/qtarnlyxmain.h"
#include "engine/correctionswitches.h"
#include "clirun.h"
#include "widgets/myabout.h"
#include "widgets/myfps.h"
#include "widgets/operationdialogs.h"
#include "widgets/myeditor.h"
#include "modalanswers.h"
#include "testsupport.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QMap>
#include <QMessageBox>
#include <QRadioButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>

#include <functional>

namespace {

// What a dialog chose, read from its settings() (the frame-rate prompt's
// fps()).
struct Settings
{
    int format = -1;
    double first = -1, second = -1;
    bool flags[7] = {};
    // The correction's switches, all off to begin with.
    CorrectionSettings correction = [] {
        CorrectionSettings c;
        for (const CorrectionSwitch &option : correctionSwitches)
            c.*option.field = false;
        return c;
    }();

    QString written() const
    {
        QString s = QStringLiteral("%1 %2 %3 ").arg(format).arg(first, 0, 'g', 10).arg(second, 0, 'g', 10);
        for (int i = 0; i < 7; ++i)
            s += flags[i] || (i < correctionSwitchCount && correction.*correctionSwitches[i].field) ? u'1' : u'0';
        return s;
    }
};

// Each operation dialog opens with the settings the window gives it.
QDialog *makeDialog(const QString &name, Settings &s)
{
    if (name == u"convert")
        return new SubConvert(ConvertSettings());
    if (name == u"shift")
        return new SubShift(ShiftSettings());
    if (name == u"showtime")
        return new SubShowtime(ShowTimeSettings());
    if (name == u"fps")
        return new SubFpschange(FpsChangeSettings());
    if (name == u"myfps")
        return new MyFps(s.first, true);
    if (name == u"about")
        return new MyAbout;
    return new SubCorrect(CorrectionSettings());
}

// What a dialog's settings() (the frame-rate prompt's fps()) give, into `s`.
void readChosen(QDialog *dialog, Settings &s)
{
    bool *f = s.flags;
    if (auto *convert = qobject_cast<SubConvert *>(dialog))
        s.format = convert->settings().format;
    if (auto *shift = qobject_cast<SubShift *>(dialog)) {
        const ShiftSettings chosen = shift->settings();
        s.first = chosen.seconds;
        f[0] = chosen.start;
        f[1] = chosen.end;
    }
    if (auto *showTime = qobject_cast<SubShowtime *>(dialog)) {
        const ShowTimeSettings chosen = showTime->settings();
        s.first = chosen.seconds;
        f[0] = chosen.writeEmptyEnd;
        f[1] = chosen.onlyEmptyEnd;
        f[2] = chosen.lengthDependent;
        f[3] = chosen.blockTooLong;
    }
    if (auto *fps = qobject_cast<SubFpschange *>(dialog)) {
        s.first = fps->settings().from;
        s.second = fps->settings().to;
    }
    if (auto *correct = qobject_cast<SubCorrect *>(dialog))
        s.correction = correct->settings();
    if (auto *rate = qobject_cast<MyFps *>(dialog))
        s.first = rate->fps();
}

QList<QLineEdit *> fields(QWidget *dialog)
{
    QList<QLineEdit *> list = dialog->findChildren<QLineEdit *>();
    std::sort(list.begin(), list.end(), [](QLineEdit *a, QLineEdit *b) { return a->y() < b->y(); });
    return list;
}

// Every text of a dialog, top to bottom (and in the order made in a row).
QString texts(QWidget *dialog)
{
    QMap<std::pair<int, int>, QString> rows;
    auto add = [&](QWidget *w, const QString &text) { rows.insert({w->mapTo(dialog, QPoint()).y(), int(rows.size())}, text); };
    for (QWidget *w : dialog->findChildren<QWidget *>()) {
        if (auto *label = qobject_cast<QLabel *>(w))
            add(w, label->text());
        else if (auto *button = qobject_cast<QAbstractButton *>(w))
            add(w, button->text() + (button->isChecked() ? QStringLiteral("*") : QString()));
        else if (auto *field = qobject_cast<QLineEdit *>(w))
            add(w, u'=' + field->text());
    }
    return QStringList(rows.values()).join(u'|');
}

// Runs a small script on a dialog: "radio N", "box TEXT", "field N TEXT",
// "type N TEXT" (keystrokes, through the validator), separated by ";";
// steps for widgets the dialog lacks are passed over.
void play(QWidget *dialog, const QString &script)
{
    for (const QString &step : script.split(u';', Qt::SkipEmptyParts)) {
        const QString verb = step.section(u' ', 0, 0), rest = step.section(u' ', 1);
        const QList<QLineEdit *> edits = fields(dialog);
        const QList<QRadioButton *> radios = dialog->findChildren<QRadioButton *>();
        if (verb == u"radio") {
            if (rest.toInt() < radios.size())
                radios[rest.toInt()]->click();
        } else if (verb == u"box") {
            for (QCheckBox *b : dialog->findChildren<QCheckBox *>()) {
                if (b->text() == rest)
                    b->click();
            }
        } else if (rest.section(u' ', 0, 0).toInt() < edits.size()) {
            QLineEdit *field = edits[rest.section(u' ', 0, 0).toInt()];
            field->clear();
            if (verb == u"field")
                field->setText(rest.section(u' ', 1));
            else
                QTest::keyClicks(field, rest.section(u' ', 1));
        }
    }
}

} // namespace

class TestDialogs : public QObject
{
    Q_OBJECT

private slots:
    void textsAndDefaults_data();
    void textsAndDefaults();
    void accepted_data();
    void accepted();
    void givenSettings();
    void commands_data();
    void commands();
    void rateLine_data();
    void rateLine();
    void commaDecimalLocale();
    void fitsEveryFont_data();
    void fitsEveryFont();
    void editorWalk();
};

void TestDialogs::textsAndDefaults_data()
{
    QTest::addColumn<QString>("dialog");
    QTest::addColumn<QString>("objectName");
    QTest::addColumn<QString>("texts");
    QTest::addColumn<QString>("stops"); // Tab from the first field round to it again
    QTest::newRow("convert") << "convert" << "sub_convert"
                             << "Destination subtitles format:|&Time based    00:00:00:|T&ime based    0:00:00:|"
                                "&frame based   {000}{000}*|Ti&me based    [000][000]|OK|Cancel"
                             << "&Time based    00:00:00:|OK|Cancel";
    QTest::newRow("shift") << "shift" << "sub_shift"
                           << "Shift subtitles display time:|=0|seconds|Change &show time/frames*|"
                              "Change &hide time/frames*|OK|Cancel"
                           << "=0|Change &show time/frames|Change &hide time/frames|OK|Cancel";
    QTest::newRow("showtime") << "showtime" << "sub_showtime"
                              << "Change subtitles display time:|=3.0|sekunds|&Write down empty hide-time|"
                                 "&Change only empty chide-time|&Display time dependent on subtitles length*|"
                                 "&Block too long hide time*|OK|Cancel"
                              << "=3.0|&Write down empty hide-time|&Change only empty chide-time|"
                                 "&Display time dependent on subtitles length|&Block too long hide time|OK|Cancel";
    QTest::newRow("fps") << "fps" << "sub_shift"
                         << "Subtitles FPS value change:|=25.0|frames/s.|=29.0|frames/s.|OK|Cancel" << "=25.0|=29.0|OK|Cancel";
    QTest::newRow("correct") << "correct" << "sub_showtime"
                             << "Correct subtitles:|&Delete double spaces*|Delete spaces at the end of lines*|"
                                "Delete spaces between digits|Delete information about text color (mDVDp)|"
                                "Sustain subtitles display time*|Correct punctuation marks position*|"
                                "Correct dash positions (dialogues)*|OK|Cancel"
                             << "&Delete double spaces|Delete spaces at the end of lines|"
                                "Delete spaces between digits|Delete information about text color (mDVDp)|"
                                "Sustain subtitles display time|Correct punctuation marks position|"
                                "Correct dash positions (dialogues)|OK|Cancel";
    QTest::newRow("myfps") << "myfps" << "my_fps" << "FPS value:|=25|OK|Cancel" << "=25|OK|Cancel";
    QTest::newRow("about") << "about" << "my_about" << "Movie subtitles editor|Written by the Tarnlyx developers|"
                                                       "https://tarnlyx.example.org/|OK" << "OK";
}

void TestDialogs::textsAndDefaults()
{
    // Tab reaches every field and box in reading order (one stop for a row
    // of radio buttons, as arrows move in it).
    QFETCH(QString, dialog);
    Settings s;
    s.first = 25.0;
    QScopedPointer<QDialog> d(makeDialog(dialog, s));
    QTEST(d->objectName(), "objectName");
    QVERIFY(d->isModal());
    QTEST(texts(d.data()), "texts");
    if (QWidget *logo = d->findChild<QWidget *>(QStringLiteral("logo")))
        QCOMPARE(logo->x(), 5);
    d->show();
    QApplication::setActiveWindow(d.data());
    QVERIFY(QTest::qWaitForWindowActive(d.data()));
    QList<QWidget *> stops;
    for (QWidget *w = QApplication::focusWidget(); w && !stops.contains(w) && stops.size() < 12; w = QApplication::focusWidget()) {
        stops << w;
        QTest::keyClick(w, Qt::Key_Tab);
    }
    // The round, told from its top left stop.
    auto place = [&](QWidget *w) { const QPoint p = w->mapTo(d.data(), QPoint()); return std::make_pair(p.y(), p.x()); };
    std::rotate(stops.begin(), std::min_element(stops.begin(), stops.end(), [&](QWidget *a, QWidget *b) { return place(a) < place(b); }), stops.end());
    QStringList names;
    for (QWidget *w : stops) {
        auto *field = qobject_cast<QLineEdit *>(w);
        names << (field ? QLatin1Char('=') + field->text() : w->property("text").toString());
    }
    QTEST(names.join(u'|'), "stops");
}

void TestDialogs::accepted_data()
{
    QTest::addColumn<QString>("dialog");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("written"); // format, two numbers, seven flags
    QTest::newRow("convert default") << "convert" << "" << "3 -1 -1 0000000";
    QTest::newRow("convert 1") << "convert" << "radio 0" << "1 -1 -1 0000000";
    QTest::newRow("convert 2") << "convert" << "radio 1" << "2 -1 -1 0000000";
    QTest::newRow("convert 4") << "convert" << "radio 3" << "4 -1 -1 0000000";
    QTest::newRow("shift default") << "shift" << "" << "-1 0 -1 1100000";
    QTest::newRow("shift typed") << "shift" << "type 0 -2.5x;box Change &show time/frames" << "-1 -2.5 -1 0100000";
    QTest::newRow("shift hide off") << "shift" << "box Change &hide time/frames" << "-1 0 -1 1000000";
    QTest::newRow("shift empty") << "shift" << "field 0 ;box Change &show time/frames;box Change &hide time/frames"
                                 << "-1 0 -1 0000000";
    QTest::newRow("showtime default") << "showtime" << "" << "-1 3 -1 0011000";
    QTest::newRow("showtime empty") << "showtime" << "box &Change only empty chide-time;box &Write down empty hide-time"
                                    << "-1 3 -1 1111000";
    QTest::newRow("showtime fixed") << "showtime" << "field 0 2;box &Display time dependent on subtitles length;"
                                       "box &Block too long hide time" << "-1 2 -1 0000000";
    QTest::newRow("fps default") << "fps" << "" << "-1 25 29 0000000";
    QTest::newRow("fps lowest") << "fps" << "field 0 0.1;field 1 200" << "-1 0.1 200 0000000";
    QTest::newRow("fps to 0 refused") << "fps" << "field 1 0" << "refused 1 \"0\" is not a number from 0.1 to 200.";
    QTest::newRow("fps empty refused") << "fps" << "field 0 " << "refused 0 \"\" is not a number from 0.1 to 200.";
    QTest::newRow("fps too low") << "fps" << "field 0 0.09" << "refused 0 \"0.09\" is not a number from 0.1 to 200.";
    QTest::newRow("fps too high") << "fps" << "field 1 200.1" << "refused 1 \"200.1\" is not a number from 0.1 to 200.";
    QTest::newRow("myfps lowest") << "myfps" << "field 0 0.1" << "-1 0.1 -1 0000000";
    QTest::newRow("myfps highest, comma") << "myfps" << "field 0 200,0" << "-1 200 -1 0000000";
    QTest::newRow("myfps 0 refused") << "myfps" << "field 0 0" << "refused 0 \"0\" is not a number from 0.1 to 200.";
    QTest::newRow("myfps too high") << "myfps" << "field 0 200.01" << "refused 0 \"200.01\" is not a number from 0.1 to 200.";
    QTest::newRow("shift comma") << "shift" << "field 0 2,5" << "-1 2.5 -1 1100000";
    QTest::newRow("shift point first") << "shift" << "field 0 .5" << "-1 0.5 -1 1100000";
    QTest::newRow("shift lowest") << "shift" << "field 0 -99999999" << "-1 -99999999 -1 1100000";
    QTest::newRow("shift highest") << "shift" << "field 0  99999999 " << "-1 99999999 -1 1100000";
    QTest::newRow("shift too far") << "shift" << "field 0 100000000" << "refused 0 \"100000000\" is not a number from -99999999 to 99999999.";
    QTest::newRow("shift 1e400") << "shift" << "field 0 1e400" << "refused 0 \"1e400\" is not a number from -99999999 to 99999999.";
    QTest::newRow("shift two points") << "shift" << "field 0 1.2.3" << "refused 0 \"1.2.3\" is not a number from -99999999 to 99999999.";
    QTest::newRow("shift in markup") << "shift" << "field 0 <h1>1</h1>" << "refused 0 \"<h1>1</h1>\" is not a number from -99999999 to 99999999.";
    QTest::newRow("showtime lowest") << "showtime" << "field 0 0.1" << "-1 0.1 -1 0011000";
    QTest::newRow("showtime highest") << "showtime" << "field 0 100" << "-1 100 -1 0011000";
    QTest::newRow("showtime too short") << "showtime" << "field 0 0.05" << "refused 0 \"0.05\" is not a number from 0.1 to 100.";
    QTest::newRow("showtime too long") << "showtime" << "field 0 100,01" << "refused 0 \"100,01\" is not a number from 0.1 to 100.";
    QTest::newRow("correct default") << "correct" << "" << "-1 -1 -1 1100111";
    QTest::newRow("correct digits, color") << "correct" << "box Delete spaces between digits;"
                                              "box Delete information about text color (mDVDp);box &Delete double spaces"
                                           << "-1 -1 -1 0111111";
    QTest::newRow("correct rest off") << "correct" << "box Delete spaces at the end of lines;"
                                         "box Sustain subtitles display time;box Correct punctuation marks position;"
                                         "box Correct dash positions (dialogues)" << "-1 -1 -1 1000000";
}

void TestDialogs::accepted()
{
    QFETCH(QString, dialog);
    QFETCH(QString, script);
    QFETCH(QString, written);
    Settings s;
    QScopedPointer<QDialog> d(makeDialog(dialog, s));
    d->show();
    QVERIFY(QTest::qWaitForWindowActive(d.data()));
    QVERIFY(fields(d.data()).isEmpty() || fields(d.data())[0]->hasFocus());
    play(d.data(), script);
    if (dialog == u"showtime") {
        // Emptying hide times disables the other three; they are still written.
        const bool empty = d->findChildren<QCheckBox *>()[0]->isChecked();
        for (int i = 1; i < 4; ++i)
            QCOMPARE(d->findChildren<QCheckBox *>()[i]->isEnabled(), !empty);
    }
    QString why;
    ModalAnswers answers;
    answers.then([&](QWidget *box) {
        why = shownText(static_cast<QMessageBox *>(box), static_cast<QMessageBox *>(box)->text());
        press(QStringLiteral("OK"))(box);
    });
    QTest::keyClick(d.data(), Qt::Key_Return); // OK is the default button
    if (written.startsWith(u"refused")) {
        // The dialog says why and stays open, on the bad field, and takes
        // nothing: its settings are still those it opened with.
        QCOMPARE(answers.seen(), QStringList{QStringLiteral("bad number")});
        QCOMPARE(why, written.mid(10));
        QVERIFY(d->isVisible());
        QTRY_VERIFY(fields(d.data())[written[8].digitValue()]->hasFocus());
        Settings opened;
        QScopedPointer<QDialog> fresh(makeDialog(dialog, opened));
        readChosen(fresh.data(), opened);
        readChosen(d.data(), s);
        QCOMPARE(s.written(), opened.written());
        return;
    }
    QCOMPARE(answers.answered(), 0);
    QCOMPARE(d->result(), int(QDialog::Accepted));
    readChosen(d.data(), s);
    QCOMPARE(s.written(), written);
}

void TestDialogs::givenSettings()
{
    // A dialog shows the settings it is given and, accepted as it opened,
    // gives them back.
    CorrectionSettings correction;
    for (const CorrectionSwitch &option : correctionSwitches)
        correction.*option.field = !(correction.*option.field);
    const std::pair<std::function<QDialog *()>, const char *> cases[] = {
            {[] { return new SubConvert(ConvertSettings{1}); }, "1 -1 -1 0000000"},
            {[] { return new SubShift(ShiftSettings{-2.5, false, true}); }, "-1 -2.5 -1 0100000"},
            {[] { return new SubShowtime(ShowTimeSettings{2.0, true, false, false, true}); }, "-1 2 -1 1001000"},
            {[] { return new SubFpschange(FpsChangeSettings{23.976, 30.0}); }, "-1 23.976 30 0000000"},
            {[&] { return new SubCorrect(correction); }, "-1 -1 -1 0011000"},
    };
    for (const auto &[make, expected] : cases) {
        QScopedPointer<QDialog> d(make());
        d->show();
        QVERIFY(QTest::qWaitForWindowActive(d.data()));
        if (qobject_cast<SubShowtime *>(d.data())) // hide times emptied: the other three are off
            QVERIFY(!d->findChildren<QCheckBox *>()[1]->isEnabled());
        QTest::keyClick(d.data(), Qt::Key_Return);
        QCOMPARE(d->result(), int(QDialog::Accepted));
        Settings s;
        readChosen(d.data(), s);
        QCOMPARE(s.written(), QString::fromLatin1(expected));
    }
}

void TestDialogs::commands_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("script"); // played on the dialog before Return; it may end in "cancel", "escape" or "close"
    QTest::addColumn<QString>("after");
    QTest::addColumn<QString>("summary"); // in the status bar
    const QString text = QStringLiteral("{250}{400}Hi ,you  |-Yes\n{300}{}x\nnote");
    QTest::newRow("display time") << "showTimeAction" << "" << "{250}{300}Hi ,you  |-Yes\n{300}{352}x\nnote" << "Display time: 2 lines changed, 1 line is not a subtitle";
    QTest::newRow("frame rate") << "changeFpsAction" << "" << "{290}{464}Hi ,you  |-Yes\n{348}{}x\nnote" << "Frame rate: 2 lines changed, 1 line is not a subtitle";
    // Choices away from the opening state, which the next opening forgets.
    QTest::newRow("convert chosen") << "convertAction" << "radio 3" << "[100][160]Hi ,you  |-Yes\n[120][]x\nnote" << "Conversion: 2 lines changed, 1 line is not a subtitle";
    QTest::newRow("shift chosen") << "shiftAction" << "field 0 1;box Change &hide time/frames" << "{275}{400}Hi ,you  |-Yes\n{325}{}x\nnote" << "Shift: 2 lines changed, 1 line is not a subtitle";
    QTest::newRow("display time chosen") << "showTimeAction" << "field 0 2;box &Display time dependent on subtitles length" << "{250}{300}Hi ,you  |-Yes\n{300}{350}x\nnote" << "Display time: 2 lines changed, 1 line is not a subtitle";
    QTest::newRow("correction chosen") << "correctAction" << "box &Delete double spaces" << "{250}{300}Hi, you|- Yes\n{300}{}x\nnote" << "Correction: 1 line changed, 1 line is not a subtitle";
    // Every way out of every dialog writes nothing and changes nothing.
    for (const char *way : {"cancel", "escape", "close"}) {
        for (const char *action : {"convertAction", "shiftAction", "showTimeAction", "changeFpsAction", "correctAction"})
            QTest::newRow(qPrintable(QStringLiteral("%1, %2").arg(QLatin1String(action), QLatin1String(way))))
                    << action << QStringLiteral("field 0 50;field 1 50;radio 0;box &Delete double spaces;box Change &show time/frames;%1").arg(QLatin1String(way)) << text << "";
    }
}

void TestDialogs::commands()
{
    // Each command runs its own operation on its own window's settings; a
    // cancelled dialog changes nothing at all.
    QFETCH(QString, action);
    QFETCH(QString, script);
    QTarnlyxMain w(QStringLiteral("subtitles.txt"));
    QTarnlyxMain other(QStringLiteral("subtitles.txt"));
    w.editorWidget()->setText(QStringLiteral("{250}{400}Hi ,you  |-Yes\n{300}{}x\nnote"));
    ModalAnswers answers;
    const QString way = script.section(u';', -1);
    const bool leave = way == u"cancel" || way == u"escape" || way == u"close";
    auto settings = [&s = w.operationSettings()] { return std::make_tuple(s.convert.format, s.shift.seconds, s.fpsChange.to, s.correction.delDoubleSpaces, s.shift.start); };
    const auto before = settings();
    QString opened;
    answers.then([&](QWidget *dialog) {
        opened = texts(dialog);
        play(dialog, leave ? script.section(u';', 0, -2) : script);
        if (way == u"cancel")
            press(QStringLiteral("Cancel"))(dialog);
        else if (way == u"escape")
            QTest::keyClick(dialog, Qt::Key_Escape);
        else if (way == u"close")
            dialog->close();
        else
            QTest::keyClick(dialog, Qt::Key_Return);
    });
    w.findChild<QAction *>(action)->trigger();
    QCOMPARE(answers.answered(), 1);
    QTEST(w.editorWidget()->text(), "after");
    QTEST(w.findChild<QLabel *>(QStringLiteral("summary"))->text(), "summary");
    QCOMPARE(w.editorWidget()->document()->isModified(), !leave);
    QVERIFY(!leave || settings() == before);
    QCOMPARE(other.operationSettings().shift.seconds + other.operationSettings().convert.format, 3.0);

    // Whatever was chosen, the dialog opens again as it did the first time
    // (the frame-rate one proposes the text's rate, which the change moved).
    if (action != u"changeFpsAction") {
        QString reopened;
        answers.then([&](QWidget *dialog) {
            reopened = texts(dialog);
            press(QStringLiteral("Cancel"))(dialog);
        });
        w.findChild<QAction *>(action)->trigger();
        QCOMPARE(reopened, opened);
    }
}

void TestDialogs::rateLine_data()
{
    QTest::addColumn<QString>("action");   // the window's, its dialog answered with `script`
    QTest::addColumn<QString>("script");
    QTest::addColumn<QStringList>("args"); // the batch tool's
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("result"); // saved, and written by the tool
    QTest::addColumn<QString>("summary");
    // Read at 23.976, as the first line proposes. A line left as it was
    // stands beside each that changes, so that a count off by the rate line
    // shows.
    const QByteArray film = "{1}{1}23.976\r\n{24}{48}a\r\n[10][]b\r\nnote\r\n";
    QTest::newRow("convert to frames") << "convertAction" << "radio 2" << QStringList{"convert", "--to", "frames"} << film
                                       << QByteArray("{1}{1}23.976\r\n{24}{48}a\r\n{24}{}b\r\nnote\r\n")
                                       << "Conversion: 1 line changed, 1 line is not a subtitle";
    QTest::newRow("convert to tenths") << "convertAction" << "radio 3" << QStringList{"convert", "--to", "tenths"} << film
                                       << QByteArray("[10][20]a\r\n[10][]b\r\nnote\r\n")
                                       << "Conversion: 1 line changed, 1 line is not a subtitle, the frame rate line {1}{1}23.976 was left out";
    QTest::newRow("convert to clock") << "convertAction" << "radio 1" << QStringList{"convert", "--to", "h:mm:ss"} << film
                                      << QByteArray("0:00:01:a\r\n0:00:01:b\r\nnote\r\n")
                                      << "Conversion: 2 lines changed, 1 line is not a subtitle, the frame rate line {1}{1}23.976 was left out";
    QTest::newRow("shift") << "shiftAction" << "field 0 2" << QStringList{"shift", "--seconds", "2"} << film
                           << QByteArray("{1}{1}23.976\r\n{72}{96}a\r\n[30][]b\r\nnote\r\n")
                           << "Shift: 2 lines changed, 1 line is not a subtitle";
    QTest::newRow("display time") << "showTimeAction" << "" << QStringList{"showtime"} << film
                                  << QByteArray("{1}{1}23.976\r\n{24}{73}a\r\n[10][31]b\r\nnote\r\n")
                                  << "Display time: 2 lines changed, 1 line is not a subtitle";
    QTest::newRow("frame rate") << "changeFpsAction" << "field 1 25" << QStringList{"fps", "--to", "25"} << film
                                << QByteArray("{1}{1}25.000\r\n{25}{50}a\r\n[10][]b\r\nnote\r\n")
                                << "Frame rate: 1 line changed, 1 line is not a subtitle, the frame rate line is now {1}{1}25.000";
    QTest::newRow("frame rate, more decimals") << "changeFpsAction" << "field 1 23.976" << QStringList{"fps", "--to", "23.976"}
                                               << QByteArray("{0}{0}25\n{25}{}a\n")
                                               << QByteArray("{0}{0}23.976\n{24}{}a\n")
                                               << "Frame rate: 1 line changed, 0 lines are not subtitles, the frame rate line is now {0}{0}23.976";
    QTest::newRow("correct") << "correctAction" << "" << QStringList{"correct"} << film << film
                             << "Correction: 0 lines changed, 1 line is not a subtitle";
}

void TestDialogs::rateLine()
{
    // A first line {1}{1}RATE is no subtitle: every operation leaves it as
    // it is, but a frame-rate change writes the new rate into it and a
    // conversion into a format without frame numbers leaves it out (and
    // says so). The window and the batch tool write the same bytes.
    QFETCH(QString, action);
    QFETCH(QString, script);
    QFETCH(QStringList, args);
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, result);
    QFETCH(QString, summary);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("film.sub"));
    QVERIFY(writeBytes(path, file));
    ModalAnswers answers;
    answers.then([](QWidget *prompt) { QTest::keyClick(prompt, Qt::Key_Return); }).then([&](QWidget *dialog) {
        play(dialog, script);
        QTest::keyClick(dialog, Qt::Key_Return);
    });
    QTarnlyxMain w(path);
    w.findChild<QAction *>(action)->trigger();
    QCOMPARE(answers.pending(), 0);
    QCOMPARE(w.findChild<QLabel *>(QStringLiteral("summary"))->text(), summary);
    QVERIFY(w.save());

    const QString out = dir.filePath(QStringLiteral("out.sub"));
    QVERIFY(writeBytes(out, file));
    const CliRun r = runTool(args << "-i" << out);
    QCOMPARE(r.status, 0);
    const QString leftOut = summary.contains(QStringLiteral("left out")) ? summary.section(QStringLiteral(", "), -1) : QString();
    QCOMPARE(r.err, leftOut.isEmpty() ? QByteArray() : QStringLiteral("tarnlyx-cli: %1: %2\n").arg(out, leftOut).toUtf8());
    QCOMPARE(readBytes(out), result);
    QCOMPARE(readBytes(path), result);
}

void TestDialogs::commaDecimalLocale()
{
    // Where the language writes 2,5 the fields still show a point and
    // read either.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    ModalAnswers refusals; // a number refused would say so in a box
    refusals.then(press(QStringLiteral("OK"))).then(press(QStringLiteral("OK")));
    Settings rate, shifted;
    rate.first = 23.976;
    QScopedPointer<QDialog> fps(makeDialog(QStringLiteral("myfps"), rate));
    const QString shown = fields(fps.data())[0]->text();
    play(fps.data(), QStringLiteral("field 0 29,97"));
    fps->accept();
    readChosen(fps.data(), rate);
    QScopedPointer<QDialog> shift(makeDialog(QStringLiteral("shift"), shifted));
    play(shift.data(), QStringLiteral("type 0 1.5"));
    shift->accept();
    readChosen(shift.data(), shifted);
    QLocale::setDefault(QLocale::c());
    QCOMPARE(shown, QStringLiteral("23.976"));
    QCOMPARE(rate.written() + shifted.written(), QStringLiteral("-1 29.97 -1 0000000-1 1.5 -1 1100000"));
}

void TestDialogs::fitsEveryFont_data()
{
    QTest::addColumn<int>("points");
    for (int points : {8, 9, 11, 14, 16})
        QTest::newRow(qPrintable(QStringLiteral("%1 pt").arg(points))) << points;
}

void TestDialogs::fitsEveryFont()
{
    // No text is cut at today's fonts: every child is as large as it asks
    // to be and stands inside its parent. Screenshots for a person to see.
    QFETCH(int, points);
    const QFont before = QApplication::font();
    QFont font = before;
    font.setPointSize(points);
    QApplication::setFont(font);
    const QString out = QStringLiteral(TARNLYX_BUILD_DIR "/screenshots");
    QDir().mkpath(out);
    for (const char *name : {"convert", "shift", "showtime", "fps", "correct", "myfps", "about"}) {
        Settings s;
        QScopedPointer<QDialog> dialog(makeDialog(QLatin1String(name), s));
        dialog->show();
        if (QWidget *logo = dialog->findChild<QWidget *>(QStringLiteral("logo"))) // keeps its size
            QCOMPARE(logo->size(), QSize(313, 60));
        for (QWidget *child : dialog->findChildren<QWidget *>()) {
            const QSize hint = child->sizeHint();
            const QString what = QStringLiteral("%1 at %2 pt: %3 \"%4\"").arg(QLatin1String(name)).arg(points)
                    .arg(QLatin1String(child->metaObject()->className()), child->property("text").toString());
            QVERIFY2(!hint.isValid() || (child->width() >= hint.width() && child->height() >= hint.height()), qPrintable(what));
            QVERIFY2(child->parentWidget()->rect().contains(child->geometry()), qPrintable(what));
        }
        if (points == 9 || points == 11 || points == 14)
            QVERIFY(dialog->grab().save(out + QStringLiteral("/%1-%2pt.png").arg(QLatin1String(name)).arg(points)));
    }
    QApplication::setFont(before);
}

void TestDialogs::editorWalk()
{
    // An operation is one undo step and marks the text edited even where no
    // line changed; an undefined mode changes nothing and says so once a line.
    MyEditor editor;
    editor.setText(QStringLiteral("{0250}{0375}Hi\n{1}{2}there\n"));
    QTest::ignoreMessage(QtDebugMsg, "ERROR: undefined modification called!");
    QTest::ignoreMessage(QtDebugMsg, "ERROR: undefined modification called!");
    editor.linesChange(42);
    QVERIFY(!editor.document()->isUndoAvailable() && !editor.document()->isModified());
    editor.linesChange(ModeShift);
    QVERIFY(editor.document()->isModified());
    OperationSettings settings;
    settings.convert.format = BracketTime;
    editor.linesChange(ModeConvert, settings);
    QCOMPARE(editor.text(), QStringLiteral("[100][150]Hi\n[0][1]there"));
    QTest::keyClick(&editor, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(editor.text(), QStringLiteral("{250}{375}Hi\n{1}{2}there"));
    QTest::keyClick(&editor, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(editor.text(), QStringLiteral("[100][150]Hi\n[0][1]there"));

    // The cursor keeps its line and column, moved back where the line grew
    // shorter, and up where its line went: line, column before and after.
    const int cases[][4] = {{1, 3, 1, 3}, {0, 14, 0, 12}, {2, 0, 1, 0}};
    for (const auto &c : cases) {
        editor.setText(QStringLiteral("{0250}{0375}Hi\n{1}{2}there\n"));
        QTextCursor cursor(editor.document()->findBlockByNumber(c[0]));
        cursor.setPosition(cursor.position() + c[1]);
        editor.setTextCursor(cursor);
        settings.convert.format = FrameBased;
        editor.linesChange(ModeConvert, settings);
        QCOMPARE(QPoint(editor.textCursor().positionInBlock(), editor.textCursor().blockNumber()), QPoint(c[3], c[2]));
        QVERIFY(!editor.textCursor().hasSelection());
    }

    // A no-break space stays one (plain-text export would make it a space),
    // and characters the text area takes as breaks stay inside their line.
    const QString text = QString::fromUtf8("{1}{2}a\u00a0b\rc\u2029d") + QChar(0xfdd0) + QChar(0xfdd1)
            + QChar(0) + QStringLiteral("\n\nend");
    editor.setText(text);
    QCOMPARE(editor.document()->blockCount(), 3);
    QCOMPARE(editor.text(), text);
    settings.correction.fixPunctuation = settings.correction.fixDashes = settings.correction.delDoubleSpaces = settings.correction.delEndSpaces = false;
    settings.correction.sustainTime = false;
    editor.linesChange(ModeCorrect, settings);
    QCOMPARE(editor.text(), text.left(text.size() - 5) + QStringLiteral("\n{0}{}\nend"));

    // The string a whole text was made from gives the text shown (without a
    // copy of it), also where it holds every stand-in for a break; after
    // any other change it gives nothing.
    QString every = text;
    for (char16_t c = 0xfdd2; c <= 0xfdf3; ++c)
        every += QChar(c);
    for (const QString &filled : {text, every}) {
        editor.setText(filled);
        QCOMPARE(editor.takeFilledText()(), editor.text());
        QVERIFY(!editor.takeFilledText());
        editor.replaceWhole(filled + u'x');
        editor.insertPlainText(QStringLiteral("y"));
        QVERIFY(!editor.takeFilledText());
        editor.replaceWhole(filled + u'x');
        QCOMPARE(editor.takeFilledText()(), editor.text());
        const QString now = editor.text();
        editor.replaceParts({{0, 1, QStringLiteral("\r")}, {3, 0, every.right(4)}, {now.size() - 1, 1, QString()}}, now);
        QCOMPARE(editor.takeFilledText()(), editor.text());
    }
}

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
