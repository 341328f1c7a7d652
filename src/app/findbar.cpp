#include "app/findbar.h"

#include "editor/myeditor.h"

#include <QCheckBox>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QTextBlock>
#include <QTextDocument>
#include <QThread>
#include <QTimer>
#include <QToolButton>

#include <atomic>
#include <functional>
#include <memory>

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

    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(6, 4, 6, 4);
    grid->setVerticalSpacing(3);
    grid->addWidget(findLabel, 0, 0);
    grid->addWidget(m_find, 0, 1);
    grid->addWidget(m_next, 0, 2);
    grid->addWidget(m_previous, 0, 3);
    grid->addWidget(closeButton, 0, 4);
    grid->addWidget(m_replaceLabel, 1, 0);
    grid->addWidget(m_replace, 1, 1);
    grid->addWidget(m_replaceOne, 1, 2);
    grid->addWidget(m_replaceAll, 1, 3);
    auto *options = new QHBoxLayout;
    options->addWidget(m_regularExpression);
    options->addWidget(m_matchCase);
    options->addWidget(m_wholeWords);
    options->addStretch(1);
    grid->addLayout(options, 2, 0, 1, 5);
    grid->addWidget(m_notice, 3, 0, 1, 5);
    grid->setColumnStretch(1, 1);

    // Tab goes from the find field to the replace field, then on in
    // reading order.
    setTabOrder(m_find, m_replace);
    setTabOrder(m_replace, m_regularExpression);
    setTabOrder(m_regularExpression, m_matchCase);
    setTabOrder(m_matchCase, m_wholeWords);
    setTabOrder(m_wholeWords, m_next);
    setTabOrder(m_next, m_previous);
    setTabOrder(m_previous, m_replaceOne);
    setTabOrder(m_replaceOne, m_replaceAll);
    setTabOrder(m_replaceAll, closeButton);

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
    // An empty match where the search starts would be found again and again.
    auto search = [&](QTextCursor at) {
        QTextCursor found = document->find(re, at, flags);
        if (!found.isNull() && !found.hasSelection() && found.position() == at.position()) {
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
