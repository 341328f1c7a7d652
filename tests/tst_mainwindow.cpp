// The main window: captions and names, loading and saving, the questions
// it asks, the frame-rate prompts, and what the user sees.
#include "app/qtarnlyxmain.h"
#include "dialogs/myabout.h"
#include "dialogs/myfps.h"
#include "editor/myeditor.h"
#include "modalanswers.h"
#include "testsupport.h"

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QToolBar>
#include <QToolButton>

namespace {




const QString title = QStringLiteral("just Tarnlyx v0.1");

// A window on `path`, its frame-rate prompt confirmed.
QTarnlyxMain *openWindow(const QString &path, const QString &rate = QString())
{
    ModalAnswers answers;
    answers.then(rate.isEmpty() ? confirmFrameRate() : frameRate(rate));
    return new QTarnlyxMain(path);
}

QAction *action(QTarnlyxMain *w, const char *name)
{
    return w->findChild<QAction *>(QString::fromLatin1(name));
}

// Waits until the window has been destroyed.
bool waitUntilDeleted(QPointer<QTarnlyxMain> &w)
{
    return QTest::qWaitFor([&] { return w.isNull(); }, 2000);
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void newWindowCaption();
    void newFileNameIsNeverRead();
    void windowsPerArgument();
    void toolBarAndMenus();
    void roundTrips_data();
    void roundTrips();
    void editedLineSavedAlone();
    void corpusRoundTrip();
    void nonexistentNameIsCreated();
    void unreadableFileChangesNothing();
    void badNameAtStartStandsAsNewFile();
    void failedSaveKeepsOldFileAndEditedFlag();
    void saveAsAndCancelledSaveAs();
    void closeQuestion_data();
    void closeQuestion();
    void closeWithFailedSaveStays();
    void loadQuestion_data();
    void loadQuestion();
    void closeAllStopsAtCancel();
    void frameRatePrompts();
    void frameRateMustBeInRange();
    void separateWindowsSeparateSettings();
    void screenshots();
};

void TestMainWindow::newWindowCaption()
{
    QTarnlyxMain w(QStringLiteral("subtitles.txt"));
    QCOMPARE(w.windowTitle(), title + QStringLiteral(" (subtitles.txt)"));
    QCOMPARE(w.currentFileName(), QString());
    QCOMPARE(w.editorWidget()->text(), QString());
    QVERIFY(!w.editorWidget()->document()->isModified());
    QCOMPARE(w.size(), QSize(500, 600));
    QCOMPARE(w.editorWidget()->objectName(), QStringLiteral("editor"));
    QCOMPARE(w.editorWidget()->fps, 25.0);
    QVERIFY(w.testAttribute(Qt::WA_DeleteOnClose));
}

void TestMainWindow::newFileNameIsNeverRead()
{
    // Only the exact name "subtitles.txt" stands for a new file; a path to
    // a file of that name is loaded like any other.
    QTemporaryDir dir;
    QVERIFY(QDir::setCurrent(dir.path()));
    QVERIFY(writeBytes(QStringLiteral("subtitles.txt"), "{1}{2}on disk"));
    QTarnlyxMain fresh(QStringLiteral("subtitles.txt"));
    QCOMPARE(fresh.editorWidget()->text(), QString());
    QCOMPARE(fresh.currentFileName(), QString());

    QScopedPointer<QTarnlyxMain> loaded(openWindow(QStringLiteral("./subtitles.txt")));
    QCOMPARE(loaded->editorWidget()->text(), QStringLiteral("{1}{2}on disk"));
    QCOMPARE(loaded->windowTitle(), title + QStringLiteral(" (./subtitles.txt)"));
    QDir::setCurrent(QDir::tempPath());
}

void TestMainWindow::windowsPerArgument()
{
    QTemporaryDir dir;
    QStringList names;
    for (const char *n : {"a.sub", "b.sub", "c.sub"}) {
        names << dir.filePath(QString::fromLatin1(n));
        QVERIFY(writeBytes(names.back(), QByteArray("{1}{2}") + n));
    }
    ModalAnswers answers;
    answers.then(frameRate(QStringLiteral("23.976"))).then(confirmFrameRate()).then(frameRate(QStringLiteral("30")));
    const QList<QTarnlyxMain *> windows = openMainWindows(names);
    QCOMPARE(windows.size(), 3);
    QCOMPARE(answers.answered(), 3);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(windows[i]->currentFileName(), names[i]);
        QVERIFY(windows[i]->isVisible());
    }
    QCOMPARE(windows[0]->editorWidget()->fps, 23.976);
    QCOMPARE(windows[1]->editorWidget()->fps, 25.0);
    QCOMPARE(windows[2]->editorWidget()->fps, 30.0);
    qDeleteAll(windows);

    const QList<QTarnlyxMain *> none = openMainWindows({});
    QCOMPARE(none.size(), 1);
    QCOMPARE(none[0]->windowTitle(), title + QStringLiteral(" (subtitles.txt)"));
    qDeleteAll(none);
}

void TestMainWindow::toolBarAndMenus()
{
    QTarnlyxMain w(QStringLiteral("subtitles.txt"));
    const QList<QPair<const char *, const char *>> buttons = {
        {"fnew", "New subtitles file (Ctrl+N)"},
        {"fopen", "Open subtitles file (Ctrl+O)"},
        {"fsave", "Save subtitles file (Ctrl+S)"},
        {"convert format", "Convert subtitles format (Ctrl+T)"},
        {"shift time", "Shift subtitles display time (Ctrl+W)"},
        {"show time", "Change subtitles show time (Ctrl+D)"},
        {"FPS change", "Change FPS value (Ctrl+Q)"},
        {"correct", "Correct subtiles (Ctrl+R)"},
    };
    for (const auto &[name, tip] : buttons) {
        auto *button = w.findChild<QToolButton *>(QString::fromLatin1(name));
        QVERIFY2(button, name);
        QCOMPARE(button->toolTip(), QString::fromLatin1(tip));
        QVERIFY(!button->icon().isNull());
    }
    QVERIFY(w.findChild<QToolBar *>(QStringLiteral("ToolBar")));

    QStringList menus;
    for (QAction *a : w.menuBar()->actions())
        menus << (a->isSeparator() ? QStringLiteral("|") : a->text());
    QCOMPARE(menus, (QStringList{"&File", "&Subtitles", "|", "&Help"}));

    const QStringList keys = QStringLiteral(
            "newAction=Ctrl+N openAction=Ctrl+O saveAction=Ctrl+S saveAsAction=Ctrl+Shift+S "
            "closeAction=Ctrl+F4 closeAllAction=Alt+F4 fpsAction=Ctrl+I convertAction=Ctrl+T "
            "shiftAction=Ctrl+D showTimeAction=Ctrl+W changeFpsAction=Ctrl+Q "
            "correctAction=Ctrl+R aboutAction=F1").split(u' ');
    for (const QString &pair : keys) {
        const QStringList nameKey = pair.split(u'=');
        QCOMPARE(w.findChild<QAction *>(nameKey[0])->shortcut(), QKeySequence(nameKey[1]));
    }

}

void TestMainWindow::roundTrips_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("latin-1 with no-break space") << QByteArray("{1}{2}Ol\xe1\xa0se\xf1or\n{3}{4}\xbfqu\xe9?\n");
    QTest::newRow("utf-8 with bom and crlf") << QByteArray("\xef\xbb\xbf{1}{2}\xc5\xbc\xc3\xb3\xc5\x82w\r\n{3}{4}x\r\n");
    QTest::newRow("lone carriage returns") << QByteArray("a\rb\r\n\rc\r");
    QTest::newRow("paragraph separator") << QByteArray("a\xe2\x80\xa9" "b\n\xe2\x80\xa8");
    QTest::newRow("stand-in characters already there") << QByteArray("\xef\xb7\x90\r\xef\xb7\x91\xe2\x80\xa9");
    QTest::newRow("nul and tab") << QByteArray("a\0b\tc", 5);
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("blank last line") << QByteArray("x\n\n");
}

void TestMainWindow::roundTrips()
{
    // Whatever a file holds comes back byte for byte when it is saved
    // unchanged (but CRLF and the final line feed).
    QFETCH(QByteArray, bytes);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("file.sub"));
    QVERIFY(writeBytes(path, bytes));
    QScopedPointer<QTarnlyxMain> w(openWindow(path));
    QVERIFY(!w->editorWidget()->document()->isModified());
    QVERIFY(w->save());
    QCOMPARE(readBytes(path), expectedRoundTrip(bytes));
}

void TestMainWindow::editedLineSavedAlone()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("file.sub"));
    QVERIFY(writeBytes(path, "{1}{2}caf\xe9\n{3}{4}x\n"));
    QScopedPointer<QTarnlyxMain> w(openWindow(path));
    w->editorWidget()->moveCursor(QTextCursor::End);
    QTest::keyClicks(w->editorWidget(), QStringLiteral("yz"));
    QVERIFY(w->editorWidget()->document()->isModified());
    QVERIFY(w->save());
    QVERIFY(!w->editorWidget()->document()->isModified());
    QCOMPARE(readBytes(path), QByteArray("{1}{2}caf\xe9\n{3}{4}xyz"));
}

void TestMainWindow::corpusRoundTrip()
{
    REQUIRE_CORPUS();
    QTemporaryDir dir;
    for (const QString &name : corpusFiles()) {
        const QByteArray bytes = readBytes(corpusDir() + u'/' + name);
        const QString path = dir.filePath(QStringLiteral("copy.sub"));
        QVERIFY(writeBytes(path, bytes));
        QScopedPointer<QTarnlyxMain> w(openWindow(path));
        QVERIFY(w->save());
        QVERIFY2(readBytes(path) == expectedRoundTrip(bytes), qPrintable(name));
    }
}

void TestMainWindow::nonexistentNameIsCreated()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("new.sub"));
    ModalAnswers answers;
    answers.then(confirmFrameRate());
    QTarnlyxMain w(path);
    QCOMPARE(answers.seen(), QStringList{QStringLiteral("my_fps")});
    QVERIFY(QFile::exists(path));
    QCOMPARE(readBytes(path), QByteArray());
    QCOMPARE(w.currentFileName(), path);
    QCOMPARE(w.windowTitle(), title + QStringLiteral(" (%1)").arg(path));
}

void TestMainWindow::unreadableFileChangesNothing()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.sub"));
    QVERIFY(writeBytes(path, "{1}{2}a"));
    QScopedPointer<QTarnlyxMain> w(openWindow(path));
    QTest::keyClicks(w->editorWidget(), QStringLiteral("typed "));
    const QString text = w->editorWidget()->text();
    const QString caption = w->windowTitle();

    // A directory, and a new name that cannot be created, are reported and
    // change nothing: not the text, not the caption, not the name saved to.
    for (const QString &bad : {dir.path(), dir.filePath(QStringLiteral("no/such/dir/x.sub"))}) {
        QString message, boxTitle;
        ModalAnswers answers;
        answers.then(press(QStringLiteral("Leave anyway"))).then([&](QWidget *box) {
            message = static_cast<QMessageBox *>(box)->text();
            boxTitle = box->windowTitle();
            press(QStringLiteral("OK"))(box);
        });
        QVERIFY(!w->load(bad));
        QCOMPARE(answers.answered(), 2);
        QCOMPARE(message, QStringLiteral("Error in reading file \"%1\"!").arg(bad));
        QCOMPARE(boxTitle, title);
        QCOMPARE(w->editorWidget()->text(), text);
        QCOMPARE(w->windowTitle(), caption);
        QCOMPARE(w->currentFileName(), path);
        QVERIFY(w->editorWidget()->document()->isModified());
    }
}

void TestMainWindow::badNameAtStartStandsAsNewFile()
{
    QTemporaryDir dir;
    ModalAnswers answers;
    answers.then(press(QStringLiteral("OK")));
    QTarnlyxMain w(dir.path());
    QCOMPARE(answers.seen(), QStringList{QStringLiteral("read error")});
    QCOMPARE(w.windowTitle(), title + QStringLiteral(" (subtitles.txt)"));
    QCOMPARE(w.currentFileName(), QString());
}

void TestMainWindow::failedSaveKeepsOldFileAndEditedFlag()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.sub"));
    QVERIFY(writeBytes(path, "{1}{2}a"));
    QScopedPointer<QTarnlyxMain> w(openWindow(path));
    QTest::keyClicks(w->editorWidget(), QStringLiteral("x"));
    const QString caption = w->windowTitle();

    // The folder goes away under the file: the save cannot even start.
    QVERIFY(QFile::remove(path));
    QVERIFY(QDir().rmdir(dir.path()));
    QString message;
    ModalAnswers answers;
    answers.then([&](QWidget *box) {
        message = static_cast<QMessageBox *>(box)->text();
        press(QStringLiteral("OK"))(box);
    });
    QVERIFY(!w->save());
    QCOMPARE(message, QStringLiteral("Error in writing file \"%1\"!").arg(path));
    QVERIFY(w->editorWidget()->document()->isModified());
    QCOMPARE(w->windowTitle(), caption);
    QCOMPARE(w->currentFileName(), path);

    // A character the file's 8-bit encoding cannot hold is reported too,
    // and the file stays whole.
    QTemporaryDir other;
    const QString latin = other.filePath(QStringLiteral("b.sub"));
    QVERIFY(writeBytes(latin, "{1}{2}caf\xe9"));
    QScopedPointer<QTarnlyxMain> w2(openWindow(latin));
    w2->editorWidget()->moveCursor(QTextCursor::End);
    w2->editorWidget()->insertPlainText(QString::fromUtf8("\u20ac"));
    QString detail;
    ModalAnswers answers2;
    answers2.then([&](QWidget *box) {
        detail = static_cast<QMessageBox *>(box)->informativeText();
        press(QStringLiteral("OK"))(box);
    });
    QVERIFY(!w2->save());
    QVERIFY2(detail.contains(QStringLiteral("U+20AC")), qPrintable(detail));
    QCOMPARE(readBytes(latin), QByteArray("{1}{2}caf\xe9"));
}

void TestMainWindow::saveAsAndCancelledSaveAs()
{
    QTemporaryDir dir;
    QTarnlyxMain w(QStringLiteral("subtitles.txt"));
    QTest::keyClicks(w.editorWidget(), QStringLiteral("{1}{2}x"));

    // Save on a new file asks for a name; cancelling saves nothing.
    ModalAnswers cancel;
    cancel.then(chooseFile(QString()));
    QVERIFY(!w.save());
    QCOMPARE(cancel.answered(), 1);
    QVERIFY(w.editorWidget()->document()->isModified());
    QCOMPARE(w.currentFileName(), QString());

    const QString path = dir.filePath(QStringLiteral("saved.sub"));
    ModalAnswers choose;
    choose.then(chooseFile(path));
    QVERIFY(w.save());
    QCOMPARE(readBytes(path), QByteArray("{1}{2}x"));
    QCOMPARE(w.currentFileName(), path);
    QCOMPARE(w.windowTitle(), title + QStringLiteral(" (%1)").arg(path));
    QVERIFY(!w.editorWidget()->document()->isModified());
}

void TestMainWindow::closeQuestion_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("closed");
    QTest::addColumn<QByteArray>("onDisk");
    QTest::newRow("save now") << "Save now" << true << QByteArray("{1}{2}a!");
    QTest::newRow("cancel") << "Cancel" << false << QByteArray("{1}{2}a");
    QTest::newRow("leave anyway") << "Leave anyway" << true << QByteArray("{1}{2}a");
}

void TestMainWindow::closeQuestion()
{
    QFETCH(QString, answer);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.sub"));
    QVERIFY(writeBytes(path, "{1}{2}a"));
    QPointer<QTarnlyxMain> w = openWindow(path);
    w->show();
    w->editorWidget()->moveCursor(QTextCursor::End);
    QTest::keyClicks(w->editorWidget(), QStringLiteral("!"));

    QStringList buttons;
    QString text, boxTitle, defaultButton;
    ModalAnswers answers;
    answers.then([&](QWidget *box) {
        auto *question = static_cast<QMessageBox *>(box);
        text = question->text();
        boxTitle = question->windowTitle();
        for (QAbstractButton *b : question->buttons())
            buttons << b->text();
        defaultButton = question->defaultButton()->text();
        press(answer)(box);
    });
    QTimer::singleShot(0, w, [&] { action(w, "closeAction")->trigger(); });
    QFETCH(bool, closed);
    if (closed)
        QVERIFY(waitUntilDeleted(w));
    else
        QTRY_COMPARE(answers.answered(), 1);
    QCOMPARE(text, QStringLiteral("File has been changed and not saved!"));
    QCOMPARE(boxTitle, title);
    QCOMPARE(buttons, (QStringList{"Save now", "Cancel", "Leave anyway"}));
    QCOMPARE(defaultButton, QStringLiteral("Save now"));
    QTEST(readBytes(path), "onDisk");
    if (!closed) {
        QVERIFY(w->isVisible());
        QVERIFY(w->editorWidget()->document()->isModified());
        delete w;
    }
}

void TestMainWindow::closeWithFailedSaveStays()
{
    // "Save now" whose save fails keeps the window and its text.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.sub"));
    QVERIFY(writeBytes(path, "{1}{2}a"));
    QPointer<QTarnlyxMain> w = openWindow(path);
    w->show();
    QTest::keyClicks(w->editorWidget(), QStringLiteral("x"));
    QVERIFY(QFile::remove(path) && QDir().rmdir(dir.path()));
    ModalAnswers answers;
    answers.then(press(QStringLiteral("Save now"))).then(press(QStringLiteral("OK")));
    w->close();
    QCOMPARE(answers.answered(), 2);
    QVERIFY(!w.isNull());
    QVERIFY(w->isVisible());
    QCOMPARE(w->editorWidget()->text(), QStringLiteral("x{1}{2}a"));

    // So does "Save now" on a new file whose Save As is cancelled.
    QPointer<QTarnlyxMain> fresh = new QTarnlyxMain(QStringLiteral("subtitles.txt"));
    fresh->show();
    QTest::keyClicks(fresh->editorWidget(), QStringLiteral("y"));
    ModalAnswers again;
    again.then(press(QStringLiteral("Save now"))).then(chooseFile(QString()));
    fresh->close();
    QCOMPARE(again.answered(), 2);
    QVERIFY(!fresh.isNull());
    delete fresh;
    delete w;
}

void TestMainWindow::loadQuestion_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("loaded");
    QTest::addColumn<QByteArray>("firstOnDisk");
    QTest::newRow("save now") << "Save now" << true << QByteArray("!{1}{2}a");
    QTest::newRow("cancel") << "Cancel" << false << QByteArray("{1}{2}a");
    QTest::newRow("leave anyway") << "Leave anyway" << true << QByteArray("{1}{2}a");
}

void TestMainWindow::loadQuestion()
{
    QFETCH(QString, answer);
    QFETCH(bool, loaded);
    QTemporaryDir dir;
    const QString first = dir.filePath(QStringLiteral("a.sub"));
    const QString second = dir.filePath(QStringLiteral("b.sub"));
    QVERIFY(writeBytes(first, "{1}{2}a"));
    QVERIFY(writeBytes(second, "{3}{4}b"));
    QScopedPointer<QTarnlyxMain> w(openWindow(first));
    QTest::keyClicks(w->editorWidget(), QStringLiteral("!"));

    ModalAnswers answers;
    answers.then(press(answer));
    if (loaded)
        answers.then(confirmFrameRate());
    QCOMPARE(w->load(second), loaded);
    QCOMPARE(answers.answered(), loaded ? 2 : 1);
    QTEST(readBytes(first), "firstOnDisk");
    QCOMPARE(w->currentFileName(), loaded ? second : first);
    QCOMPARE(w->editorWidget()->text(), loaded ? QStringLiteral("{3}{4}b") : QStringLiteral("!{1}{2}a"));
    QCOMPARE(w->editorWidget()->document()->isModified(), !loaded);
}

void TestMainWindow::closeAllStopsAtCancel()
{
    QPointer<QTarnlyxMain> a = new QTarnlyxMain(QStringLiteral("subtitles.txt"));
    QPointer<QTarnlyxMain> b = new QTarnlyxMain(QStringLiteral("subtitles.txt"));
    a->show();
    b->show();
    QTest::keyClicks(a->editorWidget(), QStringLiteral("a"));
    QTest::keyClicks(b->editorWidget(), QStringLiteral("b"));
    ModalAnswers answers;
    answers.then(press(QStringLiteral("Cancel"))).then(press(QStringLiteral("Cancel")));
    action(a, "closeAllAction")->trigger();
    QTest::qWait(100);
    QCOMPARE(answers.answered(), 1); // the question came once, then the closing stopped
    QVERIFY(!a.isNull() && !b.isNull());
    delete a;
    delete b;
}

void TestMainWindow::frameRatePrompts()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.sub"));
    QVERIFY(writeBytes(path, "{250}{375}x"));

    // After a load the prompt shows the window's rate, with Cancel disabled.
    bool cancelEnabled = true;
    QString shown;
    ModalAnswers answers;
    answers.then([&](QWidget *dialog) {
        cancelEnabled = buttonWithText(dialog, QStringLiteral("Cancel"))->isEnabled();
        shown = dialog->findChild<QLineEdit *>(QStringLiteral("fps"))->text();
        frameRate(QStringLiteral("23.976"))(dialog);
    });
    QScopedPointer<QTarnlyxMain> w(new QTarnlyxMain(path));
    QVERIFY(!cancelEnabled);
    QCOMPARE(shown, QStringLiteral("25"));
    QCOMPARE(w->editorWidget()->fps, 23.976);

    // From the menu it shows the rate set, with Cancel enabled.
    ModalAnswers menu;
    menu.then([&](QWidget *dialog) {
        cancelEnabled = buttonWithText(dialog, QStringLiteral("Cancel"))->isEnabled();
        shown = dialog->findChild<QLineEdit *>(QStringLiteral("fps"))->text();
        dialog->findChild<QLineEdit *>(QStringLiteral("fps"))->setText(QStringLiteral("50"));
        press(QStringLiteral("Cancel"))(dialog);
    });
    action(w.data(), "fpsAction")->trigger();
    QVERIFY(cancelEnabled);
    QCOMPARE(shown, QStringLiteral("23.976"));
    QCOMPARE(w->editorWidget()->fps, 23.976);

    // Escape after a load leaves the rate as it was; every load prompts.
    ModalAnswers escape;
    escape.then([](QWidget *dialog) { QTest::keyClick(dialog, Qt::Key_Escape); });
    QVERIFY(w->load(path));
    QCOMPARE(escape.answered(), 1);
    QCOMPARE(w->editorWidget()->fps, 23.976);
}

void TestMainWindow::frameRateMustBeInRange()
{
    double fps = 25.0;
    MyFps dialog(nullptr, &fps, true);
    auto *field = dialog.findChild<QLineEdit *>(QStringLiteral("fps"));
    QPushButton *ok = buttonWithText(&dialog, QStringLiteral("OK"));
    dialog.show();
    for (const char *bad : {"0", "", "0.05", "250"}) {
        field->setText(QString::fromLatin1(bad));
        ok->click();
        QVERIFY2(dialog.isVisible(), bad);
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(fps, 25.0);
    }
    field->setText(QStringLiteral("29.97"));
    QTest::keyClick(field, Qt::Key_Return);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(fps, 29.97);
}

void TestMainWindow::separateWindowsSeparateSettings()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.sub"));
    QVERIFY(writeBytes(path, "{250}{}x"));
    QScopedPointer<QTarnlyxMain> first(openWindow(path, QStringLiteral("50")));
    QScopedPointer<QTarnlyxMain> second(openWindow(path));
    QCOMPARE(first->editorWidget()->fps, 50.0);
    QCOMPARE(second->editorWidget()->fps, 25.0);
    first->editorWidget()->shiftSeconds = 7.0;
    QCOMPARE(second->editorWidget()->shiftSeconds, 0.0);
}

void TestMainWindow::screenshots()
{
    // For a person to look at: the window, the frame-rate dialog, About.
    const QString out = QStringLiteral(TARNLYX_BUILD_DIR "/screenshots");
    QDir().mkpath(out);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("movie.sub"));
    REQUIRE_CORPUS();
    QFile::copy(corpusDir() + QStringLiteral("/microdvd/gaupol__f32d7d41__microdvd.sub"), path);
    QScopedPointer<QTarnlyxMain> w(openWindow(path));
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.data()));
    QVERIFY(w->grab().save(out + QStringLiteral("/mainwindow.png")));

    double fps = 23.976;
    MyFps fpsDialog(nullptr, &fps, false);
    fpsDialog.show();
    QVERIFY(fpsDialog.grab().save(out + QStringLiteral("/myfps.png")));
    MyAbout about;
    about.show();
    QVERIFY(about.grab().save(out + QStringLiteral("/about.png")));
    // The About box fits the logo with 5 pixels on either side.
    QCOMPARE(about.findChild<QWidget *>(QStringLiteral("logo"))->geometry(), QRect(5, 20, 313, 60));
    QCOMPARE(buttonWithText(&about, QStringLiteral("OK"))->geometry(), QRect(121, 165, 80, 20));
    QVERIFY(buttonWithText(&about, QStringLiteral("OK"))->hasFocus() || !about.isActiveWindow());
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
