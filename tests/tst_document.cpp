// What a document says of its file: what the disk holds now, the name a
// save proposes, a read that fails, and when its text is due for recovery.
#include "testsupport.h"

#include "files/recoverywriter.h"
#include "files/subtitledocument.h"

#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <utility>

using DiskState = SubtitleDocument::DiskState;

class TestDocument : public QObject
{
    Q_OBJECT

private slots:
    void diskState_data();
    void diskState();
    void proposedName_data();
    void proposedName();
    void failedReadKeepsEncoding();
    void cueFileFormat_data();
    void cueFileFormat();
    void recoveryPause();
};

void TestDocument::diskState_data()
{
    // Steps, one letter each: w another program writes the file, d deletes
    // it, k the user keeps the text over that, s the document saves, r it
    // reads the file again, o it reads another file (b.sub), x b.sub goes.
    QTest::addColumn<QString>("steps");
    QTest::addColumn<DiskState>("state");
    QTest::newRow("as read") << "" << DiskState::Same;
    QTest::newRow("written") << "w" << DiskState::Changed;
    QTest::newRow("deleted") << "d" << DiskState::Deleted;
    QTest::newRow("written, kept") << "wk" << DiskState::KeptByUser;
    QTest::newRow("deleted, kept") << "dk" << DiskState::KeptByUser;
    QTest::newRow("kept, written again") << "wkw" << DiskState::Changed;
    QTest::newRow("kept, then deleted") << "wkd" << DiskState::Deleted;
    QTest::newRow("written, saved over") << "ws" << DiskState::Same;
    QTest::newRow("written, read again") << "wr" << DiskState::Same;
    // A change kept for one file says nothing of the next one's.
    QTest::newRow("kept, read again, same change") << "wkrw" << DiskState::Changed;
    QTest::newRow("deletion kept, another file deleted") << "dkox" << DiskState::Deleted;
}

void TestDocument::diskState()
{
    QFETCH(QString, steps);
    QFETCH(DiskState, state);
    QTemporaryDir dir;
    const QString a = dir.filePath(QStringLiteral("a.sub")), b = dir.filePath(QStringLiteral("b.sub"));
    QVERIFY(writeBytes(a, "{1}{2}a\n") && writeBytes(b, "{1}{2}b\n"));
    SubtitleDocument document;
    SubtitleText file;
    FileError error;
    QVERIFY(document.read(a, file, &error));
    int writes = 0;
    for (const QChar step : steps) {
        switch (step.toLatin1()) {
        case 'w':
            // A size of its own each time: the same second may pass.
            QVERIFY(writeBytes(document.fileName(), QByteArray("{1}{2}") + QByteArray(++writes, 'x')));
            break;
        case 'd':
            QVERIFY(QFile::remove(document.fileName()));
            break;
        case 'k':
            document.keepDiskChange();
            break;
        case 's':
            QVERIFY(document.write(SubtitleDocument::planSave(document.fileName(), u"{1}{2}mine\n", document.format()), &error));
            break;
        case 'r':
            QVERIFY(document.read(document.fileName(), file, &error));
            break;
        case 'o':
            QVERIFY(document.read(b, file, &error));
            break;
        case 'x':
            QVERIFY(QFile::remove(b));
            break;
        }
    }
    QCOMPARE(document.diskState(), state);
    QCOMPARE(document.changedOnDisk(), state != DiskState::Same);

    // An untitled text has no file to change.
    document.becomeUntitled(FileFormat(), a);
    QCOMPARE(document.diskState(), DiskState::Same);
}

void TestDocument::proposedName_data()
{
    // The name Save As proposes after reading `read` (a SubRip file turned
    // into lines when `converted`).
    QTest::addColumn<QString>("read");
    QTest::addColumn<bool>("converted");
    QTest::addColumn<QString>("proposed");
    QTest::newRow("untitled") << "" << false << "";
    QTest::newRow("a file") << "a.sub" << false << "a.sub";
    QTest::newRow("converted") << "a.srt" << true << "a.sub";
    QTest::newRow("converted, two dots") << "a.b.srt" << true << "a.b.sub";
    QTest::newRow("converted, no base name") << ".srt" << true << ".srt.sub";
    QTest::newRow("converted, no extension") << "film" << true << "film.sub";
}

void TestDocument::proposedName()
{
    QFETCH(QString, read);
    QFETCH(bool, converted);
    QFETCH(QString, proposed);
    QTemporaryDir dir;
    SubtitleDocument document;
    SubtitleText file;
    FileError error;
    if (!read.isEmpty()) {
        QVERIFY(writeBytes(dir.filePath(read), "1\n00:00:01,000 --> 00:00:02,000\na\n"));
        QVERIFY(document.read(dir.filePath(read), file, &error));
    }
    if (converted)
        document.becomeUntitled(file.format, dir.filePath(read));
    QCOMPARE(document.proposedName(), proposed.isEmpty() ? QString() : dir.filePath(proposed));
    if (!converted)
        return;
    // Until the text is saved, under whatever name; then the file's own.
    const QString saved = dir.filePath(QStringLiteral("elsewhere.txt"));
    QVERIFY(document.write(SubtitleDocument::planSave(saved, u"{1}{2}a\n", document.format()), &error));
    QCOMPARE(document.proposedName(), saved);
}

void TestDocument::failedReadKeepsEncoding()
{
    // Reopen with an encoding that fails to read leaves the document as it
    // was: its file, and the encoding files are read in.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.sub"));
    QVERIFY(writeBytes(path, "{1}{2}a\n"));
    SubtitleDocument document(QStringLiteral("ISO-8859-2"));
    SubtitleText file;
    FileError error;
    QVERIFY(document.readIn(path, QStringLiteral("windows-1250"), file, &error));
    QCOMPARE(document.requestedEncoding(), QStringLiteral("windows-1250"));
    QVERIFY(!document.readIn(dir.path(), QStringLiteral("KOI8-R"), file, &error));
    QVERIFY(error.message().endsWith(QStringLiteral("It is a folder.")));
    QCOMPARE(document.requestedEncoding(), QStringLiteral("windows-1250"));
    QCOMPARE(document.fileName(), path);
    QVERIFY(document.readIn(path, QString(), file, &error));
    QCOMPARE(document.requestedEncoding(), QString());
}

void TestDocument::cueFileFormat_data()
{
    // Export, in the editor and the batch tool alike: UTF-8 without a mark,
    // the text's line ends (CR LF or LF only), a blank line after the last
    // cue where the text ended its last line and there are cues.
    QTest::addColumn<LineEnds>("lineEnds");
    QTest::addColumn<LineEnds>("firstLineEnd");
    QTest::addColumn<bool>("finalLineEnd");
    QTest::addColumn<int>("cues");
    QTest::addColumn<LineEnds>("written");
    QTest::addColumn<bool>("blankAfter");
    QTest::newRow("LF") << LineEnds::LF << LineEnds::LF << true << 1 << LineEnds::LF << true;
    QTest::newRow("CRLF") << LineEnds::CRLF << LineEnds::CRLF << true << 2 << LineEnds::CRLF << true;
    QTest::newRow("CR") << LineEnds::CR << LineEnds::CR << false << 1 << LineEnds::LF << false;
    QTest::newRow("mixed, CRLF first") << LineEnds::Mixed << LineEnds::CRLF << true << 1 << LineEnds::CRLF << true;
    QTest::newRow("mixed, LF first") << LineEnds::Mixed << LineEnds::LF << true << 1 << LineEnds::LF << true;
    QTest::newRow("no cues") << LineEnds::LF << LineEnds::LF << true << 0 << LineEnds::LF << false;
}

void TestDocument::cueFileFormat()
{
    QFETCH(LineEnds, lineEnds);
    QFETCH(LineEnds, firstLineEnd);
    QFETCH(bool, finalLineEnd);
    QFETCH(int, cues);
    QFETCH(LineEnds, written);
    QFETCH(bool, blankAfter);
    FileFormat source;
    source.encoding = QStringLiteral("windows-1250");
    source.bom = true;
    source.lineEnds = lineEnds;
    source.firstLineEnd = firstLineEnd;
    source.finalLineEnd = finalLineEnd;
    const FileFormat format = SubtitleDocument::cueFileFormat(source, cues);
    QCOMPARE(format.encoding, QStringLiteral("UTF-8"));
    QVERIFY(!format.bom);
    QCOMPARE(format.writtenLineEnds(), written);
    QCOMPARE(format.finalLineEnd, blankAfter);

    // The way back: a blank line after the last cue (the text as read has
    // no last line end) is a line end after the last line; the rest of the
    // SubRip file's format stays.
    SubtitleText file;
    file.format = source;
    file.text = QStringLiteral("1\n00:00:01,000 --> 00:00:02,000\na") + (blankAfter ? "\n" : "");
    const FileFormat back = SubtitleDocument::fromSubRipFormat(file);
    QCOMPARE(back.finalLineEnd, blankAfter);
    QCOMPARE(back.encoding, source.encoding);
    QCOMPARE(back.lineEnds, source.lineEnds);
}

void TestDocument::recoveryPause()
{
    // The text is kept for recovery once typing has paused for two
    // seconds, counted from the last key.
    static qint64 now = 0;
    const auto before = std::exchange(RecoveryWriter::clock, [] { return now; });
    const auto restore = qScopeGuard([&] { RecoveryWriter::clock = before; });
    SubtitleDocument document;
    int due = 0;
    connect(&document, &SubtitleDocument::recoveryDue, this, [&due] { ++due; });
    auto *timer = document.findChild<QTimer *>(QStringLiteral("recoveryPause"));
    auto wakeAt = [&](qint64 at) {
        now = at;
        QMetaObject::invokeMethod(timer, "timeout");
        return due;
    };
    document.edited();
    QVERIFY(timer->isActive());
    QCOMPARE(wakeAt(1999), 0);
    QVERIFY(timer->isActive());
    QCOMPARE(wakeAt(2000), 1);
    now = 3000;
    document.edited();
    now = 4500;
    document.edited(); // typing went on
    QCOMPARE(wakeAt(6499), 1);
    QCOMPARE(wakeAt(6500), 2);
    timer->stop();
}

QTEST_GUILESS_MAIN(TestDocument)
#include "tst_document.moc"
