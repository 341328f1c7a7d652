#include "widgets/statuslabels.h"

#include "widgets/myeditor.h"
#include "files/textcodec.h"

#include <QLabel>
#include <QMainWindow>
#include <QStatusBar>
#include <QTextBlock>

StatusLabels::StatusLabels(MyEditor *editor, QMainWindow *window)
{
    m_position = new QLabel(window);
    m_format = new QLabel(window);
    m_summary = new QLabel(window);
    m_summary->setObjectName(QStringLiteral("summary"));
    m_summary->setTextFormat(Qt::PlainText);
    m_summary->setWordWrap(true);
    m_summary->setContentsMargins(6, 3, 6, 3);
    m_summary->hide();
    m_edited = new QLabel(QStringLiteral("Edited"), window);
    m_edited->setObjectName(QStringLiteral("edited"));
    m_edited->setToolTip(QStringLiteral("The text differs from the file it was read from or saved to"));
    m_edited->setContentsMargins(0, 0, 8, 0);
    m_edited->hide();
    QStatusBar *bar = window->statusBar();
    bar->addPermanentWidget(m_edited);
    bar->addPermanentWidget(m_position);
    bar->addPermanentWidget(m_format);
    // The labels, not this, are what the connections hold on to.
    QLabel *position = m_position;
    QObject::connect(editor, &QPlainTextEdit::cursorPositionChanged, position,
                     [editor, position] { showPosition(editor, position); });
    QObject::connect(editor->document(), &QTextDocument::modificationChanged, m_edited, &QWidget::setVisible);
    QObject::connect(editor->document(), &QTextDocument::contentsChanged, m_summary, [summary = m_summary] {
        if (!summary->isHidden()) {
            summary->clear();
            summary->hide();
        }
    });
    showPosition(editor, position);
}

void StatusLabels::showFormat(const FileFormat &format)
{
    static const char *const ends[] = {"LF", "CRLF", "mixed line ends", "CR"};
    m_format->setText(QStringLiteral("%1, %2").arg(describeFormat(format), QLatin1String(ends[int(format.lineEnds)])));
}

void StatusLabels::showSummary(const QString &summary)
{
    if (summary.isEmpty())
        return; // a dialog cancelled: what was shown stays
    m_summary->setText(summary);
    m_summary->setToolTip(summary);
    m_summary->show();
}

void StatusLabels::showPosition(const MyEditor *editor, QLabel *label)
{
    const QTextCursor cursor = editor->textCursor();
    label->setText(QStringLiteral("Line %1, column %2")
                           .arg(cursor.blockNumber() + 1)
                           .arg(cursor.positionInBlock() + 1));
}
