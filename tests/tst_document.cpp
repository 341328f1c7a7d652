// What a document says of its file: what the disk holds now, the name a
// save proposes, and a read that fails.
#include "testsupport.h"

#include "files/subtitledocument.h"

#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

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

QTEST_GUILESS_MAIN(TestDocument)
#include "tst_document.moc"
