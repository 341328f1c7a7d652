// The whole life of saves and their recovery under random schedules: saves
// in place and by rename from processes that run at once, kills inside
// chosen system calls, starts that restore or discard what a kill left,
// other programs that rewrite, replace or remove the file. After every
// step the file holds a complete version, or damage that a start names;
// every saved version is there or can be restored; no save that succeeded
// lost another's change; nothing is left that no start names.
//
// TARNLYX_STRESS_SECONDS bounds the run (5 by default), TARNLYX_STRESS_SEED
// repeats one; the seed is printed.
#include "files/filereading.h"
#include "files/filesaving.h"
#include "files/systemcalls.h"
#include "files/unfinishedsaves.h"
#include "testsupport.h"

#include <QElapsedTimer>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Where a writer is stopped: the n-th call of one kind, before or after the
// system made it; killed there, or paused until told to go on.
struct Trap
{
    QByteArray call;
    int nth = 0;
    bool after = false, kill = false;
    int seen = 0, ready = -1, go = -1;
} trap;

void hit()
{
    if (trap.kill)
        raise(SIGKILL);
    char c = 0;
    if (write(trap.ready, &c, 1) != 1 || read(trap.go, &c, 1) != 1)
        _exit(3);
}

template <typename Call>
auto trapped(const char *name, Call &&call)
{
    const bool here = !trap.call.isEmpty() && trap.call == name && ++trap.seen == trap.nth;
    if (here && !trap.after)
        hit();
    const auto result = call();
    if (here && trap.after)
        hit();
    return result;
}

const SystemCalls trappedCalls{
    [](int fd, const void *data, size_t size) { return trapped("write", [&] { return realSystemCalls().write(fd, data, size); }); },
    [](int fd, const void *data, size_t size, off_t at) {
        // Killed in the middle of a write over the file: half of it there.
        if (trap.kill && !trap.after && trap.call == "pwrite" && trap.seen + 1 == trap.nth)
            realSystemCalls().pwrite(fd, data, size / 2, at), raise(SIGKILL);
        return trapped("pwrite", [&] { return realSystemCalls().pwrite(fd, data, size, at); });
    },
    [](int fd) { return trapped("fsync", [&] { return realSystemCalls().fsync(fd); }); },
    [](const char *from, const char *to, unsigned flags) { return trapped("rename", [&] { return realSystemCalls().rename(from, to, flags); }); },
    [](int a, const char *b, int c, const char *d, int e) { return trapped("linkat", [&] { return realSystemCalls().linkat(a, b, c, d, e); }); },
    [](int fd, off_t size) { return trapped("ftruncate", [&] { return realSystemCalls().ftruncate(fd, size); }); },
    [](int fd) { return trapped("close", [&] { return realSystemCalls().close(fd); }); },
    realSystemCalls().fstat,
};

struct Writer
{
    pid_t pid = -1;
    int id = 0;
    int ready = -1, go = -1; // the pipes of a paused one
};

} // namespace

class TestStress : public QObject
{
    Q_OBJECT

private slots:
    void schedules();

private:
    // One schedule of `steps` random steps in `dir`; false, with the steps
    // so far in `log`, on a violation.
    bool schedule(const QString &dir, int steps, QString &log);
    // Starts a writer: it reads the file, puts a line of its own first and saves,
    // trapped as `trap` says (kill or pause).
    Writer startWriter(const QString &path, const Trap &where);
    // Waits for a writer; true when its save succeeded.
    bool finish(const Writer &writer);
    std::mt19937 m_random;
    int m_nextId = 0;
    QString m_intents; // where each writer leaves what it means to save, before it saves
};

Writer TestStress::startWriter(const QString &path, const Trap &where)
{
    Writer w;
    w.id = ++m_nextId;
    int ready[2], go[2];
    if (pipe(ready) != 0 || pipe(go) != 0)
        return w;
    const QString intent = m_intents + u'/' + QString::number(w.id);
    w.pid = fork();
    if (w.pid == 0) {
        close(ready[0]);
        close(go[1]);
        FileBytes file;
        FileStamp read; // none: the name is free
        QByteArray made;
        if (file.load(path, nullptr)) {
            read = file.stamp();
            made = file.bytes().toByteArray();
        }
        // First, so that every byte after it moves: a save cut short leaves
        // a mix of both.
        made.prepend("{1}{2}w" + QByteArray::number(w.id) + '\n');
        writeBytes(intent, made);
        trap = where;
        trap.ready = ready[1];
        trap.go = go[0];
        systemCalls() = trappedCalls;
        _exit(writeSubtitleFile(path, made, nullptr, nullptr, &read) ? 0 : 1);
    }
    close(ready[1]);
    close(go[0]);
    w.ready = ready[0];
    w.go = go[1];
    return w;
}

bool TestStress::finish(const Writer &writer)
{
    int status = 0;
    waitpid(writer.pid, &status, 0);
    close(writer.ready);
    close(writer.go);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool TestStress::schedule(const QString &dir, int steps, QString &log)
{
    const QString path = dir + QStringLiteral("/f.sub"), link = dir + QStringLiteral("/g.sub");
    m_intents = dir + QStringLiteral("/../intents");
    QDir().mkpath(m_intents);
    auto pick = [&](int n) { return int(m_random() % unsigned(n)); };
    // Every complete version there has been, and the lines of the saves
    // that succeeded since the file last became another program's.
    QSet<QByteArray> known{"{1}{2}start\n"}, others;
    QSet<QByteArray> promised;
    writeBytes(path, "{1}{2}start\n");
    auto intentOf = [&](int id) { return readBytes(m_intents + u'/' + QString::number(id)); };
    // A save that succeeded: built on a complete version, never on damage.
    auto succeeded = [&](int id) {
        const QByteArray made = intentOf(id);
        promised.insert("w" + QByteArray::number(id));
        return known.contains(made.sliced(made.indexOf('\n') + 1));
    };
    auto fail = [&](const QString &what) {
        log += QStringLiteral(" -> ") + what;
        return false;
    };
    for (int step = 0; step < steps; ++step) {
        // Mostly where a kill damages a file written over, or just misses.
        const QByteArray calls[] = {"pwrite", "pwrite", "pwrite", "ftruncate", "fsync", "fsync", "close", "write", "rename", "linkat"};
        const QByteArray call = calls[pick(10)];
        Trap where{call, 1 + pick(call == "fsync" ? 6 : 2), pick(2) == 1, true};
        switch (pick(9)) {
        case 0:
        case 7:
        case 8: { // a save, mostly killed inside a call
            if (pick(4) == 0)
                where.call.clear();
            where.kill = true;
            const Writer w = startWriter(path, where);
            log += QStringLiteral(" save%1(%2)").arg(w.id).arg(where.call.isEmpty() ? QString() : QStringLiteral("kill %1#%2%3").arg(QLatin1String(where.call)).arg(where.nth).arg(where.after ? "+" : ""));
            if (finish(w) && !succeeded(w.id))
                return fail(QStringLiteral("a save built on damage succeeded"));
            known.insert(intentOf(w.id));
            break;
        }
        case 1:
        case 2: { // two at once, the first held inside a call, then let go or killed
            where.kill = false;
            const Writer first = startWriter(path, where);
            char c = 0;
            const bool held = read(first.ready, &c, 1) == 1;
            const Writer second = startWriter(path, Trap());
            usleep(useconds_t(pick(60000)));
            const bool killed = held && pick(3) == 0;
            if (killed)
                kill(first.pid, SIGKILL);
            else if (held && write(first.go, &c, 1) != 1)
                return fail(QStringLiteral("cannot let go"));
            const bool one = finish(first), two = finish(second);
            log += QStringLiteral(" pair%1(%2#%3%4%5)=%6,%7=%8").arg(first.id).arg(QLatin1String(where.call)).arg(where.nth)
                           .arg(where.after ? "+" : "").arg(killed ? " killed" : "").arg(one).arg(second.id).arg(two);
            known.insert(intentOf(first.id));
            known.insert(intentOf(second.id));
            if ((one && !succeeded(first.id)) || (two && !succeeded(second.id)))
                return fail(QStringLiteral("a save built on damage succeeded"));
            break;
        }
        case 3: { // a start: each save that did not finish restored or discarded, or kept
            for (const UnfinishedSave &save : unfinishedSaves()) {
                const int how = pick(4);
                const QString through = how == 1 && QFileInfo::exists(link) ? link : path;
                log += QStringLiteral(" start(%1)").arg(how == 3 ? "keep" : how == 2 ? "discard" : "restore");
                FileError error;
                RestoreOutcome outcome;
                if (how == 2) {
                    const QByteArray kept = readBytes(path);
                    if (!discardUnfinished(save, &error))
                        return fail(error.message());
                    known.insert(kept); // the user's choice now
                    promised.clear();
                } else if (how < 2) {
                    const QByteArray old = readBytes(save.backupPath), before = readBytes(through);
                    if (!restoreUnfinished(save, through, &outcome, &error))
                        return fail(error.message());
                    if (outcome.how == RestoreOutcome::PutBack && others.contains(before) && before != old)
                        return fail(QStringLiteral("restored over another program's work"));
                    if (outcome.how == RestoreOutcome::KeptBeside) {
                        if (readBytes(outcome.beside) != old)
                            return fail(QStringLiteral("not the old bytes beside"));
                        QFile::remove(outcome.beside);
                    }
                }
            }
            break;
        }
        case 4: { // another program: in place, by rename, or anew (the inode may come back), or gone
            const QByteArray theirs = "{1}{2}other " + QByteArray::number(step) + '\n';
            const int how = pick(4);
            log += QStringLiteral(" other(%1)").arg(QStringList{"in place", "renamed", "anew", "removed"}[how]);
            if (how == 1) {
                writeBytes(dir + QStringLiteral("/new"), theirs);
                ::rename(QFile::encodeName(dir + QStringLiteral("/new")).constData(), QFile::encodeName(path).constData());
            } else if (how >= 2) {
                QFile::remove(path);
                QFile::remove(link);
            }
            if (how != 3)
                writeBytes(path, theirs);
            known.insert(how == 3 ? QByteArray() : theirs); // a save may make it anew
            others.insert(theirs);

            promised.clear();
            break;
        }
        default: // a second name, or none: saves in place, or renamed
            if (QFile::remove(link))
                log += QStringLiteral(" unlink");
            else if (::link(QFile::encodeName(path).constData(), QFile::encodeName(link).constData()) == 0)
                log += QStringLiteral(" link");
            break;
        }
        // The file holds a complete version, or what a kill left, which a
        // start names; the saves promised are in it, or in that one's copy.
        QList<UnfinishedSave> saves = unfinishedSaves();
        const QByteArray now = readBytes(path);
        QByteArray holding = now;
        if (QFileInfo::exists(path) && !known.contains(now)) {
            const auto damaged = std::find_if(saves.begin(), saves.end(), [&](const UnfinishedSave &save) {
                SaveDamage damage;
                return inspectUnfinished(save, path, &damage, nullptr) && damage == SaveDamage::Damaged;
            });
            if (damaged == saves.end())
                return fail(QStringLiteral("damage no start names"));
            holding = readBytes(damaged->backupPath);
        }
        for (const QByteArray &line : std::as_const(promised)) {
            if (!holding.contains("{1}{2}" + line + '\n') && QFileInfo::exists(path))
                return fail(QStringLiteral("%1 lost").arg(QLatin1String(line)));
        }
        // Nothing beside the file, and in the backup folder only what a
        // start names.
        QStringList expected;
        for (const UnfinishedSave &save : std::as_const(saves))
            expected << QString::fromUtf8(save.record) << QString::fromUtf8(save.backup) << QString::fromUtf8(save.newBytes);
        expected.sort();
        const QDir backup(QFileInfo(dir + QStringLiteral("/../state/tarnlyx/backup")).absoluteFilePath());
        if (backup.entryList(QDir::Files | QDir::Hidden) != expected)
            return fail(QStringLiteral("left in the backup folder: ") + backup.entryList(QDir::Files | QDir::Hidden).join(u' '));
        if (!QDir(dir).entryList({QStringLiteral(".tarnlyx-*")}, QDir::Files | QDir::Hidden).isEmpty())
            return fail(QStringLiteral("a new file left beside"));
    }
    return true;
}

void TestStress::schedules()
{
    const QByteArray seconds = qgetenv("TARNLYX_STRESS_SECONDS"), given = qgetenv("TARNLYX_STRESS_SEED");
    const quint32 seed = given.isEmpty() ? std::random_device()() : given.toUInt();
    qInfo("seed %u (TARNLYX_STRESS_SEED=%u repeats this run)", seed, seed);
    m_random.seed(seed);
    QTemporaryDir dir;
    qputenv("XDG_STATE_HOME", QFile::encodeName(dir.filePath(QStringLiteral("state"))));
    QElapsedTimer clock;
    clock.start();
    int runs = 0;
    for (; clock.elapsed() < (seconds.isEmpty() ? 5 : seconds.toInt()) * 1000 || runs == 0; ++runs) {
        const QString folder = dir.filePath(QStringLiteral("run%1").arg(runs));
        QDir().mkpath(folder);
        QString log;
        QVERIFY2(schedule(folder, 12, log), qPrintable(QStringLiteral("schedule %1:%2").arg(runs).arg(log)));
        // What the last start kept goes before the next schedule.
        for (const UnfinishedSave &save : unfinishedSaves())
            discardUnfinished(save, nullptr);
    }
    qInfo("%d schedules of 12 steps, no violation", runs);
}

QTEST_GUILESS_MAIN(TestStress)
#include "tst_stress.moc"
