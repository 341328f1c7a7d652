// Subtitle file bytes and text: encodings and their detection, byte-order
// marks, line ends, exact round trips, and the batch tool's rewrite.
#include "files/textcodec.h"
#include "testsupport.h"

#include <QStringEncoder>
#include <QTest>

namespace {

// "FORMAT, LINE ENDS |TEXT|" as read, or the notice of a file read as bytes.
QString readAs(const QByteArray &bytes, const QString &encoding = QString())
{
    static const char *const ends[] = {"LF", "CRLF", "mixed", "CR"};
    const SubtitleText file = decodeSubtitleBytes(bytes, encoding);
    QString out = QStringLiteral("%1, %2 |%3|").arg(describeFormat(file.format), QLatin1String(ends[int(file.format.lineEnds)]), file.text);
    const QString notice = file.notice.reason();
    return notice.isEmpty() ? out : out + QStringLiteral(" (") + notice + u')';
}

} // namespace

class TestSubtitleFile : public QObject
{
    Q_OBJECT

private slots:
    void decode_data();
    void decode();
    void unicodeWithoutMark();
    void unassignedByteKept();
    void roundTripIsExact_data();
    void roundTripIsExact();
    void samples_data();
    void samples();
    void fallbackFollowsTheLanguage_data();
    void fallbackFollowsTheLanguage();
    void unwritableCharacter_data();
    void unwritableCharacter();
};

void TestSubtitleFile::decode_data()
{
    const QByteArray tenLetters = "\xc5\xbc\xc3\xb3\xc5\x82\xc4\x87\xc5\xbc\xc3\xb3\xc5\x82\xc4\x87\xc5\xbc\xc3\xb3";
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("encoding"); // forced; empty to detect
    QTest::addColumn<QString>("expected");
    QTest::newRow("ascii") << QByteArray("{1}{2}a\n{3}{4}b\n") << "" << "UTF-8, LF |{1}{2}a\n{3}{4}b|";
    QTest::newRow("crlf") << QByteArray("a\r\nb\r\n") << "" << "UTF-8, CRLF |a\nb|";
    QTest::newRow("mixed") << QByteArray("a\r\nb\nc") << "" << "UTF-8, mixed |a\nb\nc|";
    QTest::newRow("cr only") << QByteArray("a\rb\r") << "" << "UTF-8, CR |a\nb|";
    QTest::newRow("lone cr in lf file") << QByteArray("a\rb\n") << "" << "UTF-8, LF |a\rb|";
    QTest::newRow("utf-8") << QByteArray("\xc5\xbc\xc3\xb3\xc5\x82w") << "" << QString::fromUtf8("UTF-8, LF |żółw|");
    QTest::newRow("bom") << QByteArray("\xef\xbb\xbf{1}{2}x\n") << "" << "UTF-8 with BOM, LF |{1}{2}x|";
    QTest::newRow("second bom is text") << QByteArray("\xef\xbb\xbf\xef\xbb\xbfx") << "" << QString::fromUtf8("UTF-8 with BOM, LF |\uFEFFx|");
    QTest::newRow("nul") << QByteArray("a\0b", 3) << "" << QString::fromUtf16(u"UTF-8, LF |a\0b|", 15);
    QTest::newRow("empty") << QByteArray() << "" << "UTF-8, LF ||";
    QTest::newRow("only newline") << QByteArray("\n") << "" << "UTF-8, LF ||";
    QTest::newRow("blank last line kept") << QByteArray("a\n\n") << "" << "UTF-8, LF |a\n|";
    QTest::newRow("utf-16le") << QByteArray("\xff\xfe{\0" "1\0}\0\n\0\x7c\x01", 12) << "" << QString::fromUtf8("UTF-16LE with BOM, LF |{1}\nż|");
    QTest::newRow("utf-16be crlf") << QByteArray("\xfe\xff\0a\0\r\0\n\0b", 10) << "" << "UTF-16BE with BOM, CRLF |a\nb|";
    QTest::newRow("utf-32le") << QByteArray("\xff\xfe\0\0x\0\0\0", 8) << "" << "UTF-32LE with BOM, LF |x|";
    QTest::newRow("utf-32be") << QByteArray("\0\0\xfe\xff\0\0\0x", 8) << "" << "UTF-32BE with BOM, LF |x|";
    QTest::newRow("odd utf-16") << QByteArray("\xff\xfex", 3) << "" << QString::fromLatin1("bytes, LF |\xff\xfex| (line 1, byte 1 (0x78) is not UTF-16LE text)");
    // A UTF-8 mark before text that is not UTF-8 stays aside, and the text
    // is read in its own encoding: the first subtitle stays a subtitle.
    QTest::newRow("bom then windows-1250") << QByteArray("\xef\xbb\xbf{1}{2}Zaj\xb9\x9c\xe6 si\xea tym") << ""
                                           << QString::fromUtf8("windows-1250 with BOM, LF |{1}{2}Zająść się tym|");
    // An ISO-8859 answer that the matching windows code page reads alike is
    // that windows page; where the bytes tell them apart, they decide.
    const struct { const char *tag, *written, *expected, *text; } pages[] = {
        {"greek, read alike", "ISO-8859-7", "windows-1253", "{0}{50}Ξεσκεπάζω την ψυχοφθόρα βδελυγμία. Καλημέρα σας, τι κάνετε σήμερα;"},
        {"greek, iso only", "ISO-8859-7", "ISO-8859-7", "{0}{50}Άκου: ξεσκεπάζω την ψυχοφθόρα βδελυγμία. Καλημέρα σας, τι κάνετε σήμερα;"},
        {"polish, iso only", "ISO-8859-2", "ISO-8859-2", "{0}{50}Zażółć gęślą jaźń. Gdzie byłeś wczoraj? Prowadziłem samochód przez całą noc."},
        {"turkish", "ISO-8859-9", "windows-1254", "{0}{50}Pijamalı hasta yağız şoföre çabucak güvendi. Merhaba, nasılsınız?"},
        {"baltic", "ISO-8859-13", "windows-1257", "{0}{50}Įlinkdama fechtuotojo špaga sublykčiojusi pragręžė apvalų arbūzą."},
        {"western", "ISO-8859-1", "windows-1252", "{0}{50}Voix ambiguë d'un zéphyr qui préfère les jattes de kiwis. Très bien."},
    };
    for (const auto &page : pages) {
        const QString text = QString::fromUtf8(page.text);
        QTest::newRow(page.tag) << QByteArray(QStringEncoder(page.written).encode(text)) << ""
                                << QStringLiteral("%1, LF |%2|").arg(QLatin1String(page.expected), text);
    }
    QTest::newRow("forced") << QByteArray(QStringEncoder("KOI8-R").encode(QStringLiteral("{1}{2}Где"))) << "koi8-r" << QString::fromUtf8("KOI8-R, LF |{1}{2}Где|");
    QTest::newRow("forced bytes") << QByteArray("\xc5\xbc") << "bytes" << QString::fromLatin1("bytes, LF |\xc5\xbc|");
    QTest::newRow("forced, does not fit") << QByteArray("ab\ncd\xff\xfe") << "Shift_JIS"
                                          << QString::fromLatin1("bytes, LF |ab\ncd\xff\xfe| (line 2, byte 3 (0xFF) is not Shift_JIS text)");
    // UTF-8 with stray bytes: each is carried as U+DC80..U+DCFF when ten
    // UTF-8 letters or more stand for each one (or UTF-8 is asked for).
    QTest::newRow("forced utf-8, stray byte") << QByteArray("ok\xe9") << "UTF-8" << QString::fromUtf16(u"UTF-8, LF |ok\xDCE9|");
    QTest::newRow("ten letters to a stray byte") << QByteArray(tenLetters + "\xe9") << "" << QString::fromUtf8("UTF-8, LF |żółćżółćżó") + QChar(0xDCE9) + u'|';
    QTest::newRow("nine letters to a stray byte") << QByteArray(tenLetters.chopped(2) + "\xe9") << "" << QString::fromUtf8("windows-1252, LF |Å¼Ã³Å‚Ä‡Å¼Ã³Å‚Ä‡Å¼é|");
    QTest::newRow("cut short at the end") << QByteArray(tenLetters + tenLetters + "\xe4\xb8") << ""
                                          << QString::fromUtf8("UTF-8, LF |żółćżółćżóżółćżółćżó") + QChar(0xDCE4) + QChar(0xDCB8) + u'|';
    QTest::newRow("overlong") << QByteArray(tenLetters + tenLetters + "\xc0\xaf") << ""
                              << QString::fromUtf8("UTF-8, LF |żółćżółćżóżółćżółćżó") + QChar(0xDCC0) + QChar(0xDCAF) + u'|';
    const QByteArray nineteen = tenLetters + tenLetters.chopped(2) + "\xc0\xaf";
    QTest::newRow("nineteen letters to two bytes") << nineteen << "" << QStringLiteral("windows-1252, LF |%1|").arg(QStringDecoder("windows-1252").decode(nineteen));
    // Overlong: U+0000..U+07FF in three bytes is no UTF-8; U+0800 is.
    QTest::newRow("overlong three bytes") << QByteArray("\xe0\x80\x80\xe0\x9f\xbf") << "" << QString::fromUtf8("windows-1252, LF |\u00e0\u20ac\u20ac\u00e0\u0178\u00bf|");
    QTest::newRow("least three bytes") << QByteArray("\xe0\xa0\x80") << "" << QString::fromUtf8("UTF-8, LF |\u0800|");
    QTest::newRow("windows-1252 cafe") << QByteArray("{1}{2}Un caf\xe9 cr\xe8me, s'il vous pla\xeet.") << ""
                                       << QString::fromLatin1("windows-1252, LF |{1}{2}Un caf\xe9 cr\xe8me, s'il vous pla\xeet.|");
}

void TestSubtitleFile::decode()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, encoding);
    QTEST(readAs(bytes, encoding), "expected");
}

void TestSubtitleFile::unassignedByteKept()
{
    // 0xD2 is no character in windows-1253: asked for it, the file is read
    // as bytes, with a word of why, and saved back as it was.
    const QByteArray bytes = readBytes(sampleFile("encodings/greek.windows-1253.sub")).replace(". ", " \xd2. ");
    const SubtitleText file = decodeSubtitleBytes(bytes, QStringLiteral("windows-1253"));
    QCOMPARE(file.format.encoding, QStringLiteral("bytes"));
    QVERIFY(!file.notice.reason().isEmpty());
    QByteArray out;
    QVERIFY(encodeSubtitleText(file.text, file.format, out, nullptr));
    QCOMPARE(out, bytes);
}

void TestSubtitleFile::unicodeWithoutMark()
{
    // UTF-16 and UTF-32 without a mark: all their code units valid, and a
    // fifth of them (four at least) ASCII, which stands beside NUL bytes.
    auto in = [](const char *encoding, const char *ascii, const QString &more = QString()) {
        return QByteArray(QStringEncoder(encoding).encode(QLatin1String(ascii) + more));
    };
    const QString cjk = QString(16, QChar(0x4E16)); // its UTF-16 bytes are ASCII ones
    const QString pairAtTheSampleEnd = QString(32767, u'a') + QString::fromUtf8("\U0001F600");
    const struct
    {
        const char *tag;
        QByteArray bytes;
        const char *encoding;
    } cases[] = {
        {"a fifth ASCII", in("UTF-16LE", "{1}{", cjk), "UTF-16LE"},
        {"less than a fifth", in("UTF-16LE", "{1}{", cjk + QChar(0x4E16)), "UTF-8"},
        {"four ASCII", in("UTF-16BE", "{1}{"), "UTF-16BE"},
        {"three ASCII", in("UTF-16BE", "{1}"), "UTF-8"},
        {"utf-32", in("UTF-32BE", "{1}{", cjk), "UTF-32BE"},
        {"lone surrogate", in("UTF-16LE", "{1}{2}") + QByteArray("\0\xd8", 2) + in("UTF-16LE", "x"), "windows-1252"},
        {"pair cut short", in("UTF-16LE", "{1}{2}x") + QByteArray("\0\xd8", 2), "windows-1252"},
        {"pair across the sample's end", in("UTF-16LE", "", pairAtTheSampleEnd), "UTF-16LE"},
        {"NULs in UTF-8", QByteArray("{1}{2}a\0b\0c\0", 12), "UTF-8"},
    };
    for (const auto &c : cases)
        QVERIFY2(decodeSubtitleBytes(c.bytes).format.encoding == QLatin1String(c.encoding), c.tag);
}

void TestSubtitleFile::roundTripIsExact_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("saved"); // empty: the bytes themselves
    QTest::newRow("latin-1 with no-break space") << QByteArray("{1}{2}Ol\xe1\xa0se\xf1or\n") << QByteArray();
    QTest::newRow("every byte value") << [] {
        QByteArray all;
        for (int i = 0; i < 256; ++i)
            all += char(i);
        return all;
    }() << QByteArray();
    QTest::newRow("half utf-8 half latin-1") << QByteArray("\xc5\xbc\xc3\xb3\n\xe9t\xe9") << QByteArray();
    QTest::newRow("utf-8 with bom and crlf") << QByteArray("\xef\xbb\xbf\xe4\xb8\x96\r\n\xe7\x95\x8c\r\n") << QByteArray();
    QTest::newRow("surrogate bytes are not utf-8") << QByteArray("\xed\xa0\x80x") << QByteArray();
    QTest::newRow("overlong is not utf-8") << QByteArray("\xc0\xafx") << QByteArray();
    QTest::newRow("utf-8 mark before utf-16") << QByteArray("\xef\xbb\xbf{\0001\0}\0{\0002\0}\0c\0a\0f\0\xe9\0", 23) << QByteArray();
    QTest::newRow("noncharacters") << QByteArray("\xef\xbf\xbe\xef\xbf\xbf") << QByteArray();
    QTest::newRow("four-byte") << QByteArray("\xf0\x9f\x98\x80") << QByteArray();
    QTest::newRow("truncated sequence") << QByteArray("ab\xe4\xb8") << QByteArray();
    // Line ends stay as they were, the last one included; mixed ones all
    // become the first line's.
    QTest::newRow("lf, none at the end") << QByteArray("a\nb") << QByteArray();
    QTest::newRow("crlf, none at the end") << QByteArray("a\r\nb") << QByteArray();
    QTest::newRow("cr only") << QByteArray("a\rb\r") << QByteArray();
    QTest::newRow("cr, none at the end") << QByteArray("a\rb") << QByteArray();
    QTest::newRow("trailing empty lines") << QByteArray("a\r\n\r\n\r\n") << QByteArray();
    QTest::newRow("only a line end") << QByteArray("\r\n") << QByteArray();
    QTest::newRow("lone cr before crlf") << QByteArray("a\r\r\nb\r") << QByteArray();
    QTest::newRow("mixed, crlf first") << QByteArray("a\r\nb\nc\n") << QByteArray("a\r\nb\r\nc\r\n");
    QTest::newRow("mixed, lf first") << QByteArray("a\nb\r\nc") << QByteArray("a\nb\nc");
    QTest::newRow("utf-16 with crlf") << QByteArray("\xff\xfe\x41\0\r\0\n\0\x42\0\n\0", 12) << QByteArray("\xff\xfe\x41\0\r\0\n\0\x42\0\r\0\n\0", 14);
    // Bytes that are not UTF-8 in UTF-8 text come back as themselves.
    QTest::newRow("utf-8 with a stray byte") << QByteArray("\xc5\xbc\xc3\xb3\xc5\x82\xc4\x87 \xe9\n") << QByteArray();
    QTest::newRow("mark after a stray byte") << QByteArray("\xc5\xbc").repeated(10) + "\xf4\xef\xbb\xbfx" << QByteArray();
    QTest::newRow("utf-8 cut short, stray") << QByteArray("\xc5\xbc\xc3\xb3\xc5\x82\xc4\x87 \xe4\xb8") << QByteArray();
    QTest::newRow("shift_jis") << QByteArray(QStringEncoder("Shift_JIS").encode(QString::fromUtf8("ポ-ポ|表示"))) << QByteArray();
}

void TestSubtitleFile::roundTripIsExact()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, saved);
    const SubtitleText file = decodeSubtitleBytes(bytes);
    QByteArray out;
    QString error;
    QVERIFY2(encodeSubtitleText(file.text, file.format, out, &error), qPrintable(error));
    QCOMPARE(out, saved.isEmpty() ? bytes : saved);
}

void TestSubtitleFile::samples_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<QString>("firstLine");
    const QString polish = QString::fromUtf8("{0}{50}Zażółć gęślą jaźń.|Gdzie byłeś wczoraj?");
    const QString russian = QString::fromUtf8("{0}{50}Съешь же ещё этих мягких французских булок.|Да, выпей чаю.");
    const QString japanese = QString::fromUtf8("{0}{50}ポーポーと汽笛が鳴った。|どこへ行くの？");
    QTest::newRow("polish") << "polish.windows-1250.sub" << "windows-1250" << polish;
    QTest::newRow("polish, bom") << "polish.bom-then-windows-1250.sub" << "windows-1250 with BOM" << polish;
    QTest::newRow("polish, utf-16") << "polish.UTF-16LE-bom.sub" << "UTF-16LE with BOM" << polish;
    QTest::newRow("czech") << "czech.ISO-8859-2.sub" << "ISO-8859-2" << QString::fromUtf8("[0][30]Příliš žluťoučký kůň úpěl ďábelské ódy.");
    // Read alike in both, a central European file is windows-1250; the
    // Czech one holds letters that only ISO-8859-2 puts where they are.
    QTest::newRow("hungarian") << "hungarian.ISO-8859-2.sub" << "windows-1250" << QString::fromUtf8("{0}{50}Árvíztűrő tükörfúrógép.");
    QTest::newRow("russian") << "russian.windows-1251.sub" << "windows-1251" << russian;
    QTest::newRow("russian, koi8-r") << "russian.KOI8-R.sub" << "KOI8-R" << russian;
    QTest::newRow("russian, utf-16be") << "russian.UTF-16BE-bom.sub" << "UTF-16BE with BOM" << russian;
    QTest::newRow("greek") << "greek.windows-1253.sub" << "windows-1253" << QString::fromUtf8("{0}{50}Άκου: ξεσκεπάζω την ψυχοφθόρα βδελυγμία.");
    QTest::newRow("japanese") << "japanese.Shift_JIS.sub" << "Shift_JIS" << japanese;
    QTest::newRow("japanese, euc-jp") << "japanese.EUC-JP.sub" << "EUC-JP" << japanese;
    QTest::newRow("chinese") << "chinese-simplified.GB18030.sub" << "GB18030" << QString::fromUtf8("{0}{50}我能吞下玻璃而不伤身体。");
    QTest::newRow("chinese, big5") << "chinese-traditional.Big5.sub" << "Big5" << QString::fromUtf8("{0}{50}我能吞下玻璃而不傷身體。許功蓋");
}

void TestSubtitleFile::samples()
{
    // Three lines, and the first line alone (the hard case), are read in
    // their encoding, show their own letters and save byte for byte.
    QFETCH(QString, file);
    QFETCH(QString, firstLine);
    const QByteArray bytes = readBytes(sampleFile("encodings/") + file);
    const qsizetype firstEnd = bytes.indexOf(bytes.startsWith("\xfe\xff") ? QByteArray("\0\r\0\n", 4) : QByteArray("\n"));
    for (const QByteArray &sample : {bytes, bytes.first(firstEnd)}) {
        const SubtitleText text = decodeSubtitleBytes(sample);
        QTEST(describeFormat(text.format), "encoding");
        QCOMPARE(text.text.section(u'\n', 0, 0), firstLine);
        QByteArray out;
        QVERIFY(encodeSubtitleText(text.text, text.format, out, nullptr));
        QCOMPARE(out, sample);
    }
}

void TestSubtitleFile::fallbackFollowsTheLanguage_data()
{
    QTest::addColumn<QByteArray>("locale");
    QTest::addColumn<QString>("expected");
    // Too little text for detection to place: the user's language decides.
    QTest::newRow("polish") << QByteArray("pl_PL.UTF-8") << "windows-1250";
    QTest::newRow("czech") << QByteArray("cs_CZ") << "windows-1250";
    QTest::newRow("russian") << QByteArray("ru_RU.UTF-8") << "windows-1251";
    QTest::newRow("greek") << QByteArray("el_GR.UTF-8") << "windows-1253";
    QTest::newRow("japanese") << QByteArray("ja_JP.UTF-8") << "Shift_JIS";
    QTest::newRow("simplified chinese") << QByteArray("zh_CN.UTF-8") << "GB18030";
    QTest::newRow("traditional chinese") << QByteArray("zh_TW.UTF-8") << "Big5";
    QTest::newRow("korean") << QByteArray("ko_KR.UTF-8") << "EUC-KR";
    QTest::newRow("english") << QByteArray("en_US.UTF-8") << "windows-1252";
    QTest::newRow("c") << QByteArray("C") << "windows-1252";
}

void TestSubtitleFile::fallbackFollowsTheLanguage()
{
    QFETCH(QByteArray, locale);
    qputenv("LC_ALL", locale);
    const SubtitleText file = decodeSubtitleBytes("{1}{2}\x81");
    qunsetenv("LC_ALL");
    // Where the byte is no text in that encoding, the notice names it.
    const QString notice = file.notice.reason();
    QTEST(notice.isEmpty() ? file.format.encoding : notice.section(u' ', 7, 7), "expected");
}

void TestSubtitleFile::unwritableCharacter_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<QString>("message");
    const QString cannot = QStringLiteral("), which this file's encoding cannot store");
    QTest::newRow("euro in bytes") << QString::fromUtf8("ab\ncd\u20ac") << "bytes" << QString::fromUtf8("line 2, column 3 holds \"\u20ac\" (U+20AC") + cannot;
    QTest::newRow("first past latin-1") << QString::fromUtf8("\u0100") << "bytes" << QString::fromUtf8("line 1, column 1 holds \"\u0100\" (U+0100") + cannot;
    QTest::newRow("emoji in bytes") << QString::fromUtf8("\U0001F600") << "bytes" << QString::fromUtf8("line 1, column 1 holds \"\U0001F600\" (U+1F600") + cannot;
    QTest::newRow("cyrillic in windows-1250") << QString::fromUtf8("\u0105\u0416") << "windows-1250" << QString::fromUtf8("line 1, column 2 holds \"\u0416\" (U+0416") + cannot;
    QTest::newRow("emoji in shift_jis") << QString::fromUtf8("ポ\U0001F600") << "Shift_JIS" << QString::fromUtf8("line 1, column 2 holds \"\U0001F600\" (U+1F600") + cannot;
    QTest::newRow("lone surrogate in utf-8") << QString(QChar(0xd800)) << "UTF-8" << QStringLiteral("line 1, column 1 holds \"") + QChar(0xd800) + QStringLiteral("\" (U+D800") + cannot;
}

void TestSubtitleFile::unwritableCharacter()
{
    QFETCH(QString, text);
    QFETCH(QString, encoding);
    QByteArray bytes = "untouched";
    QString error;
    FileFormat format;
    format.encoding = encoding;
    QVERIFY(!encodeSubtitleText(text, format, bytes, &error));
    QTEST(error, "message");
    QCOMPARE(bytes, "untouched");
}

QTEST_APPLESS_MAIN(TestSubtitleFile)
#include "tst_subtitlefile.moc"
