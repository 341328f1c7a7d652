// Saving under real conditions: links, owners, ACLs and attributes, other
// users, full disks, names that are not UTF-8, files cut short while read.
#include "clirun.h"
#include "files/filenames.h"
#include "files/filereading.h"
#include "files/filesaving.h"
#include "testsupport.h"

#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <thread>

#include <unistd.h>

Q_DECLARE_METATYPE(FileSetWriter::Method)

namespace {

const QString cli = QStringLiteral(TARNLYX_BUILD_DIR "/tarnlyx-cli");

// A shell command in `dir`: its output, then its exit status.
QString sh(const QString &command, const QString &dir)
{
    QProcess p;
    p.setWorkingDirectory(dir);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command});
    p.waitForFinished(60000);
    return QString::fromLocal8Bit(p.readAll()) + QStringLiteral("exit %1").arg(p.exitCode());
}

#define REQUIRE_ROOT()                                                                       \
    do {                                                                                     \
        if (geteuid() != 0)                                                                  \
            QSKIP("needs root (as in CI): other owners, other users, tmpfs mounts");         \
    } while (false)

} // namespace

class TestSaving : public QObject
{
    Q_OBJECT

private slots:
    void keepsWhatTheFileIs_data();
    void keepsWhatTheFileIs();
    void otherUsers_data();
    void otherUsers();
    void fullDisk_data();
    void fullDisk();
    void namesAreBytes();
    void fileChangedWhileRead();
    void standardStreams();
};

void TestSaving::keepsWhatTheFileIs_data()
{
    QTest::addColumn<QString>("setup");  // in a folder holding f.sub
    QTest::addColumn<QString>("saved");  // the name saved to
    QTest::addColumn<FileSetWriter::Method>("method");
    QTest::addColumn<QString>("probe");  // must print the same before and after
    QTest::addColumn<bool>("root");
    using M = FileSetWriter::Method;
    QTest::newRow("plain") << "chmod 640 f.sub" << "f.sub" << M::Renamed << "stat -c '%a %U %h' f.sub; ls -a" << false;
    QTest::newRow("every mode bit") << "chmod 7755 f.sub" << "f.sub" << M::Renamed << "stat -c %a f.sub" << true;
    QTest::newRow("read-only, saved by root") << "chmod 444 f.sub" << "f.sub" << M::Renamed << "stat -c %a f.sub" << true;
    QTest::newRow("another owner") << "chown nobody:nogroup f.sub" << "f.sub" << M::Renamed << "stat -c %U:%G f.sub" << true;
    QTest::newRow("acl") << "chmod 600 f.sub && setfacl -m u:nobody:rw f.sub" << "f.sub" << M::Renamed
                         << "getfacl -cp f.sub; stat -c %a f.sub" << false;
    QTest::newRow("folder's default acl") << "setfacl -d -m u:nobody:r ." << "f.sub" << M::Renamed << "getfacl -cp f.sub" << false;
    QTest::newRow("extended attribute") << "setfattr -n user.note -v kept f.sub" << "f.sub" << M::Renamed
                                        << "getfattr -d f.sub" << false;
    QTest::newRow("hard link") << "ln f.sub g.sub" << "g.sub" << M::InPlace << "stat -c '%i %h' f.sub g.sub; ls -a" << false;
    QTest::newRow("symbolic link") << "mkdir d && mv f.sub d/ && ln -s d/f.sub l.sub && ln -s l.sub f.sub"
                                   << "f.sub" << M::Renamed << "readlink f.sub l.sub; ls -a d" << false;
}

void TestSaving::keepsWhatTheFileIs()
{
    QFETCH(QString, setup);
    QFETCH(QString, saved);
    QFETCH(QString, probe);
    QFETCH(bool, root);
    if (root)
        REQUIRE_ROOT();
    QTemporaryDir dir;
    QVERIFY(writeBytes(dir.filePath(QStringLiteral("f.sub")), "{1}{2}old text\n"));
    QCOMPARE(sh(setup, dir.path()), QStringLiteral("exit 0"));
    const QString before = sh(probe, dir.path());
    QString error;
    FileSetWriter::Method method;
    QVERIFY2(writeSubtitleFile(dir.filePath(saved), "{1}{2}new", &error, &method), qPrintable(error));
    QTEST(method, "method");
    QCOMPARE(sh(probe, dir.path()), before);
    QCOMPARE(readBytes(dir.filePath(QStringLiteral("f.sub"))), QByteArray("{1}{2}new"));
    // An unwritten save leaves nothing behind either.
    FileSetWriter().open(dir.filePath(saved), &error)->write("never");
    QCOMPARE(sh(probe, dir.path()), before);
}

void TestSaving::otherUsers_data()
{
    QTest::addColumn<QString>("setup"); // as root, in a folder holding f.sub
    QTest::addColumn<QString>("args");  // tarnlyx-cli's, run as nobody
    QTest::addColumn<QString>("expected");
    QTest::newRow("group-writable file of another user")
            << "chmod 777 . && chown root:nogroup f.sub && chmod 664 f.sub" << "-i f.sub"
            << "root:nogroup 664\n{26}{27}x\nexit 0";
    QTest::newRow("writable file, folder not writable")
            << "chmod 755 . && chmod 666 f.sub" << "-i f.sub" << "root:root 666\n{26}{27}x\nexit 0";
    QTest::newRow("new file, folder not writable")
            << "chmod 755 ." << "f.sub -o new.sub"
            << "tarnlyx-cli: cannot write \"new.sub\": cannot create a file in the folder \".\": Permission denied\n"
               "root:root 644\n{1}{2}x\nexit 0";
}

void TestSaving::otherUsers()
{
    REQUIRE_ROOT();
    QFETCH(QString, setup);
    QFETCH(QString, args);
    QTemporaryDir dir;
    QVERIFY(writeBytes(dir.filePath(QStringLiteral("f.sub")), "{1}{2}x"));
    // The tool is copied here: the build folder may be one nobody cannot enter.
    QCOMPARE(sh(setup + QStringLiteral(" && mkdir -m 777 state && cp %1 state/").arg(cli), dir.path()), QStringLiteral("exit 0"));
    const QString run = QStringLiteral("runuser -u nobody -- env XDG_STATE_HOME=\"$PWD/state\" state/tarnlyx-cli shift --seconds 1 %2; "
                                       "stat -c '%U:%G %a' f.sub; cat f.sub; echo; ls -A state/tarnlyx/backup 2>/dev/null; true")
                                .arg(args);
    QTEST(sh(run, dir.path()), "expected");
}

void TestSaving::fullDisk_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("hardLink");
    QTest::newRow("8000 bytes") << 8000 << false;
    QTest::newRow("14770 bytes") << 14770 << false;
    QTest::newRow("40000 bytes") << 40000 << false;
    QTest::newRow("hard link, written in place") << 8000 << true;
}

void TestSaving::fullDisk()
{
    // The batch tool and the editor's save routine say why, and every file
    // is left exactly as it was, with nothing beside it.
    REQUIRE_ROOT();
    QFETCH(int, size);
    QFETCH(bool, hardLink);
    QTemporaryDir dir;
    QCOMPARE(sh(QStringLiteral("mkdir disk && mount -t tmpfs -o size=64k tmpfs disk"), dir.path()), QStringLiteral("exit 0"));
    const auto unmount = qScopeGuard([&] { sh(QStringLiteral("umount -l disk"), dir.path()); });
    QByteArray bytes;
    for (int i = 0; bytes.size() < size; ++i)
        bytes += "{" + QByteArray::number(i * 25) + "}{" + QByteArray::number(i * 25 + 20) + "}Line " + QByteArray::number(i) + "\n";
    bytes.truncate(size);
    const QString path = dir.filePath(QStringLiteral("disk/movie.sub")), other = dir.filePath(QStringLiteral("other.sub"));
    QVERIFY(writeBytes(path, bytes) && writeBytes(other, "{1}{2}x"));
    if (hardLink)
        QCOMPARE(sh(QStringLiteral("ln disk/movie.sub disk/link.sub"), dir.path()), QStringLiteral("exit 0"));
    sh(QStringLiteral("cat /dev/zero > disk/filler"), dir.path()); // to the last byte
    const QString before = sh(QStringLiteral("ls -A disk"), dir.path());

    // With -i, a file that cannot be saved stops the whole run before any
    // file is changed.
    const CliRun r = runTool({"shift", "--seconds", "99999", "-i", other, path});
    QCOMPARE(r.status, 1);
    QVERIFY2(r.err.contains("No space left on device"), r.err.constData());
    QString error;
    QVERIFY(!writeSubtitleFile(path, bytes + QByteArray(5000, 'x'), &error));
    QVERIFY2(error.contains(QStringLiteral("No space left on device")), qPrintable(error));
    QCOMPARE(readBytes(path) + readBytes(other), bytes + "{1}{2}x");
    QCOMPARE(sh(QStringLiteral("ls -A disk"), dir.path()), before);
}

void TestSaving::namesAreBytes()
{
    // Two names that differ only in a byte that is not UTF-8 stay two
    // files, each read and written under its own name.
    QTemporaryDir dir;
    QVERIFY(writeBytes(dir.filePath(QStringLiteral("in.sub")), "{25}{50}x"));
    const QString out = sh(QStringLiteral("%1 convert --to tenths in.sub -o \"$(printf 'caf\\351.txt')\" && "
                                          "%1 shift --seconds 1 in.sub -o \"$(printf 'caf\\350.txt')\" && "
                                          "%1 shift -i \"$(printf 'caf\\351.txt')\" && %1 fps -i \"$(printf 'caf\\347.txt')\"; "
                                          "cat \"$(printf 'caf\\351.txt')\" \"$(printf 'caf\\350.txt')\"")
                                   .arg(cli),
                           dir.path());
    QCOMPARE(out, QStringLiteral("tarnlyx-cli: cannot read \"caf\\xE7.txt\": No such file or directory\n"
                                 "[10][20]x{50}{75}xexit 0"));
    const QString name = nameFromNative(QFile::encodeName(dir.path()) + "/caf\xe9.txt");
    QVERIFY(name.contains(QChar(0xDCE9)));
    QCOMPARE(nameToNative(name), QFile::encodeName(dir.path()) + "/caf\xe9.txt");
    QCOMPARE(shownName(name), dir.path() + QStringLiteral("/caf\\xE9.txt"));
    SubtitleText text;
    QVERIFY(readSubtitleFile(name, text, nullptr));
    QCOMPARE(text.text, QStringLiteral("[10][20]x"));
    sh(QStringLiteral("rm caf*"), dir.path()); // names the toolkit cannot remove
}

void TestSaving::fileChangedWhileRead()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("big.sub"));
    QVERIFY(writeBytes(path, QByteArray(8 << 20, 'x')));
    FileBytes file;
    QVERIFY(file.load(path, nullptr));
    QVERIFY(!file.changedWhileRead());
    QVERIFY(truncate(QFile::encodeName(path).constData(), 100) == 0);
    qint64 sum = 0;
    for (char c : file.bytes())
        sum += c;
    QCOMPARE(sum, 100 * qint64('x')); // the rest reads as zeros
    QVERIFY(file.changedWhileRead());

    // The batch tool says so, and writes nothing, when another program
    // keeps writing to the file while it works on it.
    QVERIFY(writeBytes(path, QByteArray("{1}{2}x\n").repeated(500000)));
    std::atomic<bool> done = false;
    std::thread other([&] {
        QFile f(path);
        for (f.open(QIODevice::Append); !done; f.flush())
            f.write("{1}{2}x\n");
    });
    while (QFileInfo(path).size() == 4000000) // until it writes
        std::this_thread::yield();
    const CliRun r = runTool({"shift", path, "-o", dir.filePath(QStringLiteral("out.sub"))});
    done = true;
    other.join();
    QCOMPARE(r.status, 1);
    QVERIFY2(r.err.endsWith("another program changed it while it was read\n"), r.err.constData());
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("out.sub"))));
}

void TestSaving::standardStreams()
{
    QCOMPARE(sh(QStringLiteral("head -c 1073741825 /dev/zero | %1 shift >/dev/null").arg(cli), QDir::tempPath()),
             QStringLiteral("tarnlyx-cli: cannot read the standard input: it is larger than 1 GiB\nexit 1"));
    QCOMPARE(sh(QStringLiteral("printf '{25}{50}x\\r\\n' | %1 convert --to tenths >/dev/full").arg(cli), QDir::tempPath()),
             QStringLiteral("tarnlyx-cli: cannot write the standard output: No space left on device\nexit 1"));
    QCOMPARE(sh(QStringLiteral("printf '{25}{50}x\\r\\nwords\\n' | %1 convert --to tenths").arg(cli), QDir::tempPath()),
             QStringLiteral("[10][20]x\r\nwords\r\nexit 0"));
}

QTEST_GUILESS_MAIN(TestSaving)
#include "tst_saving.moc"
