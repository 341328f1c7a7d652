// Everyday editing in a window: find and replace, go to, drops, undo that
// keeps the place, the Edited mark, the operation's summary, the file
// dialogs' folder, the changed-on-disk bar, the frame-rate prompt and the
// one rate everything in a window reads frames at.
#include "widgets/findbar.h"
#include "widgets/gotodialog.h"
#include "app/qtarnlyxmain.h"
#include "clirun.h"
#include "widgets/myeditor.h"
#include "engine/textsearch.h"
#include "engine/walksummary.h"
#include "modalanswers.h"
#include "testsupport.h"

#include <QAction>
#include <QCheckBox>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QStatusBar>
#include <QTextLayout>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>

namespace {

// A window on `path`, its frame-rate prompt confirmed.
QTarnlyxMain *openWindow(const QString &path)
{
    ModalAnswers answers;
    answers.then(press(QStringLiteral("OK")));
    return new QTarnlyxMain(path);
}

void trigger(QTarnlyxMain *w, const char *action)
{
    w->findChild<QAction *>(QString::fromLatin1(action))->trigger();
}

template <typename T = QWidget>
T *child(QObject *w, const char *name)
{
    return w->findChild<T *>(QString::fromLatin1(name));
}

// Line and column of the cursor, from 1.
QString place(MyEditor *editor)
{
    const QTextCursor c = editor->textCursor();
    return QStringLiteral("%1:%2").arg(c.blockNumber() + 1).arg(c.positionInBlock() + 1);
}

void putCursor(MyEditor *editor, int line, int column)
{
    const QTextBlock block = editor->document()->findBlockByNumber(line - 1);
    QTextCursor c(block);
    c.setPosition(block.position() + column - 1);
    editor->setTextCursor(c);
}

QString numberedLines(int count)
{
    QStringList lines;
    for (int i = 1; i <= count; ++i)
        lines << QStringLiteral("{%1}{%2}line %3").arg(i * 100).arg(i * 100 + 50).arg(i);
    return lines.join(u'\n');
}

bool labelShown(QTarnlyxMain *w, const char *name)
{
    auto *label = child<QLabel>(w, name);
    return !label->isHidden() && !label->text().isEmpty();
}

} // namespace

class TestEditing : public QObject
{
    Q_OBJECT

    QTemporaryDir m_state;

private slots:
    void initTestCase() { qputenv("XDG_STATE_HOME", m_state.path().toUtf8()); }
    void replacements_data();
    void replacements();
    void goToTargets_data();
    void goToTargets();
    void goToLines_data();
    void goToLines();
    void goToDialog();
    void findBar();
    void replaceWhatFindSelected_data();
    void replaceWhatFindSelected();
    void findNoticesWithTheBarClosed();
    void replaceAllCancelled();
    void longLinesKeepTheirShaping();
    void undoKeepsThePlace();
    void editedMarkAndSummary();
    void summaryWords_data();
    void summaryWords();
    void drops();
    void fileDialogsAndChangedOnDiskBar();
    void oneRatePerWindow();
    void screenshots_data();
    void screenshots();
};

void TestEditing::replacements_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("find");
    QTest::addColumn<QString>("options"); // r regular expression, c match case, w whole words
    QTest::addColumn<QString>("replacement");
    QTest::addColumn<QString>("result");
    QTest::addColumn<int>("count");
    QTest::newRow("plain, any case") << "The cat\nthe end" << "the" << "" << "a" << "a cat\na end" << 2;
    QTest::newRow("match case") << "The cat\nthe end" << "the" << "c" << "a" << "The cat\na end" << 1;
    QTest::newRow("plain takes . literally") << "a.b axb" << "a.b" << "" << "-" << "- axb" << 1;
    QTest::newRow("plain replacement keeps \\1") << "ab" << "a" << "" << "\\1" << "\\1b" << 1;
    QTest::newRow("whole words") << "other the then the" << "the" << "w" << "X" << "other X then X" << 2;
    QTest::newRow("whole words, punctuation at the end") << "17, 117, 17,5" << "17," << "w" << "x" << "x 117, x5" << 2;
    QTest::newRow("whole words, punctuation at both ends") << "{Y:i}a{Y:i} b" << "{Y:i}" << "w" << "" << "a b" << 2;
    QTest::newRow("whole words, letters beyond ASCII") << QString::fromUtf8("żółw żółwie") << QString::fromUtf8("ŻÓŁW") << "w" << "x"
                                                       << QString::fromUtf8("x żółwie") << 1;
    QTest::newRow("regular expression, groups") << "{1}{2}ab" << "(a)(b)" << "r" << "\\2\\1\\\\\\0" << "{1}{2}ba\\ab" << 1;
    QTest::newRow("regular expression, per line") << "a\nb" << "a\\s*b" << "r" << "-" << "a\nb" << 0;
    QTest::newRow("line starts") << "x\n\ny" << "^" << "r" << "> " << "> x\n> \n> y" << 3;
    QTest::newRow("invalid pattern") << "a(b" << "(" << "r" << "x" << "a(b" << 0;
    QTest::newRow("empty lines at the end") << "a\n\n" << "a" << "" << "b" << "b\n\n" << 1;
}

void TestEditing::replacements()
{
    QFETCH(QString, text);
    QFETCH(QString, find);
    QFETCH(QString, options);
    QFETCH(QString, replacement);
    const SearchOptions o{options.contains(u'r'), options.contains(u'c'), options.contains(u'w')};
    const QList<TextEdit> edits = replacementsInText(text, searchPattern(find, o), replacement, o.regularExpression);
    for (auto it = edits.crbegin(); it != edits.crend(); ++it)
        text.replace(it->start, it->length, it->text);
    const qsizetype count = edits.size();
    QTEST(text, "result");
    QTEST(int(count), "count");
}

void TestEditing::goToTargets_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("target"); // L line, S subtitle, T seconds, - invalid
    QTest::newRow("line") << " 12 " << "L12";
    QTest::newRow("line 1") << "1" << "L1";
    QTest::newRow("line 0") << "0" << "-";
    QTest::newRow("subtitle") << "#3" << "S3";
    QTest::newRow("subtitle 0") << "#0" << "-";
    QTest::newRow("# alone") << "#" << "-";
    QTest::newRow("h:mm:ss.f") << "1:02:03.5" << "T3723.5";
    QTest::newRow("comma") << "1:02:03,25" << "T3723.25";
    QTest::newRow("m:ss") << "2:03" << "T123";
    QTest::newRow("seconds") << "3723.5" << "T3723.5";
    QTest::newRow("59 s") << "0:59" << "T59";
    QTest::newRow("60 s") << "0:60" << "-";
    QTest::newRow("59 min") << "1:59:00" << "T7140";
    QTest::newRow("60 min") << "1:60:00" << "-";
    QTest::newRow("many hours") << "100:00:00" << "T360000";
    QTest::newRow("four fields") << "1:2:3:4" << "-";
    QTest::newRow("two points") << "1.2.3" << "-";
    QTest::newRow("negative") << "-5" << "-";
    QTest::newRow("empty") << "" << "-";
    QTest::newRow("too large") << "99999999999999999999" << "-";
}

void TestEditing::goToTargets()
{
    QFETCH(QString, typed);
    const GoToTarget t = parseGoToTarget(typed);
    const char kinds[] = "-LST";
    QString got = QChar::fromLatin1(kinds[t.kind]);
    if (t.kind == GoToTarget::Line || t.kind == GoToTarget::Subtitle)
        got += QString::number(t.number);
    else if (t.kind == GoToTarget::Time)
        got += QString::number(t.seconds);
    QTEST(got, "target");
}

void TestEditing::goToLines_data()
{
    QTest::addColumn<double>("fps");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("line"); // from 1; 0 for none
    QTest::addColumn<bool>("rateLine"); // the text starts with a line {1}{1}25, which is no subtitle
    // Lines: a note, frames 250-300 (10-12 s at 25), clock 0:00:20, tenths 300-350.
    QTest::newRow("line") << 25.0 << "3" << 3 << false;
    QTest::newRow("last line") << 25.0 << "5" << 5 << false;
    QTest::newRow("past the last line") << 25.0 << "6" << 0 << false;
    QTest::newRow("first subtitle") << 25.0 << "#1" << 2 << false;
    QTest::newRow("third subtitle") << 25.0 << "#3" << 4 << false;
    QTest::newRow("no fourth") << 25.0 << "#4" << 0 << false;
    QTest::newRow("before all") << 25.0 << "0:05" << 2 << false;
    QTest::newRow("at its show time") << 25.0 << "10.0" << 2 << false;
    QTest::newRow("on screen") << 25.0 << "0:00:11.5" << 2 << false;
    QTest::newRow("at its hide time") << 25.0 << "12.0" << 3 << false;
    QTest::newRow("clock line") << 25.0 << "0:20" << 3 << false;
    QTest::newRow("tenths") << 25.0 << "0:30" << 4 << false;
    QTest::newRow("after all") << 25.0 << "35.1" << 0 << false;
    QTest::newRow("frames at 50") << 50.0 << "5.5" << 2 << false;
    QTest::newRow("frames at 50, past") << 50.0 << "6.0" << 3 << false;
    QTest::newRow("first subtitle after the rate line") << 25.0 << "#1" << 3 << true;
    QTest::newRow("time 0 after the rate line") << 25.0 << "0:00" << 3 << true;
}

void TestEditing::goToLines()
{
    QFETCH(double, fps);
    QFETCH(QString, typed);
    QFETCH(bool, rateLine);
    MyEditor editor;
    editor.setText(QStringLiteral("%1note\n{250}{300}a\n0:00:20:b\n[300][350]c\n").arg(rateLine ? "{1}{1}25\n" : ""));
    editor.fps = fps;
    QString why;
    QTEST(GoToDialog::lineFor(&editor, typed, &why) + 1, "line");
}

void TestEditing::goToDialog()
{
    // A target that leads nowhere keeps the dialog open and says why; one
    // that leads somewhere moves the cursor to the start of its line.
    QTarnlyxMain w(QStringLiteral("subtitles.txt"));
    w.editorWidget()->setText(numberedLines(30));
    QString notice;
    ModalAnswers answers;
    answers.then([&](QWidget *d) {
        auto *field = d->findChild<QLineEdit *>(QStringLiteral("goToField"));
        field->setText(QStringLiteral("#31"));
        QTest::keyClick(field, Qt::Key_Return);
        notice = d->findChild<QLabel *>(QStringLiteral("goToNotice"))->text();
        QDir().mkpath(QStringLiteral(TARNLYX_BUILD_DIR "/screenshots"));
        d->grab().save(QStringLiteral(TARNLYX_BUILD_DIR "/screenshots/goto.png"));
        field->setText(QStringLiteral("0:00:41"));
        QTest::keyClick(field, Qt::Key_Return);
    });
    putCursor(w.editorWidget(), 2, 3);
    trigger(&w, "goToAction");
    QCOMPARE(answers.answered(), 1);
    QCOMPARE(notice, QStringLiteral("The text has fewer than 31 subtitles."));
    QCOMPARE(place(w.editorWidget()), QStringLiteral("10:1")); // frames 1000-1050 at 25 fps: 40-42 s
}

void TestEditing::findBar()
{
    QTarnlyxMain w(QStringLiteral("subtitles.txt"));
    w.show();
    QApplication::setActiveWindow(&w);
    QVERIFY(QTest::qWaitForWindowActive(&w));
    MyEditor *editor = w.editorWidget();
    editor->setText(QStringLiteral("{1}{2}The cat\n{3}{4}other\n{5}{6}the end"));
    auto *bar = child(&w, "findBar");
    auto *find = child<QLineEdit>(&w, "findField");
    auto *replace = child<QLineEdit>(&w, "replaceField");
    auto *notice = child<QLabel>(&w, "findNotice");
    auto selection = [editor] {
        const QTextCursor c = editor->textCursor();
        return QStringLiteral("%1@%2").arg(c.selectedText()).arg(c.blockNumber() + 1);
    };

    // F3 with nothing to find asks for it; Ctrl+F: the keys in the find
    // field, the replace row hidden.
    QTest::keyClick(editor, Qt::Key_F3);
    QVERIFY(bar->isVisible() && !replace->isVisible());
    QTest::keyClick(find, Qt::Key_Escape);
    QVERIFY(!bar->isVisible());
    QTest::keyClick(editor, Qt::Key_F, Qt::ControlModifier);
    QVERIFY(bar->isVisible() && !replace->isVisible());
    QCOMPARE(QApplication::focusWidget(), find);
    QTest::keyClicks(find, QStringLiteral("the"));
    QTest::keyClick(find, Qt::Key_Return);
    QCOMPARE(selection(), QStringLiteral("The@1"));
    QTest::keyClick(find, Qt::Key_F3);
    QCOMPARE(selection(), QStringLiteral("the@2"));
    QTest::keyClick(find, Qt::Key_F3);
    QCOMPARE(selection(), QStringLiteral("the@3"));
    QVERIFY(notice->isHidden());
    QTest::keyClick(find, Qt::Key_F3); // past the end: from the start, and says so
    QCOMPARE(selection(), QStringLiteral("The@1"));
    QVERIFY(notice->isVisible() && notice->text().contains(QStringLiteral("went on from the start")));
    QTest::keyClick(find, Qt::Key_F3, Qt::ShiftModifier); // and back over the start
    QCOMPARE(selection(), QStringLiteral("the@3"));
    QVERIFY(notice->text().contains(QStringLiteral("went on from the end")));
    QTest::keyClick(find, Qt::Key_F3, Qt::ShiftModifier);
    QCOMPARE(selection(), QStringLiteral("the@2"));

    child<QCheckBox>(&w, "wholeWords")->setChecked(true);
    child<QCheckBox>(&w, "matchCase")->setChecked(true);
    QTest::keyClick(find, Qt::Key_F3);
    QCOMPARE(selection(), QStringLiteral("the@3"));
    child<QCheckBox>(&w, "matchCase")->setChecked(false);
    find->setText(QStringLiteral("missing"));
    QTest::keyClick(find, Qt::Key_Return);
    QCOMPARE(notice->text(), QStringLiteral("\"missing\" was not found."));
    QCOMPARE(selection(), QStringLiteral("the@3"));

    // An empty match is passed over, not found again where it stands.
    child<QCheckBox>(&w, "regularExpression")->setChecked(true);
    putCursor(editor, 1, 1);
    find->setText(QStringLiteral("$"));
    QTest::keyClick(find, Qt::Key_F3);
    QCOMPARE(place(editor), QStringLiteral("1:14"));
    QTest::keyClick(find, Qt::Key_F3);
    QCOMPARE(place(editor), QStringLiteral("2:12"));
    child<QCheckBox>(&w, "regularExpression")->setChecked(false);

    // Escape gives the keys back to the text.
    QTest::keyClick(find, Qt::Key_Escape);
    QVERIFY(!bar->isVisible());
    QCOMPARE(QApplication::focusWidget(), editor);

    // Ctrl+H: the replace row; Tab goes from find to replace; Replace does
    // the match found and finds the next; Alt+A replaces every other one
    // as one undo step and says how many.
    putCursor(editor, 1, 1);
    QTest::keyClick(editor, Qt::Key_H, Qt::ControlModifier);
    QVERIFY(bar->isVisible() && replace->isVisible());
    QCOMPARE(QApplication::focusWidget(), find);
    find->setText(QStringLiteral("(\\w+) end"));
    child<QCheckBox>(&w, "regularExpression")->setChecked(true);
    QTest::keyClick(find, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), replace);
    QTest::keyClicks(replace, QStringLiteral("\\1 start"));
    QTest::keyClick(replace, Qt::Key_Return); // finds it first
    QCOMPARE(selection(), QStringLiteral("the end@3"));
    QTest::keyClick(replace, Qt::Key_Return);
    QCOMPARE(editor->toPlainText(), QStringLiteral("{1}{2}The cat\n{3}{4}other\n{5}{6}the start"));
    child<QCheckBox>(&w, "regularExpression")->setChecked(false);
    child<QCheckBox>(&w, "wholeWords")->setChecked(false);
    find->setText(QStringLiteral("the"));
    replace->setText(QStringLiteral("a"));
    const QString before = editor->text();
    QTest::keyClick(replace, Qt::Key_A, Qt::AltModifier);
    QTRY_COMPARE(editor->text(), QStringLiteral("{1}{2}a cat\n{3}{4}oar\n{5}{6}a start")); // a mnemonic clicks after a moment
    QCOMPARE(child<QLabel>(&w, "summary")->text(), QStringLiteral("Replace All: 3 replaced"));
    trigger(&w, "undoAction");
    QCOMPARE(editor->text(), before);
}

void TestEditing::replaceWhatFindSelected_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("find"); // a regular expression
    QTest::addColumn<int>("selectFrom"); // -1: Find selects, else this selection from (line 1) ...
    QTest::addColumn<int>("selectTo");   // ... to (line 2)
    QTest::addColumn<QString>("result"); // after one Replace with "X"
    QTest::addColumn<QString>("selected"); // and what it selects next, where
    QTest::newRow("look-behind") << "{Y:i}word other" << "(?<=\\{Y:i\\})\\w+" << -1 << 0 << "{Y:i}X other" << "X@1:7";
    QTest::newRow("line start") << "ab\ncd" << "^" << -1 << 0 << "Xab\ncd" << "@2:1";
    QTest::newRow("line end") << "ab\ncd" << "$" << -1 << 0 << "abX\ncd" << "@2:3";
    QTest::newRow("a selection only beginning with a match") << "ab\ncd" << ".+" << 0 << 2 << "ab\ncd" << "ab@1:3";
    QTest::newRow("a selection of one line only beginning with a match") << "the cat" << "the" << 0 << -1 << "the cat" << "the@1:4";
    QTest::newRow("an empty match Find did not go to") << "ab\ncd" << "^" << 3 << 0 << "ab\ncd" << "@2:1";
    QTest::newRow("a match in a selection of its own") << "ab cd" << "c." << 3 << -1 << "ab X" << "@1:5";
}

void TestEditing::replaceWhatFindSelected()
{
    // The Replace button replaces exactly the match Find went to, seen in
    // its line as Find and Replace All see it; a selection is replaced only
    // when it is exactly a match, else the next match is selected.
    QFETCH(QString, text);
    QFETCH(QString, find);
    QFETCH(int, selectFrom);
    QFETCH(int, selectTo);
    QTarnlyxMain w(QStringLiteral("subtitles.txt"));
    MyEditor *editor = w.editorWidget();
    editor->setText(text);
    trigger(&w, "replaceAction");
    child<QCheckBox>(&w, "regularExpression")->setChecked(true);
    child<QLineEdit>(&w, "findField")->setText(find);
    child<QLineEdit>(&w, "replaceField")->setText(QStringLiteral("X"));
    if (selectFrom < 0) {
        QTest::keyClick(child(&w, "findField"), Qt::Key_Return);
    } else {
        QTextCursor c(editor->document());
        c.setPosition(selectFrom);
        c.setPosition(selectTo < 0 ? text.size() : editor->document()->findBlockByNumber(1).position() + selectTo,
                      QTextCursor::KeepAnchor);
        editor->setTextCursor(c);
    }
    QTest::keyClick(child(&w, "replaceField"), Qt::Key_Return);
    QTEST(editor->text(), "result");
    QTEST(editor->textCursor().selectedText() + u'@' + place(editor), "selected");
}

void TestEditing::findNoticesWithTheBarClosed()
{
    // F3 and Shift+F3 with the bar closed say in the status bar what the
    // bar would say; the next find that has nothing to say clears it.
    QTarnlyxMain w(QStringLiteral("subtitles.txt"));
    w.show();
    QApplication::setActiveWindow(&w);
    QVERIFY(QTest::qWaitForWindowActive(&w));
    MyEditor *editor = w.editorWidget();
    editor->setText(QStringLiteral("{1}{2}the end\n{3}{4}other"));
    trigger(&w, "findAction");
    child<QLineEdit>(&w, "findField")->setText(QStringLiteral("the"));
    QTest::keyClick(child(&w, "findField"), Qt::Key_Escape);
    putCursor(editor, 2, 12);
    QTest::keyClick(editor, Qt::Key_F3);
    QCOMPARE(place(editor), QStringLiteral("1:10"));
    QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral("Passed the end of the text; went on from the start."));
    QTest::keyClick(editor, Qt::Key_F3);
    QCOMPARE(w.statusBar()->currentMessage(), QString());
    QTest::keyClick(editor, Qt::Key_F3, Qt::ShiftModifier);
    QTest::keyClick(editor, Qt::Key_F3, Qt::ShiftModifier);
    QCOMPARE(place(editor), QStringLiteral("2:11"));
    QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral("Passed the start of the text; went on from the end."));
    w.statusBar()->showMessage(QStringLiteral("another kind"));
    QTest::keyClick(editor, Qt::Key_F3, Qt::ShiftModifier);
    QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral("another kind"));
    child<QLineEdit>(&w, "findField")->setText(QStringLiteral("missing"));
    QTest::keyClick(editor, Qt::Key_F3, Qt::ShiftModifier);
    QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral("\"missing\" was not found."));
    QVERIFY(!child(&w, "findBar")->isVisible());
}

void TestEditing::replaceAllCancelled()
{
    // A Replace All still searching after a moment shows its progress; its
    // Cancel stops it and leaves the text as it was.
    QTarnlyxMain w(QStringLiteral("subtitles.txt"));
    w.show();
    MyEditor *editor = w.editorWidget();
    const QString text = QStringLiteral("aaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\n").repeated(2000);
    editor->setText(text);
    trigger(&w, "replaceAction");
    child<QCheckBox>(&w, "regularExpression")->setChecked(true);
    child<QLineEdit>(&w, "findField")->setText(QStringLiteral("(a|aa)*b|a"));
    child<QLineEdit>(&w, "replaceField")->setText(QStringLiteral("x"));
    QElapsedTimer shown;
    qint64 after = -1;
    ModalAnswers answers;
    shown.start();
    answers.then([&](QWidget *progress) {
        after = shown.elapsed();
        QCOMPARE(progress->objectName(), QStringLiteral("progress"));
        buttonWithText(progress, QStringLiteral("Cancel"))->click();
    });
    QCOMPARE(child<FindBar>(&w, "findBar")->replaceAll(), 0);
    QCOMPARE(answers.answered(), 1);
    QVERIFY2(after >= 500 && after < 2500, qPrintable(QString::number(after))); // half a second, on a busy machine
    QCOMPARE(editor->text(), text);
    QVERIFY(!editor->document()->isModified());
    QCOMPARE(child<QLabel>(&w, "findNotice")->text(), QStringLiteral("Replace All was cancelled; nothing was replaced."));
}

void TestEditing::longLinesKeepTheirShaping()
{
    // Lines of 64K characters and more keep their shaping between layouts
    // (else every question about the cursor shapes them again), whether
    // loaded, made by an operation or by joining two lines; shorter lines
    // let it go.
    QTarnlyxMain w(QStringLiteral("subtitles.txt"));
    MyEditor *editor = w.editorWidget();
    const QString half = QString(1 << 15, u'a');
    editor->setText(QStringLiteral("{1}{2}") + half + half + QStringLiteral("\nshort\n") + half + u'\n' + half);
    auto kept = [editor](int line) { return editor->document()->findBlockByNumber(line).layout()->cacheEnabled(); };
    QVERIFY(kept(0));
    QVERIFY(!kept(1) && !kept(2) && !kept(3));
    putCursor(editor, 3, (1 << 15) + 1);
    QTest::keyClick(editor, Qt::Key_Delete); // joins lines 3 and 4
    QVERIFY(kept(2));
    editor->linesChange(ModeShift);
    QVERIFY(kept(0) && !kept(1) && kept(2));
}

void TestEditing::undoKeepsThePlace()
{
    // Undo and redo of an operation or of Replace All put the cursor and
    // the view back where they were before it, whichever way they are asked.
    QTarnlyxMain w(QStringLiteral("subtitles.txt"));
    w.show();
    MyEditor *editor = w.editorWidget();
    editor->setText(numberedLines(500));
    putCursor(editor, 250, 4);
    editor->centerCursor();
    const int scroll = editor->verticalScrollBar()->value();
    QVERIFY(scroll > 0);
    OperationSettings settings;
    settings.shift.seconds = 1;
    editor->linesChange(ModeShift, settings);
    QCOMPARE(place(editor), QStringLiteral("250:4"));
    putCursor(editor, 1, 1);
    editor->verticalScrollBar()->setValue(0);
    QTest::keyClick(editor, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(place(editor), QStringLiteral("250:4"));
    QCOMPARE(editor->verticalScrollBar()->value(), scroll);
    QVERIFY(editor->text().startsWith(QStringLiteral("{100}{150}")));
    putCursor(editor, 3, 2);
    trigger(&w, "redoAction");
    QVERIFY(editor->text().startsWith(QStringLiteral("{125}{175}")));
    QCOMPARE(place(editor), QStringLiteral("250:4"));

    // A step typed after an undo ends the redo: the place kept for the old
    // step is not used for the new one.
    trigger(&w, "undoAction");
    putCursor(editor, 2, 1);
    QTest::keyClicks(editor, QStringLiteral("x"));
    QTest::keyClick(editor, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(place(editor), QStringLiteral("2:1"));
    QVERIFY(editor->text().startsWith(QStringLiteral("{100}{150}line 1\n{200}")));
}

void TestEditing::editedMarkAndSummary()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.sub"));
    QVERIFY(writeBytes(path, "{250}{300}Hello\nnote\n"));
    QScopedPointer<QTarnlyxMain> w(openWindow(path));
    MyEditor *editor = w->editorWidget();
    QVERIFY(!labelShown(w.data(), "edited"));
    QTest::keyClicks(editor, QStringLiteral("x"));
    QVERIFY(labelShown(w.data(), "edited"));
    QCOMPARE(child<QLabel>(w.data(), "edited")->text(), QStringLiteral("Edited"));
    trigger(w.data(), "undoAction");
    QVERIFY(!labelShown(w.data(), "edited"));

    // The summary stays until the next edit; a cancelled dialog leaves it.
    ModalAnswers answers;
    answers.then(press(QStringLiteral("OK"))).then(press(QStringLiteral("Cancel")));
    trigger(w.data(), "changeFpsAction");
    QVERIFY(labelShown(w.data(), "edited"));
    const QString summary = QStringLiteral("Frame rate: 1 line changed, 1 line is not a subtitle");
    QCOMPARE(child<QLabel>(w.data(), "summary")->text(), summary);
    trigger(w.data(), "shiftAction");
    QCOMPARE(answers.answered(), 2);
    QCOMPARE(child<QLabel>(w.data(), "summary")->text(), summary);
    QCOMPARE(child<QLabel>(w.data(), "summary")->toolTip(), summary);
    QVERIFY(w->save());
    QVERIFY(!labelShown(w.data(), "edited"));
    QTest::keyClicks(editor, QStringLiteral("y"));
    QVERIFY(!labelShown(w.data(), "summary"));
}

void TestEditing::summaryWords_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QList<int>>("counts"); // changed, not subtitles, unwritten
    QTest::addColumn<QString>("summary");
    // The other operations' names, and the singular of the first two
    // counts, are in the windows' summaries elsewhere.
    QTest::newRow("one unwritten") << int(ModeConvert) << QList<int>{3, 0, 1}
                                   << "Conversion: 3 lines changed, 0 lines are not subtitles, 1 line could not be written in clock-time";
    QTest::newRow("two unwritten") << int(ModeShift) << QList<int>{0, 2, 2}
                                   << "Shift: 0 lines changed, 2 lines are not subtitles, 2 lines could not be written in clock-time";
}

void TestEditing::summaryWords()
{
    QFETCH(int, mode);
    QFETCH(QList<int>, counts);
    SubEngine::WalkCounts walk;
    walk.changed = counts[0];
    walk.notSubtitles = counts[1];
    walk.unwritten = counts[2];
    QTEST(walkSummary(mode, walk), "summary");
}

void TestEditing::drops()
{
    // A dropped file opens as Open would; dropped text is text.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("dropped.sub"));
    QVERIFY(writeBytes(path, "{1}{2}dropped"));
    QTarnlyxMain w(QStringLiteral("subtitles.txt"));
    w.show();
    MyEditor *editor = w.editorWidget();
    auto drop = [editor](QMimeData *data) {
        QWidget *target = editor->viewport();
        const QPoint at(5, 5);
        QDragEnterEvent enter(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        QDragMoveEvent move(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &move);
        QDropEvent dropped(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &dropped);
        return dropped.isAccepted();
    };
    QMimeData text;
    text.setText(QStringLiteral("typed "));
    QVERIFY(drop(&text));
    QCOMPARE(editor->text(), QStringLiteral("typed "));

    QMimeData file;
    file.setUrls({QUrl::fromLocalFile(path)});
    file.setText(QUrl::fromLocalFile(path).toString());
    ModalAnswers answers;
    answers.then(press(QStringLiteral("Leave anyway"))).then(press(QStringLiteral("OK")));
    QVERIFY(drop(&file));
    QTRY_COMPARE(w.currentFileName(), path);
    QCOMPARE(answers.seen(), (QStringList{"unsaved", "my_fps"}));
    QCOMPARE(editor->text(), QStringLiteral("{1}{2}dropped"));

    // Several files: the first here, each other one in a window of its own.
    const QString second = dir.filePath(QStringLiteral("second.sub"));
    QVERIFY(writeBytes(second, "{1}{2}second"));
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(path), QUrl::fromLocalFile(second)});
    answers.then(press(QStringLiteral("OK"))).then(press(QStringLiteral("OK")));
    QVERIFY(drop(&files));
    QTRY_COMPARE(answers.answered(), 4);
    QTarnlyxMain *other = nullptr;
    for (QWidget *top : QApplication::topLevelWidgets()) {
        if (auto *window = qobject_cast<QTarnlyxMain *>(top); window && window != &w)
            other = window;
    }
    QVERIFY(other);
    QCOMPARE(other->currentFileName(), second);
    QCOMPARE(w.currentFileName(), path);
    delete other;
}

void TestEditing::fileDialogsAndChangedOnDiskBar()
{
    // Open and Save As start in the file's folder, Save As with its name.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.sub"));
    QVERIFY(writeBytes(path, "{1}{2}a"));
    QScopedPointer<QTarnlyxMain> w(openWindow(path));
    QString folder, offered;
    ModalAnswers answers;
    answers.then([&](QWidget *d) {
                folder = static_cast<QFileDialog *>(d)->directory().absolutePath();
                static_cast<QDialog *>(d)->reject();
            })
            .then([&](QWidget *d) {
                offered = d->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->text();
                folder += QLatin1Char('|') + static_cast<QFileDialog *>(d)->directory().absolutePath();
                static_cast<QDialog *>(d)->reject();
            });
    trigger(w.data(), "openAction");
    trigger(w.data(), "saveAsAction");
    QCOMPARE(answers.answered(), 2);
    QCOMPARE(folder, dir.path() + QLatin1Char('|') + dir.path());
    QCOMPARE(offered, QStringLiteral("a.sub"));

    // When the window comes back to the front, a bar says the file changed;
    // Keep hides it for that change, Reload reads the file (asking first
    // about unsaved text), and a deleted file cannot be reloaded.
    w->show();
    auto *bar = child(w.data(), "changedOnDisk");
    auto activate = [&] {
        QEvent change(QEvent::ActivationChange);
        QApplication::setActiveWindow(w.data());
        QApplication::sendEvent(w.data(), &change);
    };
    activate();
    QVERIFY(!bar->isVisible());
    QVERIFY(writeBytes(path, "{1}{2}theirs, longer"));
    activate();
    QVERIFY(bar->isVisible());
    QVERIFY(bar->findChild<QLabel *>()->text().startsWith(QStringLiteral("Another program has changed")));
    QTest::mouseClick(child<QPushButton>(bar, "keep"), Qt::LeftButton);
    activate();
    QVERIFY(!bar->isVisible());

    QVERIFY(writeBytes(path, "{1}{2}theirs again"));
    activate();
    QVERIFY(bar->isVisible());
    QTest::keyClicks(w->editorWidget(), QStringLiteral("mine "));
    answers.then(press(QStringLiteral("Cancel")));
    QTest::mouseClick(child<QPushButton>(bar, "reload"), Qt::LeftButton);
    QCOMPARE(answers.seen().last(), QStringLiteral("unsaved"));
    QVERIFY(w->editorWidget()->text().startsWith(QStringLiteral("mine ")));
    QVERIFY(bar->isVisible());
    answers.then(press(QStringLiteral("Leave anyway"))).then(press(QStringLiteral("OK")));
    QTest::mouseClick(child<QPushButton>(bar, "reload"), Qt::LeftButton);
    QCOMPARE(w->editorWidget()->text(), QStringLiteral("{1}{2}theirs again"));
    QVERIFY(!bar->isVisible());

    QVERIFY(QFile::remove(path));
    activate();
    QVERIFY(bar->isVisible());
    QVERIFY(bar->findChild<QLabel *>()->text().startsWith(QStringLiteral("Another program has deleted")));
    QVERIFY(!child<QPushButton>(bar, "reload")->isVisible());
}

void TestEditing::oneRatePerWindow()
{
    // The prompt proposes the rate the first line names, else the window's
    // own, and Escape keeps what it proposed; Cancel is there from the menu
    // only. That rate is the rate of every road: Change FPS proposes it,
    // and Export reads frames at it. A change of rate moves the window's
    // on; undo and redo take it back and forth with the text.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.sub"));
    QVERIFY(writeBytes(path, "{1}{1}23.976\r\n{240}{480}x\r\n"));
    QStringList shown;
    auto frameRate = [&shown](Qt::Key key, const char *typed = nullptr) {
        return [&shown, key, typed](QWidget *dialog) {
            auto *field = dialog->findChild<QLineEdit *>(QStringLiteral("fps"));
            shown << field->text() + (buttonWithText(dialog, QStringLiteral("Cancel"))->isEnabled() ? "+cancel" : "");
            if (typed)
                field->setText(QLatin1String(typed));
            QTest::keyClick(dialog, key);
        };
    };
    ModalAnswers answers;
    answers.then(frameRate(Qt::Key_Return)).then(frameRate(Qt::Key_Escape, "50"));
    QScopedPointer<QTarnlyxMain> w(new QTarnlyxMain(path));
    MyEditor *editor = w->editorWidget();
    QCOMPARE(editor->fps, 23.976);
    trigger(w.data(), "fpsAction");
    QCOMPARE(editor->fps, 23.976);
    editor->fps = 30;
    answers.then(frameRate(Qt::Key_Escape, "50"));
    QVERIFY(w->load(path));
    QCOMPARE(editor->fps, 23.976);
    answers.then(frameRate(Qt::Key_Return, "25"));
    QVERIFY(w->load(path));
    const QString srt = dir.filePath(QStringLiteral("a.srt"));
    answers.then(chooseFile(srt));
    trigger(w.data(), "exportSubRipAction");
    QCOMPARE(readBytes(srt), QByteArray("1\r\n00:00:09,600 --> 00:00:19,200\r\nx\r\n\r\n"));

    answers.then([&shown](QWidget *dialog) {
        const auto fields = dialog->findChildren<QLineEdit *>();
        shown << fields[0]->text();
        fields[1]->setText(QStringLiteral("50"));
        QTest::keyClick(dialog, Qt::Key_Return);
    });
    trigger(w.data(), "changeFpsAction");
    QCOMPARE(editor->text(), QStringLiteral("{1}{1}50.000\n{480}{960}x"));
    QCOMPARE(editor->fps, 50.0);
    editor->undo();
    QCOMPARE(editor->fps, 25.0);
    editor->redo();
    QCOMPARE(editor->fps, 50.0);

    QVERIFY(writeBytes(path, "{1}{1}0.5\n{240}{480}x\n")); // no rate named: the window's
    answers.then(press(QStringLiteral("Leave anyway"))).then(frameRate(Qt::Key_Return));
    QVERIFY(w->load(path));
    QCOMPARE(answers.pending(), 0);
    QCOMPARE(shown, (QStringList{"23.976", "23.976+cancel", "23.976", "23.976", "25.0", "50"}));
}

void TestEditing::screenshots_data()
{
    QTest::addColumn<int>("points");
    QTest::newRow("9 pt") << 9;
    QTest::newRow("14 pt") << 14;
}

void TestEditing::screenshots()
{
    // The window with the find bar open, and with the changed-on-disk bar:
    // no text in them is cut, at the usual font and at one as large as
    // 144 DPI makes it. Pictures for a person to look at.
    QFETCH(int, points);
    const QFont before = QApplication::font();
    QFont font = before;
    font.setPointSize(points);
    QApplication::setFont(font);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a-file-with-a-rather-long-name.sub"));
    QVERIFY(writeBytes(path, numberedLines(40).toUtf8()));
    QScopedPointer<QTarnlyxMain> w(openWindow(path));
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.data()));
    const QString out = QStringLiteral(TARNLYX_BUILD_DIR "/screenshots");
    QDir().mkpath(out);
    auto noneCut = [&](QWidget *bar) {
        for (QWidget *c : bar->findChildren<QWidget *>()) {
            if (!c->isVisible() || c->inherits("QLineEdit") || c->parent()->inherits("QLineEdit"))
                continue;
            auto *label = qobject_cast<QLabel *>(c);
            const QSize need = label && label->wordWrap() ? QSize(1, label->heightForWidth(label->width())) : c->sizeHint();
            const QString what = QStringLiteral("%1 pt: %2 \"%3\"").arg(points).arg(QLatin1String(c->metaObject()->className()), c->property("text").toString());
            QVERIFY2(c->width() >= need.width() && c->height() >= need.height(), qPrintable(what));
            QVERIFY2(bar->rect().contains(c->geometry()), qPrintable(what));
        }
    };
    trigger(w.data(), "replaceAction");
    child<QLineEdit>(w.data(), "findField")->setText(QStringLiteral("line"));
    child<QLineEdit>(w.data(), "replaceField")->setText(QStringLiteral("row"));
    child<QPushButton>(w.data(), "replaceAll")->click();
    ModalAnswers answers;
    answers.then(press(QStringLiteral("OK")));
    trigger(w.data(), "correctAction");
    auto *summary = child<QLabel>(w.data(), "summary");
    QCOMPARE(summary->text(), QStringLiteral("Correction: 0 lines changed, 0 lines are not subtitles"));
    child<QLineEdit>(w.data(), "findField")->setText(QStringLiteral("missing"));
    QTest::keyClick(child(w.data(), "findField"), Qt::Key_Return);
    QApplication::processEvents();
    noneCut(child(w.data(), "findBar"));
    QVERIFY(summary->height() >= summary->heightForWidth(summary->width()) && summary->width() <= w->width());
    // The window keeps its width and the fields about 15 characters; the
    // buttons stand beside them where there is room, else below them.
    QCOMPARE(w->width(), 500);
    for (const char *field : {"findField", "replaceField"}) {
        auto *edit = child<QLineEdit>(w.data(), field);
        QVERIFY2(edit->width() >= 15 * edit->fontMetrics().averageCharWidth(), field);
    }
    QCOMPARE(child<QPushButton>(w.data(), "replaceAll")->y() == child(w.data(), "replaceField")->y(), points == 9);
    QVERIFY(w->grab().save(out + QStringLiteral("/findbar-%1pt.png").arg(points)));
    QTest::keyClick(child(w.data(), "findField"), Qt::Key_Escape);

    QVERIFY(writeBytes(path, "changed"));
    QEvent change(QEvent::ActivationChange);
    QApplication::setActiveWindow(w.data());
    QApplication::sendEvent(w.data(), &change);
    QApplication::processEvents();
    noneCut(child(w.data(), "changedOnDisk"));
    QVERIFY(w->grab().save(out + QStringLiteral("/changedbar-%1pt.png").arg(points)));
    QApplication::setFont(before);
}

QTEST_MAIN(TestEditing)
#include "tst_editing.moc"
