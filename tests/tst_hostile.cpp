// Files that try to break the editor and the batch tool: each gets a clear
// message or is handled in full, never a crash, a hang, a truncated file or
// a lost text.
#include "app/qtarnlyxmain.h"
#include "clirun.h"
#include "editor/myeditor.h"
#include "modalanswers.h"
#include "testsupport.h"

#include <QBuffer>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>

#include <sys/stat.h>
#include <unistd.h>

namespace {



// Bytes of every value, NUL included, in lines of random length.
QByteArray binaryBytes(int size)
{
    QByteArray bytes;
    quint32 seed = 7;
    for (int i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        bytes += char(seed >> 23);
    }
    return bytes;
}

// A window on `path` with the frame-rate prompt answered.
QTarnlyxMain *windowOn(const QString &path)
{
    ModalAnswers answers;
    answers.then(confirmFrameRate());
    return new QTarnlyxMain(path);
}


} // namespace

class TestHostile : public QObject
{
    Q_OBJECT

private slots:
    void binaryFileWithNuls();
    void halfUtf8HalfLatin1();
    void singleMegabyteLine();
    void hundredMegabytes();
    void directoryAsFileName();
    void pipeIsNotReadByTheEditor();
    void withoutReadPermission();
    void fullDisk();
    void missingDirectory();
};

void TestHostile::binaryFileWithNuls()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("binary.sub"));
    const QByteArray bytes = binaryBytes(200000);
    QVERIFY(writeBytes(path, bytes));

    // Saved unchanged it comes back byte for byte.
    QScopedPointer<QTarnlyxMain> w(windowOn(path));
    QVERIFY(w->save());
    QCOMPARE(readBytes(path), expectedRoundTrip(bytes));

    // Every operation keeps its lines, and the batch tool writes what the
    // editor's walk makes of them.
    for (int mode = 1; mode <= 5; ++mode) {
        const char *const ops[] = {"convert", "shift", "showtime", "fps", "correct"};
        const CliRun r = runTool({QString::fromLatin1(ops[mode - 1]), path});
        QCOMPARE(r.status, 0);
        SubtitleText file = decodeSubtitleBytes(bytes);
        SubEngine engine;
        QByteArray expected;
        QVERIFY(encodeSubtitleText(engine.linesChange(file.text, mode), file.encoding, file.bom,
                                   expected, nullptr));
        QCOMPARE(r.out, expected);
    }
}

void TestHostile::halfUtf8HalfLatin1()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("mixed.sub"));
    const QByteArray bytes = "{1}{2}\xc5\xbc\xc3\xb3\xc5\x82w\n{3}{4}caf\xe9 ,ol\xe1\n";
    QVERIFY(writeBytes(path, bytes));
    QScopedPointer<QTarnlyxMain> w(windowOn(path));
    QVERIFY(w->save());
    QCOMPARE(readBytes(path), expectedRoundTrip(bytes));
    const CliRun r = runTool({QStringLiteral("correct"), path});
    QCOMPARE(r.out, QByteArray("{1}{2}\xc5\xbc\xc3\xb3\xc5\x82w\n{3}{4}caf\xe9, ol\xe1"));
}

void TestHostile::singleMegabyteLine()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("long.sub"));
    QByteArray line = "{25}{50}";
    for (int i = 0; i < 100000; ++i)
        line += "word ,  1 0|-x ";
    QVERIFY(line.size() > 1000000);
    QVERIFY(writeBytes(path, line));

    for (const char *op : {"convert", "shift", "showtime", "fps", "correct"}) {
        const CliRun r = runTool({QString::fromLatin1(op), path});
        QCOMPARE(r.status, 0);
        QVERIFY2(r.out.size() > 1000000, op); // nothing cut off
    }
    QScopedPointer<QTarnlyxMain> w(windowOn(path));
    w->editorWidget()->linesChange(ModeCorrect);
    QVERIFY(w->save());
    QCOMPARE(readBytes(path), runTool({QStringLiteral("correct"), QStringLiteral("-")}, line).out);
}

void TestHostile::hundredMegabytes()
{
    // 1.6 million subtitle lines: the batch tool and the editor handle all
    // of them (how long it takes is the benchmark's business).
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("huge.sub"));
    QByteArray block;
    for (int i = 0; i < 1000; ++i)
        block += "{" + QByteArray::number(i * 100) + "}{" + QByteArray::number(i * 100 + 50)
                + "}Caf\xe9 au lait ,please|- Right away , sir !\n";
    QByteArray bytes;
    while (bytes.size() < 100 * 1000 * 1000)
        bytes += block;
    QVERIFY(writeBytes(path, bytes));
    const qsizetype lines = bytes.count('\n');

    const QString out = dir.filePath(QStringLiteral("out.sub"));
    CliRun r = runTool({QStringLiteral("convert"), QStringLiteral("--to"), QStringLiteral("tenths"), path,
                 QStringLiteral("-o"), out});
    QCOMPARE(r.status, 0);
    const QByteArray converted = readBytes(out);
    QCOMPARE(converted.count('\n'), lines - 1);
    QVERIFY(converted.startsWith("[0][20]Caf\xe9"));
    QVERIFY(converted.endsWith("[39960][39980]Caf\xe9 au lait ,please|- Right away , sir !"));

    QScopedPointer<QTarnlyxMain> w(windowOn(path));
    QCOMPARE(w->editorWidget()->document()->blockCount(), int(lines));
    w->editorWidget()->convertFormat = BracketTime;
    w->editorWidget()->linesChange(ModeConvert);
    QVERIFY(w->save());
    QCOMPARE(readBytes(path), converted);
}

void TestHostile::directoryAsFileName()
{
    QTemporaryDir dir;
    const CliRun r = runTool({QStringLiteral("convert"), dir.path()});
    QCOMPARE(r.status, 1);
    QCOMPARE(r.err, "tarnlyx-cli: cannot read \"" + dir.path().toUtf8() + "\": it is a directory\n");

    QTarnlyxMain w(QStringLiteral("subtitles.txt"));
    ModalAnswers answers;
    QString detail;
    QString text;
    answers.then([&](QWidget *box) {
        text = static_cast<QMessageBox *>(box)->text();
        detail = static_cast<QMessageBox *>(box)->informativeText();
        press(QStringLiteral("OK"))(box);
    });
    QVERIFY(!w.load(dir.path()));
    QCOMPARE(text, QStringLiteral("Error in reading file \"%1\"!").arg(dir.path()));
    QCOMPARE(detail, QStringLiteral("It is a folder."));
}

void TestHostile::pipeIsNotReadByTheEditor()
{
    // Opening a pipe with no writer would block the window for ever.
    QTemporaryDir dir;
    const QString fifo = dir.filePath(QStringLiteral("pipe.sub"));
    QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QTarnlyxMain w(QStringLiteral("subtitles.txt"));
    ModalAnswers answers;
    QString detail;
    answers.then([&](QWidget *box) {
        detail = static_cast<QMessageBox *>(box)->informativeText();
        press(QStringLiteral("OK"))(box);
    });
    QVERIFY(!w.load(fifo));
    QCOMPARE(detail, QStringLiteral("It is not a regular file."));
    QCOMPARE(w.currentFileName(), QString());
}

void TestHostile::withoutReadPermission()
{
    if (geteuid() == 0)
        QSKIP("root may read any file");
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("secret.sub"));
    QVERIFY(writeBytes(path, "{1}{2}x"));
    QFile::setPermissions(path, QFileDevice::WriteOwner);
    const CliRun r = runTool({QStringLiteral("convert"), path});
    QCOMPARE(r.status, 1);
    QVERIFY(r.err.startsWith("tarnlyx-cli: cannot read \"" + path.toUtf8() + "\""));
    QTarnlyxMain w(QStringLiteral("subtitles.txt"));
    ModalAnswers answers;
    answers.then(press(QStringLiteral("OK")));
    QVERIFY(!w.load(path));
    QCOMPARE(answers.seen(), QStringList{QStringLiteral("read error")});
}

void TestHostile::fullDisk()
{
    if (!QFile::exists(QStringLiteral("/dev/full")))
        QSKIP("no /dev/full here");
    const CliRun r = runTool({QStringLiteral("convert"), QStringLiteral("-"), QStringLiteral("-o"),
                       QStringLiteral("/dev/full")},
                      "{1}{2}x\n");
    QCOMPARE(r.status, 1);
    QVERIFY2(r.err.startsWith("tarnlyx-cli: cannot write \"/dev/full\": "), r.err.constData());

    QTarnlyxMain w(QStringLiteral("subtitles.txt"));
    w.editorWidget()->setText(QStringLiteral("{1}{2}kept"));
    w.editorWidget()->document()->setModified(true);
    ModalAnswers answers;
    answers.then(chooseFile(QStringLiteral("/dev/full")));
    QString message;
    answers.then([&](QWidget *box) {
        message = static_cast<QMessageBox *>(box)->text();
        press(QStringLiteral("OK"))(box);
    });
    QVERIFY(!w.saveAs());
    QCOMPARE(message, QStringLiteral("Error in writing file \"/dev/full\"!"));
    QVERIFY(w.editorWidget()->document()->isModified());
    QCOMPARE(w.editorWidget()->text(), QStringLiteral("{1}{2}kept"));
    QVERIFY(!QFileInfo(QStringLiteral("/dev/full")).isFile()); // still the device
}

void TestHostile::missingDirectory()
{
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("gone/out.sub"));
    const CliRun r = runTool({QStringLiteral("convert"), QStringLiteral("-"), QStringLiteral("-o"), target},
                      "{1}{2}x");
    QCOMPARE(r.status, 1);
    QVERIFY(r.err.contains(target.toUtf8()));
    QVERIFY(!QFile::exists(target));

    QTarnlyxMain w(QStringLiteral("subtitles.txt"));
    w.editorWidget()->setText(QStringLiteral("{1}{2}kept"));
    ModalAnswers answers;
    answers.then(chooseFile(target)).then(press(QStringLiteral("OK")));
    QVERIFY(!w.saveAs());
    QCOMPARE(answers.seen().size(), 2);
    QCOMPARE(w.currentFileName(), target); // the next Save tries it again
    QVERIFY(!QFile::exists(target));
}

QTEST_MAIN(TestHostile)
#include "tst_hostile.moc"
