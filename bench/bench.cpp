// Benchmark: each whole-file operation and the checks on a generated
// 200,000-line file, through the engine alone and through tarnlyx-cli end
// to end, SubRip out against the same file converted by ffmpeg, and the
// safe save.
//
//   build/tarnlyx-bench [RUNS] [--cli PATH]
//   build/tarnlyx-bench --saving [RUNS] [--cli PATH]  (only the saves)
//   build/tarnlyx-bench --roads MB [--cli PATH]       (every road's peak memory, on files of MB
//                                                      megabytes; 1024 is 1 GiB)
//   build/tarnlyx-bench --generate FILE               (only write the test file)
//
// Prints medians on this machine and the batch tool's peak memory. --cli
// times another build's batch tool, to compare.
#include "engine/checks.h"
#include "engine/subengine.h"
#include "files/filesaving.h"
#include "files/textcodec.h"
#include "files/unfinishedsaves.h"
#include "generate.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct ProcessResult
{
    double ms = 0;
    long peakKiB = 0;
    int status = -1;
};

// Runs a command and measures it. A child's peak memory includes what it
// had before exec, so the command is started from a small launcher process
// (this program again, before it has touched any data), not from here.
ProcessResult launch(char *const argv[])
{
    QElapsedTimer timer;
    timer.start();
    const pid_t pid = fork();
    if (pid == 0) {
        // What the command prints is not the launcher's answer.
        const int nothing = open("/dev/null", O_WRONLY);
        if (nothing >= 0)
            dup2(nothing, STDOUT_FILENO);
        execv(argv[0], argv);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    ProcessResult r;
    r.ms = timer.nsecsElapsed() / 1e6;
    r.peakKiB = usage.ru_maxrss;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

ProcessResult runProcess(const std::string &self, const std::vector<std::string> &args)
{
    std::string command = "'" + self + "' --launch";
    for (const std::string &a : args)
        command += " '" + a + "'";
    ProcessResult r;
    if (FILE *p = popen(command.c_str(), "r")) {
        if (std::fscanf(p, "%lf %ld %d", &r.ms, &r.peakKiB, &r.status) != 3)
            r.status = -1;
        pclose(p);
    }
    return r;
}

struct Operation
{
    const char *name;
    int mode;
    std::vector<std::string> cliArgs;
};

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size())
        return true;
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
}

// -i by rename and written in place (the file has a second name), and what
// every save adds before it writes: the lock that keeps two saves of a file
// apart and the look for a save of it that did not finish. Failures counted.
int benchSaving(const char *self, const std::string &cli, const QTemporaryDir &dir, int runs)
{
    const QByteArray bytes = generateFile(200000);
    const QString renamed = dir.filePath(QStringLiteral("renamed.sub")), inPlace = dir.filePath(QStringLiteral("inplace.sub"));
    if (!writeFile(renamed, bytes) || !writeFile(inPlace, bytes)
        || link(QFile::encodeName(inPlace).constData(), QFile::encodeName(inPlace + QStringLiteral(".link")).constData()) != 0)
        return 1;
    int failures = 0;
    std::printf("\nsaving, 200,000 lines, %.1f MB, ISO-8859-1; median of %d runs\n", bytes.size() / 1e6, runs);
    std::printf("%-34s %14s %14s\n", "command", "end to end ms", "peak memory");
    for (const auto &[name, path] : {std::pair{"tarnlyx-cli shift -i (renamed)", renamed},
                                     std::pair{"tarnlyx-cli shift -i (in place)", inPlace}}) {
        std::vector<double> ms;
        long peak = 0;
        for (int r = 0; r < runs; ++r) {
            const ProcessResult p = runProcess(self, {cli, "shift", "--seconds", "0", "-i", path.toStdString()});
            failures += p.status != 0;
            ms.push_back(p.ms);
            peak = std::max(peak, p.peakKiB);
        }
        std::printf("%-34s %14.1f %11.1f MiB\n", name, median(ms), peak / 1024.0);
    }
    const int fd = ::open(QFile::encodeName(renamed).constData(), O_RDONLY | O_CLOEXEC);
    std::vector<double> lock, look;
    for (int r = 0; r < 1000 && fd >= 0; ++r) {
        QElapsedTimer timer;
        timer.start();
        failures += flock(fd, LOCK_EX | LOCK_NB) != 0 || flock(fd, LOCK_UN) != 0;
        lock.push_back(timer.nsecsElapsed() / 1e3);
        timer.restart();
        failures += hasUnsettledSave(fd);
        look.push_back(timer.nsecsElapsed() / 1e3);
    }
    if (fd >= 0)
        close(fd);
    std::printf("%-34s %11.1f us\n%-34s %11.1f us\n", "the lock, taken and let go", lock.empty() ? 0.0 : median(lock),
                "the look for an unfinished save", look.empty() ? 0.0 : median(look));
    return failures;
}

// The file `bytes` made `size` bytes long, by repeating it, cut after the
// last whole line (or cue, `end` "\n\n") that fits.
QByteArray grown(const QByteArray &bytes, qint64 size, const char *end = "\n")
{
    QByteArray out;
    out.reserve(size);
    while (out.size() + bytes.size() <= size)
        out += bytes;
    out += bytes.first(size - out.size());
    out.truncate(out.lastIndexOf(end) + qstrlen(end));
    return out;
}

// The batch tool's peak memory on every road, each once, on files of
// `megabytes` MB (1024: 1 GiB) made from the benchmark's file.
int benchRoads(const char *self, const std::string &cli, const QTemporaryDir &dir, qint64 megabytes)
{
    const qint64 size = megabytes == 1024 ? qint64(1) << 30 : megabytes * 1000000;
    const QByteArray latin1 = generateFile(200000);
    const QString sub = dir.filePath(QStringLiteral("roads.sub")), srt = dir.filePath(QStringLiteral("roads.srt")),
                  utf8 = dir.filePath(QStringLiteral("roads.utf8.sub")), utf16 = dir.filePath(QStringLiteral("roads.utf16.sub")),
                  out = dir.filePath(QStringLiteral("out"));
    if (!writeFile(sub, grown(latin1, size)))
        return 1;
    // SubRip of the same subtitles, and the same text in UTF-8 and UTF-16.
    runProcess(self, {cli, "convert", "--to", "srt", sub.toStdString(), "-o", out.toStdString()});
    QFile made(out);
    if (!made.open(QIODevice::ReadOnly) || !writeFile(srt, grown(made.read(size), size, "\n\n")))
        return 1;
    made.close();
    const QString text = QString::fromLatin1(grown(latin1, size / 2));
    QStringEncoder toUtf16(QStringEncoder::Utf16LE, QStringEncoder::Flag::WriteBom);
    if (!writeFile(utf8, grown(text.toUtf8(), size)) || !writeFile(utf16, toUtf16.encode(text)))
        return 1;
    struct Road
    {
        const char *name;
        QString input;
        std::vector<std::string> args;
    };
    const std::string o = out.toStdString(), copy = dir.filePath(QStringLiteral("copy.sub")).toStdString();
    const std::vector<Road> roads = {
        {"shift -o (streamed)", sub, {"shift", "--seconds", "1", "-o", o}},
        {"shift -i (renamed)", sub, {"shift", "--seconds", "0", "-i"}},
        {"shift -i (in place)", sub, {"shift", "--seconds", "0", "-i"}},
        {"convert --to srt", sub, {"convert", "--to", "srt", "-o", o}},
        {"convert --to vtt", sub, {"convert", "--to", "vtt", "-o", o}},
        {"convert --to srt, windows-1252", sub, {"--output-encoding", "windows-1252", "convert", "--to", "srt", "-o", o}},
        {"shift, --output-encoding UTF-8", sub, {"--output-encoding", "UTF-8", "shift", "-o", o}},
        {"shift, --crlf", sub, {"--crlf", "shift", "-o", o}},
        {"SubRip in: convert --to tenths", srt, {"convert", "--to", "tenths", "-o", o}},
        {"UTF-16 file: shift", utf16, {"shift", "-o", o}},
        {"UTF-8 file: convert --to srt", utf8, {"convert", "--to", "srt", "-o", o}},
        {"UTF-8 file: info", utf8, {"info"}},
    };
    std::printf("\nevery road, once; files of %lld MB\n", megabytes);
    std::printf("%-34s %12s %14s %9s %10s\n", "road", "input MB", "peak memory", "x input", "seconds");
    int failures = 0;
    for (const Road &road : roads) {
        std::vector<std::string> args{cli};
        args.insert(args.end(), road.args.begin(), road.args.end());
        std::string input = road.input.toStdString();
        if (args.back() == "-i") {
            // On a copy, given a second name for the road in place.
            const std::string link = copy + ".link";
            unlink(link.c_str());
            if (!QFile::remove(QString::fromStdString(copy)) && QFile::exists(QString::fromStdString(copy)))
                return failures + 1;
            QFile::copy(road.input, QString::fromStdString(copy));
            if (std::string(road.name).find("in place") != std::string::npos)
                failures += ::link(copy.c_str(), link.c_str()) != 0;
            input = copy;
        }
        args.push_back(input);
        const ProcessResult p = runProcess(self, args);
        failures += p.status != 0;
        const qint64 bytes = QFileInfo(road.input).size();
        std::printf("%-34s %12.1f %10.1f MiB %8.2fx %10.2f\n", road.name, bytes / 1e6, p.peakKiB / 1024.0,
                    p.peakKiB * 1024.0 / bytes, p.ms / 1000.0);
    }
    return failures;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc > 2 && std::string(argv[1]) == "--launch") {
        const ProcessResult r = launch(argv + 2);
        std::printf("%f %ld %d\n", r.ms, r.peakKiB, r.status);
        return 0;
    }
    QCoreApplication app(argc, argv);
    const int lines = 200000;
    if (argc == 3 && std::string(argv[1]) == "--generate") {
        QFile f(QString::fromLocal8Bit(argv[2]));
        const QByteArray bytes = generateFile(lines);
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() ? 0 : 1;
    }
    QStringList options = app.arguments().mid(1);
    std::string cli = (QCoreApplication::applicationDirPath() + "/tarnlyx-cli").toStdString();
    if (const qsizetype at = options.indexOf(QStringLiteral("--cli")); at >= 0 && at + 1 < options.size()) {
        cli = options[at + 1].toStdString();
        options.remove(at, 2);
    }
    const bool savingOnly = options.removeAll(QStringLiteral("--saving")) > 0;
    const qsizetype roads = options.indexOf(QStringLiteral("--roads"));
    const int runs = !options.isEmpty() && roads < 0 ? std::max(1, options[0].toInt()) : 9;

    QTemporaryDir dir;
    // The saves' state folder is the benchmark's own.
    qputenv("XDG_STATE_HOME", QFile::encodeName(dir.filePath(QStringLiteral("state"))));
    if (roads >= 0)
        return benchRoads(argv[0], cli, dir, options.value(roads + 1).toLongLong()) ? 1 : 0;
    if (savingOnly)
        return benchSaving(argv[0], cli, dir, runs) ? 1 : 0;
    const QString input = dir.filePath(QStringLiteral("bench.sub"));
    const QString output = dir.filePath(QStringLiteral("out.sub"));
    const std::vector<Operation> operations = {
        {"convert", ModeConvert, {"convert", "--to", "tenths"}},
        {"shift", ModeShift, {"shift", "--seconds", "2.5"}},
        {"showtime", ModeShowTime, {"showtime"}},
        {"fps", ModeFpsChange, {"fps", "--from", "25", "--to", "23.976"}},
        {"correct", ModeCorrect, {"correct", "--digit-spaces", "--color"}},
    };
    int failures = 0;
    for (const char *encoding : {"ISO-8859-1", "windows-1250", "Shift_JIS"}) {
        const QByteArray bytes = generateFile(lines, encoding);
        QFile f(input);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(input));
            return 1;
        }
        f.close();
        std::printf("\n%d lines, %.1f MB, %s; median of %d runs\n", lines, bytes.size() / 1e6, encoding, runs);
        std::printf("%-10s %12s %14s %14s %10s\n", "operation", "engine ms", "end to end ms", "peak memory", "x file");
        const SubtitleText file = decodeSubtitleBytes(bytes);
        if (file.format.encoding != QString::fromLatin1(encoding) && !(file.format.encoding == u"windows-1252" && encoding[0] == 'I'))
            std::printf("(read as %s)\n", qPrintable(file.format.encoding));
        for (const Operation &op : operations) {
            std::vector<double> engineMs, cliMs;
            long peak = 0;
            for (int r = 0; r < runs; ++r) {
                SubEngine engine;
                engine.convert.format = BracketTime;
                engine.shift.seconds = 2.5;
                engine.fpsChange.to = 23.976;
                engine.correction.delDigitSpaces = engine.correction.delColor = true;
                QElapsedTimer timer;
                timer.start();
                const QString result = engine.linesChange(file.text, op.mode);
                engineMs.push_back(timer.nsecsElapsed() / 1e6);
                if (result.isEmpty())
                    ++failures;
                std::vector<std::string> args{cli};
                args.insert(args.end(), op.cliArgs.begin(), op.cliArgs.end());
                args.insert(args.end(), {input.toStdString(), "-o", output.toStdString()});
                const ProcessResult p = runProcess(argv[0], args);
                if (p.status != 0)
                    ++failures;
                cliMs.push_back(p.ms);
                peak = std::max(peak, p.peakKiB);
            }
            std::printf("%-10s %12.1f %14.1f %11.1f MiB %9.1fx\n", op.name, median(engineMs), median(cliMs),
                        peak / 1024.0, peak * 1024.0 / bytes.size());
        }
        // The checks: the list of a text in memory, and `tarnlyx-cli check`
        // end to end with its report (to /dev/null); 1 is its answer when
        // it finds something.
        {
            std::vector<double> engineMs, cliMs;
            long peak = 0;
            size_t found = 0;
            for (int r = 0; r < runs; ++r) {
                QElapsedTimer timer;
                timer.start();
                CheckList list;
                list.reset(file.text);
                engineMs.push_back(timer.nsecsElapsed() / 1e6);
                found = list.problems().size();
                const ProcessResult p = runProcess(argv[0], {cli, "check", input.toStdString()});
                if (p.status != 0 && p.status != 1)
                    ++failures;
                cliMs.push_back(p.ms);
                peak = std::max(peak, p.peakKiB);
            }
            std::printf("%-10s %12.1f %14.1f %11.1f MiB %9.1fx  (%zu problems)\n", "check", median(engineMs),
                        median(cliMs), peak / 1024.0, peak * 1024.0 / bytes.size(), found);
        }
    }

    // SubRip out, against the conversion into tenths and against ffmpeg
    // on the same frame-based file (ffmpeg reads it at its own 23.976).
    {
        const QByteArray bytes = generateFile(lines, "windows-1250");
        QFile f(input);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(input));
            return 1;
        }
        f.close();
        const std::string in = input.toStdString();
        const std::string srt = dir.filePath(QStringLiteral("out.srt")).toStdString();
        const std::string ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).toStdString();
        struct Command
        {
            const char *name;
            std::vector<std::string> args;
        };
        std::vector<Command> commands = {
            {"tarnlyx-cli convert --to tenths", {cli, "convert", "--to", "tenths", in, "-o", output.toStdString()}},
            {"tarnlyx-cli convert --to srt", {cli, "convert", "--to", "srt", in, "-o", srt}},
        };
        if (!ffmpeg.empty())
            commands.push_back({"ffmpeg -i big.sub big.srt", {ffmpeg, "-nostdin", "-v", "quiet", "-sub_charenc", "CP1250", "-y", "-i", in, srt}});
        std::printf("\n%d lines, %.1f MB, windows-1250; median of %d runs\n", lines, bytes.size() / 1e6, runs);
        std::printf("%-34s %14s %14s\n", "command", "end to end ms", "peak memory");
        // Taken in turns, so that a busy moment of the machine falls on all.
        std::vector<std::vector<double>> ms(commands.size());
        std::vector<long> peak(commands.size());
        for (int r = 0; r < runs; ++r) {
            for (size_t c = 0; c < commands.size(); ++c) {
                const ProcessResult p = runProcess(argv[0], commands[c].args);
                if (p.status != 0)
                    ++failures;
                ms[c].push_back(p.ms);
                peak[c] = std::max(peak[c], p.peakKiB);
            }
        }
        for (size_t c = 0; c < commands.size(); ++c)
            std::printf("%-34s %14.1f %11.1f MiB\n", commands[c].name, median(ms[c]), peak[c] / 1024.0);
    }
    failures += benchSaving(argv[0], cli, dir, runs);
    if (failures)
        std::printf("\n%d runs failed\n", failures);
    return failures ? 1 : 0;
}
