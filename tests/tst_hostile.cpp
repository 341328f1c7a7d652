// Files that try to break the batch tool and the editor: each gets a clear
// message or is handled in full, never a crash, a hang or a truncated file.
#include "app/qtarnlyxmain.h"
#include "clirun.h"
#include "widgets/myeditor.h"
#include "modalanswers.h"
#include "testsupport.h"

#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>

#include <sys/resource.h>

class TestHostile : public QObject
{
    Q_OBJECT

private slots:
    void unreadableInputs_data();
    void unreadableInputs();
    void hugeFile();
};

void TestHostile::unreadableInputs_data()
{
    QTest::addColumn<QString>("input"); // in a fresh folder
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("message");
    QTest::newRow("folder") << "." << "" << "cannot read \"DIR\": it is a directory";
    QTest::newRow("missing") << "missing.sub" << "" << "cannot read \"DIR/missing.sub\": No such file";
    QTest::newRow("missing output folder") << "a.sub" << "gone/out.sub" << "cannot write \"DIR/gone/out.sub\": ";
    QTest::newRow("full device") << "a.sub" << "/dev/full" << "cannot write \"/dev/full\": No space left";
}

void TestHostile::unreadableInputs()
{
    QFETCH(QString, input);
    QFETCH(QString, output);
    QTemporaryDir dir;
    QVERIFY(writeBytes(dir.filePath(QStringLiteral("a.sub")), "{1}{2}x\n"));
    QStringList args{QStringLiteral("convert"), QDir::cleanPath(dir.filePath(input))};
    if (!output.isEmpty())
        args << QStringLiteral("-o") << (output.startsWith(u'/') ? output : dir.filePath(output));
    const CliRun r = runTool(args);
    QCOMPARE(r.status, 1);
    QFETCH(QString, message);
    const QByteArray expected = "tarnlyx-cli: " + message.replace(QStringLiteral("DIR"), dir.path()).toUtf8();
    QVERIFY2(r.err.startsWith(expected), r.err.constData());
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("gone"))));
    QVERIFY(!QFileInfo(QStringLiteral("/dev/full")).isFile());
}

void TestHostile::hugeFile()
{
    // 1.6 million subtitle lines, then one line of 1.5 MB: every operation
    // keeps every line whole, and the editor saves what the batch tool
    // writes (how long it takes is the benchmark's business).
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("huge.sub"));
    QByteArray block;
    for (int i = 0; i < 1000; ++i)
        block += "{" + QByteArray::number(i * 100) + "}{" + QByteArray::number(i * 100 + 50)
                + "}Caf\xe9 au lait ,please|- Right away , sir !\n";
    QByteArray bytes;
    while (bytes.size() < 100 * 1000 * 1000)
        bytes += block;
    const qsizetype lines = bytes.count('\n');
    bytes += "{25}{50}" + QByteArray("word ,  1 0|-x ").repeated(100000);
    QVERIFY(writeBytes(path, bytes));
    const QString out = dir.filePath(QStringLiteral("out.sub"));
    for (const char *op : {"convert", "shift", "showtime", "fps", "correct"}) {
        QCOMPARE(runTool({QString::fromLatin1(op), path, QStringLiteral("-o"), out}).status, 0);
        const QByteArray written = readBytes(out);
        QCOMPARE(written.count('\n'), lines);
        QVERIFY2(written.size() - written.lastIndexOf('\n') > 1000000, op); // nothing cut off
    }

    // With too little memory to read it the editor says so, and the window
    // is a new one.
    struct rlimit unlimited;
    QVERIFY(getrlimit(RLIMIT_AS, &unlimited) == 0);
    const QByteArray status = readBytes(QStringLiteral("/proc/self/status"));
    const qsizetype size = status.indexOf("VmSize:");
    const rlimit tight{rlim_t(status.mid(size + 7, status.indexOf('\n', size) - size - 7).trimmed().chopped(3).toLongLong() * 1024
                             + (150 << 20)), unlimited.rlim_max};
    ModalAnswers answers;
    QString said;
    answers.then([&](QWidget *box) {
        said = static_cast<QMessageBox *>(box)->informativeText();
        press(QStringLiteral("OK"))(box);
    });
    QVERIFY(setrlimit(RLIMIT_AS, &tight) == 0);
    QScopedPointer<QTarnlyxMain> refused(new QTarnlyxMain(path));
    QVERIFY(setrlimit(RLIMIT_AS, &unlimited) == 0);
    QCOMPARE(said, QStringLiteral("Not enough memory to read it."));
    QCOMPARE(refused->currentFileName(), QString());

    answers.then(press(QStringLiteral("OK")));
    QScopedPointer<QTarnlyxMain> w(new QTarnlyxMain(path));
    QCOMPARE(w->editorWidget()->document()->blockCount(), int(lines + 1));
    w->editorWidget()->linesChange(ModeCorrect);
    QVERIFY(w->save());
    QCOMPARE(readBytes(path), readBytes(out));
}

QTEST_MAIN(TestHostile)
#include "tst_hostile.moc"
