// The check panel: counts and the filter, going to a problem's line, the
// list as the text is edited, Fix as one undo step, the rules dialog, the
// panel at two font sizes, and real files checked as the batch tool does.
#include "widgets/checkpanel.h"
#include "app/qtarnlyxmain.h"
#include "clirun.h"
#include "widgets/checkrules.h"
#include "widgets/myeditor.h"
#include "modalanswers.h"
#include "testsupport.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QDirIterator>
#include <QDoubleSpinBox>
#include <QHeaderView>
#include <QLabel>
#include <QScopeGuard>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTreeWidget>

#include <memory>

namespace {

// A window on `path` (its rate prompt confirmed) with the panel open.
std::unique_ptr<QTarnlyxMain> openChecked(const QString &path)
{
    std::unique_ptr<QTarnlyxMain> window;
    {
        ModalAnswers answers;
        answers.then(press(QStringLiteral("OK")));
        window = std::make_unique<QTarnlyxMain>(path);
    }
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    window->show();
    window->findChild<QAction *>(QStringLiteral("checkAction"))->trigger();
    return window;
}

QTableView *problemView(QWidget *window)
{
    return window->findChild<QTableView *>(QStringLiteral("checkProblems"));
}

// "LINE: word: detail" for each row the panel shows, as the batch tool
// writes them after the file's name.
QStringList shown(QWidget *window)
{
    QStringList rows;
    const QAbstractItemModel *model = problemView(window)->model();
    for (int r = 0; r < model->rowCount(); ++r) {
        const QString title = model->index(r, 1).data().toString();
        const char *word = "?";
        for (const CheckKindInfo &info : checkKinds())
            word = title == QLatin1String(info.title) ? info.word : word;
        rows << QStringLiteral("%1: %2: %3").arg(model->index(r, 0).data().toString(), QLatin1String(word),
                                               model->index(r, 2).data().toString());
    }
    return rows;
}

// The same for the whole text, checked anew; of one kind only, or all.
QStringList expected(MyEditor *editor, const CheckRules &rules = CheckRules(), int kind = -1)
{
    const QString text = editor->text();
    const QList<QStringView> lines = QStringView(text).split(u'\n');
    QStringList rows;
    for (const CheckProblem &p : checkText(text, rules, editor->fps)) {
        if (kind < 0 || int(p.kind) == kind)
            rows << QStringLiteral("%1: %2: %3").arg(p.line + 1).arg(QLatin1String(kindInfo(p.kind).word),
                                                                  problemDetail(p, lines[p.line], rules));
    }
    return rows;
}

// The kinds the counts list shows, with their counts.
QStringList counts(QWidget *window)
{
    const QTreeWidget *kinds = window->findChild<QTreeWidget *>(QStringLiteral("checkKinds"));
    QStringList out;
    for (int i = 0; i < kinds->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *item = kinds->topLevelItem(i);
        if (!item->isHidden())
            out << item->text(0) + u' ' + item->text(1);
    }
    return out;
}

void chooseKind(QWidget *window, const char *title)
{
    auto *kinds = window->findChild<QTreeWidget *>(QStringLiteral("checkKinds"));
    kinds->setCurrentItem(kinds->findItems(QLatin1String(title), Qt::MatchExactly).value(0));
}

} // namespace

class TestCheckPanel : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString file(const char *name, const QByteArray &bytes)
    {
        const QString path = m_dir.filePath(QLatin1String(name));
        return writeBytes(path, bytes) ? path : QString();
    }

private slots:
    void initTestCase() { qputenv("XDG_STATE_HOME", m_dir.filePath(QStringLiteral("state")).toUtf8()); }
    void countsFilterAndJump();
    void followsTheText();
    void fixIsOneUndoStep();
    void rules();
    void wholeAtTwoSizes_data();
    void wholeAtTwoSizes();
    void sameAsTheBatchTool();
    void windowPicture();
};

void TestCheckPanel::countsFilterAndJump()
{
    const auto window = openChecked(file("a.sub", "{0}{10}a\n{5}{50}b|c|d\nwords\n{100}{110}e\n"));
    // Check... gives the list the keyboard.
    QCOMPARE(window->focusWidget(), problemView(window.get()));
    QCOMPARE(counts(window.get()), (QStringList{"All problems 4", "overlap 1", "too short 2", "too many rows 1"}));
    QCOMPARE(shown(window.get()), (QStringList{"1: too-short: 400 < 833 ms", "2: overlap: line 1 by 200 ms",
                                               "2: too-many-rows: 3 > 2", "4: too-short: 400 < 833 ms"}));
    chooseKind(window.get(), "too short");
    QCOMPARE(shown(window.get()), (QStringList{"1: too-short: 400 < 833 ms", "4: too-short: 400 < 833 ms"}));
    // Enter and a double click put the cursor on the problem's line.
    QTableView *view = problemView(window.get());
    MyEditor *editor = window->editorWidget();
    view->setFocus();
    view->setCurrentIndex(view->model()->index(1, 0));
    QTest::keyClick(view, Qt::Key_Return);
    QCOMPARE(editor->textCursor().blockNumber(), 3);
    QCOMPARE(window->focusWidget(), editor);
    const QPoint first = view->visualRect(view->model()->index(0, 2)).center();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, first);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, first);
    QCOMPARE(editor->textCursor().blockNumber(), 0);
    chooseKind(window.get(), "All problems");
    QCOMPARE(view->model()->rowCount(), 4);
}

void TestCheckPanel::followsTheText()
{
    const auto window = openChecked(file("b.sub", "{1}{1}25\n{0}{10}a\n{5}{50}b\nwords\n{100}{110}e\n{111}{150}f\n"));
    MyEditor *editor = window->editorWidget();
    QTableView *view = problemView(window.get());
    // The rows the view is told of are the rows there are, at every step.
    QAbstractItemModelTester tester(view->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    QTextCursor cursor(editor->document());
    auto at = [&](int line, int column) {
        cursor.setPosition(editor->document()->findBlockByNumber(line).position() + column);
        return &cursor;
    };
    // Each edit, with every kind shown and with one.
    const std::function<void()> edits[] = {
        [&] { at(1, 4)->insertText(QStringLiteral("3")); },          // {0}{310}a: now long
        [&] { at(2, 0)->insertText(QStringLiteral("{20}{30}new\n")); }, // a line in between
        [&] { at(4, 0)->deletePreviousChar(); },                         // two lines become one
        [&] { at(0, 0)->deleteChar(); },                                 // no rate line any more
        [&] { editor->undo(); },
        [&] { editor->selectAll(); editor->insertPlainText(QStringLiteral("{0}{5}x\n{3}{9}y")); },
        [&] { editor->undo(); },
    };
    for (const char *kind : {"All problems", "too short"}) {
        chooseKind(window.get(), kind);
        const int filter = QByteArray(kind) == "too short" ? int(CheckKind::TooShort) : -1;
        for (const auto &edit : edits) {
            edit();
            QCOMPARE(shown(window.get()), expected(editor, CheckRules(), filter));
        }
    }
    chooseKind(window.get(), "All problems");
    // A panel out of sight does not follow; shown again, it checks anew.
    window->findChild<CheckPanel *>()->close();
    at(1, 0)->insertText(QStringLiteral("{0}{1}short\n"));
    window->findChild<QAction *>(QStringLiteral("checkAction"))->trigger();
    QCOMPARE(shown(window.get()), expected(editor));
    // A row chosen stays chosen while its line is edited.
    view->setCurrentIndex(view->model()->index(1, 0));
    const QString before = view->currentIndex().siblingAtColumn(0).data().toString();
    at(0, 0)->insertText(QStringLiteral("x"));
    QCOMPARE(view->currentIndex().siblingAtColumn(0).data().toString(), before);
    // A new frame rate from Ctrl+I: the frames read again.
    ModalAnswers answers;
    answers.then([](QWidget *dialog) {
        dialog->findChild<QLineEdit *>(QStringLiteral("fps"))->setText(QStringLiteral("50"));
        QTest::keyClick(dialog, Qt::Key_Return);
    });
    window->findChild<QAction *>(QStringLiteral("fpsAction"))->trigger();
    QCOMPARE(editor->fps, 50.0);
    QCOMPARE(shown(window.get()), expected(editor));
    QVERIFY(shown(window.get()).join(u' ').contains(u"200 < 833 ms"));
}

void TestCheckPanel::fixIsOneUndoStep()
{
    const QString original = QStringLiteral("{0}{50}a\n{40}{45}b\n{100}{110}c\n[200][201]d\n{300}{}e");
    const auto window = openChecked(file("c.sub", original.toUtf8()));
    MyEditor *editor = window->editorWidget();
    auto *fix = window->findChild<QPushButton *>(QStringLiteral("fixTimes"));
    QVERIFY(fix->isEnabled());
    QTest::mouseClick(fix, Qt::LeftButton);
    // Hide times only, and the summary counts them.
    QCOMPARE(editor->text(), QStringLiteral("{0}{38}a\n{40}{61}b\n{100}{121}c\n[200][209]d\n{300}{}e"));
    QCOMPARE(window->findChild<QLabel *>(QStringLiteral("summary"))->text(),
             QStringLiteral("Fix: 4 hide times moved: 1 overlap, 3 too short"));
    QCOMPARE(shown(window.get()), expected(editor));
    QVERIFY(!fix->isEnabled());
    editor->undo();
    QCOMPARE(editor->text(), original);
    QCOMPARE(shown(window.get()), expected(editor));
}

void TestCheckPanel::rules()
{
    const auto window = openChecked(file("d.sub", "{0}{50}a|b|c\n{40}{80}b\n"));
    auto *button = window->findChild<QPushButton *>(QStringLiteral("checkRules"));
    ModalAnswers answers;
    // Cancel keeps the rules; Return takes those shown.
    answers.then([](QWidget *dialog) {
        dialog->findChild<QCheckBox *>(QStringLiteral("overlap"))->setChecked(false);
        press(QStringLiteral("Cancel"))(dialog);
    });
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(shown(window.get()).size(), 2);
    answers.then([](QWidget *dialog) {
        dialog->findChild<QDoubleSpinBox *>(QStringLiteral("max-rows"))->setValue(3);
        dialog->findChild<QCheckBox *>(QStringLiteral("overlap"))->setChecked(false);
        QTest::keyClick(dialog, Qt::Key_Return);
    });
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(answers.answered(), 2);
    QCOMPARE(window->findChild<CheckPanel *>()->rules().limitOf(CheckKind::TooManyRows), 3.0);
    QCOMPARE(shown(window.get()), QStringList());

    // Saved to a file and read back; a file that is no rule file is
    // refused, naming its line, and the fields stay.
    const QString saved = m_dir.filePath(QStringLiteral("team.rules"));
    const QString bad = file("bad.rules", "max-rows = many\n");
    CheckRules rules;
    CheckRulesDialog dialog(nullptr, &rules);
    dialog.findChild<QDoubleSpinBox *>(QStringLiteral("max-cps"))->setValue(17.5);
    dialog.findChild<QCheckBox *>(QStringLiteral("gap"))->setChecked(false);
    answers.then(chooseFile(saved));
    press(QStringLiteral("Save..."))(&dialog);
    QVERIFY(readBytes(saved).contains("max-cps = 17.5\n") && readBytes(saved).contains("gap = off\n"));
    press(QStringLiteral("Defaults"))(&dialog);
    QString seen;
    answers.then(chooseFile(bad)).then([&seen](QWidget *box) {
        seen = static_cast<QMessageBox *>(box)->text() + u' ' + static_cast<QMessageBox *>(box)->informativeText();
        press(QStringLiteral("OK"))(box);
    });
    press(QStringLiteral("Load..."))(&dialog);
    QCOMPARE(seen, "Cannot read rules from \"" + bad + "\". Line 1: max-rows: \"many\" is not a whole number");
    QCOMPARE(dialog.findChild<QDoubleSpinBox *>(QStringLiteral("max-cps"))->value(), 20.0);
    answers.then(chooseFile(saved));
    press(QStringLiteral("Load..."))(&dialog);
    dialog.accept();
    QCOMPARE(answers.pending(), 0);
    QCOMPARE(rules.limitOf(CheckKind::ReadingSpeed), 17.5);
    QVERIFY(!rules.looksFor(CheckKind::Gap));
}

void TestCheckPanel::wholeAtTwoSizes_data()
{
    QTest::addColumn<int>("points");
    QTest::newRow("9 pt") << 9;
    QTest::newRow("14 pt") << 14;
}

void TestCheckPanel::wholeAtTwoSizes()
{
    QFETCH(int, points);
    const QFont before = QApplication::font();
    const auto restore = qScopeGuard([&before] { QApplication::setFont(before); });
    QFont font = before;
    font.setPointSize(points);
    QApplication::setFont(font);
    const auto window = openChecked(file("e.sub", "{0}{10}Hello|there\n{5}{50}{x:1}b|c|d\n{40}{39}e\n{60}{60}\n"
                                                  "{9999}{10000}" + QByteArray(60, 'w') + "\n{9990}{9900}z\n"));
    window->resize(1200, 700);
    QApplication::processEvents();
    QVERIFY(window->grab().save(QStringLiteral(TARNLYX_BUILD_DIR "/checkpanel-%1pt.png").arg(points)));
    // Every text of the panel whole: kinds, counts, headings, details, buttons.
    const QFontMetrics metrics(font);
    const auto *kinds = window->findChild<QTreeWidget *>(QStringLiteral("checkKinds"));
    for (int i = 0; i < kinds->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *item = kinds->topLevelItem(i);
        if (!item->isHidden())
            QVERIFY2(kinds->visualItemRect(item).height() >= metrics.height()
                             && kinds->columnWidth(0) + kinds->columnWidth(1)
                                     >= metrics.horizontalAdvance(item->text(0) + item->text(1)),
                     qPrintable(item->text(0)));
    }
    QVERIFY(kinds->visualItemRect(kinds->topLevelItem(kinds->topLevelItemCount() - 1)).bottom() < kinds->viewport()->height());
    const QTableView *view = problemView(window.get());
    for (int c = 0; c < 3; ++c) {
        for (int r = -1; r < view->model()->rowCount(); ++r) {
            const QString text = r < 0 ? view->model()->headerData(c, Qt::Horizontal).toString()
                                       : view->model()->index(r, c).data().toString();
            QVERIFY2(view->columnWidth(c) > metrics.horizontalAdvance(text) + 6, qPrintable(text));
        }
    }
    QVERIFY(view->rowHeight(0) >= metrics.height());
    for (const QPushButton *b : window->findChild<CheckPanel *>()->findChildren<QPushButton *>())
        QVERIFY2(b->width() >= b->sizeHint().width(), qPrintable(b->text()));
    // The rules dialog as well.
    ModalAnswers answers;
    answers.then([points](QWidget *dialog) {
        QVERIFY(dialog->grab().save(QStringLiteral(TARNLYX_BUILD_DIR "/checkrules-%1pt.png").arg(points)));
        for (const QLabel *label : dialog->findChildren<QLabel *>())
            QVERIFY2(label->width() >= label->sizeHint().width(), qPrintable(label->text()));
        press(QStringLiteral("Cancel"))(dialog);
    });
    QTest::mouseClick(window->findChild<QPushButton *>(QStringLiteral("checkRules")), Qt::LeftButton);
    QCOMPARE(answers.answered(), 1);
}

void TestCheckPanel::sameAsTheBatchTool()
{
    // Real files give the panel and the batch tool the same problems.
    const QString corpus = qEnvironmentVariable("TARNLYX_CORPUS_DIR");
    if (corpus.isEmpty())
        QSKIP("TARNLYX_CORPUS_DIR names no folder of real subtitle files");
    int files = 0;
    for (QDirIterator it(corpus, QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
        const QString path = it.next();
        if (path.endsWith(u".tsv"))
            continue;
        const auto window = openChecked(path);
        QStringList tool = QString::fromUtf8(runTool({"check", path}).out).split(u'\n', Qt::SkipEmptyParts);
        for (QString &line : tool)
            line.remove(0, path.size() + 1);
        QCOMPARE(shown(window.get()), tool);
        ++files;
    }
    QVERIFY(files > 0);
}

void TestCheckPanel::windowPicture()
{
    // The picture of the window the README shows, made anew here: with
    // TARNLYX_DOCS_DIR=docs, in the repository's docs/.
    const auto window = openChecked(file("movie.sub", readBytes(sampleFile("window-sample.sub"))));
    window->resize(1000, 540);
    QApplication::processEvents();
    QCOMPARE(counts(window.get()).value(0), QStringLiteral("All problems 3"));
    const QString folder = qEnvironmentVariable("TARNLYX_DOCS_DIR", QStringLiteral(TARNLYX_BUILD_DIR "/screenshots"));
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(window->grab().save(folder + QStringLiteral("/window.png")));
}

QTEST_MAIN(TestCheckPanel)
#include "tst_checkpanel.moc"
