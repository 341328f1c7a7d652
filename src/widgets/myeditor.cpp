#include "widgets/myeditor.h"

#include <array>
#include <utility>

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace {

// Qt's text layout throws a line's shaping away as soon as the line is laid
// out, so every later question about it (where the cursor stands, drawing
// the cursor, the view following it) shapes the whole line again: 0.3 s
// each on a 2 MB line, three times for every key typed there. Lines at
// least this long keep it.
constexpr int keepShapingFrom = 1 << 16;

// What setText() puts in at a time when it lets go of the string as it goes.
constexpr qsizetype fillPiece = qsizetype(1) << 22;

} // namespace

MyEditor::MyEditor(QWidget *parent, const char *name) : QPlainTextEdit(parent)
{
    setObjectName(QString::fromLatin1(name));
    setLineWrapMode(QPlainTextEdit::NoWrap);
    chooseStandIns(QString());
    // A new step of the user's own ends any redo, and the places kept for it.
    connect(document(), &QTextDocument::undoCommandAdded, this, [this] {
        const int top = document()->availableUndoSteps() - 1;
        m_placeBefore.removeIf([top](auto it) { return it.key() >= top; });
        m_rateAround.removeIf([top](auto it) { return it.key() >= top; });
    });
    // Any change but a whole fill makes the document another text than the
    // string it was filled from.
    connect(document(), &QTextDocument::contentsChange, this, [this] {
        if (!m_filling)
            m_filled = nullptr;
    });
    // Before the text area lays the changed lines out. A line grows long
    // only where text went in, or where two lines were joined.
    connect(document(), &QTextDocument::contentsChange, this, [this](int position, int, int added) {
        QTextBlock block = document()->findBlock(position);
        const int end = position + added;
        if (added < keepShapingFrom) {
            for (int i = 0; i < 2 && block.isValid(); ++i, block = document()->findBlock(end)) {
                if (block.length() > keepShapingFrom)
                    block.layout()->setCacheEnabled(true);
            }
            return;
        }
        for (; block.isValid() && block.position() <= end; block = block.next()) {
            if (block.length() > keepShapingFrom)
                block.layout()->setCacheEnabled(true);
        }
    });
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

namespace {

QString finishRawText(QString text, const std::array<QChar, MyEditor::standInCount> &standIns)
{
    text.replace(QChar::ParagraphSeparator, u'\n');
    for (size_t i = 0; i < standIns.size(); ++i) {
        if (text.contains(standIns[i]))
            text.replace(standIns[i], QChar(breaking[i]));
    }
    return text;
}

} // namespace

QString MyEditor::fromDocument(QString text) const
{
    return rawTextFinisher()(std::move(text));
}

QString MyEditor::rawText() const
{
    return document()->toRawText();
}

std::array<QChar, MyEditor::standInCount> MyEditor::standIns() const
{
    std::array<QChar, standInCount> standIns;
    std::copy(std::begin(m_standIns), std::end(m_standIns), standIns.begin());
    return standIns;
}

std::function<QString(QString)> MyEditor::rawTextFinisher() const
{
    return [standIns = standIns()](QString text) { return finishRawText(std::move(text), standIns); };
}

namespace {

// text() of a document filled from `text`: line breaks went in as breaks
// and come out as LF, as they were; only a stand-in the string held itself
// comes out as the character it stands for.
QString shownFrom(QString text, const std::array<QChar, MyEditor::standInCount> &standIns)
{
    for (size_t i = 0; i < standIns.size(); ++i) {
        if (text.contains(standIns[i]))
            text.replace(standIns[i], QChar(breaking[i]));
    }
    return text;
}

} // namespace

namespace {

// Selects the whole text without laying out any of it (in an edit block).
void selectWhole(QTextCursor &cursor)
{
    cursor.setPosition(0);
    cursor.setPosition(cursor.document()->characterCount() - 1, QTextCursor::KeepAnchor);
}

} // namespace

void MyEditor::fillWhole(const std::function<QString()> &filled, const std::function<void()> &fill)
{
    m_filled = filled;
    m_filling = true;
    fill();
    m_filling = false;
}

QString MyEditor::text() const
{
    // toPlainText() would turn every no-break space into a space.
    return fromDocument(document()->toRawText());
}

void MyEditor::setText(QString text, const std::function<QString()> &sameText)
{
    chooseStandIns(text);
    // Let go of piece by piece as it goes in, the string never stands
    // beside the whole text area's copy of it: 200 MB less at the peak of
    // opening a 100 MB file.
    const bool inPieces = sameText && text.isDetached() && text.size() > fillPiece;
    std::function<QString()> filled = [sameText, standIns = standIns()] {
        const QString again = sameText();
        return again.isNull() ? again : shownFrom(again, standIns);
    };
    if (!sameText)
        filled = [text, standIns = standIns()] { return shownFrom(text, standIns); };
    fillWhole(filled, [&] {
        // Selecting the whole text to replace it would lay its last line
        // out first (a second of a 2 MB line); emptied, it has none.
        // (The history goes anyway: nothing keeps what is removed.)
        document()->setUndoRedoEnabled(false);
        QTextCursor old(document());
        old.beginEditBlock();
        selectWhole(old);
        old.removeSelectedText();
        old.endEditBlock();
        document()->setUndoRedoEnabled(true);
        if (!inPieces) {
            setPlainText(toDocument(text));
            return;
        }
        setPlainText(QString());
        document()->setUndoRedoEnabled(false);
        QTextCursor cursor(document());
        cursor.beginEditBlock();
        // From the end, each piece whole lines, each before the one after it.
        while (!text.isEmpty()) {
            const qsizetype start = text.size() > fillPiece ? text.lastIndexOf(u'\n', text.size() - fillPiece) + 1 : 0;
            cursor.setPosition(0);
            cursor.insertText(toDocument(text.sliced(start)));
            text.truncate(start);
            text.squeeze();
        }
        cursor.endEditBlock();
        document()->setUndoRedoEnabled(true);
        moveCursor(QTextCursor::Start);
    });
    m_placeBefore.clear();
    m_rateAround.clear();
    document()->setModified(false);
}

MyEditor::Place MyEditor::place() const
{
    const QTextCursor cursor = textCursor();
    return {cursor.blockNumber(), cursor.positionInBlock(), verticalScrollBar()->value()};
}

void MyEditor::goTo(const Place &place)
{
    const QTextBlock block = document()->findBlockByNumber(qMin(place.line, document()->blockCount() - 1));
    QTextCursor cursor(block);
    cursor.setPosition(block.position() + qMin(place.column, block.length() - 1));
    setTextCursor(cursor);
    verticalScrollBar()->setValue(place.scroll);
    ensureCursorVisible();
}

void MyEditor::replaceWhole(const QString &text)
{
    const Place before = place();
    const int step = document()->availableUndoSteps();
    QTextCursor all(document());
    all.beginEditBlock();
    selectWhole(all);
    fillWhole([text, standIns = standIns()] { return shownFrom(text, standIns); }, [&] {
        all.insertText(toDocument(text));
        all.endEditBlock();
    });
    m_placeBefore.insert(step, before);
    goTo(before);
}

namespace {

// `text` with `edits` made, or a null string when they are not edits of it.
QString withEdits(QStringView text, const QList<TextEdit> &edits)
{
    QString result;
    result.reserve(text.size());
    qsizetype done = 0;
    for (const TextEdit &e : edits) {
        if (e.start < done || e.length < 0 || e.start + e.length > text.size())
            return QString();
        result += text.sliced(done, e.start - done);
        result += e.text;
        done = e.start + e.length;
    }
    result += text.sliced(done);
    return result;
}

} // namespace

void MyEditor::replaceParts(const QList<TextEdit> &edits, const QString &text)
{
    // Each edit is a step of the text area's own, about 4 us to make and 2
    // to undo; the whole text goes in at about 50 ns a character, undone at
    // once. Many edits (1.76 million took 7 s, and 3.5 s to undo) go in as
    // a whole text.
    if (!text.isNull() && edits.size() > text.size() / 100) {
        const QString result = withEdits(text, edits);
        if (!result.isNull()) {
            replaceWhole(result);
            return;
        }
    }
    const Place before = place();
    const int step = document()->availableUndoSteps();
    QTextCursor cursor(document());
    const auto edit = [&] {
        // From the end, so that the places before each edit stay where they were.
        cursor.beginEditBlock();
        for (auto it = edits.crbegin(); it != edits.crend(); ++it) {
            cursor.setPosition(int(it->start));
            cursor.setPosition(int(it->start + it->length), QTextCursor::KeepAnchor);
            cursor.insertText(toDocument(it->text));
        }
        cursor.endEditBlock();
    };
    if (text.isNull()) {
        edit();
    } else {
        fillWhole([text, edits, standIns = standIns()] {
            const QString result = withEdits(text, edits);
            return result.isNull() ? result : shownFrom(result, standIns); // else the window copies it
        }, edit);
    }
    m_placeBefore.insert(step, before);
    goTo(before);
}

void MyEditor::undo()
{
    QPlainTextEdit::undo();
    const auto it = m_placeBefore.constFind(document()->availableUndoSteps());
    if (it != m_placeBefore.cend())
        goTo(*it);
    if (const auto rates = m_rateAround.constFind(document()->availableUndoSteps()); rates != m_rateAround.cend())
        fps = rates->first;
}

void MyEditor::redo()
{
    const int step = document()->availableUndoSteps();
    const auto it = m_placeBefore.constFind(step);
    const bool whole = it != m_placeBefore.cend();
    const Place before = whole ? *it : Place();
    QPlainTextEdit::redo();
    if (whole)
        goTo(before);
    if (const auto rates = m_rateAround.constFind(step); rates != m_rateAround.cend() && document()->availableUndoSteps() > step)
        fps = rates->second;
}

void MyEditor::keyPressEvent(QKeyEvent *event)
{
    if (event == QKeySequence::Undo && !isReadOnly()) {
        undo();
        event->accept();
    } else if (event == QKeySequence::Redo && !isReadOnly()) {
        redo();
        event->accept();
    } else {
        QPlainTextEdit::keyPressEvent(event);
    }
}

namespace {

// The local files a drag carries, or none when it carries anything else.
QStringList localFiles(const QMimeData *data)
{
    QStringList names;
    if (!data->hasUrls())
        return names;
    for (const QUrl &url : data->urls()) {
        if (!url.isLocalFile())
            return {};
        names << url.toLocalFile();
    }
    return names;
}

} // namespace

void MyEditor::dragEnterEvent(QDragEnterEvent *event)
{
    if (localFiles(event->mimeData()).isEmpty())
        return QPlainTextEdit::dragEnterEvent(event);
    event->acceptProposedAction();
}

void MyEditor::dragMoveEvent(QDragMoveEvent *event)
{
    if (localFiles(event->mimeData()).isEmpty())
        return QPlainTextEdit::dragMoveEvent(event);
    event->acceptProposedAction();
}

void MyEditor::dropEvent(QDropEvent *event)
{
    const QStringList names = localFiles(event->mimeData());
    if (names.isEmpty())
        return QPlainTextEdit::dropEvent(event);
    event->acceptProposedAction();
    emit filesDropped(names);
}

SubEngine::WalkCounts MyEditor::linesChange(int mode, const OperationSettings &settings)
{
    SubEngine engine(settings, fps);
    SubEngine::WalkCounts walk;
    const QString result = engine.linesChange(text(), mode, &walk);
    if (!SubEngine::lineOperation(mode))
        return walk; // undefined: the text stays as it was

    const int step = document()->availableUndoSteps();
    replaceWhole(result);
    // The frame numbers are now at the new rate, so that is the rate they
    // are read at from now on; undoing the change puts the old one back.
    if (mode == ModeFpsChange) {
        m_rateAround.insert(step, {fps, settings.fpsChange.to});
        fps = settings.fpsChange.to;
    }
    document()->setModified(true);
    return walk;
}
