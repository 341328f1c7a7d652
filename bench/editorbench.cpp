// Benchmark of the editor window on the 200,000-line file: loading it,
// Replace All of a common word, each operation on the whole text, and
// saving it; then what once froze the window (a regular-expression Replace
// All of 1.76 million matches and its undo, an operation on a 2 MB line with
// the cursor at its end) and the window's part of recovery on a 100 MB
// text; and the check panel following the text as it is typed. Peak memory
// of each part. Runs offscreen.
//
//   build/tarnlyx-editor-bench [RUNS [PART...]]
//
// PART is lines, freezes, big or orphans; all four when none is named.
// Peak memory is the process's: of a part run alone (big, say), its own.
#include "widgets/findbar.h"
#include "app/qtarnlyxmain.h"
#include "widgets/myeditor.h"
#include "files/recovery.h"
#include "generate.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QKeyEvent>
#include <QTextCursor>
#include <QTextBlock>
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

// The most memory the process has held since the last resetPeak(), in MiB.
double peakMiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
    }
    return 0;
}

void resetPeak()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile::remove(path);
    QFile out(path);
    return out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size();
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    QStringList parts;
    for (int i = 2; i < argc; ++i)
        parts << QString::fromLocal8Bit(argv[i]);
    auto wants = [&parts](const char *part) { return parts.isEmpty() || parts.contains(QLatin1String(part)); };

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bench.sub"));
    const QByteArray bytes = generateFile(200000);
    if (!writeFile(path, bytes))
        return 1;
    resetPeak();

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
    OperationSettings settings;
    settings.convert.format = BracketTime;
    settings.shift.seconds = 2.5;
    settings.fpsChange.to = 23.976;
    settings.correction.delDigitSpaces = settings.correction.delColor = true;

    auto *findBar = window.findChild<FindBar *>();
    findBar->start(true);
    auto *findField = window.findChild<QLineEdit *>(QStringLiteral("findField"));
    auto *replaceField = window.findChild<QLineEdit *>(QStringLiteral("replaceField"));
    findField->setText(QStringLiteral("world"));
    replaceField->setText(QStringLiteral("earth"));
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

    auto printRecovery = [](const Recovery &times, const char *of) {
        std::printf("recovery   %8.1f ms  (the window's part of the first recovery write after a load, %s)\n",
                    median(times.afterLoad), of);
        std::printf("recovery   %8.1f ms  (the same, first after Replace All)\n", median(times.afterReplaceAll));
        std::printf("recovery   %8.1f ms  (the same, first after an operation)\n", median(times.afterOperation));
        std::printf("recovery   %8.1f ms  (the same, after typing)\n", median(times.typed));
    };
    Recovery recovery;
    std::printf("editor, median of %d runs\n", runs);

    if (wants("lines")) {
    std::vector<double> load, replaceAll, save, undone, redone;
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
                editor->linesChange(mode, settings);
                app.processEvents();
            }));
        }
        recovery.afterOperation.push_back(timeMs([&] { window.scheduleRecovery(); }));
        window.writeRecoveryNow();
        undone.push_back(timeMs([&] {
            editor->undo();
            app.processEvents();
        }));
        redone.push_back(timeMs([&] {
            editor->redo();
            app.processEvents();
        }));
        save.push_back(timeMs([&] { window.save(); }));
        editor->document()->setModified(false);
        if (!writeFile(path, bytes))
            return 1;
    }

    std::printf("\n200000 lines, %.1f MB\n", bytes.size() / 1e6);
    std::printf("load       %8.0f ms\n", median(load));
    std::printf("replaceall %8.0f ms  (%lld times \"world\")\n", median(replaceAll), static_cast<long long>(replaced));
    const char *const names[] = {"convert", "shift", "showtime", "fps", "correct"};
    for (int i = 0; i < 5; ++i)
        std::printf("%-10s %8.0f ms\n", names[i], median(ops[i]));
    std::printf("undo       %8.0f ms  (of the correction)\n", median(undone));
    std::printf("redo       %8.0f ms\n", median(redone));
    std::printf("save       %8.0f ms\n", median(save));

    // The check panel on the same file: opening it (the whole text checked),
    // and what a keystroke costs in the middle of the text with the panel
    // following it, against the same keystroke with the panel closed; one
    // that makes a new line, and one that joins two.
    if (!writeFile(path, bytes))
        return 1;
    QAction *checkAction = window.findChild<QAction *>(QStringLiteral("checkAction"));
    std::vector<double> openPanel, typedFollowed, typedAlone, newLine, joined, fix;
    qsizetype problems = 0;
    QString fixed;
    for (int r = 0; r < runs; ++r) {
        window.load(path);
        app.processEvents();
        openPanel.push_back(timeMs([&] {
            checkAction->trigger();
            app.processEvents();
        }));
        auto *panel = window.findChild<QDockWidget *>(QStringLiteral("checkPanel"));
        problems = panel->findChild<QTableView *>()->model()->rowCount();
        QTextCursor cursor(editor->document()->findBlockByNumber(100000));
        editor->setTextCursor(cursor);
        auto type = [&](const QString &keys) {
            return timeMs([&] {
                editor->insertPlainText(keys);
                app.processEvents();
            });
        };
        for (int k = 0; k < 20; ++k) {
            typedFollowed.push_back(type(QStringLiteral("x")));
            newLine.push_back(type(QStringLiteral("\n")));
            joined.push_back(timeMs([&] {
                editor->textCursor().deletePreviousChar();
                app.processEvents();
            }));
        }
        fix.push_back(timeMs([&] {
            panel->findChild<QPushButton *>(QStringLiteral("fixTimes"))->click();
            app.processEvents();
        }));
        fixed = window.findChild<QLabel *>(QStringLiteral("summary"))->text();
        panel->close();
        for (int k = 0; k < 20; ++k)
            typedAlone.push_back(type(QStringLiteral("y")));
        editor->document()->setModified(false);
    }
    std::printf("check      %8.0f ms  (the panel opened: %lld problems)\n", median(openPanel),
                static_cast<long long>(problems));
    std::printf("keystroke  %8.2f ms  (a letter, the panel following; %.2f ms with it closed)\n",
                median(typedFollowed), median(typedAlone));
    std::printf("keystroke  %8.2f ms  (a new line, the panel following)\n", median(newLine));
    std::printf("keystroke  %8.2f ms  (two lines joined, the panel following)\n", median(joined));
    std::printf("fix        %8.0f ms  (%s, the panel following)\n", median(fix), qPrintable(fixed));
    printRecovery(recovery, "200,000 lines");
    std::printf("peak       %8.0f MiB\n", peakMiB());
    }

    // A regular expression that matches 1.76 million times on the same file,
    // Replace All and its undo and redo.
    if (wants("freezes")) {
    auto *regularExpression = window.findChild<QCheckBox *>(QStringLiteral("regularExpression"));
    regularExpression->setChecked(true);
    findField->setText(QStringLiteral("[a-z]+"));
    replaceField->setText(QStringLiteral("x"));
    std::vector<double> manyReplaced, manyUndone, manyRedone, notFound;
    for (int r = 0; r < runs; ++r) {
        window.load(path);
        app.processEvents();
        findField->setText(QStringLiteral("[a-z]+\\d"));
        notFound.push_back(timeMs([&] {
            findBar->findNext();
            app.processEvents();
        }));
        findField->setText(QStringLiteral("[a-z]+"));
        manyReplaced.push_back(timeMs([&] {
            replaced = findBar->replaceAll();
            app.processEvents();
        }));
        manyUndone.push_back(timeMs([&] {
            editor->undo();
            app.processEvents();
        }));
        manyRedone.push_back(timeMs([&] {
            editor->redo();
            app.processEvents();
        }));
        editor->document()->setModified(false);
    }
    regularExpression->setChecked(false);
    findField->setText(QStringLiteral("world"));
    replaceField->setText(QStringLiteral("earth"));
    std::printf("\n200000 lines, regular expression\n");
    std::printf("find       %8.0f ms  ([a-z]+\\d, not found)\n", median(notFound));
    std::printf("replaceall %8.0f ms  (%lld matches of [a-z]+)\n", median(manyReplaced), static_cast<long long>(replaced));
    std::printf("undo       %8.0f ms\n", median(manyUndone));
    std::printf("redo       %8.0f ms\n", median(manyRedone));

    // One line of 2 MB: an operation with the cursor at its start and at
    // its end, typing at its end and undoing that.
    QByteArray line = generateFile(31000);
    line.replace('\n', ' ');
    line.chop(1);
    line += '\n';
    if (!writeFile(path, line))
        return 1;
    std::vector<double> lineLoad, atStart, atEnd, typedAtEnd, typingUndone;
    for (int r = 0; r < runs; ++r) {
        lineLoad.push_back(timeMs([&] {
            window.load(path);
            app.processEvents();
        }));
        atStart.push_back(timeMs([&] {
            editor->linesChange(ModeShift, settings);
            app.processEvents();
        }));
        editor->moveCursor(QTextCursor::End);
        app.processEvents();
        atEnd.push_back(timeMs([&] {
            editor->linesChange(ModeShift, settings);
            app.processEvents();
        }));

        typedAtEnd.push_back(timeMs([&] {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
            QApplication::sendEvent(editor, &press);
            app.processEvents();
        }));
        typingUndone.push_back(timeMs([&] {
            editor->undo();
            app.processEvents();
        }));
        editor->document()->setModified(false);
    }
    std::printf("\nline of %.1f MB\n", line.size() / 1e6);
    std::printf("load       %8.0f ms\n", median(lineLoad));
    std::printf("shift      %8.0f ms  (cursor at the start)\n", median(atStart));
    std::printf("shift      %8.0f ms  (cursor at the end)\n", median(atEnd));
    std::printf("type       %8.0f ms  (a letter at the end)\n", median(typedAtEnd));
    std::printf("undo       %8.0f ms  (of that letter)\n", median(typingUndone));
    }

    // The same on a text of about 100 MB; the peak once it is opened, and
    // over typing, Replace All and an operation.
    const QByteArray big = generateFile(1530000);
    if (wants("big")) {
    recovery = Recovery();
    double openedPeak = 0;
    for (int r = 0; r < runs; ++r) {
        if (!writeFile(path, big))
            return 1;
        editor->setText(QString()); // lets the text before and its undo steps go
        window.writeRecoveryNow();
        resetPeak();
        window.load(path);
        app.processEvents();
        if (r == 0) // later runs start from the memory the run before let go of
            openedPeak = peakMiB();
        keep(recovery.afterLoad);
        typeAndKeep(recovery.typed);
        findBar->replaceAll();
        keep(recovery.afterReplaceAll);
        editor->linesChange(ModeShift, settings);
        recovery.afterOperation.push_back(timeMs([&] { window.scheduleRecovery(); }));
        window.writeRecoveryNow();
        editor->document()->setModified(false);
    }
    window.writeRecoveryNow(); // unedited: its recovery file goes
    char of[32];
    std::snprintf(of, sizeof of, "%.0f MB", big.size() / 1e6);
    std::printf("\n%s\n", of);
    printRecovery(recovery, of);
    std::printf("peak       %8.0f MiB  (%.1f MiB a MB of the file) once opened\n", openedPeak, openedPeak * 1e6 / big.size());
    std::printf("peak       %8.0f MiB  (%.1f MiB a MB of the file) over all\n", peakMiB(), peakMiB() * 1e6 / big.size());
    }

    // What every load and start looks through: 20 recovery files of 5 MB
    // that programs which ended left, in a state folder of the bench's own.
    if (!wants("orphans"))
        return 0;
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
