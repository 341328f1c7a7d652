// Reading and writing subtitle files: encodings, line ends, safe saves.
#include "editor/subengine.h"
#include "files/subtitlefile.h"
#include "testsupport.h"

#include <QBuffer>
#include <QFile>
#include <QTest>


namespace {

QByteArray roundTrip(const QByteArray &bytes)
{
    const SubtitleText file = decodeSubtitleBytes(bytes);
    QByteArray out;
    QString error;
    if (!encodeSubtitleText(file.text, file.encoding, file.bom, out, &error))
        return "<error: " + error.toUtf8() + '>';
    return out;
}

} // namespace

class TestSubtitleFile : public QObject
{
    Q_OBJECT

private slots:
    void decode_data();
    void decode();
    void roundTripIsExact_data();
    void roundTripIsExact();
    void streamingRewriteMatchesTheEditor();
    void unwritableCharacter_data();
    void unwritableCharacter();
};

void TestSubtitleFile::decode_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("utf8");
    QTest::addColumn<bool>("bom");
    QTest::newRow("ascii") << QByteArray("{1}{2}a\n{3}{4}b\n") << "{1}{2}a\n{3}{4}b" << true << false;
    QTest::newRow("crlf") << QByteArray("a\r\nb\r\n") << "a\nb" << true << false;
    QTest::newRow("lone cr kept") << QByteArray("a\rb\r") << "a\rb\r" << true << false;
    QTest::newRow("utf-8") << QByteArray("\xc5\xbc\xc3\xb3\xc5\x82w") << QString::fromUtf8("żółw") << true << false;
    QTest::newRow("bom") << QByteArray("\xef\xbb\xbf{1}{2}x\n") << "{1}{2}x" << true << true;
    QTest::newRow("second bom is text") << QByteArray("\xef\xbb\xbf\xef\xbb\xbfx")
                                        << QString(QChar(0xfeff)) + u'x' << true << true;
    QTest::newRow("latin-1") << QByteArray("\xbf\xf3mo?\xa0") << QString::fromUtf8("¿ómo?\u00a0") << false << false;
    QTest::newRow("bom then latin-1") << QByteArray("\xef\xbb\xbf\xe9") << QString::fromLatin1("\xef\xbb\xbf\xe9")
                                      << false << false;
    QTest::newRow("nul") << QByteArray("a\0b", 3) << QString::fromUtf16(u"a\0b", 3) << true << false;
    QTest::newRow("empty") << QByteArray() << "" << true << false;
    QTest::newRow("only newline") << QByteArray("\n") << "" << true << false;
    QTest::newRow("blank last line kept") << QByteArray("a\n\n") << "a\n" << true << false;
}

void TestSubtitleFile::decode()
{
    QFETCH(QByteArray, bytes);
    const SubtitleText file = decodeSubtitleBytes(bytes);
    QTEST(file.text, "text");
    QTEST(file.encoding == FileEncoding::Utf8, "utf8");
    QTEST(file.bom, "bom");
}

void TestSubtitleFile::roundTripIsExact_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("latin-1 with no-break space") << QByteArray("{1}{2}Ol\xe1\xa0se\xf1or\n");
    QTest::newRow("every byte value") << [] {
        QByteArray all;
        for (int i = 0; i < 256; ++i)
            all += char(i);
        return all;
    }();
    QTest::newRow("half utf-8 half latin-1") << QByteArray("\xc5\xbc\xc3\xb3\n\xe9t\xe9");
    QTest::newRow("utf-8 with bom and crlf") << QByteArray("\xef\xbb\xbf\xe4\xb8\x96\r\n\xe7\x95\x8c\r\n");
    QTest::newRow("surrogate bytes are not utf-8") << QByteArray("\xed\xa0\x80x");
    QTest::newRow("overlong is not utf-8") << QByteArray("\xc0\xafx");
    QTest::newRow("noncharacters") << QByteArray("\xef\xbf\xbe\xef\xbf\xbf");
    QTest::newRow("four-byte") << QByteArray("\xf0\x9f\x98\x80");
    QTest::newRow("truncated sequence") << QByteArray("ab\xe4\xb8");
}

void TestSubtitleFile::roundTripIsExact()
{
    QFETCH(QByteArray, bytes);
    QCOMPARE(roundTrip(bytes), expectedRoundTrip(bytes));
}

void TestSubtitleFile::streamingRewriteMatchesTheEditor()
{
    // The batch tool rewrites a large file in pieces on two threads; each
    // piece's last line must still look ahead at the next piece's first,
    // and the pieces must come out in order, whatever the operation.
    QByteArray bytes = "\xef\xbb\xbf";
    for (int i = 0; i < 150000; ++i) {
        const QByteArray n = QByteArray::number(i * 10);
        bytes += (i % 3 == 0 ? "{" + n + "}{}" : "[" + n + "][" + QByteArray::number(i * 10 + 45) + "]");
        bytes += i % 7 == 0 ? "- Za\xc5\xbc\xc3\xb3\xc5\x82\xc4\x87 ,1 000|-  gesi\r\n" : "words only!\n";
    }
    const SubtitleText file = decodeSubtitleBytes(bytes);
    for (int mode = 1; mode <= 5; ++mode) {
        SubEngine whole;
        whole.convertFormat = 2;
        whole.shiftSeconds = -0.26;
        SubEngine streaming = whole;
        QByteArray expected;
        QVERIFY(encodeSubtitleText(whole.linesChange(file.text, mode), file.encoding, file.bom, expected, nullptr));
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        QVERIFY(rewriteSubtitleBytes(streaming, mode, bytes, out, nullptr));
        QVERIFY2(out.data() == expected, qPrintable(QString::number(mode)));
        QCOMPARE(streaming.timeStyle, whole.timeStyle);
    }
}

void TestSubtitleFile::unwritableCharacter_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("encoding");
    QTest::addColumn<QString>("message");
    QTest::newRow("euro in 8-bit") << QString::fromUtf8("ab\ncd\u20ac") << int(FileEncoding::EightBit)
                                   << QString::fromUtf8("line 2, column 3 holds \"\u20ac\" (U+20AC), which "
                                                        "this file's encoding cannot store");
    QTest::newRow("emoji in 8-bit") << QString::fromUtf8("\U0001F600") << int(FileEncoding::EightBit)
                                    << QString::fromUtf8("line 1, column 1 holds \"\U0001F600\" (U+1F600), "
                                                         "which this file's encoding cannot store");
    QTest::newRow("lone surrogate in utf-8") << QString(QChar(0xd800)) << int(FileEncoding::Utf8)
                                             << QStringLiteral("line 1, column 1 holds \"") + QChar(0xd800)
                    + QStringLiteral("\" (U+D800), which this file's encoding cannot store");
}

void TestSubtitleFile::unwritableCharacter()
{
    QFETCH(QString, text);
    QFETCH(int, encoding);
    QByteArray bytes = "untouched";
    QString error;
    QVERIFY(!encodeSubtitleText(text, FileEncoding(encoding), false, bytes, &error));
    QTEST(error, "message");
    QCOMPARE(bytes, "untouched");
}

QTEST_APPLESS_MAIN(TestSubtitleFile)
#include "tst_subtitlefile.moc"
