// The editor widget: the engine's walk on what the user sees, as one undo
// step, with the cursor kept where it was.
#include "editor/myeditor.h"

#include <QTest>
#include <QTextBlock>
#include <QTextDocument>

class TestMyEditor : public QObject
{
    Q_OBJECT

private slots:
    void operationIsOneUndoStep();
    void cursorKeptAndClamped();
    void textIsWhatTheUserSees();
};

void TestMyEditor::operationIsOneUndoStep()
{
    // Marked as edited even where no line changed; an undefined mode
    // changes nothing and says so once a line.
    MyEditor editor;
    editor.setText(QStringLiteral("{250}{375}Hello\n{500}{}World"));
    QVERIFY(!editor.document()->isUndoAvailable() && !editor.document()->isModified());
    QTest::ignoreMessage(QtDebugMsg, "ERROR: undefined modification called!");
    QTest::ignoreMessage(QtDebugMsg, "ERROR: undefined modification called!");
    editor.linesChange(42);
    QCOMPARE(editor.text(), QStringLiteral("{250}{375}Hello\n{500}{}World"));
    editor.linesChange(ModeConvert);
    QCOMPARE(editor.text(), QStringLiteral("{250}{375}Hello\n{500}{}World"));
    QVERIFY(editor.document()->isModified());
    editor.convertFormat = BracketTime;
    editor.linesChange(ModeConvert);
    QCOMPARE(editor.text(), QStringLiteral("[100][150]Hello\n[200][]World"));
    QTest::keyClick(&editor, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(editor.text(), QStringLiteral("{250}{375}Hello\n{500}{}World"));
    QTest::keyClick(&editor, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(editor.text(), QStringLiteral("[100][150]Hello\n[200][]World"));
}

void TestMyEditor::cursorKeptAndClamped()
{
    // Line and column before, and after "{0250}{0375}Hi" lost two
    // characters and the empty last line went.
    const int cases[][4] = {{1, 3, 1, 3}, {0, 14, 0, 12}, {2, 0, 1, 0}};
    for (const auto &c : cases) {
        MyEditor editor;
        editor.setText(QStringLiteral("{0250}{0375}Hi\n{1}{2}there\n"));
        QTextCursor cursor(editor.document()->findBlockByNumber(c[0]));
        cursor.setPosition(cursor.position() + c[1]);
        editor.setTextCursor(cursor);
        editor.linesChange(ModeConvert);
        QCOMPARE(editor.text(), QStringLiteral("{250}{375}Hi\n{1}{2}there"));
        QCOMPARE(QPoint(editor.textCursor().positionInBlock(), editor.textCursor().blockNumber()), QPoint(c[3], c[2]));
        QVERIFY(!editor.textCursor().hasSelection());
    }
}

void TestMyEditor::textIsWhatTheUserSees()
{
    // A no-break space stays one (plain-text export would make it a space),
    // and characters the text area takes as breaks stay inside their line.
    const QString text = QString::fromUtf8("{1}{2}a\u00a0b\rc\u2029d") + QChar(0xfdd0) + QChar(0xfdd1)
            + QChar(0) + QStringLiteral("\n\nend");
    MyEditor editor;
    editor.setText(text);
    QCOMPARE(editor.document()->blockCount(), 3);
    QCOMPARE(editor.text(), text);
    editor.fixPunctuation = editor.fixDashes = editor.delDoubleSpaces = editor.delEndSpaces = false;
    editor.sustainTime = false;
    editor.linesChange(ModeCorrect);
    QCOMPARE(editor.text(), text.left(text.size() - 5) + QStringLiteral("\n{0}{}\nend"));
}

QTEST_MAIN(TestMyEditor)
#include "tst_myeditor.moc"
