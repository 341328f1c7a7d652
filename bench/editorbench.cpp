// Benchmark of the editor window on the 200,000-line file: loading it,
// Replace All of a common word, each operation on the whole text, and
// saving it. Runs offscreen.
//
//   build/tarnlyx-editor-bench [RUNS]
#include "app/findbar.h"
#include "app/qtarnlyxmain.h"
#include "editor/myeditor.h"
#include "files/recovery.h"
#include "generate.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

template <typename F>
double timeMs(F &&f)
{
    QElapsedTimer timer;
    timer.start();
    f();
    return timer.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 5;

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bench.sub"));
    const QByteArray bytes = generateFile(200000);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return 1;
    f.close();

    // The frame-rate prompt after each load is answered at once.
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [] {
        if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
            dialog->accept();
    });
    answer.start(1);

    QTarnlyxMain window(QStringLiteral("subtitles.txt"));
    window.show();
    MyEditor *editor = window.editorWidget();
    editor->convertFormat = BracketTime;
    editor->shiftSeconds = 2.5;
    editor->fpsTo = 23.976;
    editor->delDigitSpaces = editor->delColor = true;

    auto *findBar = window.findChild<FindBar *>();
    findBar->start(true);
    window.findChild<QLineEdit *>(QStringLiteral("findField"))->setText(QStringLiteral("world"));
    window.findChild<QLineEdit *>(QStringLiteral("replaceField"))->setText(QStringLiteral("earth"));
    qsizetype replaced = 0;

    // The window's own time per recovery write (the writing itself is on
    // the writer's thread): the first after a load (which writes nothing
    // while the text is unedited, but takes it for the writes to come),
    // the first after Replace All and after an operation, and one after
    // typing.
    struct Recovery
    {
        std::vector<double> afterLoad, afterReplaceAll, afterOperation, typed;
    };
    auto keep = [&](std::vector<double> &times) {
        times.push_back(timeMs([&] { window.scheduleRecovery(); }));
        window.writeRecoveryNow();
    };
    auto typeAndKeep = [&](std::vector<double> &times) {
        editor->insertPlainText(QStringLiteral("x"));
        keep(times);
    };

    std::vector<double> load, replaceAll, save;
    Recovery recovery;
    std::vector<std::vector<double>> ops(5);
    for (int r = 0; r < runs; ++r) {
        load.push_back(timeMs([&] {
            window.load(path);
            app.processEvents();
        }));
        keep(recovery.afterLoad);
        typeAndKeep(recovery.typed);
        replaceAll.push_back(timeMs([&] {
            replaced = findBar->replaceAll();
            app.processEvents();
        }));
        keep(recovery.afterReplaceAll);
        for (int mode = 1; mode <= 5; ++mode) {
            ops[mode - 1].push_back(timeMs([&] {
                editor->linesChange(mode);
                app.processEvents();
            }));
        }
        recovery.afterOperation.push_back(timeMs([&] { window.scheduleRecovery(); }));
        window.writeRecoveryNow();
        save.push_back(timeMs([&] { window.save(); }));
        editor->document()->setModified(false);
        QFile::remove(path);
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size())
            return 1;
    }

    std::printf("editor, 200000 lines, %.1f MB; median of %d runs\n\n", bytes.size() / 1e6, runs);
    std::printf("load       %8.0f ms\n", median(load));
    std::printf("replaceall %8.0f ms  (%lld times \"world\")\n", median(replaceAll), static_cast<long long>(replaced));
    const char *const names[] = {"convert", "shift", "showtime", "fps", "correct"};
    for (int i = 0; i < 5; ++i)
        std::printf("%-10s %8.0f ms\n", names[i], median(ops[i]));
    std::printf("save       %8.0f ms\n", median(save));
    auto printRecovery = [](const Recovery &times, const char *of) {
        std::printf("recovery   %8.1f ms  (the window's part of the first recovery write after a load, %s)\n",
                    median(times.afterLoad), of);
        std::printf("recovery   %8.1f ms  (the same, first after Replace All)\n", median(times.afterReplaceAll));
        std::printf("recovery   %8.1f ms  (the same, first after an operation)\n", median(times.afterOperation));
        std::printf("recovery   %8.1f ms  (the same, after typing)\n", median(times.typed));
    };
    printRecovery(recovery, "200,000 lines");

    // The same on a text of about 100 MB.
    const QByteArray big = generateFile(1530000);
    recovery = Recovery();
    for (int r = 0; r < runs; ++r) {
        QFile::remove(path);
        QFile bigFile(path);
        if (!bigFile.open(QIODevice::WriteOnly) || bigFile.write(big) != big.size())
            return 1;
        bigFile.close();
        window.load(path);
        keep(recovery.afterLoad);
        typeAndKeep(recovery.typed);
        findBar->replaceAll();
        keep(recovery.afterReplaceAll);
        editor->linesChange(ModeShift);
        recovery.afterOperation.push_back(timeMs([&] { window.scheduleRecovery(); }));
        window.writeRecoveryNow();
        editor->document()->setModified(false);
    }
    window.writeRecoveryNow(); // unedited: its recovery file goes
    char of[32];
    std::snprintf(of, sizeof of, "%.0f MB", big.size() / 1e6);
    printRecovery(recovery, of);

    // What every load and start looks through: 20 recovery files of 5 MB
    // that programs which ended left, in a state folder of the bench's own.
    const QByteArray state = qgetenv("XDG_STATE_HOME");
    qputenv("XDG_STATE_HOME", QFile::encodeName(dir.filePath(QStringLiteral("state"))));
    const QString left = QString::fromUtf8(big.left(5000000));
    for (int i = 0; i < 20; ++i) {
        RecoveryFile file; // let go of, as by a program that ended
        if (!file.write(path, FileStamp(), QByteArray(), left, nullptr))
            return 1;
    }
    std::vector<double> listing;
    qsizetype listed = 0;
    for (int r = 0; r < runs; ++r)
        listing.push_back(timeMs([&] { listed = RecoveryFile::orphans().size(); }));
    qputenv("XDG_STATE_HOME", state);
    std::printf("orphans    %8.1f ms  (%lld recovery files of 5 MB listed)\n", median(listing), static_cast<long long>(listed));
    return 0;
}
