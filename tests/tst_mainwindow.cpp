// The main window: start-up, names and texts, loading and saving, the
// questions it asks and the frame-rate prompts.
#include "widgets/findbar.h"
#include "app/qtarnlyxmain.h"
#include "app/startup.h"
#include "widgets/myeditor.h"
#include "files/subtitledocument.h"
#include "files/filenames.h"
#include "modalanswers.h"
#include "testsupport.h"

#include <QAction>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QLabel>
#include <QMap>
#include <QMessageBox>
#include <QPointer>
#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QToolBar>
#include <QTimer>
#include <QToolButton>

#include <cstdio>

#include <csignal>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString title = QStringLiteral("just Tarnlyx v0.1");

// A window on `path`, its frame-rate prompt confirmed.
QTarnlyxMain *openWindow(const QString &path)
{
    ModalAnswers answers;
    answers.then(press(QStringLiteral("OK")));
    return new QTarnlyxMain(path);
}

// Types `typed` into `w` and ends it as a crash would: its unsaved text
// is left for recovery.
void crash(QTarnlyxMain *w, const QString &typed)
{
    w->editorWidget()->insertPlainText(typed);
    w->writeRecoveryNow();
    delete w;
}

// Types `rate` into the frame-rate prompt and presses Return.
ModalAnswers::Answer frameRate(const char *rate)
{
    return [=](QWidget *dialog) {
        dialog->findChild<QLineEdit *>(QStringLiteral("fps"))->setText(QLatin1String(rate));
        QTest::keyClick(dialog, Qt::Key_Return);
    };
}

// The texts of the next message box, then `button` pressed.
struct BoxSeen
{
    QString name, title, text, detail;
};

ModalAnswers::Answer readBox(BoxSeen *seen, const QString &button = QStringLiteral("OK"))
{
    return [=](QWidget *w) {
        auto *box = static_cast<QMessageBox *>(w);
        *seen = {box->objectName(), box->windowTitle(), shownText(box, box->text()),
                 shownText(box, box->informativeText())};
        press(button)(box);
    };
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir m_state; // where recovery files go, fresh for every run

private slots:
    void initTestCase()
    {
        qputenv("XDG_STATE_HOME", m_state.path().toUtf8());
        questionClock = testClock;
    }
    void namesAndTexts();
    void startUp();
    void fileErrors_data();
    void fileErrors();
    void unsavedQuestion();
    void changedOnDisk_data();
    void changedOnDisk();
    void replacedWhileAsked();
    void recovery();
    void recoveryFollowsEveryEdit();
    void unfinishedSave();
    void killedBeforeWritingOver_data();
    void killedBeforeWritingOver();
    void encodings();
    void unchangedSaveKeepsBytes_data();
    void unchangedSaveKeepsBytes();
    void strayBytesInUtf8();
    void commandLine_data();
    void commandLine();
    void namesAfterDashDash();
    void recoveryOffSaysSo();
    void encodingBelongsToItsFile();
    void changedOnDiskTakesOnlyMeantKeys();
    void startQuestionsTakeOnlyMeantKeys();
    void saveAsAsksBeforeReplacing();
    void recoveryOfAFileChangedUnseen();
    void recoveryKnowsItsBytes_data();
    void recoveryKnowsItsBytes();
    void savesWaitForEachOther();
    void closingHandsTheKeyboardBack();
};

void TestMainWindow::namesAndTexts()
{
    QTarnlyxMain w(QStringLiteral("subtitles.txt"));
    QCOMPARE(w.windowTitle(), title + QStringLiteral(" (subtitles.txt)"));
    QCOMPARE(w.size(), QSize(500, 600));
    QCOMPARE(w.editorWidget()->objectName(), QStringLiteral("editor"));
    QCOMPARE(w.findChild<QToolBar *>(QStringLiteral("ToolBar"))->windowTitle(), QStringLiteral("Tool bar"));
    const QStringList buttons = QStringLiteral(
            "fnew=New subtitles file (Ctrl+N);fopen=Open subtitles file (Ctrl+O);"
            "fsave=Save subtitles file (Ctrl+S);convert format=Convert subtitles format (Ctrl+T);"
            "shift time=Shift subtitles display time (Ctrl+W);show time=Change subtitles show time (Ctrl+D);"
            "FPS change=Change FPS value (Ctrl+Q);correct=Correct subtiles (Ctrl+R)").split(u';');
    for (const QString &pair : buttons) {
        auto *button = w.findChild<QToolButton *>(pair.section(u'=', 0, 0));
        QVERIFY2(button && !button->icon().isNull(), qPrintable(pair));
        QCOMPARE(button->toolTip(), pair.section(u'=', 1));
    }
    QStringList menus;
    for (QAction *a : w.menuBar()->actions())
        menus << (a->isSeparator() ? QStringLiteral("|") : a->text());
    QCOMPARE(menus, (QStringList{"&File", "&Edit", "&Subtitles", "|", "&Help"}));
    const QStringList keys = QStringLiteral(
            "newAction=Ctrl+N openAction=Ctrl+O saveAction=Ctrl+S saveAsAction=Ctrl+Shift+S "
            "closeAction=Ctrl+F4 closeAllAction=Alt+F4 fpsAction=Ctrl+I convertAction=Ctrl+T "
            "shiftAction=Ctrl+D showTimeAction=Ctrl+W changeFpsAction=Ctrl+Q "
            "correctAction=Ctrl+R aboutAction=F1 findAction=Ctrl+F findNextAction=F3 "
            "findPreviousAction=Shift+F3 replaceAction=Ctrl+H goToAction=Ctrl+G").split(u' ');
    for (const QString &pair : keys)
        QCOMPARE(w.findChild<QAction *>(pair.section(u'=', 0, 0))->shortcut(), QKeySequence(pair.section(u'=', 1)));
    // No two commands share a key.
    QMap<QString, QString> owner;
    for (QAction *a : w.findChildren<QAction *>()) {
        for (const QKeySequence &k : a->shortcuts()) {
            QVERIFY2(!owner.contains(k.toString()), qPrintable(k.toString() + u' ' + owner.value(k.toString()) + u' ' + a->text()));
            owner.insert(k.toString(), a->text());
        }
    }
}

void TestMainWindow::startUp()
{
    // One window per name, each asking for its own frame rate; a name that
    // does not exist is created empty; only the bare name "subtitles.txt"
    // stands for a new file, and a name that cannot be read leaves one.
    QTemporaryDir dir;
    QVERIFY(QDir::setCurrent(dir.path()));
    QVERIFY(writeBytes(QStringLiteral("subtitles.txt"), "{1}{2}on disk"));
    const QStringList names = {QStringLiteral("./subtitles.txt"), dir.filePath(QStringLiteral("new.sub")),
                               QStringLiteral("subtitles.txt"), dir.path()};
    ModalAnswers answers;
    answers.then(frameRate("23.976")).then(frameRate("30")).then(press(QStringLiteral("OK")));
    const QList<QTarnlyxMain *> windows = openMainWindows(names);
    QCOMPARE(answers.seen(), (QStringList{"my_fps", "my_fps", "read error"}));
    QCOMPARE(windows.size(), 4);
    QCOMPARE(windows[0]->editorWidget()->text(), QStringLiteral("{1}{2}on disk"));
    QCOMPARE(windows[0]->windowTitle(), title + QStringLiteral(" (./subtitles.txt)"));
    QCOMPARE(windows[0]->editorWidget()->fps, 23.976);
    QCOMPARE(windows[1]->editorWidget()->fps, 30.0);
    QCOMPARE(readBytes(names[1]), QByteArray());
    QCOMPARE(windows[1]->currentFileName(), names[1]);
    for (int i : {2, 3}) {
        QCOMPARE(windows[i]->editorWidget()->text(), QString());
        QCOMPARE(windows[i]->currentFileName(), QString());
        QCOMPARE(windows[i]->windowTitle(), title + QStringLiteral(" (subtitles.txt)"));
        QCOMPARE(windows[i]->editorWidget()->fps, 25.0);
    }
    for (QTarnlyxMain *w : windows)
        QVERIFY(w->isVisible() && !w->editorWidget()->document()->isModified());
    qDeleteAll(windows);
    const QList<QTarnlyxMain *> none = openMainWindows({});
    QCOMPARE(none.size(), 1);
    QCOMPARE(none[0]->windowTitle(), title + QStringLiteral(" (subtitles.txt)"));
    qDeleteAll(none);
    QDir::setCurrent(QDir::tempPath());
}

void TestMainWindow::fileErrors_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("expected"); // the box's name|text|detail, DIR for the folder
    QTest::newRow("read a pipe") << "load pipe.sub" << "read error|Error in reading file \"DIR/pipe.sub\"!|It is not a regular file.";
    QTest::newRow("read in a missing folder") << "load no/such/x.sub" << "read error|Error in reading file \"DIR/no/such/x.sub\"!|No such file or directory.";
    QTest::newRow("save, folder removed") << "save" << "write error|Error in writing file \"DIR/a\": b.sub\"!|Cannot create a file in the folder \"DIR\": No such file or directory.";
    QTest::newRow("save as into a folder named in markup") << "save as <h1><font>Saved.<br>OK<hr>/out.sub"
            << "write error|Error in writing file \"DIR/<h1><font>Saved.<br>OK<hr>/out.sub\"!|"
               "Cannot create a file in the folder \"DIR/<h1><font>Saved.<br>OK<hr>\": No such file or directory.";
    QTest::newRow("save as onto a full device") << "save as /dev/full" << "write error|Error in writing file \"/dev/full\"!|No space left on device.";
}

void TestMainWindow::fileErrors()
{
    // A file that cannot be read or written is reported and changes nothing:
    // not the text, its edited flag, the caption, the file or the name the
    // next Save writes to.
    QFETCH(QString, how);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a\": b.sub")); // an error's detail is not cut inside it
    QCOMPARE(mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("pipe.sub"))).constData(), 0600), 0);
    QVERIFY(writeBytes(path, "{1}{2}caf\xe9"));
    QScopedPointer<QTarnlyxMain> w(openWindow(path));
    QTest::keyClicks(w->editorWidget(), QStringLiteral("typed "));
    const QString other = how.section(u' ', -1);
    const QString tried = other.startsWith(u'/') ? other : QDir::cleanPath(dir.filePath(other));
    BoxSeen box;
    ModalAnswers answers;
    if (how.startsWith(u"load")) {
        answers.then(press(QStringLiteral("Leave anyway"))).then(readBox(&box));
        QVERIFY(!w->load(tried));
    } else if (how == u"save") {
        QVERIFY(dir.remove());
        answers.then(press(QStringLiteral("Overwrite"))).then(readBox(&box));
        QVERIFY(!w->save());
    } else {
        answers.then(chooseFile(tried));
        if (QFileInfo::exists(tried))
            answers.then(press(QStringLiteral("Replace")));
        answers.then(readBox(&box));
        QVERIFY(!w->saveAs());
    }
    QCOMPARE(answers.pending(), 0);
    QFETCH(QString, expected);
    QCOMPARE(QStringList({box.name, box.text, box.detail}).join(u'|'), expected.replace(QStringLiteral("DIR"), dir.path()));
    QCOMPARE(box.title, title);
    QCOMPARE(w->editorWidget()->text(), QString::fromLatin1("typed {1}{2}caf\xe9"));
    QVERIFY(w->editorWidget()->document()->isModified());
    QCOMPARE(w->currentFileName(), path);
    QCOMPARE(w->windowTitle(), title + QStringLiteral(" (%1)").arg(path));
    QCOMPARE(readBytes(path), how == u"save" ? QByteArray("<unreadable>") : QByteArray("{1}{2}caf\xe9"));
    QVERIFY(!QFileInfo(tried).isFile());
}

void TestMainWindow::unsavedQuestion()
{
    // The question, its texts and buttons (Cancel and Save now are driven
    // in the real window): Leave anyway lets the text go; a Save now that
    // fails, or for which no name is given, keeps the window and its text.
    // A new file's name is asked for among subtitle files first.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.sub"));
    QVERIFY(writeBytes(path, "{1}{2}a"));
    QStringList seen;
    auto look = [&seen](const QString &button) {
        return [&seen, button](QWidget *b) {
            auto *box = static_cast<QMessageBox *>(b);
            QStringList buttons;
            for (QAbstractButton *x : box->buttons())
                buttons << x->text();
            seen << QStringList{box->windowTitle(), shownText(box, box->text()), buttons.join(u','), box->defaultButton()->text()}.join(u'|');
            press(button)(b);
        };
    };
    QScopedPointer<QTarnlyxMain> w(openWindow(path));
    w->editorWidget()->insertPlainText(QStringLiteral("!"));
    ModalAnswers answers;
    answers.then(look(QStringLiteral("Leave anyway"))).then(press(QStringLiteral("OK")));
    QVERIFY(w->load(path));
    QCOMPARE(w->editorWidget()->text(), QStringLiteral("{1}{2}a"));
    QVERIFY(!w->editorWidget()->document()->isModified());
    QScopedPointer<QTarnlyxMain> fresh(new QTarnlyxMain(QStringLiteral("subtitles.txt")));
    fresh->editorWidget()->insertPlainText(QStringLiteral("new"));
    QStringList filters;
    answers.then(look(QStringLiteral("Save now"))).then([&](QWidget *d) {
        filters = static_cast<QFileDialog *>(d)->nameFilters();
        chooseFile(QString())(d);
    });
    QVERIFY(!fresh->close());
    QCOMPARE(filters, (QStringList{"Subtitle files (*.txt *.sub *.mpl *.srt)", "*.txt", "All files (*)"}));
    QVERIFY(fresh->editorWidget()->document()->isModified());
    QCOMPARE(fresh->currentFileName(), QString());
    QTemporaryDir other;
    const QString saved = other.filePath(QStringLiteral("saved.sub"));
    answers.then(chooseFile(saved));
    QVERIFY(fresh->save());
    QCOMPARE(readBytes(saved), QByteArray("new"));
    QCOMPARE(fresh->currentFileName(), saved);
    QCOMPARE(fresh->windowTitle(), title + QStringLiteral(" (%1)").arg(saved));
    QVERIFY(!fresh->editorWidget()->document()->isModified());
    fresh->editorWidget()->insertPlainText(QStringLiteral("!"));
    w->editorWidget()->insertPlainText(QStringLiteral("!"));
    QVERIFY(dir.remove());
    answers.then(look(QStringLiteral("Save now"))).then(press(QStringLiteral("Overwrite"))).then(press(QStringLiteral("OK")));
    QVERIFY(!w->close());
    QCOMPARE(answers.pending(), 0);
    // Close all windows stops at the first Cancel.
    w->show();
    fresh->show();
    answers.then(look(QStringLiteral("Cancel"))).then(look(QStringLiteral("Cancel")));
    w->findChild<QAction *>(QStringLiteral("closeAllAction"))->trigger();
    QCOMPARE(answers.pending(), 1);
    QVERIFY(w->isVisible() && fresh->isVisible());
    QCOMPARE(seen, QStringList(4, title + QStringLiteral("|File has been changed and not saved!|Save now,Cancel,Leave anyway|Save now")));
    QCOMPARE(w->editorWidget()->text(), QStringLiteral("!{1}{2}a"));
}

void TestMainWindow::changedOnDisk_data()
{
    QTest::addColumn<QString>("change"); // appending is driven in the real window
    QTest::addColumn<QString>("answer");
    QTest::newRow("deleted, overwrite") << "delete" << "Overwrite";
    QTest::newRow("saved from another window") << "window" << "Cancel";
    QTest::newRow("untouched") << "" << "";
}

void TestMainWindow::changedOnDisk()
{
    // Before saving over a file that another program or window changed or
    // removed, the user is asked; Cancel keeps everything as it is.
    QFETCH(QString, change);
    QFETCH(QString, answer);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.sub"));
    QVERIFY(writeBytes(path, "{1}{2}a"));
    QScopedPointer<QTarnlyxMain> w(openWindow(path)), other(openWindow(path));
    w->editorWidget()->insertPlainText(QStringLiteral("mine "));
    other->editorWidget()->insertPlainText(QStringLiteral("other "));
    QVERIFY(change == u"delete" ? QFile::remove(path) : change.isEmpty() || other->save());
    const QByteArray onDisk = readBytes(path);
    BoxSeen box;
    ModalAnswers answers;
    answers.then(readBox(&box, answer));
    const bool saved = w->save();
    QCOMPARE(answers.answered(), answer.isEmpty() ? 0 : 1);
    QCOMPARE(box.text, answer.isEmpty() ? QString() : QStringLiteral("Another program has %1 \"%2\" since it was opened or saved here.")
                                                          .arg(change == u"delete" ? QStringLiteral("deleted") : QStringLiteral("changed"), path));
    QCOMPARE(saved, answer != u"Cancel");
    QCOMPARE(readBytes(path), saved ? QByteArray("mine {1}{2}a") : onDisk);
    QCOMPARE(w->editorWidget()->document()->isModified(), !saved);
    if (saved) // and the next save does not ask again
        QVERIFY(w->save());
}

void TestMainWindow::replacedWhileAsked()
{
    // A file another program puts in place while a save asks a question is
    // kept: the save writes nothing and says so.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.sub"));
    QVERIFY(writeBytes(path, readBytes(sampleFile("encodings/polish.windows-1250.sub"))));
    QScopedPointer<QTarnlyxMain> w(openWindow(path));
    w->editorWidget()->insertPlainText(QString::fromUtf8("\u0436 ")); // not in windows-1250
    ModalAnswers answers;
    BoxSeen box;
    answers.then([&](QWidget *b) {
        writeBytes(dir.filePath(QStringLiteral("new")), "theirs");
        rename(QFile::encodeName(dir.filePath(QStringLiteral("new"))).constData(), QFile::encodeName(path).constData());
        press(QStringLiteral("Save as UTF-8"))(b);
    }).then(readBox(&box));
    QVERIFY(!w->save());
    QCOMPARE(box.detail, QStringLiteral("Another program replaced it meanwhile; nothing was written."));
    QCOMPARE(readBytes(path), QByteArray("theirs"));
    QVERIFY(w->editorWidget()->document()->isModified());
}

void TestMainWindow::recovery()
{
    // Unsaved text outlives the window that had it (as it would a crash):
    // the next window on that very file offers it, by any name or link;
    // every start lists what no window took; a live window's text is never
    // offered elsewhere.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.sub"));
    const QDir folder(m_state.filePath(QStringLiteral("tarnlyx/recovery")));
    QVERIFY(writeBytes(path, "{1}{2}a"));
    QVERIFY(QFile::link(QStringLiteral("a.sub"), dir.filePath(QStringLiteral("link.sub"))));
    auto settle = [&](const QList<QTarnlyxMain *> &windows) {
        for (QTarnlyxMain *w : windows) {
            w->editorWidget()->document()->setModified(false);
            w->close();
        }
        QCOMPARE(folder.entryList(QDir::Files), QStringList());
    };
    QScopedPointer<QTarnlyxMain> live(openWindow(path)); // a live window's text stays its own
    live->editorWidget()->insertPlainText(QStringLiteral("live "));
    live->writeRecoveryNow();
    crash(openWindow(path), QStringLiteral("lost "));
    const QStringList kept = folder.entryList({QStringLiteral("*.txt")}, QDir::Files);
    QCOMPARE(kept.size(), 2);
    QCOMPARE(QFile::permissions(folder.filePath(kept[0])), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser);
    BoxSeen box;
    ModalAnswers answers;
    // Answered after the pause that writes recovery: the file offered stays
    // while asked, and after Restore until the text is written again.
    qsizetype keptWhileAsked = 0;
    answers.then([&](QWidget *b) {
        QTest::qWait(2500);
        keptWhileAsked = folder.entryList({QStringLiteral("*.txt")}, QDir::Files).size();
        readBox(&box, QString())(b);
        keyAfterGuard(b, Qt::Key_Return);
    }).then(press(QStringLiteral("OK")));
    QScopedPointer<QTarnlyxMain> w(new QTarnlyxMain(dir.filePath(QStringLiteral("./link.sub"))));
    QCOMPARE(answers.seen(), (QStringList{"recovery", "my_fps"}));
    QCOMPARE(keptWhileAsked, 2);
    QVERIFY2(box.text.startsWith(QStringLiteral("There is unsaved text of \"%1\"").arg(path)), qPrintable(box.text));
    QCOMPARE(w->editorWidget()->text(), QStringLiteral("lost {1}{2}a"));
    QVERIFY(w->editorWidget()->document()->isModified());
    QCOMPARE(folder.entryList({QStringLiteral("*.txt")}, QDir::Files).size(), 2);
    QVERIFY(w->save()); // a new file in the name's place
    live->editorWidget()->insertPlainText(QStringLiteral("again "));
    live->writeRecoveryNow();
    live.reset(); // gone without a word: its text is kept, not for the new file
    answers.then(press(QStringLiteral("OK")));
    QVERIFY(w->load(path));
    QCOMPARE(answers.seen().mid(2), QStringList{"my_fps"});
    QCOMPARE(w->editorWidget()->text(), QStringLiteral("lost {1}{2}a"));
    w.reset();

    // Every start lists it, with the other file in its name's place noted;
    // Later keeps it for the next start, where Return restores it untitled.
    answers.then(readBox(&box, QStringLiteral("Later"))).then([](QWidget *b) { keyAfterGuard(b, Qt::Key_Return); });
    qDeleteAll(openMainWindows({}));
    QCOMPARE(QStringList({box.name, box.text, box.detail}).join(u'|').replace(QRegularExpression(QStringLiteral(", [^\n]*\\d:\\d\\d[^\n]*? \\(")), QStringLiteral(", TIME (")),
             QStringLiteral("recovery list|Tarnlyx ended before this text was saved:|\"%1\", TIME (another file has that name now)\n"
                            "    live again {1}{2}a").arg(path));
    QList<QTarnlyxMain *> windows = openMainWindows({});
    QCOMPARE(windows.size(), 1);
    QCOMPARE(windows[0]->editorWidget()->text(), QStringLiteral("live again {1}{2}a"));
    QCOMPARE(windows[0]->currentFileName(), QString());
    settle(windows);

    // Two crashed windows on one file, and two names one byte apart: each
    // text restored in a window on its own file.
    const QString names[] = {dir.filePath(QStringLiteral("x") + QChar(0xDCE9)), dir.filePath(QStringLiteral("x") + QChar(0xDCE8))};
    for (const QString &name : names) {
        const int fd = ::open(nameToNative(name).constData(), O_WRONLY | O_CREAT, 0644);
        QVERIFY(fd >= 0 && write(fd, "{1}{2}x", 7) == 7 && close(fd) == 0);
    }
    QTarnlyxMain *crashing[] = {openWindow(names[0]), openWindow(names[0]), openWindow(names[1])};
    crash(crashing[0], QStringLiteral("first "));
    crash(crashing[1], QStringLiteral("second "));
    crash(crashing[2], QStringLiteral("other "));
    QCOMPARE(folder.entryList({QStringLiteral("*.txt")}, QDir::Files).size(), 3);
    answers.then(press(QStringLiteral("Restore, each in its own window"))).then(press(QStringLiteral("OK")))
            .then(press(QStringLiteral("OK"))).then(press(QStringLiteral("OK")));
    windows = openMainWindows({});
    QStringList restored;
    for (QTarnlyxMain *window : windows.mid(1))
        restored << shownName(window->currentFileName()) + u'=' + window->editorWidget()->text();
    restored.sort();
    QCOMPARE(restored, (QStringList{shownName(names[1]) + QStringLiteral("=other {1}{2}x"), shownName(names[0]) + QStringLiteral("=first {1}{2}x"),
                                    shownName(names[0]) + QStringLiteral("=second {1}{2}x")}));
    settle(windows);
    for (const QString &name : names)
        QCOMPARE(unlink(nameToNative(name).constData()), 0);

    // A stray byte of a UTF-8 file is kept as the byte it was.
    const QString untitled = QStringLiteral("untitled") + QChar(0xDCE9);
    crash(new QTarnlyxMain(QStringLiteral("subtitles.txt")), untitled);
    answers.then(press(QStringLiteral("Restore, each in its own window")));
    windows = openMainWindows({});
    QCOMPARE(windows.size(), 1);
    QCOMPARE(windows[0]->editorWidget()->text(), untitled);
    QVERIFY(windows[0]->editorWidget()->document()->isModified());
    QCOMPARE(answers.pending(), 0);
    settle(windows);
}

void TestMainWindow::recoveryFollowsEveryEdit()
{
    // Between whole copies the recovery file is brought up to date from the
    // edits alone, and after a new text as a whole from the string it was
    // made from: after each kind of edit it holds exactly the text, at the
    // first write.
    const QDir folder(m_state.filePath(QStringLiteral("tarnlyx/recovery")));
    auto *w = new QTarnlyxMain(QStringLiteral("subtitles.txt"));
    MyEditor *editor = w->editorWidget();
    auto kept = [&] {
        w->writeRecoveryNow();
        const QStringList files = folder.entryList({QStringLiteral("*.txt")}, QDir::Files);
        const QByteArray bytes = files.size() == 1 ? readBytes(folder.filePath(files[0])) : QByteArray();
        qsizetype body = 0;
        for (int line = 0; line < 3 && body >= 0; ++line)
            body = bytes.indexOf('\n', body) + 1;
        return QString::fromUtf8(bytes.mid(body)) == editor->text();
    };
    editor->insertPlainText(QStringLiteral("{1}{2}one\n{3}{4}two"));
    QVERIFY(kept());
    const std::function<void()> edits[] = {
        [&] { editor->insertPlainText(QStringLiteral("\nthree\u00a0four")); },
        [&] { editor->moveCursor(QTextCursor::Start); editor->insertPlainText(QStringLiteral("x")); },
        [&] {
            QTextCursor c = editor->textCursor();
            c.setPosition(3);
            c.setPosition(14, QTextCursor::KeepAnchor); // across a line end
            c.removeSelectedText();
        },
        [&] { editor->undo(); },
        [&] { editor->redo(); },
        [&] { editor->moveCursor(QTextCursor::End); QTest::keyClick(editor, Qt::Key_Backspace); },
        [&] { QTest::keyClicks(editor, QStringLiteral("ab")); QTest::keyClick(editor, Qt::Key_Return); },
        [&] { editor->linesChange(ModeShift); },
    };
    for (const auto &edit : edits) {
        edit();
        QVERIFY2(kept(), qPrintable(editor->text()));
    }

    // Too long to go edit by edit, with what the text area would take as
    // line breaks (and the first stand-in for them) inside its lines.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("long.sub"));
    QString text;
    for (int i = 0; i < 4000; ++i)
        text += QStringLiteral("{%1}{%2}a\u00a0b\rc\u2029d").arg(i * 10).arg(i * 10 + 5) + QChar(0xfdd0) + QChar(0xfdd1) + QChar(0xfdd2) + u'\n';
    QVERIFY(writeBytes(path, text.toUtf8()));
    editor->document()->setModified(false);
    ModalAnswers answers;
    answers.then(press(QStringLiteral("OK")));
    QVERIFY(w->load(path));
    QCOMPARE(editor->text(), text.chopped(1)); // the last line end is the file's
    OperationSettings settings;
    settings.convert.format = BracketTime;
    const std::function<void()> wholeEdits[] = {
        [&] { editor->moveCursor(QTextCursor::Start); editor->insertPlainText(QStringLiteral("x")); },
        [&] { editor->linesChange(ModeConvert, settings); },
        [&] {
            w->findChild<FindBar *>()->start(true);
            w->findChild<QLineEdit *>(QStringLiteral("findField"))->setText(QStringLiteral("b"));
            w->findChild<QLineEdit *>(QStringLiteral("replaceField"))->setText(QStringLiteral("bee"));
            QCOMPARE(w->findChild<FindBar *>()->replaceAll(), 4000);
        },
        [&] { editor->moveCursor(QTextCursor::End); editor->insertPlainText(QStringLiteral("y")); },
        [&] { editor->undo(); },
        [&] { editor->undo(); },
        [&] { editor->redo(); },
        [&] { editor->insertPlainText(QStringLiteral("z")); },
    };
    for (const auto &edit : wholeEdits) {
        edit();
        QVERIFY(kept());
    }
    // Undone back to the file's, the text needs no recovery file.
    editor->document()->setModified(false);
    w->writeRecoveryNow();
    QCOMPARE(folder.entryList(QDir::Files), QStringList());
    w->close();
}

namespace {

// The batch tool's exit status, standard output and standard error.
QString runCli(const QStringList &args, const QString &dir)
{
    QProcess tool;
    tool.setWorkingDirectory(dir);
    tool.start(QStringLiteral(TARNLYX_BUILD_DIR "/tarnlyx-cli"), args);
    tool.waitForFinished(60000);
    return QStringLiteral("%1|%2|%3").arg(tool.exitCode()).arg(QString::fromLocal8Bit(tool.readAllStandardOutput()),
                                                             QString::fromLocal8Bit(tool.readAllStandardError()));
}

// 3.6 MB of lines that "correct" changes: its write over them takes a while.
QByteArray numberedLines()
{
    QByteArray lines;
    for (int i = 0; i < 150000; ++i)
        lines += "{" + QByteArray::number(i * 10) + "}{" + QByteArray::number(i * 10 + 5) + "}line  number " + QByteArray::number(i) + '\n';
    return lines;
}

// Writes `path` and gives it a second name, b.sub
// beside it: a save then writes over it in place.
bool writeLinked(const QString &path, const QByteArray &bytes)
{
    const QString second = QFileInfo(path).dir().filePath(QStringLiteral("b.sub"));
    return writeBytes(path, bytes) && link(QFile::encodeName(path).constData(), QFile::encodeName(second).constData()) == 0;
}

// Kills "tarnlyx-cli correct -i NAME" inside its write over the file, once
// the file's first line holds the new text (the write held there 4 s).
bool killInsideWrite(const QString &dir, const QString &name)
{
    QProcess tracer;
    tracer.setWorkingDirectory(dir);
    tracer.start(QStringLiteral("strace"), {"-f", "-o", "/dev/null", "-e", "inject=pwrite64:delay_exit=4000000",
                                            QStringLiteral(TARNLYX_BUILD_DIR "/tarnlyx-cli"), "correct", "-i", name});
    const QString children = QStringLiteral("/proc/%1/task/%1/children").arg(tracer.processId());
    QDeadlineTimer deadline(30000);
    while (!readBytes(QDir(dir).filePath(name)).startsWith("{0}{5}line number") && !deadline.hasExpired())
        QTest::qWait(20);
    const int tool = readBytes(children).trimmed().toInt();
    return tool > 0 && kill(tool, SIGKILL) == 0 && tracer.waitForFinished(30000);
}

} // namespace

void TestMainWindow::unfinishedSave()
{
    // A save over a hard-linked file killed inside its write: both programs
    // name it at every start until it is settled; Return keeps the file and
    // the copy, Restore gives the old bytes back exactly, and the batch tool
    // lets them go by any name of the file.
    if (QStandardPaths::findExecutable(QStringLiteral("strace")).isEmpty())
        QSKIP("needs strace");
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.sub"));
    const QByteArray old = numberedLines();
    QVERIFY(writeLinked(path, old));
    const QDir backups(m_state.filePath(QStringLiteral("tarnlyx/backup")));
    QVERIFY(killInsideWrite(dir.path(), QStringLiteral("a.sub")));
    const QByteArray damaged = readBytes(path);
    QVERIFY(damaged != old && damaged.size() == old.size());
    const QStringList kept = backups.entryList(QDir::Files);
    QCOMPARE(kept.size(), 3); // the copy, its record, the new bytes
    const QString copy = backups.filePath(kept[0]);
    QCOMPARE(readBytes(copy), old);
    QCOMPARE(runCli({"info", "b.sub"}, dir.path()).section(u'|', 2),
             QStringLiteral("tarnlyx-cli: the save of \"%1\" did not finish; the file may be damaged. Its old content is in \"%2\" "
                            "(\"tarnlyx-cli recover --restore FILE\" puts it back, \"--discard FILE\" keeps the file as it is)\n")
                     .arg(path, copy));
    QCOMPARE(runCli({"recover"}, dir.path()), QStringLiteral("0|%1\t%2\n|").arg(path, copy));
    QVERIFY(writeBytes(copy, old.chopped(1))); // a copy cut short is never put back
    QCOMPARE(runCli({"recover", "--restore", "b.sub"}, dir.path()), QStringLiteral("1||tarnlyx-cli: the copy \"%1\" is not whole\n").arg(copy));
    QCOMPARE(readBytes(path), damaged);
    QVERIFY(writeBytes(copy, old));

    // Return and Escape keep; Restore writes over the file, so it takes no
    // key typed before the question showed and no plain R.
    BoxSeen box;
    bool stayed = false;
    ModalAnswers answers;
    answers.then([&](QWidget *b) {
        readBox(&box, QString())(b);
        stayed = onlyMeantKeys(b, Qt::Key_R, Qt::Key_Escape);
    }).then([](QWidget *b) { keyAfterGuard(b, Qt::Key_Return); });
    for (int start = 0; start < 2; ++start) {
        qDeleteAll(openMainWindows({}));
        QCOMPARE(readBytes(path), damaged);
        QCOMPARE(backups.entryList(QDir::Files), kept);
    }
    QVERIFY(stayed);
    QCOMPARE(QStringList({box.name, box.text, box.detail}).join(u'|'),
             QStringLiteral("unfinished save|The save of %1 did not finish; the file may be damaged. Restore the copy taken before the save?|"
                            "The copy is \"%2\"; it is kept until you restore it.").arg(path, copy));
    answers.then([](QWidget *b) { keyAfterGuard(b, Qt::Key_R, Qt::AltModifier); });
    qDeleteAll(openMainWindows({}));
    QCOMPARE(readBytes(path), old);
    QCOMPARE(backups.entryList(QDir::Files | QDir::Hidden), QStringList());

    QVERIFY(killInsideWrite(dir.path(), QStringLiteral("a.sub")));
    const QByteArray damagedAgain = readBytes(path); // the kill may cut the write short elsewhere
    QCOMPARE(runCli({"recover", "--restore", "c.sub"}, dir.path()), QStringLiteral("1||tarnlyx-cli: no save of \"c.sub\" is unfinished\n"));
    QCOMPARE(runCli({"recover", "--discard", "b.sub"}, dir.path()), QStringLiteral("0||"));
    QCOMPARE(readBytes(path), damagedAgain);
    QCOMPARE(backups.entryList(QDir::Files | QDir::Hidden), QStringList());
    QCOMPARE(runCli({"recover"}, dir.path()), QStringLiteral("0||"));

    // Written to since the kill: Restore puts the old bytes beside it, and
    // says where.
    QVERIFY(writeBytes(path, old));
    QVERIFY(killInsideWrite(dir.path(), QStringLiteral("a.sub")));
    QVERIFY(writeBytes(dir.filePath(QStringLiteral("b.sub")), "newer"));
    BoxSeen told;
    answers.then(readBox(&box, QStringLiteral("Restore"))).then(readBox(&told));
    qDeleteAll(openMainWindows({}));
    QCOMPARE(box.text, QStringLiteral("The save of %1 did not finish, and the file was written to since. "
                                      "Restore the copy taken before the save beside it?").arg(path));
    QCOMPARE(told.text, QStringLiteral("\"%1\" was written to since the save was cut short, so it was left as it is; "
                                       "the content from before the save is in \"%1.before-save\".").arg(path));
    QCOMPARE(readBytes(path) + '|' + readBytes(path + QStringLiteral(".before-save")), "newer|" + old);
}

void TestMainWindow::killedBeforeWritingOver_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("inject"); // where strace holds the tool
    QTest::addColumn<int>("entries");        // in the backup folder then
    QTest::addColumn<int>("size");           // of the copy then, at least
    QTest::addColumn<bool>("taken");         // by another program's start, before the copy is held
    QTest::addColumn<bool>("begun");         // killed inside the write over the file
    const QString held = QStringLiteral(":delay_exit=20000000");
    // The save's flocks: its file, the copy, the new bytes, the record;
    // its fsyncs: the new bytes, the copy, the record, their folder, the file.
    QTest::newRow("copy not yet flushed") << QStringLiteral("a.sub") << QStringList{"fsync:when=2" + held} << 2 << (2 << 20)
                                          << false << false;
    QTest::newRow("record made, not locked") << QStringLiteral("a.sub") << QStringList{"flock:delay_enter=20000000:when=4"} << 3
                                              << (2 << 20) << false << false;
    QTest::newRow("hidden file, inside the write") << QStringLiteral(".a.sub") << QStringList{"pwrite64" + held} << 3
                                                   << (2 << 20) << false << true;
    QTest::newRow("copy made, not yet held") << QStringLiteral("a.sub")
                                             << QStringList{"flock:delay_enter=3000000:when=2", "pwrite64" + held} << 1 << 0
                                             << true << true;
}

void TestMainWindow::killedBeforeWritingOver()
{
    // A save over a hard-linked file, held by strace: another program's
    // start leaves its copy alone once it is held, or else the save makes a
    // new one. Killed before the write over the file began, the next start
    // removes what the save left and says nothing; killed inside the write,
    // the save is named and its copy (a hidden file's too) puts it back.
    if (QStandardPaths::findExecutable(QStringLiteral("strace")).isEmpty())
        QSKIP("needs strace");
    QFETCH(QString, name);
    QFETCH(QStringList, inject);
    QFETCH(int, entries);
    QFETCH(int, size);
    QFETCH(bool, taken);
    QFETCH(bool, begun);
    QTemporaryDir dir;
    const auto restore = qScopeGuard([&] { qputenv("XDG_STATE_HOME", m_state.path().toUtf8()); });
    qputenv("XDG_STATE_HOME", QFile::encodeName(dir.filePath(QStringLiteral("state"))));
    const QString path = dir.filePath(name);
    const QByteArray old = numberedLines();
    QVERIFY(writeLinked(path, old));
    const QDir backups(dir.filePath(QStringLiteral("state/tarnlyx/backup")));
    QStringList arguments{"-f", "-o", "/dev/null"};
    for (const QString &where : inject)
        arguments << "-e" << "inject=" + where;
    QProcess tracer;
    tracer.setWorkingDirectory(dir.path());
    tracer.start(QStringLiteral("strace"), arguments + QStringList{TARNLYX_BUILD_DIR "/tarnlyx-cli", "correct", "-i", name});
    QDeadlineTimer deadline(30000);
    auto wait = [&](int count, int least, bool written) {
        auto there = [&] {
            const QStringList names = backups.entryList(QDir::Files | QDir::Hidden, QDir::Name);
            return names.size() == count && QFileInfo(backups.filePath(names.value(0))).size() >= least
                    && readBytes(path).startsWith(written ? "{0}{5}line number" : "{0}{5}line  number");
        };
        while (!there() && !deadline.hasExpired())
            QTest::qWait(20);
        return there();
    };
    QVERIFY(wait(entries, size, begun && !taken));
    const QStringList during = backups.entryList(QDir::Files | QDir::Hidden);
    QCOMPARE(runCli({"recover"}, dir.path()), QStringLiteral("0||"));
    QCOMPARE(backups.entryList(QDir::Files | QDir::Hidden), taken ? QStringList() : during);
    if (taken)
        QVERIFY(wait(3, old.size(), true));

    // The kill waits in the held call until strace lets go: strace goes too,
    // rather than sitting out the delay.
    const int tool = readBytes(QStringLiteral("/proc/%1/task/%1/children").arg(tracer.processId())).trimmed().toInt();
    QVERIFY(tool > 0 && kill(tool, SIGKILL) == 0);
    tracer.kill();
    QVERIFY(tracer.waitForFinished(30000));
    const QString stat = QStringLiteral("/proc/%1/stat").arg(tool);
    while (QFile::exists(stat) && !readBytes(stat).contains(") Z") && !deadline.hasExpired())
        QTest::qWait(20);
    QCOMPARE(runCli(begun ? QStringList{"recover", "--restore", name} : QStringList{"recover"}, dir.path()),
             begun ? QStringLiteral("0||tarnlyx-cli: \"%1\" has its content from before the save again\n").arg(name) : QStringLiteral("0||"));
    QCOMPARE(backups.entryList(QDir::Files | QDir::Hidden), QStringList());
    QCOMPARE(readBytes(path), old);
}

void TestMainWindow::encodings()
{
    // A windows-1250 file shows its letters and takes new ones in its own
    // bytes; a letter it cannot store is saved as UTF-8 only if the user
    // says so; it can be read again in another encoding, the one in use
    // checked in the menu (which a new file does not offer).
    QTarnlyxMain fresh(QStringLiteral("subtitles.txt"));
    QVERIFY(!fresh.findChild<QMenu *>(QStringLiteral("reopenMenu"))->isEnabled());
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("polish.sub"));
    const QByteArray original = readBytes(sampleFile("encodings/polish.windows-1250.sub"));
    QVERIFY(writeBytes(path, original));
    QScopedPointer<QTarnlyxMain> w(openWindow(path));
    auto status = [&] {
        QStringList labels;
        for (QLabel *label : w->statusBar()->findChildren<QLabel *>()) {
            if (!label->isHidden() && !label->text().isEmpty())
                labels << label->text();
        }
        return labels.join(u'|');
    };
    auto *menu = w->findChild<QMenu *>(QStringLiteral("reopenMenu"));
    auto checked = [menu] {
        emit menu->aboutToShow();
        QStringList names;
        for (QAction *a : menu->findChildren<QAction *>()) {
            if (a->isChecked())
                names << a->data().toString();
        }
        return names.join(u'|');
    };
    QVERIFY(w->editorWidget()->text().startsWith(QString::fromUtf8("{0}{50}Zażółć gęślą jaźń.")));
    QCOMPARE(status(), QStringLiteral("Line 1, column 1|windows-1250, LF"));
    QVERIFY(menu->isEnabled());
    QCOMPARE(checked(), QStringLiteral("windows-1250"));
    QDir().mkpath(QStringLiteral(TARNLYX_BUILD_DIR "/screenshots")); // for a person to look at
    QVERIFY(w->grab().save(QStringLiteral(TARNLYX_BUILD_DIR "/screenshots/mainwindow.png")));
    w->editorWidget()->moveCursor(QTextCursor::End);
    w->editorWidget()->insertPlainText(QString::fromUtf8("ą"));
    QVERIFY(w->save());
    QCOMPARE(readBytes(path), original.chopped(1) + "\xb9\n"); // the last line end kept
    QVERIFY2(status().endsWith(QStringLiteral("|windows-1250, LF")), qPrintable(status()));

    // Saving a letter the encoding lacks asks first (driven in the real
    // window); Save as UTF-8 turns the whole file to UTF-8.
    w->editorWidget()->insertPlainText(QString::fromUtf8("Ж"));
    ModalAnswers answers;
    answers.then(press(QStringLiteral("Save as UTF-8")));
    QVERIFY(w->save());
    QCOMPARE(readBytes(path), w->editorWidget()->text().toUtf8() + '\n');
    QCOMPARE(status(), QStringLiteral("Line 3, column 37|UTF-8, LF"));

    QVERIFY(writeBytes(path, original));
    answers.then(press(QStringLiteral("OK"))).then(press(QStringLiteral("OK"))).then(press(QStringLiteral("OK")));
    w->reopenWith(QStringLiteral("ISO-8859-2"));
    QVERIFY(w->editorWidget()->text().startsWith(QString::fromUtf8("{0}{50}Zażółć gę\u009Clš")));
    QCOMPARE(status(), QStringLiteral("Line 1, column 1|ISO-8859-2, LF"));
    w->reopenWith(QStringLiteral("bytes"));
    QCOMPARE(w->editorWidget()->text().toLatin1() + '\n', original);
    QCOMPARE(status(), QStringLiteral("Line 1, column 1|bytes, LF"));
    QCOMPARE(checked(), QStringLiteral("bytes"));
    QCOMPARE(menu->actions().first()->text(), QStringLiteral("&Detect Again"));
    menu->actions().first()->trigger();
    QCOMPARE(checked(), QStringLiteral("windows-1250"));
    BoxSeen box;
    answers.then(readBox(&box)).then(press(QStringLiteral("OK")));
    w->reopenWith(QStringLiteral("Shift_JIS"));
    QCOMPARE(box.name, QStringLiteral("read as bytes"));
    QVERIFY2(box.detail.startsWith(QStringLiteral("Line 1, byte 13 (0xE6) is not Shift_JIS text, so every byte")), qPrintable(box.detail));
    QCOMPARE(answers.pending(), 0);

    // Shown as raw bytes, a file cannot take a letter past Latin-1, and
    // saving it as UTF-8 would store every misread letter for good: only
    // reading it in its encoding is offered, and the file stays as it was.
    QCOMPARE(w->fileFormat().encoding, QStringLiteral("bytes"));
    w->editorWidget()->moveCursor(QTextCursor::End);
    QKeyEvent typed(QEvent::KeyPress, 0, Qt::NoModifier, QString::fromUtf8("ż"));
    QApplication::sendEvent(w->editorWidget(), &typed);
    QVERIFY(w->editorWidget()->text().endsWith(QString::fromUtf8("!ż")));
    QStringList buttons;
    QString defaultButton;
    answers.then([&](QWidget *dialog) {
        for (QPushButton *b : dialog->findChildren<QPushButton *>())
            buttons << b->text();
        defaultButton = static_cast<QMessageBox *>(dialog)->defaultButton()->text();
        readBox(&box, QStringLiteral("Cancel"))(dialog);
    });
    QVERIFY(!w->save());
    QCOMPARE(box.name, QStringLiteral("not in bytes"));
    buttons.sort();
    QCOMPARE(buttons, (QStringList{"&Reopen with Encoding...", "Cancel"}));
    QCOMPARE(defaultButton, QStringLiteral("Cancel")); // Return keeps the text
    QCOMPARE(readBytes(path), original);
    QVERIFY(w->editorWidget()->document()->isModified());
    w->editorWidget()->document()->setModified(false);
}

void TestMainWindow::unchangedSaveKeepsBytes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("saved"); // empty: the bytes themselves
    QTest::addColumn<QString>("before");   // the line ends the status bar names
    QTest::addColumn<QString>("after");
    QTest::newRow("cr") << QByteArray("{1}{2}a\r{3}{4}b\r") << QByteArray() << "CR" << "CR";
    QTest::newRow("trailing empty line") << QByteArray("{1}{2}a\r\n\r\n") << QByteArray() << "CRLF" << "CRLF";
    QTest::newRow("mixed") << QByteArray("{1}{2}a\r\n{3}{4}b\nc\n") << QByteArray("{1}{2}a\r\n{3}{4}b\r\nc\r\n")
                           << "mixed line ends" << "CRLF";
}

void TestMainWindow::unchangedSaveKeepsBytes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, saved);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("lines.sub"));
    QVERIFY(writeBytes(path, bytes));
    QScopedPointer<QTarnlyxMain> w(openWindow(path));
    auto *format = w->statusBar()->findChildren<QLabel *>().constLast();
    QFETCH(QString, before);
    QCOMPARE(format->text(), QStringLiteral("UTF-8, ") + before);
    QVERIFY(w->save());
    QCOMPARE(readBytes(path), saved.isEmpty() ? bytes : saved);
    QFETCH(QString, after);
    QCOMPARE(format->text(), QStringLiteral("UTF-8, ") + after);
}

void TestMainWindow::strayBytesInUtf8()
{
    // One byte that is not UTF-8 among many UTF-8 letters: the text is
    // UTF-8, the byte is marked and named, and it is saved as itself, also
    // after an operation over the whole text.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("stray.sub"));
    const QByteArray polish = "Za\xc5\xbc\xc3\xb3\xc5\x82\xc4\x87 g\xc4\x99\xc5\x9bl\xc4\x85 ja\xc5\xba\xc5\x84 \xc5\xbc\xc3\xb3\xc5\x82w";
    const QByteArray original = "{10}{20}" + polish + " ,x\n{30}{40}caf\xe9 ,x\n";
    QVERIFY(writeBytes(path, original));
    BoxSeen box;
    ModalAnswers answers;
    answers.then(readBox(&box)).then(press(QStringLiteral("OK")));
    QScopedPointer<QTarnlyxMain> w(new QTarnlyxMain(path));
    QCOMPARE(box.name, QStringLiteral("stray bytes"));
    QCOMPARE(box.text, QStringLiteral("\"%1\" is UTF-8 text with bytes that are not UTF-8.").arg(path));
    QVERIFY2(box.detail.startsWith(QStringLiteral("The first is at line 2, byte 12 (0xE9).")), qPrintable(box.detail));
    QVERIFY(w->editorWidget()->text().startsWith(QStringLiteral("{10}{20}") + QString::fromUtf8(polish)));
    QCOMPARE(w->fileFormat().encoding, QStringLiteral("UTF-8"));
    QVERIFY(w->grab().save(QStringLiteral(TARNLYX_BUILD_DIR "/screenshots/stray-byte.png")));
    QVERIFY(w->save());
    QCOMPARE(readBytes(path), original);

    w->editorWidget()->linesChange(ModeCorrect);
    QVERIFY(w->save());
    QCOMPARE(readBytes(path), "{10}{20}" + polish + ", x\n{30}{40}caf\xe9, x\n");
}

void TestMainWindow::commandLine_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("result"); // names and encoding, or the message
    QTest::newRow("names") << QStringList{"a.sub", "-"} << -1 << "a.sub|-|";
    QTest::newRow("encoding") << QStringList{"--encoding", "cp1250", "a.sub"} << -1 << "a.sub|windows-1250";
    QTest::newRow("encoding=") << QStringList{"--encoding=koi8-r"} << -1 << "KOI8-R";
    QTest::newRow("names after --") << QStringList{"--", "-x.sub", "--help"} << -1 << "-x.sub|--help|";
    QTest::newRow("help") << QStringList{"a.sub", "--help"} << 0 << "Usage: tarnlyx [--encoding NAME] [--] [FILE...]";
    QTest::newRow("-h") << QStringList{"-h"} << 0 << "Usage: tarnlyx [--encoding NAME] [--] [FILE...]";
    QTest::newRow("version") << QStringList{"--version"} << 0 << "tarnlyx 0.1\n";
    QTest::newRow("unknown option") << QStringList{"-x.sub"} << 2 << "tarnlyx: -x.sub: unknown option";
    QTest::newRow("unknown encoding") << QStringList{"--encoding", "klingon"} << 2 << "tarnlyx: --encoding: \"klingon\" is not";
    QTest::newRow("encoding missing") << QStringList{"--encoding"} << 2 << "tarnlyx: --encoding: \"\" is not";
}

void TestMainWindow::commandLine()
{
    QFETCH(QStringList, args);
    QStringList names;
    QString encoding, message;
    const int status = parseEditorArguments(args, names, encoding, message);
    QTEST(status, "status");
    QFETCH(QString, result);
    if (status < 0)
        QCOMPARE((names + QStringList{encoding}).join(u'|'), result);
    else
        QVERIFY2(message.startsWith(result), qPrintable(message));
}

void TestMainWindow::namesAfterDashDash()
{
    // After "--" even the toolkit's own options and --help are file names:
    // the editor opens the file (and neither stops for want of a platform
    // nor prints its usage).
    for (const char *name : {"-platform", "--help"}) {
        QTemporaryDir dir;
        QProcess editor;
        editor.setWorkingDirectory(dir.path());
        editor.start(QStringLiteral(TARNLYX_BUILD_DIR "/tarnlyx"), {"--", QLatin1String(name), "a.sub"});
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(dir.filePath(QLatin1String(name))) || editor.state() == QProcess::NotRunning, 20000);
        QCOMPARE(editor.state(), QProcess::Running);
        editor.kill();
        editor.waitForFinished();
    }
}

void TestMainWindow::recoveryOffSaysSo()
{
    // A state folder that others may use is not used: the window says that
    // its unsaved text is not kept.
    QTemporaryDir state;
    QVERIFY(QDir(state.path()).mkdir(QStringLiteral("tarnlyx")));
    QVERIFY(QFile::setPermissions(state.filePath(QStringLiteral("tarnlyx")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                          | QFile::ReadOther | QFile::ExeOther));
    const QByteArray kept = qgetenv("XDG_STATE_HOME");
    qputenv("XDG_STATE_HOME", QFile::encodeName(state.path()));
    QTarnlyxMain w(QStringLiteral("subtitles.txt"));
    w.editorWidget()->insertPlainText(QStringLiteral("typed"));
    w.writeRecoveryNow();
    qputenv("XDG_STATE_HOME", kept);
    QTRY_COMPARE(w.statusBar()->currentMessage(),
                 QStringLiteral("Unsaved text is not kept for recovery: \"%1/tarnlyx\": other users may use it (mode 0705, not 0700)")
                         .arg(state.path()));
    QCOMPARE(QDir(state.filePath(QStringLiteral("tarnlyx"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    w.editorWidget()->document()->setModified(false);
}

void TestMainWindow::encodingBelongsToItsFile()
{
    // An encoding forced on one file stays with it for Reload; the next
    // file opened is read in the encoding detected in it.
    QTemporaryDir dir;
    const QString russian = dir.filePath(QStringLiteral("a.sub")), greek = dir.filePath(QStringLiteral("b.sub"));
    QVERIFY(writeBytes(russian, readBytes(sampleFile("encodings/russian.KOI8-R.sub"))));
    QVERIFY(writeBytes(greek, readBytes(sampleFile("encodings/greek.windows-1253.sub"))));
    QScopedPointer<QTarnlyxMain> w(openWindow(russian));
    QCOMPARE(w->fileFormat().encoding, QStringLiteral("KOI8-R"));
    ModalAnswers answers;
    for (int i = 0; i < 4; ++i)
        answers.then(press(QStringLiteral("OK")));
    w->reopenWith(QStringLiteral("windows-1251"));
    QCOMPARE(w->fileFormat().encoding, QStringLiteral("windows-1251"));
    w->findChild<QPushButton *>(QStringLiteral("reload"))->click();
    QCOMPARE(w->fileFormat().encoding, QStringLiteral("windows-1251"));
    QVERIFY(w->load(greek));
    QCOMPARE(w->fileFormat().encoding, QStringLiteral("windows-1253"));
    w->reopenWith(QString()); // Detect Again
    QCOMPARE(w->fileFormat().encoding, QStringLiteral("windows-1253"));
    QCOMPARE(answers.pending(), 0);
}

void TestMainWindow::changedOnDiskTakesOnlyMeantKeys()
{
    // Overwrite takes Alt+O or a click: no key typed before the question
    // showed (half a second to the millisecond), no plain O; Return is
    // Cancel.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.sub"));
    QVERIFY(writeBytes(path, "{1}{2}a"));
    QScopedPointer<QTarnlyxMain> w(openWindow(path));
    w->editorWidget()->insertPlainText(QStringLiteral("mine "));
    QVERIFY(writeBytes(path, "theirs"));
    bool stayed = false;
    ModalAnswers answers;
    answers.then([&](QWidget *box) { stayed = onlyMeantKeys(box, Qt::Key_O, Qt::Key_Return); });
    QVERIFY(!w->save());
    QVERIFY(stayed);
    QCOMPARE(readBytes(path), QByteArray("theirs"));
    answers.then([](QWidget *box) { keyAfterGuard(box, Qt::Key_O, Qt::AltModifier); });
    QVERIFY(w->save());
    QCOMPARE(readBytes(path), QByteArray("mine {1}{2}a"));
}

void TestMainWindow::startQuestionsTakeOnlyMeantKeys()
{
    // The start's list of unsaved texts: keys typed before it showed and a
    // plain D do nothing, Escape keeps the texts for later, Return restores
    // them, Alt+D discards them.
    const QDir folder(m_state.filePath(QStringLiteral("tarnlyx/recovery")));
    auto kept = [&] { return folder.entryList({QStringLiteral("*.txt")}, QDir::Files).size(); };
    crash(new QTarnlyxMain(QStringLiteral("subtitles.txt")), QStringLiteral("unsaved"));
    bool stayed = false;
    ModalAnswers answers;
    answers.then([&](QWidget *box) { stayed = onlyMeantKeys(box, Qt::Key_D, Qt::Key_Escape); });
    QList<QTarnlyxMain *> windows = openMainWindows({});
    QVERIFY(stayed);
    QCOMPARE(windows.size(), 1);
    QCOMPARE(windows[0]->editorWidget()->text(), QString());
    QCOMPARE(kept(), 1);
    qDeleteAll(windows);
    answers.then([](QWidget *box) { keyAfterGuard(box, Qt::Key_Return); });
    windows = openMainWindows({});
    QCOMPARE(windows[0]->editorWidget()->text(), QStringLiteral("unsaved"));
    windows[0]->editorWidget()->document()->setModified(false);
    qDeleteAll(windows);
    crash(new QTarnlyxMain(QStringLiteral("subtitles.txt")), QStringLiteral("unsaved"));
    answers.then([](QWidget *box) { keyAfterGuard(box, Qt::Key_D, Qt::AltModifier); });
    qDeleteAll(openMainWindows({}));
    QCOMPARE(kept(), 0);
    QCOMPARE(answers.pending(), 0);
}

void TestMainWindow::saveAsAsksBeforeReplacing()
{
    // Save As onto a file that exists asks first: a plain R does nothing,
    // Return goes back to the file dialog, Alt+R replaces it.
    QTemporaryDir dir;
    const QString other = dir.filePath(QStringLiteral("other.sub"));
    QVERIFY(writeBytes(other, "theirs"));
    QTarnlyxMain w(QStringLiteral("subtitles.txt"));
    w.editorWidget()->insertPlainText(QStringLiteral("mine"));
    bool stayed = false;
    QString text;
    ModalAnswers answers;
    answers.then(chooseFile(other)).then([&](QWidget *box) {
        text = static_cast<QMessageBox *>(box)->text();
        stayed = onlyMeantKeys(box, Qt::Key_R, Qt::Key_Return);
    }).then(chooseFile(QString()));
    QVERIFY(!w.saveAs());
    QVERIFY(stayed);
    QCOMPARE(text, QStringLiteral("\"%1\" already exists.").arg(other));
    QCOMPARE(readBytes(other), QByteArray("theirs"));
    answers.then(chooseFile(other)).then([](QWidget *box) { keyAfterGuard(box, Qt::Key_R, Qt::AltModifier); });
    QVERIFY(w.saveAs());
    QCOMPARE(readBytes(other), QByteArray("mine"));
    QCOMPARE(answers.pending(), 0);
}

void TestMainWindow::recoveryOfAFileChangedUnseen()
{
    // The first recovery write reads the file again rather than keeping its
    // text; a file that no longer holds the bytes read (same size, time put
    // back) is not taken for it: the recovery file holds the text shown.
    const QDir folder(m_state.filePath(QStringLiteral("tarnlyx/recovery")));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("long.sub"));
    QByteArray bytes;
    for (int i = 0; i < 5000; ++i)
        bytes += "{" + QByteArray::number(i * 10) + "}{" + QByteArray::number(i * 10 + 5) + "}line\n";
    QVERIFY(writeBytes(path, bytes));
    struct stat st;
    QCOMPARE(stat(QFile::encodeName(path).constData(), &st), 0);
    QScopedPointer<QTarnlyxMain> w(openWindow(path));
    QByteArray other = bytes;
    other.replace("line", "LINE");
    QVERIFY(writeBytes(path, other));
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    QCOMPARE(utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
    w->editorWidget()->insertPlainText(QStringLiteral("x"));
    w->writeRecoveryNow();
    QCoreApplication::processEvents(); // the whole text is asked for
    w->writeRecoveryNow();
    const QStringList files = folder.entryList({QStringLiteral("*.txt")}, QDir::Files);
    QCOMPARE(files.size(), 1);
    QVERIFY(readBytes(folder.filePath(files[0])).endsWith("\n" + ("x" + bytes).chopped(1)));
    w->editorWidget()->document()->setModified(false);
    w->close();
}

void TestMainWindow::recoveryKnowsItsBytes_data()
{
    QTest::addColumn<QString>("change"); // to the file after the crash
    QTest::addColumn<bool>("changed");   // told so, and asked before a save goes over it
    QTest::newRow("touched") << "touch -d '+1 hour' a.sub" << false;
    QTest::newRow("a line added") << "printf '{3}{4}b\\n' >> a.sub" << true;
    QTest::newRow("written anew, same size") << "printf '{1}{2}b\\n' > a.sub" << true;
}

void TestMainWindow::recoveryKnowsItsBytes()
{
    // Unsaved text offered back as the file's own only while the file holds
    // the bytes it was made from; else as made from an older file, and
    // Return at each question keeps the file.
    QFETCH(QString, change);
    QFETCH(bool, changed);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.sub"));
    QVERIFY(writeBytes(path, "{1}{2}a\n"));
    crash(openWindow(path), QStringLiteral("typed "));
    QProcess::execute(QStringLiteral("/bin/sh"), {"-c", "cd '" + dir.path() + "' && " + change});
    const QByteArray onDisk = readBytes(path);
    ModalAnswers answers;
    BoxSeen box;
    answers.then([&](QWidget *b) {
        readBox(&box, QString())(b);
        keyAfterGuard(b, Qt::Key_Return);
    }).then(press(QStringLiteral("OK")));
    QScopedPointer<QTarnlyxMain> w(new QTarnlyxMain(path));
    QCOMPARE(box.detail, changed ? QStringLiteral("Tarnlyx ended before it was saved, and the file has changed since. "
                                                  "Restore it? Saving it would then ask before writing over the file.")
                                 : QStringLiteral("Tarnlyx ended before it was saved. Restore it?"));
    QCOMPARE(w->editorWidget()->text(), QStringLiteral("typed {1}{2}a"));
    answers.then([](QWidget *b) { keyAfterGuard(b, Qt::Key_Return); });
    QCOMPARE(w->save(), !changed);
    QCOMPARE(answers.answered(), changed ? 3 : 2);
    QCOMPARE(readBytes(path), changed ? onDisk : QByteArray("typed {1}{2}a\n"));
    w->editorWidget()->document()->setModified(false);
    w->close();
}

void TestMainWindow::savesWaitForEachOther()
{
    // The editor saves over a file the batch tool is writing (held inside
    // its write): it waits two seconds, then says so and keeps the text.
    // Over a file whose save was cut short it asks first: Return keeps all
    // as it is, Discard Copy and Save saves.
    if (QStandardPaths::findExecutable(QStringLiteral("strace")).isEmpty())
        QSKIP("needs strace");
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.sub"));
    const QByteArray old = numberedLines();
    QVERIFY(writeLinked(path, old));
    QScopedPointer<QTarnlyxMain> w(openWindow(path));
    w->editorWidget()->insertPlainText(QStringLiteral("mine "));
    // Held in its first flush, before anything goes over the file.
    QProcess tool;
    tool.start(QStringLiteral("strace"), {"-f", "-o", dir.filePath(QStringLiteral("trace")), "-e", "trace=fsync", "-e",
                                          "inject=fsync:delay_exit=5000000:when=1",
                                          QStringLiteral(TARNLYX_BUILD_DIR "/tarnlyx-cli"), "correct", "-i", path});
    QTRY_VERIFY_WITH_TIMEOUT(readBytes(dir.filePath(QStringLiteral("trace"))).contains("fsync("), 20000);
    ModalAnswers answers;
    BoxSeen box;
    answers.then(readBox(&box));
    QVERIFY(!w->save());
    QCOMPARE(box.detail, QStringLiteral("Another save of it is in progress; nothing was written."));
    QVERIFY(tool.waitForFinished(20000));
    QVERIFY(w->editorWidget()->document()->isModified());

    const QDir backups(m_state.filePath(QStringLiteral("tarnlyx/backup")));
    QVERIFY(writeBytes(path, old));
    QVERIFY(killInsideWrite(dir.path(), QStringLiteral("a.sub")));
    const QByteArray damaged = readBytes(path);
    w->editorWidget()->document()->setModified(false);
    answers.then(press(QStringLiteral("OK")));
    QVERIFY(w->load(path));
    w->editorWidget()->insertPlainText(QStringLiteral("again "));
    answers.then([&](QWidget *b) {
        readBox(&box, QString())(b);
        keyAfterGuard(b, Qt::Key_Return);
    });
    QVERIFY(!w->save());
    QCOMPARE(box.name + u'|' + box.text, QStringLiteral("unsettled save|The last save of \"%1\" did not finish; the file may be damaged.").arg(path));
    QCOMPARE(readBytes(path), damaged);
    QCOMPARE(backups.entryList(QDir::Files).size(), 3);
    answers.then(press(QStringLiteral("Restore Copy"))).then(press(QStringLiteral("OK")));
    QVERIFY(!w->save());
    QCOMPARE(readBytes(path), old);
    QCOMPARE(backups.entryList(QDir::Files), QStringList());
    QVERIFY(killInsideWrite(dir.path(), QStringLiteral("a.sub")));
    answers.then(press(QStringLiteral("Overwrite"))).then(press(QStringLiteral("Discard Copy and Save")));
    QVERIFY(w->save());
    QVERIFY(readBytes(path).startsWith("again {0}{5}line"));
    QCOMPARE(backups.entryList(QDir::Files), QStringList());
    w->close();
}

void TestMainWindow::closingHandsTheKeyboardBack()
{
    // A window that closes hands the keyboard to the window used just
    // before it: not the one opened first, not one closed already.
    QPointer<QTarnlyxMain> windows[4];
    for (auto &w : windows) {
        w = new QTarnlyxMain;
        w->show();
    }
    for (int i : {1, 0, 2, 3}) {
        windows[i]->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(windows[i].data()));
    }
    QVERIFY(windows[2]->close());
    QVERIFY(windows[3]->close());
    QTRY_COMPARE(QApplication::activeWindow(), windows[0].data());
    QVERIFY(windows[0]->close());
    QTRY_COMPARE(QApplication::activeWindow(), windows[1].data());
    QVERIFY(windows[1]->close());
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
