// Benchmark of the editor window on the 200,000-line file: loading it,
// Replace All of a common word, each operation on the whole text, and
// saving it. Runs offscreen.
//
//   build/tarnlyx-editor-bench [RUNS]
#include "app/findbar.h"
#include "app/qtarnlyxmain.h"
#include "editor/myeditor.h"
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

    std::vector<double> load, replaceAll, save, recovery;
    std::vector<std::vector<double>> ops(5);
    for (int r = 0; r < runs; ++r) {
        load.push_back(timeMs([&] {
            window.load(path);
            app.processEvents();
        }));
        replaceAll.push_back(timeMs([&] {
            replaced = findBar->replaceAll();
            app.processEvents();
        }));
        for (int mode = 1; mode <= 5; ++mode) {
            ops[mode - 1].push_back(timeMs([&] {
                editor->linesChange(mode);
                app.processEvents();
            }));
        }
        // The window's own time per recovery write: the writing itself is
        // on the writer's thread.
        recovery.push_back(timeMs([&] { window.scheduleRecovery(); }));
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
    std::printf("recovery   %8.1f ms  (the window's part of a recovery write)\n", median(recovery));

    // The same on a text of about 100 MB, typed into between writes.
    const QByteArray big = generateFile(1530000);
    QFile bigFile(path);
    if (!bigFile.open(QIODevice::WriteOnly) || bigFile.write(big) != big.size())
        return 1;
    bigFile.close();
    window.load(path);
    recovery.clear();
    for (int r = 0; r < runs; ++r) {
        editor->insertPlainText(QStringLiteral("x"));
        recovery.push_back(timeMs([&] { window.scheduleRecovery(); }));
        window.writeRecoveryNow();
    }
    editor->document()->setModified(false);
    window.writeRecoveryNow(); // unedited: its recovery file goes
    std::printf("recovery   %8.1f ms  (the same, %.0f MB)\n", median(recovery), big.size() / 1e6);
    return 0;
}
