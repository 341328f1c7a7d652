#include "widgets/findbar.h"

#include "widgets/myeditor.h"

#include <QCheckBox>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QResizeEvent>
#include <QPushButton>
#include <QTextBlock>
#include <QTextDocument>
#include <QThread>
#include <QTimer>
#include <QToolButton>

#include <atomic>
#include <functional>
#include <iterator>
#include <memory>

// Its widgets left to right, going on in a new row where the width ends.
class FindBar::FlowLayout : public QLayout
{
public:
    ~FlowLayout() override
    {
        while (QLayoutItem *item = takeAt(0))
            delete item;
    }
    void addItem(QLayoutItem *item) override { m_items.append(item); }
    int count() const override { return int(m_items.size()); }
    QLayoutItem *itemAt(int index) const override { return m_items.value(index); }
    QLayoutItem *takeAt(int index) override
    {
        return index >= 0 && index < m_items.size() ? m_items.takeAt(index) : nullptr;
    }
    Qt::Orientations expandingDirections() const override { return {}; }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override { return place(QRect(0, 0, width, 0), false); }
    void setGeometry(const QRect &rect) override
    {
        QLayout::setGeometry(rect);
        place(rect, true);
    }
    QSize sizeHint() const override
    {
        QSize size;
        for (const QLayoutItem *item : m_items) {
            if (!item->isEmpty())
                size = QSize(size.width() + (size.isEmpty() ? 0 : spacing()) + item->sizeHint().width(),
                             qMax(size.height(), item->sizeHint().height()));
        }
        return size;
    }
    QSize minimumSize() const override
    {
        QSize size;
        for (const QLayoutItem *item : m_items) {
            if (!item->isEmpty())
                size = size.expandedTo(item->minimumSize());
        }
        return size;
    }

private:
    int spacing() const
    {
        const int own = QLayout::spacing();
        return own >= 0 ? own : 6;
    }
    // Places the items in `rect` (or only measures); the height they take.
    int place(const QRect &rect, bool move) const
    {
        int x = rect.x(), y = rect.y(), rowHeight = 0;
        for (QLayoutItem *item : m_items) {
            if (item->isEmpty())
                continue;
            const QSize size = item->sizeHint();
            if (x > rect.x() && x + size.width() > rect.right() + 1) {
                x = rect.x();
                y += rowHeight + spacing();
                rowHeight = 0;
            }
            if (move)
                item->setGeometry(QRect(QPoint(x, y), size));
            x += size.width() + spacing();
            rowHeight = qMax(rowHeight, size.height());
        }
        return y + rowHeight - rect.y();
    }

    QList<QLayoutItem *> m_items;
};

FindBar::FindBar(MyEditor *editor, QWidget *parent) : QWidget(parent), m_editor(editor)
{
    setObjectName(QStringLiteral("findBar"));
    auto *findLabel = new QLabel(QStringLiteral("F&ind:"), this);
    m_replaceLabel = new QLabel(QStringLiteral("Re&place with:"), this);
    m_find = new QLineEdit(this);
    m_find->setObjectName(QStringLiteral("findField"));
    m_find->setClearButtonEnabled(true);
    m_replace = new QLineEdit(this);
    m_replace->setObjectName(QStringLiteral("replaceField"));
    findLabel->setBuddy(m_find);
    m_replaceLabel->setBuddy(m_replace);
    m_next = new QPushButton(QStringLiteral("&Next"), this);
    m_previous = new QPushButton(QStringLiteral("Pre&vious"), this);
    m_replaceOne = new QPushButton(QStringLiteral("&Replace"), this);
    m_replaceAll = new QPushButton(QStringLiteral("Replace &All"), this);
    m_replaceAll->setObjectName(QStringLiteral("replaceAll"));
    m_regularExpression = new QCheckBox(QStringLiteral("Regular e&xpression"), this);
    m_regularExpression->setObjectName(QStringLiteral("regularExpression"));
    m_matchCase = new QCheckBox(QStringLiteral("Match &case"), this);
    m_matchCase->setObjectName(QStringLiteral("matchCase"));
    m_wholeWords = new QCheckBox(QStringLiteral("&Whole words"), this);
    m_wholeWords->setObjectName(QStringLiteral("wholeWords"));
    auto *closeButton = new QToolButton(this);
    closeButton->setObjectName(QStringLiteral("closeFindBar"));
    closeButton->setText(QStringLiteral("\u00d7"));
    closeButton->setToolTip(QStringLiteral("Close (Escape)"));
    closeButton->setAutoRaise(true);
    m_notice = new QLabel(this);
    m_notice->setObjectName(QStringLiteral("findNotice"));
    m_notice->setWordWrap(true);
    m_notice->setTextFormat(Qt::PlainText);
    for (QPushButton *button : {m_next, m_previous, m_replaceOne, m_replaceAll})
        button->setAutoDefault(false);

    // The fields keep room for about 15 characters, however large the
    // font: where the window is too narrow for the buttons beside them,
    // the buttons go onto a row of their own (see arrange()).
    for (QLineEdit *field : {m_find, m_replace})
        field->setMinimumWidth(field->fontMetrics().averageCharWidth() * 15 + 2 * field->sizeHint().height());
    m_close = closeButton;
    m_grid = new QGridLayout(this);
    m_grid->setContentsMargins(6, 4, 6, 4);
    m_grid->setVerticalSpacing(3);
    m_grid->addWidget(findLabel, 0, 0);
    m_grid->addWidget(m_find, 0, 1);
    m_grid->addWidget(closeButton, 0, 4);
    m_grid->addWidget(m_replaceLabel, 1, 0);
    m_grid->addWidget(m_replace, 1, 1);
    m_buttons = new FlowLayout;
    m_grid->addLayout(m_buttons, 2, 0, 1, 5);
    auto *options = new FlowLayout;
    options->addWidget(m_regularExpression);
    options->addWidget(m_matchCase);
    options->addWidget(m_wholeWords);
    m_grid->addLayout(options, 3, 0, 1, 5);
    m_grid->addWidget(m_notice, 4, 0, 1, 5);
    m_grid->setColumnStretch(1, 1);
    m_labels = {findLabel, m_replaceLabel};
    arrange(true);

    // Tab goes from the find field to the replace field, then on in
    // reading order.
    QWidget *const inTurn[] = {m_find, m_replace, m_regularExpression, m_matchCase, m_wholeWords,
                               m_next, m_previous, m_replaceOne, m_replaceAll, closeButton};
    for (size_t i = 1; i < std::size(inTurn); ++i)
        setTabOrder(inTurn[i - 1], inTurn[i]);

    connect(m_find, &QLineEdit::returnPressed, this, &FindBar::findNext);
    connect(m_replace, &QLineEdit::returnPressed, this, &FindBar::replace);
    connect(m_next, &QPushButton::clicked, this, &FindBar::findNext);
    connect(m_previous, &QPushButton::clicked, this, &FindBar::findPrevious);
    connect(m_replaceOne, &QPushButton::clicked, this, &FindBar::replace);
    connect(m_replaceAll, &QPushButton::clicked, this, &FindBar::replaceAll);
    connect(closeButton, &QToolButton::clicked, this, &FindBar::close);
    connect(m_find, &QLineEdit::textChanged, this, [this] { say(QString()); });
    hide();
}

int FindBar::besideWidth(QWidget *field) const
{
    int labels = 0;
    for (QWidget *label : m_labels)
        labels = qMax(labels, label->sizeHint().width());
    const QMargins margins = m_grid->contentsMargins();
    const int spacing = qMax(0, m_grid->horizontalSpacing());
    return margins.left() + labels + spacing + field->minimumWidth() + spacing + m_close->sizeHint().width()
            + margins.right();
}

QSize FindBar::minimumSizeHint() const
{
    // The narrow arrangement's, which any window has room for.
    const int width = qMax(besideWidth(m_find),
                           m_grid->contentsMargins().left() + m_grid->contentsMargins().right()
                                   + m_buttons->minimumSize().width());
    return QSize(width, QWidget::minimumSizeHint().height());
}

void FindBar::arrange(bool beside)
{
    m_beside = beside;
    const QList<QPushButton *> buttons = {m_next, m_previous, m_replaceOne, m_replaceAll};
    for (QPushButton *button : buttons) {
        m_grid->removeWidget(button);
        m_buttons->removeWidget(button);
    }
    if (beside) {
        m_grid->addWidget(m_next, 0, 2);
        m_grid->addWidget(m_previous, 0, 3);
        m_grid->addWidget(m_replaceOne, 1, 2);
        m_grid->addWidget(m_replaceAll, 1, 3);
    } else {
        for (QPushButton *button : buttons)
            m_buttons->addWidget(button);
    }
}

void FindBar::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    // Beside the fields while they keep their room.
    const int spacing = qMax(0, m_grid->horizontalSpacing());
    int buttons = m_next->sizeHint().width() + spacing + m_previous->sizeHint().width();
    if (m_replace->isVisibleTo(this))
        buttons = qMax(buttons, m_replaceOne->sizeHint().width() + spacing + m_replaceAll->sizeHint().width());
    const bool beside = event->size().width() >= besideWidth(m_find) + buttons + spacing;
    if (beside != m_beside)
        arrange(beside);
}

void FindBar::start(bool replace)
{
    const QString selected = m_editor->textCursor().selectedText();
    if (!selected.isEmpty() && !selected.contains(QChar::ParagraphSeparator))
        m_find->setText(m_regularExpression->isChecked() ? QRegularExpression::escape(selected) : selected);
    for (QWidget *w : {static_cast<QWidget *>(m_replaceLabel), static_cast<QWidget *>(m_replace),
                       static_cast<QWidget *>(m_replaceOne), static_cast<QWidget *>(m_replaceAll)})
        w->setVisible(replace);
    say(QString());
    show();
    // The replace row's buttons may not fit beside the fields.
    QResizeEvent again(size(), size());
    resizeEvent(&again);
    m_find->setFocus();
    m_find->selectAll();
}

void FindBar::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier)
        close();
    else
        QWidget::keyPressEvent(event);
}

void FindBar::close()
{
    hide();
    m_editor->setFocus();
}

void FindBar::say(const QString &notice)
{
    m_notice->setText(notice);
    m_notice->setVisible(!notice.isEmpty());
    // F3 with the bar closed: the window says it instead.
    if (isHidden())
        emit noticed(notice);
}

bool FindBar::pattern(QRegularExpression &out)
{
    if (m_find->text().isEmpty()) {
        say(QString());
        return false;
    }
    out = searchPattern(m_find->text(), {m_regularExpression->isChecked(), m_matchCase->isChecked(),
                                         m_wholeWords->isChecked()});
    if (!out.isValid()) {
        say(QStringLiteral("Not a regular expression: %1.").arg(out.errorString()));
        return false;
    }
    return true;
}

bool FindBar::findNext()
{
    return find(false);
}

bool FindBar::findPrevious()
{
    return find(true);
}

bool FindBar::find(bool backward)
{
    if (m_find->text().isEmpty()) { // nothing to find yet: ask for it
        start(isVisible() && m_replace->isVisible());
        return false;
    }
    QRegularExpression re;
    if (!pattern(re))
        return false;
    QTextDocument *document = m_editor->document();
    const QTextDocument::FindFlags flags = backward ? QTextDocument::FindBackward : QTextDocument::FindFlags();
    const QTextCursor from = m_editor->textCursor();
    // An empty match where the last Find or Replace left the cursor would
    // be found again and again; one where the search starts anew is new.
    const bool leftHere = m_found.anchor == from.anchor() && m_found.position == from.position()
            && m_found.revision == document->revision();
    auto search = [&](QTextCursor at) {
        QTextCursor found = document->find(re, at, flags);
        if (leftHere && at == from && !found.isNull() && !found.hasSelection() && found.position() == at.position()) {
            if (backward ? at.position() == 0 : at.atEnd())
                return QTextCursor();
            at.clearSelection();
            at.movePosition(backward ? QTextCursor::PreviousCharacter : QTextCursor::NextCharacter);
            found = document->find(re, at, flags);
        }
        return found;
    };
    QTextCursor found = search(from);
    QString notice;
    if (found.isNull()) {
        QTextCursor edge(document);
        if (backward)
            edge.movePosition(QTextCursor::End);
        found = search(edge);
        notice = backward ? QStringLiteral("Passed the start of the text; went on from the end.")
                          : QStringLiteral("Passed the end of the text; went on from the start.");
    }
    if (found.isNull()) {
        say(QStringLiteral("\"%1\" was not found.").arg(m_find->text()));
        return false;
    }
    say(notice);
    m_editor->setTextCursor(found);
    m_found = {found.anchor(), found.position(), document->revision()};
    return true;
}

void FindBar::replace()
{
    QRegularExpression re;
    if (!pattern(re))
        return;
    // What Find selected, or a selection that is exactly a match where it
    // stands: its line around it is what look-behind, ^ and \b look at. An
    // empty match is only ever one that Find went to.
    QTextCursor cursor = m_editor->textCursor();
    const int start = cursor.selectionStart(), end = cursor.selectionEnd();
    const bool wentTo = m_found.anchor == cursor.anchor() && m_found.position == cursor.position()
            && m_found.revision == m_editor->document()->revision();
    const QTextBlock block = m_editor->document()->findBlock(start);
    if ((cursor.hasSelection() || wentTo) && end < block.position() + block.length()) {
        const int at = start - block.position();
        const QRegularExpressionMatch match = re.match(block.text(), at, QRegularExpression::NormalMatch,
                                                       QRegularExpression::AnchorAtOffsetMatchOption);
        if (match.hasMatch() && match.capturedStart() == at && match.capturedEnd() == end - block.position()) {
            cursor.insertText(replacementFor(match, m_replace->text(), m_regularExpression->isChecked()));
            m_editor->setTextCursor(cursor);
            // What the replacement leaves here is no match of the text Find saw.
            m_found = {cursor.anchor(), cursor.position(), m_editor->document()->revision()};
        }
    }
    findNext();
}

namespace {

// Runs `work` on a thread of its own, telling it whether to go on; the
// window takes no input meanwhile. Past `FindBar::progressAfterMs` a
// progress dialog shows how far it is (`goOn` is told the place reached, of
// `total`) with Cancel. False when the user cancelled.
bool runWithProgress(QWidget *window, const QString &label, qsizetype total,
                     const std::function<void(const std::function<bool(qsizetype)> &goOn)> &work)
{
    std::atomic<qsizetype> reached{0};
    std::atomic<bool> cancelled{false};
    std::unique_ptr<QThread> thread(QThread::create([&] {
        work([&](qsizetype at) {
            reached = at;
            return !cancelled;
        });
    }));
    thread->start();
    // Most work ends before anyone would miss the window: it is not drawn
    // meanwhile, and what is typed waits.
    if (thread->wait(QDeadlineTimer(FindBar::progressAfterMs)))
        return true;
    QProgressDialog progress(label, QStringLiteral("Cancel"), 0, 1000, window);
    progress.setObjectName(QStringLiteral("progress"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(0);
    progress.setAutoReset(false);
    progress.setAutoClose(false);
    QEventLoop loop;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &progress, [&] {
        progress.setValue(int(total > 0 ? reached * 1000 / total : 0));
    });
    QObject::connect(&progress, &QProgressDialog::canceled, &loop, [&] { cancelled = true; });
    QObject::connect(thread.get(), &QThread::finished, &loop, &QEventLoop::quit);
    tick.start(100);
    progress.show();
    if (!thread->isFinished())
        loop.exec();
    thread->wait();
    return !cancelled;
}

} // namespace

qsizetype FindBar::replaceAll()
{
    QRegularExpression re;
    if (!pattern(re))
        return 0;
    const QString text = m_editor->text();
    const QString replacement = m_replace->text();
    const bool regularExpression = m_regularExpression->isChecked();
    QList<TextEdit> edits;
    const bool done = runWithProgress(window(), QStringLiteral("Replacing \"%1\"...").arg(m_find->text()), text.size(),
                                      [&](const std::function<bool(qsizetype)> &goOn) {
        edits = replacementsInText(text, re, replacement, regularExpression, goOn);
    });
    if (!done) {
        say(QStringLiteral("Replace All was cancelled; nothing was replaced."));
        return 0;
    }
    const qsizetype count = edits.size();
    if (count == 0) {
        say(QStringLiteral("\"%1\" was not found.").arg(m_find->text()));
        return 0;
    }
    say(QString());
    m_editor->replaceParts(edits, text);
    emit replaced(count == 1 ? QStringLiteral("Replace All: 1 replaced")
                             : QStringLiteral("Replace All: %1 replaced").arg(count));
    return count;
}
