// Benchmark: each whole-file operation and the checks on a generated
// 200,000-line file, through the engine alone and through tarnlyx-cli end
// to end, and SubRip out against the same file converted by ffmpeg.
//
//   build/tarnlyx-bench [RUNS]
//   build/tarnlyx-bench --generate FILE    (only write the test file)
//
// Prints medians on this machine and the batch tool's peak memory.
#include "editor/checks.h"
#include "editor/subengine.h"
#include "files/textcodec.h"
#include "generate.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include <fcntl.h>
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
        // What a command prints (check's report) is not the launcher's answer.
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0)
            dup2(null, STDOUT_FILENO);
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
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 9;
    const std::string cli = (QCoreApplication::applicationDirPath() + "/tarnlyx-cli").toStdString();

    QTemporaryDir dir;
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
                engine.convertFormat = BracketTime;
                engine.shiftSeconds = 2.5;
                engine.fpsTo = 23.976;
                engine.delDigitSpaces = engine.delColor = true;
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
    if (failures)
        std::printf("\n%d runs failed\n", failures);
    return failures ? 1 : 0;
}
