// Saving under real conditions: links, owners, ACLs and attributes, other
// users, full disks, names that are not UTF-8, files cut short while read.
#include "clirun.h"
#include "files/filelinks.h"
#include "files/filenames.h"
#include "files/filereading.h"
#include "files/filesaving.h"
#include "files/recovery.h"
#include "files/subtitledocument.h"
#include "files/systemcalls.h"
#include "files/unfinishedsaves.h"
#include "formats/subrip.h"
#include "testsupport.h"

#include <QMap>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <csignal>
#include <unistd.h>

namespace {

// Which calls fail while a set of files is put in place.
struct SetFailure
{
    int renameFails = 0, linkFails = 0; // the n-th, with EIO
    bool noExchange = false, noLink = false; // a file system without them
    int renames = 0, links = 0;
} setFailure;

} // namespace

Q_DECLARE_METATYPE(FileSetWriter::Method)
Q_DECLARE_METATYPE(FileError)
Q_DECLARE_METATYPE(SetFailure)

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

// The n-th call of one kind fails with one errno; writes go 4096 bytes at a
// time, so that a failure can come in the middle of a file.
struct Failure
{
    QByteArray call;
    int nth = 0, errnum = 0, seen = 0;
    bool now(const char *name) { return call == name && ++seen == nth && (errno = errnum, true); }
} failure;

const SystemCalls failing{
    [](int fd, const void *data, size_t size) -> ssize_t {
        return failure.now("write") ? -1 : realSystemCalls().write(fd, data, std::min<size_t>(size, 4096));
    },
    [](int fd, const void *data, size_t size, off_t at) -> ssize_t {
        return failure.now("pwrite") ? -1 : realSystemCalls().pwrite(fd, data, std::min<size_t>(size, 4096), at);
    },
    [](int fd) { return failure.now("fsync") ? -1 : realSystemCalls().fsync(fd); },
    [](const char *from, const char *to, unsigned flags) { return failure.now("rename") ? -1 : realSystemCalls().rename(from, to, flags); },
    [](int a, const char *b, int c, const char *d, int e) { return failure.now("linkat") ? -1 : realSystemCalls().linkat(a, b, c, d, e); },
    [](int fd, off_t size) { return failure.now("ftruncate") ? -1 : realSystemCalls().ftruncate(fd, size); },
    [](int fd) {
        const bool fail = failure.now("close");
        const int result = realSystemCalls().close(fd); // closed all the same, as the system does
        return fail ? (errno = failure.errnum, -1) : result;
    },
    realSystemCalls().fstat,
};

// While it lives, state files go to "state" in `dir` (its backup folder
// made, if asked); then where they went, and system calls are real again.
struct StateIn
{
    const QByteArray kept = qgetenv("XDG_STATE_HOME");
    explicit StateIn(const QTemporaryDir &dir, bool backupFolder = false)
    {
        qputenv("XDG_STATE_HOME", QFile::encodeName(dir.filePath(QStringLiteral("state"))));
        if (backupFolder)
            sh(QStringLiteral("mkdir state && mkdir -m 700 state/tarnlyx state/tarnlyx/backup"), dir.path());
    }
    ~StateIn()
    {
        qputenv("XDG_STATE_HOME", kept);
        systemCalls() = realSystemCalls();
    }
};

// Writes `made` over `path` in a child that is killed inside the write over
// the file, half of a piece written (`call` "pwrite"), or once all of it is
// there and flushed ("close"); a save refused before that ends the child.
void killedSave(const QString &path, const QByteArray &made, const QByteArray &call)
{
    const pid_t child = fork();
    if (child == 0) {
        static QByteArray where;
        where = call;
        SystemCalls calls = realSystemCalls();
        calls.pwrite = [](int fd, const void *data, size_t size, off_t at) -> ssize_t {
            if (where == "pwrite")
                realSystemCalls().pwrite(fd, data, size / 2, at), raise(SIGKILL);
            return realSystemCalls().pwrite(fd, data, size, at);
        };
        calls.close = [](int fd) {
            if (where == "close")
                raise(SIGKILL);
            return realSystemCalls().close(fd);
        };
        systemCalls() = calls;
        _exit(writeSubtitleFile(path, made, nullptr) ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
}

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
    void linksInSharedFolders_data();
    void linksInSharedFolders();
    void descriptorsWrittenAsTheyAre();
    void replacedWhileWorking();
    void mountedOnItsName();
    void stateFolderChecked_data();
    void stateFolderChecked();
    void onlyOwnRecoveryFilesOffered();
    void loneLocksGo();
    void recoveryFileRead_data();
    void recoveryFileRead();
    void newFileLeftByAKill();
    void copyHeldUntilRecorded();
    void failureTable_data();
    void failureTable();
    void changedWhileReadByTheEditor();
    void errorWords_data();
    void errorWords();
    void reasonWords_data();
    void reasonWords();
    void restoreSentence();
    void restore_data();
    void restore();
    void severalFiles_data();
    void severalFiles();
    void twoWriters_data();
    void twoWriters();
    void limits_data();
    void limits();
    void stateMessages();
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
    QTest::newRow("inode flags") << "chattr +A +d f.sub" << "f.sub" << M::Renamed << "lsattr f.sub" << false;
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
    FileError error;
    FileSetWriter::Method method;
    QVERIFY2(writeSubtitleFile(dir.filePath(saved), "{1}{2}new", &error, &method), qPrintable(error.message()));
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
    FileError error;
    QVERIFY(!writeSubtitleFile(path, bytes + QByteArray(5000, 'x'), &error));
    QVERIFY2(error.message().contains(QStringLiteral("No space left on device")), qPrintable(error.message()));
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
    // Every character of a name is kept, a U+FEFF as much as a 4-byte one.
    for (const QByteArray &bytes : {QByteArray("\xef\xbb\xbf" "a\xef\xbb\xbf"), QByteArray("\xf0\x9f\x8e\xac\xc3\xa9\x7f")})
        QCOMPARE(nameToNative(nameFromNative(bytes)), bytes);
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

void TestSaving::linksInSharedFolders_data()
{
    QTest::addColumn<QByteArray>("protection"); // fs.protected_symlinks
    QTest::newRow("system protection off") << QByteArray("0");
    QTest::newRow("system protection on") << QByteArray("1");
}

void TestSaving::linksInSharedFolders()
{
    // In a sticky folder anyone may write to, a link is followed only if it
    // is the user's own or the folder owner's, as a shell would: another
    // user's link is refused with the shell's reason, its target untouched.
    REQUIRE_ROOT();
    QFETCH(QByteArray, protection);
    const QString setting = QStringLiteral("/proc/sys/fs/protected_symlinks");
    const QByteArray before = readBytes(setting);
    QVERIFY(writeBytes(setting, protection));
    const auto restore = qScopeGuard([&] { writeBytes(setting, before); });
    QTemporaryDir dir;
    QVERIFY(writeBytes(dir.filePath(QStringLiteral("in.sub")), "{25}{50}x"));
    // Links of root's, of the folder's owner and of another user, in a
    // sticky folder anyone may write to, in one that is not sticky, and in
    // one that only its owner may write to.
    QCOMPARE(sh(QStringLiteral("chmod 755 . && mkdir victim && printf secret > victim/notes.txt && "
                               "mkdir -m 1777 shared && chown nobody shared && mkdir -m 777 open && mkdir -m 1755 own && "
                               "link() { ln -s \"$PWD/victim/$2\" $1 && chown -h $3 $1; } && "
                               "link shared/planted.sub notes.txt daemon && link shared/owners.sub owners.sub nobody && "
                               "link shared/mine.sub mine.sub root && link open/daemon.sub open.sub daemon && "
                               "link own/daemon.sub own.sub daemon && link shared/missing.sub missing.txt daemon"),
                dir.path()),
             QStringLiteral("exit 0"));
    const QString planted = dir.filePath(QStringLiteral("shared/planted.sub"));
    const CliRun r = runTool({"convert", "--to", "tenths", dir.filePath(QStringLiteral("in.sub")), "-o", planted});
    QCOMPARE(r.status, 1);
    QCOMPARE(r.err, "tarnlyx-cli: cannot write \"" + planted.toUtf8() + "\": Permission denied\n");
    FileError error;
    QVERIFY(!writeSubtitleFile(planted, "{1}{2}x", &error));
    QCOMPARE(error.message(), QStringLiteral("cannot write \"%1\": Permission denied").arg(planted));
    QCOMPARE(readBytes(dir.filePath(QStringLiteral("victim/notes.txt"))), QByteArray("secret"));
    // Nor is a file made through one (the editor makes a missing file it opens).
    QVERIFY(!createEmptyFile(dir.filePath(QStringLiteral("shared/missing.sub")), &error));
    QCOMPARE(error.reason(), QStringLiteral("Permission denied"));
    for (const char *name : {"shared/mine.sub", "shared/owners.sub", "open/daemon.sub", "own/daemon.sub"}) {
        QVERIFY2(writeSubtitleFile(dir.filePath(QLatin1String(name)), "{1}{2}x", &error), qPrintable(error.message()));
        QVERIFY(QFileInfo(dir.filePath(QLatin1String(name))).isSymLink());
    }
    QCOMPARE(sh(QStringLiteral("ls victim"), dir.path()),
             QStringLiteral("mine.sub\nnotes.txt\nopen.sub\nown.sub\nowners.sub\nexit 0"));
}

void TestSaving::descriptorsWrittenAsTheyAre()
{
    // Standard output and other open descriptors get the result through
    // the descriptor: what a file holds stays, in append mode the result
    // follows it; nothing is renamed over the file behind it.
    QTemporaryDir dir;
    QVERIFY(writeBytes(dir.filePath(QStringLiteral("in.sub")), "{25}{50}x"));
    const QString run = cli + QStringLiteral(" convert --to tenths in.sub -o ");
    auto check = [&](const QString &command, const QString &expected) {
        QCOMPARE(sh(command.arg(run), dir.path()), expected);
    };
    check(QStringLiteral("echo log > log && %1/dev/stdout >>log && cat log"), QStringLiteral("log\n[10][20]xexit 0"));
    check(QStringLiteral("echo log > log && %1/dev/stderr 2>>log && cat log"), QStringLiteral("log\n[10][20]xexit 0"));
    check(QStringLiteral("echo log > log && %1/dev/fd/4 4>>log && cat log"), QStringLiteral("log\n[10][20]xexit 0"));
    check(QStringLiteral("echo log > log && %1/proc/self/fd/4 4>>log && cat log"), QStringLiteral("log\n[10][20]xexit 0"));
    // This process's descriptor by its number: written at its offset.
    check(QStringLiteral("echo log > log && sh -c 'exec %1/proc/$$/fd/4' 4<>log && cat log"), QStringLiteral("[10][20]xexit 0"));
    // Another process's descriptor: added after what the file holds.
    check(QStringLiteral("echo log > log && exec 4<>log && %1/proc/$$/fd/4 && cat log"), QStringLiteral("log\n[10][20]xexit 0"));
    check(QStringLiteral("%1/dev/stdout | tr x y"), QStringLiteral("[10][20]yexit 0"));
    check(QStringLiteral("exec 3>gone && rm gone && %1/dev/fd/3 && cat /proc/$$/fd/3 && ls"),
          QStringLiteral("[10][20]xin.sub\nlog\nexit 0"));
    check(QStringLiteral("%1/dev/fd/3 3<in.sub"),
          QStringLiteral("tarnlyx-cli: cannot write \"/dev/fd/3\": Bad file descriptor\nexit 1"));
    check(QStringLiteral("%1/dev/fd/9"), QStringLiteral("tarnlyx-cli: cannot write \"/dev/fd/9\": Bad file descriptor\nexit 1"));
}

void TestSaving::replacedWhileWorking()
{
    // Another program puts its own version in place while -i works (the
    // tool held in its flush): it is kept, and the tool says so.
    if (QStandardPaths::findExecutable(QStringLiteral("strace")).isEmpty())
        QSKIP("needs strace");
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("f.sub"));
    QVERIFY(writeBytes(path, "{25}{50}x"));
    QProcess tool;
    tool.setWorkingDirectory(dir.path());
    // LeakSanitizer cannot look at a program another one traces.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ASAN_OPTIONS"), env.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":detect_leaks=0"));
    tool.setProcessEnvironment(env);
    tool.start(QStringLiteral("strace"), {"-o", "trace", "-e", "trace=fsync", "-e", "inject=fsync:delay_exit=2000000",
                                          cli, "shift", "--seconds", "1", "-i", "f.sub"});
    QTRY_VERIFY_WITH_TIMEOUT(readBytes(dir.filePath(QStringLiteral("trace"))).contains("fsync("), 20000);
    QCOMPARE(sh(QStringLiteral("printf theirs > new && mv new f.sub"), dir.path()), QStringLiteral("exit 0"));
    QVERIFY(tool.waitForFinished(20000));
    QCOMPARE(tool.exitCode(), 1);
    QCOMPARE(tool.readAllStandardError(),
             QByteArray("tarnlyx-cli: cannot write \"f.sub\": another program replaced it meanwhile; nothing was written\n"));
    QCOMPARE(readBytes(path), QByteArray("theirs"));
    QCOMPARE(sh(QStringLiteral("ls -A"), dir.path()), QStringLiteral("f.sub\ntrace\nexit 0"));

    // Replaced between reading and opening it for the result: the same.
    FileStamp readFrom = stampOf(path);
    QCOMPARE(sh(QStringLiteral("printf again > new && mv new f.sub"), dir.path()), QStringLiteral("exit 0"));
    FileError error;
    QVERIFY(!writeSubtitleFile(path, "{1}{2}x", &error, nullptr, &readFrom));
    QVERIFY(error.message().endsWith(QStringLiteral("another program replaced it meanwhile; nothing was written")));
    QCOMPARE(readBytes(path), QByteArray("again"));

    // A file another program makes under a new name meanwhile: the same.
    const QString fresh = dir.filePath(QStringLiteral("fresh.sub"));
    FileSetWriter writer;
    writer.open(fresh, &error)->write("{1}{2}x");
    QVERIFY(writeBytes(fresh, "theirs"));
    QVERIFY(!writer.commit(&error));
    QCOMPARE(error.message(), QStringLiteral("cannot write \"%1\": another program replaced it meanwhile; nothing was written").arg(fresh));
    QCOMPARE(readBytes(fresh), QByteArray("theirs"));
}

void TestSaving::mountedOnItsName()
{
    // A file mounted on its name (as /etc/hosts in a container) cannot be
    // replaced: it is written in place, after a copy.
    REQUIRE_ROOT();
    QTemporaryDir dir;
    QVERIFY(writeBytes(dir.filePath(QStringLiteral("f.sub")), "{25}{50}x"));
    QCOMPARE(sh(QStringLiteral("touch hosts && mount --bind f.sub hosts"), dir.path()), QStringLiteral("exit 0"));
    const auto unmount = qScopeGuard([&] { sh(QStringLiteral("umount hosts"), dir.path()); });
    const CliRun r = runTool({"shift", "--seconds", "1", "-i", dir.filePath(QStringLiteral("hosts"))});
    QCOMPARE(r.err, QByteArray());
    QCOMPARE(r.status, 0);
    QCOMPARE(readBytes(dir.filePath(QStringLiteral("f.sub"))), QByteArray("{50}{75}x"));
    QCOMPARE(sh(QStringLiteral("ls -A"), dir.path()), QStringLiteral("f.sub\nhosts\nexit 0"));
}

void TestSaving::stateFolderChecked_data()
{
    QTest::addColumn<QString>("setup"); // in a folder where state/ is XDG_STATE_HOME
    QTest::addColumn<QString>("reason");
    QTest::addColumn<bool>("root");
    QTest::newRow("made fresh, under umask 0277") << "" << "" << true;
    QTest::newRow("tarnlyx a link") << "mkdir state elsewhere && ln -s ../elsewhere state/tarnlyx"
                                    << "\"DIR/state/tarnlyx\": it is a symbolic link, not a folder" << false;
    QTest::newRow("recovery and backup links")
            << "mkdir -p -m 700 state/tarnlyx elsewhere && ln -s ../../elsewhere state/tarnlyx/recovery && "
               "ln -s ../../elsewhere state/tarnlyx/backup"
            << "\"DIR/state/tarnlyx/LEVEL\": it is a symbolic link, not a folder" << false;
    QTest::newRow("tarnlyx a file") << "mkdir state && touch state/tarnlyx" << "\"DIR/state/tarnlyx\": it is not a folder" << false;
    QTest::newRow("another owner's") << "mkdir -p -m 700 state/tarnlyx && chown nobody state/tarnlyx"
                                     << "\"DIR/state/tarnlyx\": it belongs to another user" << true;
    QTest::newRow("mode 0755") << "mkdir -p -m 755 state/tarnlyx"
                               << "\"DIR/state/tarnlyx\": other users may use it (mode 0755, not 0700)" << false;
    QTest::newRow("recovery and backup 0701") << "mkdir -p -m 700 state/tarnlyx && "
                                                 "mkdir -m 701 state/tarnlyx/recovery state/tarnlyx/backup"
                                              << "\"DIR/state/tarnlyx/LEVEL\": other users may use it (mode 0701, not 0700)" << false;
    QTest::newRow("no home") << "unset" << "neither XDG_STATE_HOME nor HOME names a folder to keep it in" << false;
}

void TestSaving::stateFolderChecked()
{
    // Unsaved text and backup copies go only to the user's own folders that
    // no one else may use; anything else is refused with the reason and
    // nothing is written, there or elsewhere.
    QFETCH(QString, setup);
    QFETCH(QString, reason);
    QFETCH(bool, root);
    if (root)
        REQUIRE_ROOT();
    QTemporaryDir dir;
    const QByteArray home = qgetenv("HOME"), state = qgetenv("XDG_STATE_HOME");
    const auto restore = qScopeGuard([&] {
        qputenv("HOME", home);
        qputenv("XDG_STATE_HOME", state);
    });
    const bool rootHad = QFileInfo::exists(QStringLiteral("/.local"));
    if (setup == u"unset") {
        qunsetenv("HOME");
        qunsetenv("XDG_STATE_HOME");
    } else {
        qputenv("XDG_STATE_HOME", QFile::encodeName(dir.filePath(QStringLiteral("state"))));
        if (!setup.isEmpty())
            QCOMPARE(sh(setup, dir.path()), QStringLiteral("exit 0"));
    }
    const QString linked = dir.filePath(QStringLiteral("linked.sub"));
    QVERIFY(writeBytes(linked, "{1}{2}old"));
    QCOMPARE(link(QFile::encodeName(linked).constData(), QFile::encodeName(dir.filePath(QStringLiteral("hard.sub"))).constData()), 0);
    const mode_t mask = umask(setup.isEmpty() ? 0277 : 022);
    FileError recoveryError, backupError;
    RecoveryFile recovery;
    const bool kept = recovery.write(QString(), FileStamp(), QByteArray(), QStringLiteral("typed"), &recoveryError);
    // A file with a second name is written in place after a backup copy.
    const bool saved = writeSubtitleFile(linked, "{1}{2}new", &backupError);
    umask(mask);
    reason.replace(QStringLiteral("DIR"), dir.path());
    QCOMPARE(kept, reason.isEmpty());
    QCOMPARE(saved, reason.isEmpty());
    QCOMPARE(recoveryError.message(), QString(reason).replace(QStringLiteral("LEVEL"), QStringLiteral("recovery")));
    if (!saved)
        QCOMPARE(backupError.message(), QStringLiteral("cannot write \"%1\": no copy of it could be kept before writing over it: %2")
                                      .arg(linked, QString(reason).replace(QStringLiteral("LEVEL"), QStringLiteral("backup"))));
    QCOMPARE(readBytes(linked), saved ? QByteArray("{1}{2}new") : QByteArray("{1}{2}old"));
    QCOMPARE(QDir(dir.filePath(QStringLiteral("elsewhere"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    if (!rootHad)
        QVERIFY(!QFileInfo::exists(QStringLiteral("/.local")));
    if (reason.isEmpty())
        QCOMPARE(sh(QStringLiteral("stat -c '%a %n' state/tarnlyx state/tarnlyx/*"), dir.path()),
                 QStringLiteral("700 state/tarnlyx\n700 state/tarnlyx/backup\n700 state/tarnlyx/recovery\nexit 0"));
    recovery.remove();
}

void TestSaving::onlyOwnRecoveryFilesOffered()
{
    // A recovery file another user put in the folder, or a link there, is
    // never offered back.
    REQUIRE_ROOT();
    QTemporaryDir dir;
    const StateIn state(dir);
    {
        RecoveryFile mine; // left behind, as after a crash
        QVERIFY(mine.write(QString(), FileStamp(), QByteArray(), QStringLiteral("mine"), nullptr));
    }
    QCOMPARE(sh(QStringLiteral("cd state/tarnlyx/recovery && printf 'tarnlyx recovery 1\\n%2Fetc%2Fsudoers\\nplanted' > theirs.txt && "
                               "cp theirs.txt ../../../outside.txt && chown nobody theirs.txt && "
                               "ln -s ../../../outside.txt linked.txt"),
                dir.path()),
             QStringLiteral("exit 0"));
    const QList<RecoveredText> found = RecoveryFile::orphans();
    QCOMPARE(found.size(), 1);
    QCOMPARE(found[0].firstLines, QStringLiteral("mine"));
    QCOMPARE(found[0].fileName, QString());
}

void TestSaving::loneLocksGo()
{
    // A lock whose text was never written goes at the next start, once no
    // window holds it; a held one, and the lock of a kept text, stay.
    QTemporaryDir dir;
    const StateIn state(dir);
    {
        RecoveryFile kept;
        QVERIFY(kept.write(QString(), FileStamp(), QByteArray(), QStringLiteral("kept"), nullptr));
    }
    const QDir folder(RecoveryFile::folder());
    QVERIFY(writeBytes(folder.filePath(QStringLiteral("lone.lock")), QByteArray()));
    QVERIFY(writeBytes(folder.filePath(QStringLiteral("held.lock")), QByteArray()));
    const int held = open(QFile::encodeName(folder.filePath(QStringLiteral("held.lock"))).constData(), O_RDWR | O_CLOEXEC);
    QVERIFY(held >= 0);
    QCOMPARE(flock(held, LOCK_EX | LOCK_NB), 0);
    QCOMPARE(RecoveryFile::orphans().size(), 1);
    close(held);
    QStringList left = folder.entryList(QDir::Files);
    QCOMPARE(left.size(), 3);
    QVERIFY(left.contains(QStringLiteral("held.lock")));
    QVERIFY(!left.contains(QStringLiteral("lone.lock")));
}

void TestSaving::recoveryFileRead_data()
{
    QTest::addColumn<QByteArray>("bytes");     // of the recovery file
    QTest::addColumn<QString>("fileName");     // whose text it is; "-" for no recovery file
    QTest::addColumn<QString>("text");
    // 41 bytes: the rest of 64 KiB ends 1, 2 and 3 bytes into a character
    // of two, three and four bytes.
    const QByteArray head = "tarnlyx recovery 2\n%2Fx%2Fab.sub\n1 2 3 4\n";
    QTest::newRow("three lines") << head + "one\ntwo\nthree" << "/x/ab.sub" << "one\ntwo\nthree";
    QTest::newRow("first form") << QByteArray("tarnlyx recovery 1\n%2Fx%2Fa.sub\none\ntwo\n") << "/x/a.sub" << "one\ntwo\n";
    QTest::newRow("untitled, empty") << QByteArray("tarnlyx recovery 2\n\n\n") << "" << "";
    QTest::newRow("overlong and stray bytes") << head + "a\xc0\xaf\xff\nb\nc" << "/x/ab.sub"
                                              << "a" + QString(QChar(0xdcc0)) + QChar(0xdcaf) + QChar(0xdcff) + "\nb\nc";
    // Lines longer than what is read to list them.
    QTest::newRow("long, two-byte") << head + QString(40000, QChar(0xe9)).toUtf8() + "\nb" << "/x/ab.sub"
                                    << QString(40000, QChar(0xe9)) + "\nb";
    QTest::newRow("long, three-byte") << head + QString(30000, QChar(0x20ac)).toUtf8() << "/x/ab.sub" << QString(30000, QChar(0x20ac));
    const QString smiles = QString::fromUtf8("\xf0\x9f\x98\x80").repeated(20000);
    QTest::newRow("long, four-byte") << head + smiles.toUtf8() << "/x/ab.sub" << smiles;
    QTest::newRow("no stamp line") << QByteArray("tarnlyx recovery 2\n%2Fx%2Fa.sub") << "-" << "";
    QTest::newRow("another file") << QByteArray("tarnlyx notes 2\n\n\n") << "-" << "";
}

void TestSaving::recoveryFileRead()
{
    // A start lists a text from the head of its file (name and first lines),
    // as the whole file would show them, and reads the rest only for a
    // window that takes it; a text that can no longer be read is let go of,
    // never written over.
    QFETCH(QByteArray, bytes);
    QFETCH(QString, fileName);
    QFETCH(QString, text);
    QTemporaryDir dir;
    const StateIn state(dir);
    const QString left = QDir(RecoveryFile::folder()).filePath(QStringLiteral("left.txt"));
    QVERIFY(writeBytes(left, bytes));
    const QList<RecoveredText> found = RecoveryFile::orphans();
    QCOMPARE(found.size(), fileName == u"-" ? 0 : 1);
    if (found.isEmpty())
        return;
    QCOMPARE(found[0].id, QStringLiteral("left"));
    QCOMPARE(found[0].fileName, fileName);
    QCOMPARE(found[0].stamp.exists, bytes.contains("1 2 3 4"));
    const QString firstLines = text.section(u'\n', 0, 1);
    if (firstLines.size() < 1000) {
        QCOMPARE(found[0].firstLines, firstLines);
    } else {
        QVERIFY(firstLines.startsWith(found[0].firstLines));
        QVERIFY(found[0].firstLines.size() > 1000);
    }

    SubtitleDocument document;
    QVERIFY(document.adoptRecovery(found[0]));
    QString whole;
    FileError error;
    QVERIFY(document.readRecovery(&whole, &error));
    QCOMPARE(whole, text);
    QVERIFY(writeBytes(left, "garbled"));
    QVERIFY(!document.readRecovery(&whole, &error));
    QCOMPARE(error.message(), QStringLiteral("it is not a recovery file"));
    document.keepForRecovery(true, QStringLiteral("typed"), [](QString raw) { return raw; });
    document.waitForRecovery();
    QCOMPARE(readBytes(left), QByteArray("garbled"));
    QCOMPARE(QDir(RecoveryFile::folder()).entryList({QStringLiteral("*.txt")}, QDir::Files).size(), 2);
    document.dropRecovery();
}

void TestSaving::newFileLeftByAKill()
{
    // Where the new file cannot be nameless, a kill before it took the old
    // one's place leaves it: the next start removes it, and only it.
    QTemporaryDir dir;
    const StateIn state(dir);
    QVERIFY(writeBytes(dir.filePath(QStringLiteral(".tarnlyx-xyz789")), "not recorded"));
    const pid_t child = fork();
    if (child == 0) {
        auto *record = new TemporaryRecord; // never ended: the program is killed
        const QString left = dir.filePath(QStringLiteral(".tarnlyx-abc123"));
        _exit(record->record(QFile::encodeName(left)) && writeBytes(left, "half") ? 0 : 1);
    }
    int status = -1;
    QCOMPARE(waitpid(child, &status, 0), child);
    QCOMPARE(status, 0);
    QCOMPARE(sh(QStringLiteral("ls -A; ls state/tarnlyx/backup | wc -l"), dir.path()), QStringLiteral(".tarnlyx-abc123\n.tarnlyx-xyz789\nstate\n1\nexit 0"));
    QCOMPARE(unfinishedSaves().size(), 0);
    QCOMPARE(sh(QStringLiteral("ls -A . state/tarnlyx/backup"), dir.path()),
             QStringLiteral(".:\n.tarnlyx-xyz789\nstate\n\nstate/tarnlyx/backup:\nexit 0"));
}

void TestSaving::copyHeldUntilRecorded()
{
    // A start removes a copy of old (or new) bytes that nobody holds and no
    // record names, never one a record names (even a record it cannot
    // read), nor other files. Another program starting after the copies
    // were flushed and before the record names them finds them held, and
    // leaves them.
    QTemporaryDir dir;
    const StateIn state(dir, true);
    static QString backups, seen;
    backups = dir.filePath(QStringLiteral("state/tarnlyx/backup"));
    for (const char *name : {"left.sub-abc123", "left.sub-abc123.new", "kept.sub-abc123", "kept.sub-abc123.new",
                             "kept.sub-abc123.journal", "notes", "cut.sub-abc123", "cut.sub-abc123.new"})
        QVERIFY(writeBytes(backups + u'/' + QLatin1String(name), "tarnlyx save 9\n"));
    QVERIFY(writeBytes(backups + QStringLiteral("/cut.sub-abc123.journal"), "tarnlyx save 1\npath=%2Fa.sub\nbac"));
    QVERIFY(writeBytes(backups + QStringLiteral("/gone.sub-abc123.journal"), QByteArray()));
    QCOMPARE(unfinishedSaves().size(), 0);
    QCOMPARE(QDir(backups).entryList(QDir::Files), QStringList({"kept.sub-abc123", "kept.sub-abc123.journal", "kept.sub-abc123.new", "notes"}));
    for (const char *name : {"kept.sub-abc123", "kept.sub-abc123.journal", "kept.sub-abc123.new", "notes"})
        QVERIFY(QFile::remove(backups + u'/' + QLatin1String(name)));

    const QString path = dir.filePath(QStringLiteral("f.sub"));
    QVERIFY(writeBytes(path, "{1}{2}old\n"));
    QCOMPARE(link(QFile::encodeName(path).constData(), QFile::encodeName(dir.filePath(QStringLiteral("g.sub"))).constData()), 0);
    seen.clear();
    SystemCalls calls = realSystemCalls();
    calls.fsync = [](int fd) {
        const int result = realSystemCalls().fsync(fd);
        if (seen.isEmpty() && result == 0 && QFileInfo(QStringLiteral("/proc/self/fd/%1").arg(fd)).symLinkTarget() == backups + u'/'
            + QDir(backups).entryList({QStringLiteral("*[0-9a-z]")}, QDir::Files).value(0)) { // the copy's
            unfinishedSaves();
            seen = QDir(backups).entryList(QDir::Files).join(u' ') + u'|';
        }
        return result;
    };
    systemCalls() = calls;
    FileError error;
    QVERIFY2(writeSubtitleFile(path, "{1}{2}new\n", &error), qPrintable(error.message()));
    systemCalls() = realSystemCalls();
    QVERIFY2(QRegularExpression(QStringLiteral("^(f\\.sub-\\w{6}) \\1\\.new\\|$")).match(seen).hasMatch(), qPrintable(seen));
    QCOMPARE(readBytes(path), QByteArray("{1}{2}new\n"));
    QCOMPARE(QDir(backups).entryList(QDir::Files | QDir::Hidden), QStringList());
}

void TestSaving::failureTable_data()
{
    QTest::addColumn<bool>("hardLink"); // written in place after a copy, else renamed
    QTest::addColumn<QByteArray>("call");
    QTest::addColumn<int>("nth");
    QTest::addColumn<int>("errnum");
    QTest::addColumn<QString>("reason"); // empty: saved all the same
    const QString none = QStringLiteral("No space left on device"), io = QStringLiteral("Input/output error");
    QTest::newRow("renamed: write, mid-file") << false << QByteArray("write") << 3 << ENOSPC << none;
    QTest::newRow("renamed: write interrupted") << false << QByteArray("write") << 2 << EINTR << QString();
    QTest::newRow("renamed: fsync") << false << QByteArray("fsync") << 1 << EIO << io;
    QTest::newRow("renamed: folder's fsync") << false << QByteArray("fsync") << 2 << EIO << "in place, but its folder could not be flushed";
    QTest::newRow("renamed: linkat") << false << QByteArray("linkat") << 1 << ENOSPC << none;
    QTest::newRow("renamed: close") << false << QByteArray("close") << 1 << EIO << io;
    QTest::newRow("renamed: rename") << false << QByteArray("rename") << 1 << EIO << io;
    QTest::newRow("renamed: rename across devices") << false << QByteArray("rename") << 1 << EXDEV << QString();
    // In place, the new bytes (8 writes) go beside the copy first, then
    // the old ones (5 writes) into the copy.
    QTest::newRow("in place: new bytes' write") << true << QByteArray("write") << 2 << ENOSPC << none;
    QTest::newRow("in place: new bytes' fsync") << true << QByteArray("fsync") << 1 << EIO << io;
    QTest::newRow("in place: copy's write") << true << QByteArray("write") << 10 << ENOSPC << none;
    QTest::newRow("in place: copy's fsync") << true << QByteArray("fsync") << 2 << EIO << io;
    QTest::newRow("in place: record's fsync") << true << QByteArray("fsync") << 3 << EIO << io;
    QTest::newRow("in place: folder's fsync") << true << QByteArray("fsync") << 4 << EIO << io;
    QTest::newRow("in place: pwrite, mid-file") << true << QByteArray("pwrite") << 3 << ENOSPC << none;
    QTest::newRow("in place: ftruncate") << true << QByteArray("ftruncate") << 1 << EIO << io;
    QTest::newRow("in place: fsync") << true << QByteArray("fsync") << 5 << EIO << io;
    QTest::newRow("in place: close") << true << QByteArray("close") << 1 << EIO << io;
}

void TestSaving::failureTable()
{
    // Every call on the write path failing once: the old file stays byte
    // for byte (or, once renamed into place, the new one is said to be),
    // nothing is left beside it or in the backup folder, and the reason is
    // the system's. A write that is interrupted is carried on; a rename
    // across devices writes in place after a copy.
    QFETCH(bool, hardLink);
    QFETCH(QByteArray, call);
    QFETCH(int, nth);
    QFETCH(int, errnum);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const StateIn state(dir, true);
    const QString path = dir.filePath(QStringLiteral("f.sub"));
    const QByteArray old = QByteArray("{1}{2}old\n").repeated(2000), made = QByteArray("{1}{2}new text\n").repeated(2000);
    QVERIFY(writeBytes(path, old));
    if (hardLink)
        QCOMPARE(link(QFile::encodeName(path).constData(), QFile::encodeName(dir.filePath(QStringLiteral("g.sub"))).constData()), 0);
    const QString before = sh(QStringLiteral("ls -A . state/tarnlyx/backup"), dir.path());
    failure = {call, nth, errnum, 0};
    systemCalls() = failing;
    FileError error;
    FileSetWriter::Method method;
    const bool saved = writeSubtitleFile(path, made, &error, &method);
    systemCalls() = realSystemCalls();
    QVERIFY2(failure.seen >= nth, "the call never came");
    if (reason.isEmpty()) {
        QVERIFY2(saved, qPrintable(error.message()));
        QCOMPARE(readBytes(path), made);
    } else {
        QVERIFY(!saved);
        QVERIFY2(error.message().startsWith(QStringLiteral("cannot write \"%1\": ").arg(path)) && error.message().contains(reason), qPrintable(error.message()));
        QCOMPARE(readBytes(path), reason.contains(QStringLiteral("in place")) ? made : old);
        QVERIFY(error.aftermath != FileError::KeptAside); // the message must not send the user to a copy
    }
    QCOMPARE(sh(QStringLiteral("ls -A . state/tarnlyx/backup"), dir.path()), before);
    QCOMPARE(unfinishedSaves().size(), 0);
}

void TestSaving::changedWhileReadByTheEditor()
{
    // Another program appends to the file, or cuts it short, after it was
    // opened and before it is read: it is read again, and the stamp is of
    // what was read; a file that keeps changing is refused.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.sub"));
    static QString changed;
    static int changes = 0;
    const auto restore = qScopeGuard([] { systemCalls() = realSystemCalls(); });
    systemCalls().fstat = [](int fd, struct stat *st) {
        const int result = realSystemCalls().fstat(fd, st);
        if (changes > 0) {
            --changes;
            QFile f(changed);
            f.open(QIODevice::ReadWrite);
            if (f.size() > 100)
                f.resize(20);
            else
                f.seek(f.size()), f.write("{3}{4}appended\n");
        }
        return result;
    };
    changed = path;
    const QByteArray cases[][2] = {{"{1}{2}x\n", "{1}{2}x\n{3}{4}appended"},
                                   {QByteArray("{1}{2}cut short\n").repeated(10), "{1}{2}cut short\n{1}{"}};
    for (const auto &[first, read] : cases) {
        QVERIFY(writeBytes(path, first));
        changes = 1;
        SubtitleText text;
        FileStamp stamp;
        FileError error;
        QVERIFY2(readSubtitleFile(path, text, &error, QString(), &stamp), qPrintable(error.message()));
        QCOMPARE(text.text.toLatin1(), read);
        QCOMPARE(stamp, stampOf(path));
    }
    changes = 3;
    SubtitleText text;
    FileError error;
    QVERIFY(!readSubtitleFile(path, text, &error));
    QCOMPARE(error.message(), QStringLiteral("cannot read \"%1\": another program kept changing it while it was read").arg(path));
}

void TestSaving::errorWords_data()
{
    QTest::addColumn<FileError>("error");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("message");
    using E = FileError;
    const QString file = QStringLiteral("a.sub"), none = QStringLiteral("No space left on device"),
                  io = QStringLiteral("Input/output error");
    auto after = [](E error, E::Aftermath aftermath, const QString &keptIn = QString()) {
        error.aftermath = aftermath;
        error.keptIn = keptIn;
        return error;
    };
    QTest::newRow("nothing went wrong") << E() << "" << "";
    QTest::newRow("write, name holding \": ") << E(E::Write, QStringLiteral("a\": b.sub"), ENOSPC, QStringLiteral("unused"))
                                              << none << "cannot write \"a\": b.sub\": " + none;
    QTest::newRow("create") << E(E::Create, file, EACCES) << "Permission denied"
                            << "cannot create \"a.sub\": Permission denied";
    QTest::newRow("no record") << E(E::Write, file, E(E::Journal, QString(), E(E::StateFile, QStringLiteral("/s/r"), ENOSPC)))
                               << "no record of the save could be kept before writing over it: \"/s/r\": " + none
                               << "cannot write \"a.sub\": no record of the save could be kept before writing over it: \"/s/r\": " + none;
    QTest::newRow("folder not flushed")
            << E(E::Write, file, E(E::FlushFolder, QStringLiteral("/d"), EIO))
            << "the new content is in place, but its folder could not be flushed to disk: " + io
            << "cannot write \"a.sub\": the new content is in place, but its folder could not be flushed to disk: " + io;
    QTest::newRow("put back") << after(E(E::Write, file, ENOSPC), E::PutBack) << none + " (the file was put back as it was)"
                              << "cannot write \"a.sub\": " + none + " (the file was put back as it was)";
    QTest::newRow("kept aside") << after(E(E::Write, file, EIO), E::KeptAside, nameFromNative("/s/caf\xe9-x"))
                                << io + "; its old content is kept in \"/s/caf\\xE9-x\""
                                << "cannot write \"a.sub\": " + io + "; its old content is kept in \"/s/caf\\xE9-x\"";
    QTest::newRow("copy cut short") << E(E::CheckCopy, QStringLiteral("/s/a-x"), 0) << "it is not whole"
                                    << "the copy \"/s/a-x\" is not whole";
    QTest::newRow("copy not removed") << E(E::Remove, QStringLiteral("/s/a-x"), EPERM) << "Operation not permitted"
                                      << "cannot remove \"/s/a-x\": Operation not permitted";
}

void TestSaving::errorWords()
{
    // Every message a user reads about a file is made from these fields;
    // those other tests read whole are not repeated here.
    QFETCH(FileError, error);
    QTEST(error.reason(), "reason");
    QTEST(error.message(), "message");
}

void TestSaving::reasonWords_data()
{
    // Each reason of our own, alone and as a window's sentence under a
    // heading that names a.sub; an error about another file is named whole.
    QTest::addColumn<FileError>("error");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("sentence");
    using E = FileError;
    const QString file = QStringLiteral("a.sub");
    auto other = [](E error, const QString &about, unsigned mode = 0) {
        error.about = about;
        error.mode = mode;
        return error;
    };
    QTest::newRow("said") << E(E::Write, file, QStringLiteral("device gone")) << "device gone" << "Device gone.";
    QTest::newRow("system before reason") << E(E::Write, file, EIO, E::ReplacedMeanwhile) << "Input/output error"
                                          << "Input/output error.";
    QTest::newRow("directory") << E(E::Read, file, E::IsDirectory) << "it is a directory" << "It is a directory.";
    QTest::newRow("folder") << E(E::Read, file, E::IsFolder) << "It is a folder." << "It is a folder.";
    QTest::newRow("not regular") << E(E::Read, file, E::NotRegularFile) << "It is not a regular file."
                                 << "It is not a regular file.";
    QTest::newRow("too large") << E(E::Read, file, E::TooLarge) << "it is larger than 1 GiB" << "It is larger than 1 GiB.";
    QTest::newRow("kept changing") << E(E::Read, file, E::KeptChanging) << "another program kept changing it while it was read"
                                   << "Another program kept changing it while it was read.";
    QTest::newRow("replaced") << E(E::Write, file, E::ReplacedMeanwhile)
                              << "another program replaced it meanwhile; nothing was written"
                              << "Another program replaced it meanwhile; nothing was written.";
    QTest::newRow("changed") << E(E::Write, file, E::ChangedMeanwhile)
                             << "another program changed it meanwhile; nothing was written"
                             << "Another program changed it meanwhile; nothing was written.";
    QTest::newRow("written") << E(E::Write, file, E::WrittenMeanwhile)
                             << "another program wrote to it meanwhile; nothing was written"
                             << "Another program wrote to it meanwhile; nothing was written.";
    QTest::newRow("same file") << other(E(E::Write, file, E::SameFileAs), nameFromNative("/d/caf\xe9"))
                               << "it is the same file as \"/d/caf\\xE9\"" << "It is the same file as \"/d/caf\\xE9\".";
    QTest::newRow("cannot keep aside") << E(E::Write, file, E::CannotKeepAside)
                                       << "its file system cannot keep the old file aside"
                                       << "Its file system cannot keep the old file aside.";
    QTest::newRow("no state home") << E(E::StateFolder, QString(), E::NoStateHome)
                                   << "neither XDG_STATE_HOME nor HOME names a folder to keep it in"
                                   << "Neither XDG_STATE_HOME nor HOME names a folder to keep it in.";
    QTest::newRow("symbolic link") << E(E::StateFolder, QStringLiteral("/s"), E::SymbolicLink)
                                   << "it is a symbolic link, not a folder"
                                   << "\"/s\": it is a symbolic link, not a folder.";
    QTest::newRow("not a folder") << E(E::StateFolder, QStringLiteral("/s"), E::NotAFolder) << "it is not a folder"
                                  << "\"/s\": it is not a folder.";
    QTest::newRow("another user's") << E(E::StateFolder, QStringLiteral("/s"), E::OtherUsersOwn)
                                    << "it belongs to another user" << "\"/s\": it belongs to another user.";
    QTest::newRow("open to others") << other(E(E::StateFolder, QStringLiteral("/s"), E::OpenToOthers), QString(), 040755)
                                    << "other users may use it (mode 0755, not 0700)"
                                    << "\"/s\": other users may use it (mode 0755, not 0700).";
    QTest::newRow("set-id bits shown") << other(E(E::StateFolder, QStringLiteral("/s"), E::OpenToOthers), QString(), 041777)
                                       << "other users may use it (mode 1777, not 0700)"
                                       << "\"/s\": other users may use it (mode 1777, not 0700).";
    QTest::newRow("not a recovery file") << E(E::StateFile, QString(), E::NotRecoveryFile) << "it is not a recovery file"
                                         << "It is not a recovery file.";
    auto at = [](E error, qint64 line, qint64 column) {
        error.line = line;
        error.column = column;
        return error;
    };
    QTest::newRow("not in encoding") << at(E(E::Write, file, E::NotInEncoding, QStringLiteral("\u0151")), 3, 12)
                                     << "line 3, column 12 holds \"\u0151\" (U+0151), which this file's encoding cannot store"
                                     << "Line 3, column 12 holds \"\u0151\" (U+0151), which this file's encoding cannot store.";
    QTest::newRow("not in encoding, no file yet")
            << at(E(E::Write, QString(), E::NotInEncoding, QStringLiteral("\U0001F600")), 1, 1)
            << "line 1, column 1 holds \"\U0001F600\" (U+1F600), which this file's encoding cannot store"
            << "Line 1, column 1 holds \"\U0001F600\" (U+1F600), which this file's encoding cannot store.";
    auto misread = [at](qint64 line, qint64 column, int byte) {
        E error = at(E(E::Read, QString(), E::NotEncodedText, QStringLiteral("Shift_JIS")), line, column);
        error.byte = byte;
        return error;
    };
    QTest::newRow("not that encoding's text") << misread(1, 13, 0xe6) << "line 1, byte 13 (0xE6) is not Shift_JIS text"
                                               << "Line 1, byte 13 (0xE6) is not Shift_JIS text.";
    QTest::newRow("small byte shown in two digits") << misread(2, 1, 0x0a) << "line 2, byte 1 (0x0A) is not Shift_JIS text"
                                                     << "Line 2, byte 1 (0x0A) is not Shift_JIS text.";
    QTest::newRow("ends inside a character") << misread(4, 7, -1) << "line 4, byte 7 is not Shift_JIS text"
                                              << "Line 4, byte 7 is not Shift_JIS text.";
    QTest::newRow("not wide text") << E(E::Read, file, E::NotWideText, QStringLiteral("UTF-16LE"))
                                   << "it is not UTF-16LE text" << "It is not UTF-16LE text.";
    QTest::newRow("changed while read") << E(E::Read, file, E::ChangedWhileRead)
                                        << "another program changed it while it was read"
                                        << "Another program changed it while it was read.";
    QTest::newRow("named twice") << E(E::Write, file, E::NamedTwice) << "it is named twice" << "It is named twice.";
    QTest::newRow("being converted") << E(E::Write, QStringLiteral("b.srt"), E::BeingConverted)
                                     << "it is the file being converted"
                                     << "Cannot write \"b.srt\": it is the file being converted.";
    QTest::newRow("result twice") << E(E::Write, file, E::ResultTwice) << "another INPUT's result goes there too"
                                  << "Another INPUT's result goes there too.";
    QTest::newRow("SubRip already") << E(E::Read, file, E::SubRipAlready) << "it is SubRip already"
                                    << "It is SubRip already.";
    QTest::newRow("SubRip to convert") << E(E::Read, file, E::SubRipToConvert)
                                       << "it is a SubRip file: convert it into a line format first"
                                       << "It is a SubRip file: convert it into a line format first.";
    // A cue's own text is shown as it stands, "%1" and all.
    QTest::newRow("no cue number") << cueError(file, {CueProblem::NoCueNumber, 5, QStringLiteral("%1 50%")})
                                   << "line 5: \"%1 50%\" is no cue number" << "Line 5: \"%1 50%\" is no cue number.";
    QTest::newRow("no time line") << cueError(file, {CueProblem::NoTimeLine, 6, QStringLiteral("2")})
                                  << "line 6: cue 2 has no time line \"00:00:00,000 --> 00:00:00,000\""
                                  << "Line 6: cue 2 has no time line \"00:00:00,000 --> 00:00:00,000\".";
    QTest::newRow("cue times too large") << cueError(QString(), {CueProblem::TimesTooLarge, 2, QString()})
                                         << "line 2: the times are too large for the format"
                                         << "Line 2: the times are too large for the format.";
    // A rule file's line that holds no rule; line 0 is a rule given alone.
    auto rule = [](E::Reason why, const QString &about, const QString &value, qint64 line) {
        E error(E::Read, QString(), why, about);
        error.value = value;
        error.line = line;
        error.decimals = 2;
        error.lowest = QStringLiteral("0.5");
        error.highest = QStringLiteral("60");
        return error;
    };
    QTest::newRow("not a rule line") << rule(E::NotNameValue, QStringLiteral("max-cps 17"), QString(), 2)
                                     << "line 2: \"max-cps 17\" is not NAME = VALUE"
                                     << "Line 2: \"max-cps 17\" is not NAME = VALUE.";
    QTest::newRow("not whole") << rule(E::NotWholeNumber, QStringLiteral("max-rows"), QStringLiteral("2.0"), 0)
                               << "max-rows: \"2.0\" is not a whole number" << "Max-rows: \"2.0\" is not a whole number.";
    QTest::newRow("too many decimals") << rule(E::TooManyDecimals, QStringLiteral("max-cps"), QStringLiteral("%1"), 3)
                                       << "line 3: max-cps: \"%1\" is not a number with at most 2 decimals"
                                       << "Line 3: max-cps: \"%1\" is not a number with at most 2 decimals.";
    QTest::newRow("outside range") << rule(E::OutsideRange, QStringLiteral("max-cps"), QStringLiteral("61"), 1)
                                   << "line 1: max-cps: 61 is outside 0.5 to 60" << "Line 1: max-cps: 61 is outside 0.5 to 60.";
    QTest::newRow("neither on nor off") << rule(E::NeitherOnNorOff, QStringLiteral("gap"), QStringLiteral("no"), 1)
                                        << "line 1: gap: \"no\" is neither on nor off"
                                        << "Line 1: gap: \"no\" is neither on nor off.";
    QTest::newRow("no such rule") << rule(E::NoSuchRule, QStringLiteral("speed"), QStringLiteral("3"), 1)
                                  << "line 1: \"speed\" is no rule" << "Line 1: \"speed\" is no rule.";
    QTest::newRow("busy") << E(E::Busy, file, 0) << "another save of it is in progress; nothing was written"
                          << "Another save of it is in progress; nothing was written.";
    QTest::newRow("busy, another file") << E(E::Busy, QStringLiteral("b.sub"), 0)
                                        << "another save of it is in progress; nothing was written"
                                        << "Another save of \"b.sub\" is in progress; nothing was written.";
    QTest::newRow("unsettled") << E(E::Unsettled, file, 0)
                               << "the last save of it did not finish; settle it first with \"tarnlyx-cli recover\""
                               << "The last save of it did not finish; settle it first with \"tarnlyx-cli recover\".";
    QTest::newRow("exists") << E(E::Exists, QStringLiteral("b.sub"), 0) << "it exists; give --force to replace it"
                            << "\"b.sub\" exists; give --force to replace it.";
    QTest::newRow("no memory") << E(E::NoMemory, file, QStringLiteral("write")) << "not enough memory to write it"
                               << "Not enough memory to write it.";
    QTest::newRow("read error, another file") << E(E::Read, QStringLiteral("b.sub"), E::IsDirectory) << "it is a directory"
                                              << "Cannot read \"b.sub\": it is a directory.";
}

void TestSaving::reasonWords()
{
    QFETCH(FileError, error);
    QTEST(error.reason(), "reason");
    QTEST(error.words(FileError::Sentence, QStringLiteral("a.sub")), "sentence");
    // Opening a sentence the window goes on with: the same words, no stop.
    QFETCH(QString, sentence);
    if (error.path.isEmpty() && !error.reason().endsWith(u'.'))
        QCOMPARE(error.words(FileError::Opening) + u'.', sentence);
}

void TestSaving::restoreSentence()
{
    // A window tells a restore in a sentence of its own; the batch tool in
    // the same words, as they are.
    RestoreOutcome outcome;
    outcome.how = RestoreOutcome::KeptBeside;
    outcome.replaced = true;
    outcome.path = QStringLiteral("a.sub");
    outcome.beside = QStringLiteral("a.sub.before-save");
    const QString said = QStringLiteral("another file has the name \"a.sub\" since the save was cut short, so it was left "
                                        "as it is; the content from before the save is in \"a.sub.before-save\"");
    QCOMPARE(outcome.words(FileError::Line), said);
    QCOMPARE(outcome.words(FileError::Sentence), u'A' + said.mid(1) + u'.');
    outcome.how = RestoreOutcome::PutBack;
    QCOMPARE(outcome.words(FileError::Sentence), QStringLiteral("\"a.sub\" has its content from before the save again."));
}

void TestSaving::restore_data()
{
    QTest::addColumn<QByteArray>("killedIn"); // where the save over f.sub (also g.sub) was killed
    QTest::addColumn<QString>("after");       // a shell command in the folder, or "again": another save over it
    QTest::addColumn<QString>("name");        // given to "recover --restore"; empty: "recover" alone
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");     // a pattern; DIR for the folder
    QTest::addColumn<QString>("files");       // f.sub g.sub f.sub.before-save f.sub.before-save-2 after it
    const QString kept = QStringLiteral(" since the save was cut short, so it was left as it is; the content from before the save is in \"DIR/%1\"");
    const QString put = QStringLiteral("\"DIR/%1\" has its content from before the save again");
    QTest::newRow("nothing since") << QByteArray("pwrite") << "" << "f.sub" << 0 << put.arg("f.sub") << "old old - -";
    QTest::newRow("written over in place") << QByteArray("pwrite") << "printf 'newer work' > f.sub" << "f.sub" << 1
                                           << "\"DIR/f.sub\" was written to" + kept.arg("f.sub.before-save") << "newer newer old -";
    QTest::newRow("replaced by mv") << QByteArray("pwrite") << "printf 'newer work' > n && mv n f.sub" << "f.sub" << 1
                                    << "another file has the name \"DIR/f.sub\"" + kept.arg("f.sub.before-save") << "newer damaged old -";
    QTest::newRow("replaced, restored through the other link") << QByteArray("pwrite") << "printf 'newer work' > n && mv n f.sub"
                                                               << "g.sub" << 0 << put.arg("g.sub") << "newer old - -";
    QTest::newRow("deleted") << QByteArray("pwrite") << "rm f.sub g.sub" << "f.sub" << 0
                             << "\"DIR/f.sub\" was deleted since the save was cut short; it was made anew with its content from before the save"
                             << "old - - -";
    // The system may give the new file the old one's inode: its bytes tell.
    QTest::newRow("deleted and made anew") << QByteArray("pwrite") << "rm f.sub g.sub && printf 'newer work' > f.sub" << "f.sub" << 1
                                           << "(another file has the name \"DIR/f.sub\"|\"DIR/f.sub\" was written to)" + kept.arg("f.sub.before-save")
                                           << "newer - old -";
    QTest::newRow("the name beside taken") << QByteArray("pwrite") << "printf 'newer work' > f.sub && printf mine > f.sub.before-save"
                                           << "f.sub" << 1 << "\"DIR/f.sub\" was written to" + kept.arg("f.sub.before-save-2")
                                           << "newer newer mine old";
    QTest::newRow("killed twice") << QByteArray("pwrite") << "again" << "g.sub" << 0 << put.arg("g.sub") << "old old - -";
    // All of it written, the record not yet gone: nothing to ask about.
    QTest::newRow("finished before the kill") << QByteArray("close") << "" << "" << 0 << "" << "new new - -";
}

void TestSaving::restore()
{
    // A save over a hard-linked file killed inside its write: a restore
    // puts the old bytes back only into the very file it damaged, never
    // over newer work (then beside it, as the message says), and makes
    // a deleted one anew. A second save is refused until it is settled.
    QFETCH(QByteArray, killedIn);
    QFETCH(QString, after);
    QFETCH(QString, name);
    QFETCH(QString, message);
    QTemporaryDir dir;
    const StateIn state(dir, true);
    const QString path = dir.filePath(QStringLiteral("f.sub"));
    const QMap<QString, QByteArray> bytes{{"old", QByteArray("{1}{2}old line\n").repeated(300)},
                                          {"new", QByteArray("{1}{2}new  line!\n").repeated(300)},
                                          {"newer", "newer work"}, {"mine", "mine"}, {"-", "<unreadable>"}};
    QVERIFY(writeBytes(path, bytes["old"]));
    QCOMPARE(sh(QStringLiteral("ln f.sub g.sub"), dir.path()), QStringLiteral("exit 0"));
    killedSave(path, bytes["new"], killedIn);
    const QByteArray damaged = readBytes(path);
    if (after == u"again") {
        const CliRun r = runTool({"shift", "--seconds", "1", "-i", path});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.endsWith("tarnlyx-cli: the last save of \"" + path.toUtf8() + "\" did not finish; settle it first with "
                                "\"tarnlyx-cli recover\"\n"), r.err.constData());
        killedSave(path, bytes["new"], killedIn);
        QCOMPARE(readBytes(path), damaged);
    } else if (!after.isEmpty()) {
        QCOMPARE(sh(after, dir.path()), QStringLiteral("exit 0"));
    }
    const CliRun r = runTool(name.isEmpty() ? QStringList{"recover"} : QStringList{"recover", "--restore", dir.filePath(name)});
    QTEST(r.status, "status");
    const QString pattern = message.isEmpty() ? QString() : QStringLiteral("^tarnlyx-cli: %1\n$").arg(message.replace(QStringLiteral("DIR"), QRegularExpression::escape(dir.path())).replace(QStringLiteral(".before"), QStringLiteral("\\.before")));
    QVERIFY2(QRegularExpression(pattern).match(QString::fromUtf8(r.err)).hasMatch(), r.err.constData());
    QCOMPARE(r.out, QByteArray());
    QFETCH(QString, files);
    const QStringList names{"f.sub", "g.sub", "f.sub.before-save", "f.sub.before-save-2"};
    for (int i = 0; i < names.size(); ++i) {
        const QString expected = files.split(u' ')[i];
        QVERIFY2(readBytes(dir.filePath(names[i])) == (expected == u"damaged" ? damaged : bytes[expected]), qPrintable(names[i]));
    }
    QCOMPARE(sh(QStringLiteral("ls -A state/tarnlyx/backup"), dir.path()), QStringLiteral("exit 0"));
}

void TestSaving::severalFiles_data()
{
    QTest::addColumn<QString>("setup"); // in a folder with A/a.sub and B/b.sub
    QTest::addColumn<QString>("to");    // "srt": -i makes A/a.srt and B/b.srt
    QTest::addColumn<SetFailure>("failure");
    QTest::addColumn<QString>("first"); // what became of A's file, as said
    QTest::newRow("the second rename fails") << "" << "" << SetFailure{2, 0, false, false} << "was put back as it was";
    QTest::newRow("the first written in place") << "ln A/a.sub A/link.sub" << "" << SetFailure{1, 0, false, false}
                                                << "was put back as it was";
    QTest::newRow("new files") << "" << "srt" << SetFailure{0, 2, false, false} << "was put back as it was";
    QTest::newRow("no exchange: a second name keeps it") << "" << "" << SetFailure{2, 0, true, false} << "was put back as it was";
    QTest::newRow("no exchange, no second name") << "" << "" << SetFailure{2, 0, true, true}
                                                 << "could not be put back: its file system cannot keep the old file aside";
}

void TestSaving::severalFiles()
{
    // -i on files in two folders, the second failing to take its place:
    // the first is put back (a new file removed again), and the message
    // names both.
    QFETCH(QString, setup);
    QFETCH(QString, to);
    QFETCH(SetFailure, failure);
    QTemporaryDir dir;
    const StateIn state(dir, true);
    const QByteArray old = "{25}{50}x\n";
    QCOMPARE(sh(QStringLiteral("mkdir A B && printf '{25}{50}x\\n' | tee A/a.sub > B/b.sub") + (setup.isEmpty() ? QString() : " && " + setup), dir.path()),
             QStringLiteral("exit 0"));
    const QString before = sh(QStringLiteral("ls -A A B state/tarnlyx/backup"), dir.path());
    const QString a = dir.filePath(QStringLiteral("A/a.sub")), b = dir.filePath(QStringLiteral("B/b.sub"));
    setFailure = failure;
    SystemCalls calls = realSystemCalls();
    calls.rename = [](const char *from, const char *into, unsigned flags) {
        if (flags == RENAME_EXCHANGE && setFailure.noExchange)
            return errno = EINVAL, -1;
        return ++setFailure.renames == setFailure.renameFails ? (errno = EIO, -1) : realSystemCalls().rename(from, into, flags);
    };
    calls.linkat = [](int at, const char *from, int intoAt, const char *into, int flags) {
        if (flags == 0 && setFailure.noLink)
            return errno = EPERM, -1;
        return ++setFailure.links == setFailure.linkFails ? (errno = EIO, -1) : realSystemCalls().linkat(at, from, intoAt, into, flags);
    };
    systemCalls() = calls;
    const CliRun r = to.isEmpty() ? runTool({"shift", "--seconds", "1", "-i", a, b}) : runTool({"convert", "--to", to, "-i", a, b});
    systemCalls() = realSystemCalls();
    QCOMPARE(r.status, 1);
    const QString made = to.isEmpty() ? QString() : QStringLiteral(".") + to;
    QFETCH(QString, first);
    QCOMPARE(QString::fromUtf8(r.err), QStringLiteral("tarnlyx-cli: cannot write \"%1\": Input/output error\ntarnlyx-cli: \"%2\" %3\n")
                                               .arg(made.isEmpty() ? b : dir.filePath("B/b" + made), made.isEmpty() ? a : dir.filePath("A/a" + made), first));
    QCOMPARE(readBytes(a), first.startsWith(u"was") ? old : QByteArray("{50}{75}x\n"));
    QCOMPARE(readBytes(b), old);
    QCOMPARE(sh(QStringLiteral("ls -A A B state/tarnlyx/backup"), dir.path()), before);
}

void TestSaving::twoWriters_data()
{
    QTest::addColumn<bool>("hardLink");  // written in place, else renamed
    QTest::addColumn<QString>("held");   // where strace holds the first run, and how often it makes that call
    QTest::addColumn<int>("heldFor");    // ms
    QTest::addColumn<QString>("second"); // what the second run says
    const QString busy = QStringLiteral("another save of \"f.sub\" is in progress; nothing was written");
    QTest::newRow("in place, held in ftruncate") << true << "ftruncate:1" << 6000 << busy;
    // Held before it writes: the second reads what the first is to replace.
    QTest::newRow("in place, let go while the second waits") << true << "fsync:4" << 1000
                                                             << "cannot write \"f.sub\": another program changed it meanwhile; nothing was written";
    // The first fsync is the new file's, the second its name's record's.
    QTest::newRow("renamed, held before the rename") << false << "fsync:2" << 6000 << busy;
    QTest::newRow("renamed, let go while the second waits") << false << "fsync:2" << 1000
                                                            << "cannot write \"f.sub\": another program replaced it meanwhile; nothing was written";
}

void TestSaving::twoWriters()
{
    // A second run while the first is held inside its save: it waits two
    // seconds for the first, then gives up, or once the first is done finds
    // the file changed; never two successes with one change lost.
    if (QStandardPaths::findExecutable(QStringLiteral("strace")).isEmpty())
        QSKIP("needs strace");
    QFETCH(bool, hardLink);
    QFETCH(QString, held);
    QFETCH(int, heldFor);
    QTemporaryDir dir;
    const StateIn state(dir, true);
    QVERIFY(writeBytes(dir.filePath(QStringLiteral("f.sub")), "{25}{50}x\n"));
    if (hardLink)
        QCOMPARE(sh(QStringLiteral("ln f.sub g.sub"), dir.path()), QStringLiteral("exit 0"));
    const QString call = held.section(u':', 0, 0), nth = held.section(u':', 1);
    QProcess first, other;
    first.setWorkingDirectory(dir.path());
    other.setWorkingDirectory(dir.path());
    // LeakSanitizer cannot look at a program another one traces.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ASAN_OPTIONS"), env.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":detect_leaks=0"));
    first.setProcessEnvironment(env);
    first.start(QStringLiteral("strace"), {"-f", "-o", "trace", "-e", "trace=" + call, "-e",
                                           QStringLiteral("inject=%1:delay_exit=%2:when=%3").arg(call).arg(heldFor * 1000).arg(nth),
                                           cli, "shift", "--seconds", "1", "-i", "f.sub"});
    QTRY_VERIFY_WITH_TIMEOUT(readBytes(dir.filePath(QStringLiteral("trace"))).count(call.toUtf8() + '(') == nth.toInt(), 20000);
    QElapsedTimer waited;
    waited.start();
    other.start(cli, {"shift", "--seconds", "10", "-i", "f.sub"});
    QVERIFY(other.waitForFinished(20000));
    const qint64 ms = waited.elapsed();
    QVERIFY(first.waitForFinished(20000));
    QCOMPARE(first.exitCode(), 0);
    QCOMPARE(other.exitCode(), 1);
    QFETCH(QString, second);
    QCOMPARE(QString::fromUtf8(other.readAllStandardError()), "tarnlyx-cli: " + second + u'\n');
    // The wait is two seconds, not less, and not as long as the first is held.
    if (heldFor > 2000)
        QVERIFY2(ms >= 2000 && ms < 4000, qPrintable(QString::number(ms)));
    else
        QVERIFY2(ms < 2000, qPrintable(QString::number(ms)));
    QCOMPARE(readBytes(dir.filePath(QStringLiteral("f.sub"))), QByteArray("{50}{75}x\n"));
    QCOMPARE(sh(QStringLiteral("ls -A . state/tarnlyx/backup"), dir.path()),
             QStringLiteral(".:\nf.sub\n%1state\ntrace\n\nstate/tarnlyx/backup:\nexit 0").arg(hardLink ? "g.sub\n" : ""));
}

void TestSaving::limits_data()
{
    QTest::addColumn<QString>("args"); // the tool's, on f.sub (6 MB), g.sub (its copy's second name) and s.srt
    QTest::newRow("streamed, renamed") << "shift --seconds 1 -i f.sub";
    QTest::newRow("in place") << "correct -i g.sub";
    QTest::newRow("cues out") << "convert --to srt -i f.sub";
    QTest::newRow("another encoding, line ends") << "--output-encoding UTF-16LE --crlf fps --to 23.976 -i f.sub";
    QTest::newRow("cues in") << "convert --to tenths -i --force s.srt";
}

void TestSaving::limits()
{
    // Too little memory, at any point from the start on: the run ends with
    // words and the files as they were, or does the whole job; never an
    // abort. Without room for a second thread's stack the job is done on
    // one.
#ifdef __SANITIZE_ADDRESS__
    QSKIP("AddressSanitizer needs far more address space than these limits leave");
#endif
    QFETCH(QString, args);
    QTemporaryDir dir;
    const StateIn state(dir, true);
    QByteArray bytes;
    for (int i = 0; bytes.size() < 6000000; ++i)
        bytes += "{" + QByteArray::number(i * 40) + "}{" + QByteArray::number(i * 40 + 30) + "}Caf\xe9  au lait ,please|- Right !\n";
    QVERIFY(writeBytes(dir.filePath(QStringLiteral("f.sub")), bytes));
    QCOMPARE(sh(QStringLiteral("%1 convert --to srt f.sub -o s.srt && cp f.sub h.sub && ln h.sub g.sub && mkdir before expected && "
                               "cp -a f.sub g.sub h.sub s.srt before/ && cp -a f.sub g.sub h.sub s.srt expected/ && "
                               "cd expected && %1 %2 >/dev/null 2>&1").arg(cli, args), dir.path()),
             QStringLiteral("exit 0"));
    // The files, what is beside them, and the backup folder.
    const QString look = QStringLiteral("md5sum *.s[ur][bt] | sed 's|%1/||' | diff - %1.sums; ls -A | grep -v '^[a-z]' ; ls -A state/tarnlyx/backup");
    QCOMPARE(sh(QStringLiteral("for d in before expected; do (cd $d && md5sum *.s[ur][bt] > ../$d.sums); done"), dir.path()), QStringLiteral("exit 0"));
    // One arena: another thread's allocations would each try for one of
    // their own first, which takes seconds near the limit.
    int refused = 0, done = 0;
    for (int limit = 56; limit <= 128; limit += 24) {
        const QString out = sh(QStringLiteral("(ulimit -v %1; MALLOC_ARENA_MAX=1 %2 %3); echo status $?").arg(limit * 1024).arg(cli, args),
                               dir.path());
        if (out.contains(QStringLiteral("status 127")))
            continue; // too little to start at all
        const bool failed = !out.startsWith(QStringLiteral("status 0"));
        QVERIFY2(!failed || out.startsWith(QStringLiteral("tarnlyx-cli: not enough memory to ")), qPrintable(out));
        QCOMPARE(sh(look.arg(failed ? "before" : "expected"), dir.path()), QStringLiteral("exit 0"));
        QCOMPARE(sh(QStringLiteral("rm -f f.srt s.sub && cp before/*.s* ."), dir.path()), QStringLiteral("exit 0"));
        ++(failed ? refused : done);
    }
    QVERIFY(refused > 0 && done > 0);
    // A second thread's stack of 4 GB is not to be had in 3 GB.
    QCOMPARE(sh(QStringLiteral("(ulimit -s 4000000; ulimit -v 3000000; %1 %2) && %3").arg(cli, args, look.arg("expected")), dir.path()),
             QStringLiteral("exit 0"));
}

void TestSaving::stateMessages()
{
    // Messages name what they mean: the backup folder recover cannot use,
    // a save that did not finish as soon as a run starts, a backup folder
    // that is full; past a file size limit, a save fails as any other.
    QTemporaryDir dir;
    const StateIn state(dir, true);
    const QString path = dir.filePath(QStringLiteral("f.sub"));
    QVERIFY(writeBytes(path, QByteArray("{1}{2}old\n").repeated(1000)));
    QCOMPARE(sh(QStringLiteral("ln f.sub g.sub"), dir.path()), QStringLiteral("exit 0"));
    for (const char *limited : {"g.sub", "h.sub"}) {
        QCOMPARE(sh(QStringLiteral("cp f.sub h.sub; (ulimit -f 12; %1 shift --seconds 999999 -i %2); cmp f.sub %2; ls -A state/tarnlyx/backup")
                            .arg(cli, QLatin1String(limited)), dir.path()),
                 QStringLiteral("tarnlyx-cli: cannot write \"%1\": %2File too large\nexit 0")
                         .arg(QLatin1String(limited), limited[0] == 'g' ? QStringLiteral("no copy of it could be kept before writing over it: \"%1/state/tarnlyx/backup\": ").arg(dir.path()) : QString()));
    }
    if (geteuid() == 0) {
        QCOMPARE(sh(QStringLiteral("mount -t tmpfs -o size=64k,mode=0700 tmpfs state/tarnlyx/backup && cat /dev/zero > state/tarnlyx/backup/filler"), dir.path()),
                 QStringLiteral("cat: write error: No space left on device\nexit 1"));
        const CliRun r = runTool({"shift", "-i", path});
        sh(QStringLiteral("umount state/tarnlyx/backup"), dir.path());
        QCOMPARE(QString::fromUtf8(r.err), QStringLiteral("tarnlyx-cli: cannot write \"%1\": no copy of it could be kept before writing over it: "
                                                          "\"%2/state/tarnlyx/backup\": No space left on device\n").arg(path, dir.path()));
    }
    killedSave(path, "{1}{2}new\n", "pwrite");
    QProcess running; // waits for its standard input
    running.start(cli, {"shift"});
    QByteArray said;
    QTRY_VERIFY((said += running.readAllStandardError()).contains("the save of \"" + path.toUtf8() + "\" did not finish"));
    running.closeWriteChannel();
    QVERIFY(running.waitForFinished());
    QCOMPARE(sh(QStringLiteral("chmod 755 state/tarnlyx"), dir.path()), QStringLiteral("exit 0"));
    const QString refused = QStringLiteral("tarnlyx-cli: the backup folder cannot be used: \"%1/state/tarnlyx\": other users may use it "
                                           "(mode 0755, not 0700)\n").arg(dir.path());
    for (const QStringList &args : {QStringList{"recover"}, QStringList{"recover", "--restore", path}}) {
        const CliRun r = runTool(args);
        QCOMPARE(r.status, 1);
        QCOMPARE(QString::fromUtf8(r.err), refused);
    }
}

QTEST_GUILESS_MAIN(TestSaving)
#include "tst_saving.moc"
