// The editor's other formats: Export to SubRip and WebVTT, SubRip files
// opened, and Save with Encoding.
#include "app/qtarnlyxmain.h"
#include "widgets/myeditor.h"
#include "ffmpegcheck.h"
#include "modalanswers.h"
#include "testsupport.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QMessageBox>
#include <QRadioButton>
#include <QLabel>
#include <QTemporaryDir>
#include <QStringEncoder>
#include <QTest>
#include <QTextDocument>

namespace {

// Types `rate` into the frame-rate prompt and presses Return.
ModalAnswers::Answer frameRate(const char *rate)
{
    return [=](QWidget *dialog) {
        dialog->findChild<QLineEdit *>(QStringLiteral("fps"))->setText(QLatin1String(rate));
        QTest::keyClick(dialog, Qt::Key_Return);
    };
}

// Notes what a file dialog proposes, then picks `path` (or cancels).
ModalAnswers::Answer proposeAndChoose(QString *proposed, const QString &path)
{
    return [=](QWidget *dialog) {
        *proposed = static_cast<QFileDialog *>(dialog)->selectedFiles().value(0);
        chooseFile(path)(dialog);
    };
}

// Notes a message box's name and texts, then presses `button`.
ModalAnswers::Answer readBox(QStringList *seen, const QString &button)
{
    return [=](QWidget *w) {
        auto *box = static_cast<QMessageBox *>(w);
        *seen << box->objectName() << box->text() << box->informativeText();
        press(button)(box);
    };
}

// Chooses in Save with Encoding, then presses `key` (Return: OK).
ModalAnswers::Answer saveFormat(const QString &encoding, bool bom, bool crlf, Qt::Key key = Qt::Key_Return)
{
    return [=](QWidget *dialog) {
        auto *combo = dialog->findChild<QComboBox *>(QStringLiteral("encoding"));
        combo->setCurrentIndex(combo->findText(encoding));
        dialog->findChild<QCheckBox *>(QStringLiteral("bom"))->setChecked(bom);
        dialog->findChild<QRadioButton *>(QLatin1String(crlf ? "crlf" : "lf"))->setChecked(true);
        QTest::keyClick(dialog, key);
    };
}

const QByteArray polishUtf8 = "[0][10]Za\xc5\xbc\xc3\xb3\xc5\x82\xc4\x87\n[10][20]g\xc4\x99\xc5\x9bl\xc4\x85";
const QByteArray polish1250Crlf = "[0][10]Za\xbf\xf3\xb3\xe6\r\n[10][20]g\xea\x9cl\xb9";

} // namespace

class TestFileFormats : public QObject
{
    Q_OBJECT

    QTemporaryDir m_state;
    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        qputenv("XDG_STATE_HOME", m_state.path().toUtf8());
        questionClock = testClock;
    }
    void exportLeavesTheWindowAlone();
    void openingSubRip_data();
    void openingSubRip();
    void saveWithEncoding_data();
    void saveWithEncoding();
    void saveWithEncodingRefused();
};

void TestFileFormats::exportLeavesTheWindowAlone()
{
    const QString sub = m_dir.filePath(QStringLiteral("film.v2.sub"));
    QVERIFY(writeBytes(sub, "{25}{50}Hello\r\nnote\r\n{75}{}{y:i}Bye"));
    ModalAnswers answers;
    answers.then(frameRate("25"));
    QTarnlyxMain w(sub);
    auto exportAs = [&w](const char *action) { w.findChild<QAction *>(QLatin1String(action))->trigger(); };
    QTest::keyClick(w.editorWidget(), Qt::Key_End, Qt::ControlModifier);
    QTest::keyClicks(w.editorWidget(), QStringLiteral("!"));

    QString proposed;
    const QString srt = m_dir.filePath(QStringLiteral("out.srt"));
    answers.then(proposeAndChoose(&proposed, srt));
    exportAs("exportSubRipAction");
    QCOMPARE(answers.pending(), 0);
    QCOMPARE(proposed, m_dir.filePath(QStringLiteral("film.v2.srt")));
    QCOMPARE(readBytes(srt), QByteArray("1\r\n00:00:01,000 --> 00:00:02,000\r\nHello\r\n\r\n"
                                        "2\r\n00:00:03,000 --> 00:00:05,540\r\n<i>Bye!</i>\r\n"));
    QCOMPARE(ffmpegCues(srt), 2);
    QCOMPARE(w.findChild<QLabel *>(QStringLiteral("summary"))->text(),
             QStringLiteral("Exported to out.srt: 2 cues; 1 line that is no subtitle left out"));
    QCOMPARE(w.currentFileName(), sub);
    QVERIFY(w.editorWidget()->document()->isModified());
    QCOMPARE(readBytes(sub), QByteArray("{25}{50}Hello\r\nnote\r\n{75}{}{y:i}Bye"));

    const QString vtt = m_dir.filePath(QStringLiteral("out.vtt"));
    answers.then(proposeAndChoose(&proposed, vtt));
    exportAs("exportWebVttAction");
    QCOMPARE(proposed, m_dir.filePath(QStringLiteral("film.v2.vtt")));
    QVERIFY(readBytes(vtt).startsWith("WEBVTT\r\n\r\n1\r\n00:00:01.000 --> 00:00:02.000\r\nHello\r\n"));
    QCOMPARE(ffmpegCues(vtt), 2);
    QCOMPARE(w.currentFileName(), sub);

    // Cancelled: nothing written. Over the window's own file: refused.
    QStringList seen;
    QVERIFY(QFile::remove(srt));
    answers.then(proposeAndChoose(&proposed, QString()));
    exportAs("exportSubRipAction");
    QVERIFY(!QFile::exists(srt) && !QFile::exists(m_dir.filePath(QStringLiteral("film.v2.srt"))));
    answers.then(proposeAndChoose(&proposed, sub)).then(press(QStringLiteral("Replace")))
            .then(readBox(&seen, QStringLiteral("OK")));
    exportAs("exportSubRipAction");
    QCOMPARE(answers.pending(), 0);
    QCOMPARE(seen.value(0), QStringLiteral("export over own file"));
    QCOMPARE(readBytes(sub), QByteArray("{25}{50}Hello\r\nnote\r\n{75}{}{y:i}Bye"));

    // A folder that does not exist: the write error, with the reason.
    seen.clear();
    const QString nowhere = m_dir.filePath(QStringLiteral("missing/x.vtt"));
    answers.then(proposeAndChoose(&proposed, nowhere)).then(readBox(&seen, QStringLiteral("OK")));
    exportAs("exportWebVttAction");
    QCOMPARE(answers.pending(), 0);
    QCOMPARE(seen.value(0), QStringLiteral("write error"));
    QCOMPARE(seen.value(1), QStringLiteral("Error in writing file \"%1\"!").arg(nowhere));
    QVERIFY2(seen.value(2).contains(QStringLiteral("No such file or directory")), qPrintable(seen.value(2)));
}

void TestFileFormats::openingSubRip_data()
{
    QTest::addColumn<QString>("button"); // empty: Return
    QTest::addColumn<QByteArray>("cues");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("converted");
    const QByteArray cues = "1\r\n00:00:01,000 --> 00:00:02,000\r\n<i>Hello</i>\r\n";
    QTest::newRow("Return: bracket-time") << QString() << cues << "[10][20]/Hello" << true;
    QTest::newRow("frame-based at the rate asked") << "Frame-based {000}{000}" << cues << "{10}{20}{y:i}Hello" << true;
    QTest::newRow("Cancel: as it is") << "Cancel" << cues << "1\n00:00:01,000 --> 00:00:02,000\n<i>Hello</i>" << false;
    QTest::newRow("broken: as it is") << QString() << cues + "\r\nnot a number" << "1\n00:00:01,000 --> 00:00:02,000\n<i>Hello</i>\n\nnot a number" << false;
}

void TestFileFormats::openingSubRip()
{
    QFETCH(QString, button);
    QFETCH(QByteArray, cues);
    QFETCH(bool, converted);
    const QString srt = m_dir.filePath(QStringLiteral("movie.srt"));
    QVERIFY(writeBytes(srt, cues));
    QStringList seen;
    ModalAnswers answers;
    answers.then([&](QWidget *box) {
        seen << box->objectName();
        if (button.isEmpty())
            keyAfterGuard(box, Qt::Key_Return);
        else
            press(button)(box);
    });
    const bool broken = cues.contains("not a number");
    if (broken)
        answers.then(readBox(&seen, QStringLiteral("OK")));
    answers.then(frameRate("10"));
    QTarnlyxMain w(srt);
    QCOMPARE(answers.pending(), 0);
    QCOMPARE(seen.value(0), QStringLiteral("convert SubRip"));
    if (broken)
        QCOMPARE(seen.mid(1), (QStringList{"broken SubRip", QStringLiteral("\"%1\" cannot be converted.").arg(srt),
                                           "Line 5: \"not a number\" is no cue number. The file is shown as it is."}));
    QTEST(w.editorWidget()->text(), "text");
    QCOMPARE(w.currentFileName(), converted ? QString() : srt);
    QCOMPARE(w.editorWidget()->document()->isModified(), converted);
    if (!converted)
        return;

    // Saving asks for a name, proposing NAME.sub; the .srt stays.
    QString proposed;
    const QString sub = m_dir.filePath(QStringLiteral("movie.sub"));
    answers.then(proposeAndChoose(&proposed, sub));
    QVERIFY(w.save());
    QCOMPARE(proposed, sub);
    QTEST(QString::fromUtf8(readBytes(sub)).replace(QStringLiteral("\r\n"), QStringLiteral("\n")), "text");
    QCOMPARE(readBytes(srt), cues);
    QFile::remove(sub);
}

void TestFileFormats::saveWithEncoding_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QString>("readAs");
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<bool>("bom");
    QTest::addColumn<bool>("crlf");
    QTest::addColumn<QByteArray>("after");
    QTest::newRow("windows-1250 with CR LF") << polishUtf8 << "" << "windows-1250" << false << true << polish1250Crlf;
    QTest::newRow("UTF-8 without BOM") << polish1250Crlf << "windows-1250" << "UTF-8" << false << false << polishUtf8;
    QTest::newRow("UTF-8 with BOM") << polishUtf8 << "" << "UTF-8" << true << false << "\xef\xbb\xbf" + polishUtf8;
    // Without a mark, as it was written, and read back as it was.
    const QString polish = QString::fromUtf8(polishUtf8);
    QTest::newRow("UTF-16 without a mark") << QByteArray(QStringEncoder("UTF-16LE").encode(polish)) << "" << "UTF-16BE" << false << false
                                           << QByteArray(QStringEncoder("UTF-16BE").encode(polish));
}

void TestFileFormats::saveWithEncoding()
{
    QFETCH(QByteArray, before);
    QFETCH(QString, readAs);
    const QString path = m_dir.filePath(QStringLiteral("encoded.sub"));
    QVERIFY(writeBytes(path, before));
    ModalAnswers answers;
    answers.then(frameRate("25"));
    QTarnlyxMain w(path, readAs);
    QFETCH(QString, encoding);
    QFETCH(bool, bom);
    QFETCH(bool, crlf);

    // The dialog shows the file's own format; Cancel writes nothing and
    // keeps it.
    const FileFormat was = w.fileFormat();
    QString shown;
    answers.then([&](QWidget *dialog) {
        shown = dialog->findChild<QComboBox *>(QStringLiteral("encoding"))->currentText()
                + (dialog->findChild<QCheckBox *>(QStringLiteral("bom"))->isChecked() ? " with BOM" : "");
        saveFormat(encoding, bom, crlf, Qt::Key_Escape)(dialog);
    });
    QVERIFY(!w.saveWithEncoding());
    QCOMPARE(shown, describeFormat(was));
    QCOMPARE(readBytes(path), before);
    QCOMPARE(w.fileFormat().encoding, was.encoding);

    answers.then(saveFormat(encoding, bom, crlf));
    QVERIFY(w.saveWithEncoding());
    QCOMPARE(answers.pending(), 0);
    QTEST(readBytes(path), "after");
    QCOMPARE(w.fileFormat().encoding, encoding);
    // A plain save afterwards keeps what was chosen.
    QVERIFY(writeBytes(path, "other"));
    QTest::keyClicks(w.editorWidget(), QStringLiteral("x"));
    QTest::keyClick(w.editorWidget(), Qt::Key_Backspace);
    answers.then(press(QStringLiteral("Overwrite")));
    QVERIFY(w.save());
    QTEST(readBytes(path), "after");
}

void TestFileFormats::saveWithEncodingRefused()
{
    const QString path = m_dir.filePath(QStringLiteral("refused.sub"));
    QVERIFY(writeBytes(path, polishUtf8));
    ModalAnswers answers;
    answers.then(frameRate("25"));
    QTarnlyxMain w(path);
    QStringList seen, shown;
    // The dialog shows the file's own format; no mark for a code page.
    answers.then([&](QWidget *dialog) {
        auto *combo = dialog->findChild<QComboBox *>(QStringLiteral("encoding"));
        auto *bom = dialog->findChild<QCheckBox *>(QStringLiteral("bom"));
        shown << combo->currentText() << QString::number(bom->isEnabled());
        combo->setCurrentIndex(combo->findText(QStringLiteral("ISO-8859-2")));
        shown << QString::number(bom->isEnabled()) << QString::number(bom->isChecked());
        combo->setCurrentIndex(combo->findText(QStringLiteral("UTF-16LE")));
        shown << QString::number(bom->isChecked());
        combo->setCurrentIndex(combo->findText(QStringLiteral("ISO-8859-1")));
        QTest::keyClick(dialog, Qt::Key_Return);
    });
    answers.then(readBox(&seen, QStringLiteral("OK")));
    QVERIFY(!w.saveWithEncoding());
    QCOMPARE(answers.pending(), 0);
    QCOMPARE(shown, (QStringList{"UTF-8", "1", "0", "0", "1"}));
    QCOMPARE(seen, (QStringList{"not in encoding", "The text cannot be saved as ISO-8859-1.",
                                "Line 1, column 10 holds \"\xc5\xbc\" (U+017C), which this file's encoding cannot store."}));
    QCOMPARE(readBytes(path), polishUtf8);
    QCOMPARE(w.fileFormat().encoding, QStringLiteral("UTF-8"));

    // A new text whose Save As is cancelled keeps its format too.
    QTarnlyxMain fresh(QStringLiteral("subtitles.txt"));
    answers.then(saveFormat(QStringLiteral("windows-1250"), false, true)).then(chooseFile(QString()));
    QVERIFY(!fresh.saveWithEncoding());
    QCOMPARE(answers.pending(), 0);
    QCOMPARE(fresh.fileFormat().encoding, QStringLiteral("UTF-8"));
    QCOMPARE(fresh.fileFormat().lineEnds, LineEnds::LF);
}

QTEST_MAIN(TestFileFormats)
#include "tst_fileformats.moc"
