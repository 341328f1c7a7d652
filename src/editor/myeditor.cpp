#include "editor/myeditor.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

MyEditor::MyEditor(QWidget *parent, const char *name) : QPlainTextEdit(parent)
{
    setObjectName(QString::fromLatin1(name));
    setLineWrapMode(QPlainTextEdit::NoWrap);
    chooseStandIns(QString());
}

MyEditor::~MyEditor() = default;

namespace {

// Characters a line may hold that the text area takes as a line break.
constexpr char16_t breaking[MyEditor::standInCount] = {u'\r', 0x2029, 0xFDD0, 0xFDD1};

} // namespace

void MyEditor::chooseStandIns(const QString &text)
{
    // Noncharacters (reserved for a program's own use) that the text does
    // not already hold, so the way back is exact. The text area takes the
    // first two of them as breaks too.
    char16_t candidate = 0xFDD2;
    for (QChar &standIn : m_standIns) {
        while (candidate < 0xFDEF && text.contains(QChar(candidate)))
            ++candidate;
        standIn = QChar(candidate++);
    }
}

QString MyEditor::toDocument(QString text) const
{
    for (int i = 0; i < standInCount; ++i) {
        if (text.contains(QChar(breaking[i])))
            text.replace(QChar(breaking[i]), m_standIns[i]);
    }
    return text;
}

QString MyEditor::fromDocument(QString text) const
{
    text.replace(QChar::ParagraphSeparator, u'\n');
    for (int i = 0; i < standInCount; ++i) {
        if (text.contains(m_standIns[i]))
            text.replace(m_standIns[i], QChar(breaking[i]));
    }
    return text;
}

QString MyEditor::text() const
{
    // toPlainText() would turn every no-break space into a space.
    return fromDocument(document()->toRawText());
}

void MyEditor::setText(const QString &text)
{
    chooseStandIns(text);
    setPlainText(toDocument(text));
    document()->setModified(false);
}

void MyEditor::linesChange(int mode)
{
    const QTextCursor before = textCursor();
    const int line = before.blockNumber();
    const int column = before.positionInBlock();

    const QString result = SubEngine::linesChange(text(), mode);
    if (!lineOperation(mode))
        return; // undefined: the text stays as it was

    QTextCursor all(document());
    all.beginEditBlock();
    all.select(QTextCursor::Document);
    all.insertText(toDocument(result));
    all.endEditBlock();

    const QTextBlock block = document()->findBlockByNumber(
            qMin(line, document()->blockCount() - 1));
    QTextCursor after(block);
    after.setPosition(block.position() + qMin(column, block.length() - 1));
    setTextCursor(after);
    document()->setModified(true);
}
