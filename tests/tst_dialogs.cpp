// The operation dialogs, and the commands that run them over a window's text.
#include "app/qtarnlyxmain.h"
#include "dialogs/operationdialogs.h"
#include "editor/myeditor.h"
#include "modalanswers.h"
#include "testsupport.h"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>

namespace {

QCheckBox *box(QWidget *dialog, const char *text)
{
    for (QCheckBox *b : dialog->findChildren<QCheckBox *>()) {
        if (b->text() == QLatin1String(text))
            return b;
    }
    return nullptr;
}

QList<QLineEdit *> fields(QWidget *dialog)
{
    QList<QLineEdit *> list = dialog->findChildren<QLineEdit *>();
    std::sort(list.begin(), list.end(), [](QLineEdit *a, QLineEdit *b) { return a->y() < b->y(); });
    return list;
}

// The ways to leave a dialog without accepting it.
enum class Dismiss { Cancel, Escape, Close };

void dismiss(QDialog *dialog, Dismiss how)
{
    switch (how) {
    case Dismiss::Cancel: press(QStringLiteral("Cancel"))(dialog); break;
    case Dismiss::Escape: QTest::keyClick(dialog, Qt::Key_Escape); break;
    case Dismiss::Close: dialog->close(); break;
    }
}

QTarnlyxMain *windowOn(const QString &path)
{
    ModalAnswers answers;
    answers.then(confirmFrameRate());
    auto *w = new QTarnlyxMain(path);
    w->show();
    if (!QTest::qWaitForWindowActive(w))
        qWarning("the window did not become active");
    return w;
}

} // namespace

Q_DECLARE_METATYPE(Dismiss)

class TestDialogs : public QObject
{
    Q_OBJECT

private slots:
    void convertDialog();
    void shiftDialog();
    void showtimeDialog();
    void fpsChangeDialog();
    void correctDialog();
    void dismissWritesNothing_data();
    void dismissWritesNothing();
    void commands_data();
    void commands();
    void rejectedCommandChangesNothing();
    void windowsKeepTheirSettings();
    void screenshots();
};

void TestDialogs::convertDialog()
{
    int format = -1;
    {
        SubConvert d(&format);
        QCOMPARE(d.objectName(), QStringLiteral("sub_convert"));
        QVERIFY(d.isModal());
        const QList<QRadioButton *> radios = d.findChildren<QRadioButton *>();
        QCOMPARE(radios.size(), 4);
        QCOMPARE(radios[0]->text(), QStringLiteral("&Time based    00:00:00:"));
        QCOMPARE(radios[1]->text(), QStringLiteral("T&ime based    0:00:00:"));
        QCOMPARE(radios[2]->text(), QStringLiteral("&frame based   {000}{000}"));
        QCOMPARE(radios[3]->text(), QStringLiteral("Ti&me based    [000][000]"));
        QVERIFY(radios[2]->isChecked());
        QCOMPARE(d.findChild<QGroupBox *>()->geometry(), QRect(10, 50, 230, 120));
        d.show();
        QTest::keyClick(&d, Qt::Key_Return); // OK is the default button
        QCOMPARE(d.result(), int(QDialog::Accepted));
        QCOMPARE(format, 3);
    }
    for (int i : {0, 1, 3}) {
        SubConvert d(&format);
        d.findChildren<QRadioButton *>()[i]->click();
        press(QStringLiteral("OK"))(&d);
        QCOMPARE(format, i + 1);
    }
    // Exclusive: choosing one unchecks the one before.
    SubConvert d(&format);
    d.findChildren<QRadioButton *>()[0]->click();
    QVERIFY(!d.findChildren<QRadioButton *>()[2]->isChecked());
}

void TestDialogs::shiftDialog()
{
    double seconds = -1;
    bool start = false, end = false;
    {
        SubShift d(&seconds, &start, &end);
        QCOMPARE(d.objectName(), QStringLiteral("sub_shift"));
        QCOMPARE(fields(&d).size(), 1);
        QCOMPARE(fields(&d)[0]->text(), QStringLiteral("0"));
        QCOMPARE(fields(&d)[0]->geometry(), QRect(20, 50, 160, 20));
        d.show();
        QVERIFY(QTest::qWaitForWindowActive(&d));
        QVERIFY(fields(&d)[0]->hasFocus());
        press(QStringLiteral("OK"))(&d);
        QCOMPARE(seconds, 0.0);
        QVERIFY(start && end);
    }
    {
        SubShift d(&seconds, &start, &end);
        QLineEdit *field = fields(&d)[0];
        field->clear();
        QTest::keyClicks(field, QStringLiteral("-2.5"));
        QCOMPARE(field->text(), QStringLiteral("-2.5"));
        QTest::keyClicks(field, QStringLiteral("x")); // the validator refuses it
        QCOMPARE(field->text(), QStringLiteral("-2.5"));
        box(&d, "Change &show time/frames")->click();
        press(QStringLiteral("OK"))(&d);
        QCOMPARE(seconds, -2.5);
        QVERIFY(!start);
        QVERIFY(end);
    }
    {
        // An empty field is a shift of 0, and both boxes off is still a run.
        SubShift d(&seconds, &start, &end);
        fields(&d)[0]->clear();
        box(&d, "Change &show time/frames")->click();
        box(&d, "Change &hide time/frames")->click();
        press(QStringLiteral("OK"))(&d);
        QCOMPARE(d.result(), int(QDialog::Accepted));
        QCOMPARE(seconds, 0.0);
        QVERIFY(!start && !end);
    }
}

void TestDialogs::showtimeDialog()
{
    double seconds = -1;
    bool flags[4] = {true, true, false, false};
    auto make = [&] { return new SubShowtime(&seconds, &flags[0], &flags[1], &flags[2], &flags[3]); };
    {
        QScopedPointer<SubShowtime> d(make());
        QCOMPARE(d->objectName(), QStringLiteral("sub_showtime"));
        QCOMPARE(fields(d.data())[0]->text(), QStringLiteral("3.0"));
        QVERIFY(d->findChild<QLabel *>() != nullptr);
        press(QStringLiteral("OK"))(d.data());
        QCOMPARE(seconds, 3.0);
        QCOMPARE(QList<bool>({flags[0], flags[1], flags[2], flags[3]}), QList<bool>({false, false, true, true}));
    }
    {
        // Emptying hide times disables the other three; they are still written.
        QScopedPointer<SubShowtime> d(make());
        QCheckBox *empty = box(d.data(), "&Write down empty hide-time");
        QCheckBox *only = box(d.data(), "&Change only empty chide-time");
        QCheckBox *length = box(d.data(), "&Display time dependent on subtitles length");
        QCheckBox *block = box(d.data(), "&Block too long hide time");
        QVERIFY(only->isEnabled() && length->isEnabled() && block->isEnabled());
        only->click();
        empty->click();
        QVERIFY(!only->isEnabled() && !length->isEnabled() && !block->isEnabled());
        QVERIFY(only->isChecked());
        press(QStringLiteral("OK"))(d.data());
        QCOMPARE(QList<bool>({flags[0], flags[1], flags[2], flags[3]}), QList<bool>({true, true, true, true}));
    }
    {
        QScopedPointer<SubShowtime> d(make());
        QCheckBox *empty = box(d.data(), "&Write down empty hide-time");
        empty->click();
        empty->click();
        QVERIFY(box(d.data(), "&Block too long hide time")->isEnabled());
        fields(d.data())[0]->setText(QStringLiteral("0.05"));
        press(QStringLiteral("OK"))(d.data());
        QCOMPARE(seconds, 0.05); // used as it is
    }
}

void TestDialogs::fpsChangeDialog()
{
    double from = -1, to = -1;
    {
        SubFpschange d(&from, &to);
        QCOMPARE(d.objectName(), QStringLiteral("sub_shift"));
        QCOMPARE(fields(&d)[0]->text(), QStringLiteral("25.0"));
        QCOMPARE(fields(&d)[1]->text(), QStringLiteral("29.0"));
        d.show();
        QVERIFY(QTest::qWaitForWindowActive(&d));
        QVERIFY(fields(&d)[0]->hasFocus());
        press(QStringLiteral("OK"))(&d);
        QCOMPARE(from, 25.0);
        QCOMPARE(to, 29.0);
    }
    {
        SubFpschange d(&from, &to);
        fields(&d)[1]->setText(QStringLiteral("23.976"));
        press(QStringLiteral("OK"))(&d);
        QCOMPARE(from, 25.0);
        QCOMPARE(to, 23.976);
    }
    {
        // A rate outside 0.1 to 200 keeps the dialog open, on the bad field.
        from = to = -1;
        SubFpschange d(&from, &to);
        d.show();
        QVERIFY(QTest::qWaitForWindowActive(&d));
        fields(&d)[1]->setText(QStringLiteral("0"));
        press(QStringLiteral("OK"))(&d);
        QVERIFY(d.isVisible());
        QVERIFY(fields(&d)[1]->hasFocus());
        fields(&d)[0]->clear();
        press(QStringLiteral("OK"))(&d);
        QVERIFY(fields(&d)[0]->hasFocus());
        QCOMPARE(from, -1.0);
        QCOMPARE(to, -1.0);
        fields(&d)[0]->setText(QStringLiteral("30"));
        fields(&d)[1]->setText(QStringLiteral("24"));
        press(QStringLiteral("OK"))(&d);
        QCOMPARE(d.result(), int(QDialog::Accepted));
        QCOMPARE(from, 30.0);
        QCOMPARE(to, 24.0);
    }
}

void TestDialogs::correctDialog()
{
    bool f[7];
    std::fill(std::begin(f), std::end(f), false);
    auto make = [&] { return new SubCorrect(&f[0], &f[1], &f[2], &f[3], &f[4], &f[5], &f[6]); };
    auto written = [&] { return QList<bool>(std::begin(f), std::end(f)); };
    {
        QScopedPointer<SubCorrect> d(make());
        QCOMPARE(d->objectName(), QStringLiteral("sub_showtime"));
        QCOMPARE(d->findChildren<QCheckBox *>().size(), 7);
        press(QStringLiteral("OK"))(d.data());
        QCOMPARE(written(), QList<bool>({true, true, false, false, true, true, true}));
    }
    {
        QScopedPointer<SubCorrect> d(make());
        for (QCheckBox *b : d->findChildren<QCheckBox *>()) {
            if (b->isChecked())
                b->click();
        }
        press(QStringLiteral("OK"))(d.data());
        QCOMPARE(written(), QList<bool>(7, false));
    }
    {
        QScopedPointer<SubCorrect> d(make());
        for (QCheckBox *b : d->findChildren<QCheckBox *>()) {
            if (b->isChecked() != (b->text() == u"Delete information about text color (mDVDp)"))
                b->click();
        }
        press(QStringLiteral("OK"))(d.data());
        QCOMPARE(written(), QList<bool>({false, false, false, true, false, false, false}));
    }
}

void TestDialogs::dismissWritesNothing_data()
{
    QTest::addColumn<Dismiss>("how");
    QTest::newRow("cancel") << Dismiss::Cancel;
    QTest::newRow("escape") << Dismiss::Escape;
    QTest::newRow("close button") << Dismiss::Close;
}

void TestDialogs::dismissWritesNothing()
{
    QFETCH(Dismiss, how);
    int format = 7;
    double d1 = 7, d2 = 7;
    bool b[7] = {true, false, true, false, true, false, true};
    const QList<bool> before(std::begin(b), std::end(b));
    QList<QDialog *> dialogs = {
        new SubConvert(&format),
        new SubShift(&d1, &b[0], &b[1]),
        new SubShowtime(&d1, &b[0], &b[1], &b[2], &b[3]),
        new SubFpschange(&d1, &d2),
        new SubCorrect(&b[0], &b[1], &b[2], &b[3], &b[4], &b[5], &b[6]),
    };
    for (QDialog *dialog : dialogs) {
        // Change everything, then leave.
        for (QAbstractButton *button : dialog->findChildren<QCheckBox *>())
            button->click();
        for (QRadioButton *radio : dialog->findChildren<QRadioButton *>())
            radio->click();
        for (QLineEdit *field : dialog->findChildren<QLineEdit *>())
            field->setText(QStringLiteral("12"));
        dialog->show();
        QVERIFY(QTest::qWaitForWindowActive(dialog));
        dismiss(dialog, how);
        QCOMPARE(dialog->result(), int(QDialog::Rejected));
        QVERIFY(!dialog->isVisible());
    }
    qDeleteAll(dialogs);
    QCOMPARE(format, 7);
    QCOMPARE(d1, 7.0);
    QCOMPARE(d2, 7.0);
    QCOMPARE(QList<bool>(std::begin(b), std::end(b)), before);
}

void TestDialogs::commands_data()
{
    QTest::addColumn<QString>("trigger"); // an action's name, or keys
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");
    QTest::newRow("convert, Ctrl+T")
            << "Ctrl+T" << QByteArray("{250}{375}Hello\n{500}{}World\nnote") << QByteArray("[100][150]Hello\n[200][]World\nnote");
    QTest::newRow("convert from the menu")
            << "convertAction" << QByteArray("{250}{375}Hello") << QByteArray("[100][150]Hello");
    QTest::newRow("shift, Ctrl+D")
            << "Ctrl+D" << QByteArray("{250}{375}Hello\n{500}{}World") << QByteArray("{300}{425}Hello\n{550}{50}World");
    QTest::newRow("display time, Ctrl+W")
            << "Ctrl+W" << QByteArray("{250}{}Hi\n{300}{}World!") << QByteArray("{250}{300}Hi\n{300}{359}World!");
    QTest::newRow("frame rate, Ctrl+Q")
            << "Ctrl+Q" << QByteArray("{250}{300}Hi") << QByteArray("{290}{348}Hi");
    QTest::newRow("correct, Ctrl+R")
            << "Ctrl+R" << QByteArray("{250}{400}Hi ,you  |-Yes\n{300}{}x") << QByteArray("{250}{300}Hi, you|- Yes\n{300}{}x");
}

void TestDialogs::commands()
{
    QFETCH(QString, trigger);
    QFETCH(QByteArray, before);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.sub"));
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(before);
    }
    QScopedPointer<QTarnlyxMain> w(windowOn(path));
    MyEditor *editor = w->editorWidget();
    const QString original = editor->text();

    // The dialog is answered as a user would: a second for the shift, OK
    // for the rest.
    ModalAnswers answers;
    answers.then([&](QWidget *dialog) {
        if (trigger == u"Ctrl+D")
            fields(dialog)[0]->setText(QStringLiteral("2"));
        if (trigger.contains(u"Ctrl+T") || trigger == u"convertAction")
            dialog->findChildren<QRadioButton *>()[3]->click();
        QTest::keyClick(dialog, Qt::Key_Return);
    });
    if (trigger.startsWith(u"Ctrl"))
        QTest::keySequence(w.data(), QKeySequence(trigger));
    else
        w->findChild<QAction *>(trigger)->trigger();
    QCOMPARE(answers.answered(), 1);
    QTEST(editor->text().toLatin1(), "after");
    QVERIFY(editor->document()->isModified());

    // The keyboard is back in the window: Ctrl+S saves the result, and
    // Ctrl+Z brings back the text before.
    QVERIFY(QTest::qWaitForWindowActive(w.data()));
    QTest::keySequence(w.data(), QKeySequence(QStringLiteral("Ctrl+S")));
    QFile saved(path);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QTEST(saved.readAll(), "after");
    QTest::keyClick(editor, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(editor->text(), original);
}

void TestDialogs::rejectedCommandChangesNothing()
{
    QScopedPointer<QTarnlyxMain> w(new QTarnlyxMain(QStringLiteral("subtitles.txt")));
    MyEditor *editor = w->editorWidget();
    editor->setText(QStringLiteral("{250}{}x"));
    editor->shiftSeconds = 9;
    for (const char *name : {"convertAction", "shiftAction", "showTimeAction", "changeFpsAction",
                             "correctAction"}) {
        ModalAnswers answers;
        answers.then([](QWidget *dialog) {
            for (QLineEdit *field : dialog->findChildren<QLineEdit *>())
                field->setText(QStringLiteral("50"));
            press(QStringLiteral("Cancel"))(dialog);
        });
        w->findChild<QAction *>(QString::fromLatin1(name))->trigger();
        QCOMPARE(answers.answered(), 1);
        QCOMPARE(editor->text(), QStringLiteral("{250}{}x"));
        QVERIFY(!editor->document()->isModified());
        QCOMPARE(editor->shiftSeconds, 9.0);
    }
}

void TestDialogs::windowsKeepTheirSettings()
{
    QScopedPointer<QTarnlyxMain> a(new QTarnlyxMain(QStringLiteral("subtitles.txt")));
    QScopedPointer<QTarnlyxMain> b(new QTarnlyxMain(QStringLiteral("subtitles.txt")));
    a->editorWidget()->setText(QStringLiteral("{250}{}x"));
    b->editorWidget()->setText(QStringLiteral("{250}{}x"));
    ModalAnswers answers;
    answers.then([](QWidget *dialog) {
        fields(dialog)[0]->setText(QStringLiteral("-4"));
        press(QStringLiteral("OK"))(dialog);
    });
    a->findChild<QAction *>(QStringLiteral("shiftAction"))->trigger();
    QCOMPARE(a->editorWidget()->shiftSeconds, -4.0);
    QCOMPARE(b->editorWidget()->shiftSeconds, 0.0);
    QCOMPARE(a->editorWidget()->text(), QStringLiteral("{150}{-99}x"));
    QCOMPARE(b->editorWidget()->text(), QStringLiteral("{250}{}x"));
}

void TestDialogs::screenshots()
{
    // For a person to look at: every operation dialog as it opens.
    const QString out = QStringLiteral(TARNLYX_BUILD_DIR "/screenshots");
    QDir().mkpath(out);
    int format;
    double d1, d2;
    bool b[7];
    const QList<QPair<QString, QDialog *>> dialogs = {
        {QStringLiteral("subconvert"), new SubConvert(&format)},
        {QStringLiteral("subshift"), new SubShift(&d1, &b[0], &b[1])},
        {QStringLiteral("subshowtime"), new SubShowtime(&d1, &b[0], &b[1], &b[2], &b[3])},
        {QStringLiteral("subfpschange"), new SubFpschange(&d1, &d2)},
        {QStringLiteral("subcorrect"), new SubCorrect(&b[0], &b[1], &b[2], &b[3], &b[4], &b[5], &b[6])},
    };
    for (const auto &[name, dialog] : dialogs) {
        dialog->show();
        QVERIFY(dialog->grab().save(out + u'/' + name + QStringLiteral(".png")));
        // Every label fits its holder, and every check box its frame.
        for (QLabel *label : dialog->findChildren<QLabel *>())
            QVERIFY2(label->width() <= label->parentWidget()->width(), qPrintable(label->text()));
        for (QAbstractButton *option : dialog->findChildren<QAbstractButton *>()) {
            if (qobject_cast<QPushButton *>(option))
                continue;
            QVERIFY2(option->geometry().right() < option->parentWidget()->width()
                             && option->sizeHint().width() <= option->width(),
                     qPrintable(option->text()));
        }
        delete dialog;
    }
}

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
