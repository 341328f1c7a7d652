#include "widgets/gotodialog.h"

#include "widgets/myeditor.h"
#include "engine/textsearch.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTextBlock>
#include <QVBoxLayout>

GoToDialog::GoToDialog(MyEditor *editor, QWidget *parent) : QDialog(parent), m_editor(editor)
{
    setObjectName(QStringLiteral("goTo"));
    setWindowTitle(QStringLiteral("Go to"));
    auto *label = new QLabel(QStringLiteral("&Line, #subtitle or time (1:02:03.5):"), this);
    m_field = new QLineEdit(this);
    m_field->setObjectName(QStringLiteral("goToField"));
    label->setBuddy(m_field);
    m_notice = new QLabel(this);
    m_notice->setObjectName(QStringLiteral("goToNotice"));
    m_notice->setTextFormat(Qt::PlainText);
    m_notice->setWordWrap(true);
    m_notice->hide();
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &GoToDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &GoToDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(m_field);
    layout->addWidget(m_notice);
    layout->addWidget(buttons);
    setMinimumWidth(fontMetrics().averageCharWidth() * 40);
    m_field->setText(QString::number(editor->textCursor().blockNumber() + 1));
    m_field->selectAll();
    m_field->setFocus();
}

int GoToDialog::lineFor(MyEditor *editor, const QString &typed, QString *why)
{
    const GoToTarget target = parseGoToTarget(typed);
    const int lines = editor->document()->blockCount();
    SubEngine engine;
    engine.fps = editor->fps;
    switch (target.kind) {
    case GoToTarget::Line:
        if (target.number <= lines)
            return int(target.number - 1);
        *why = QStringLiteral("The text has %1 lines.").arg(lines);
        return -1;
    case GoToTarget::Subtitle: {
        const qsizetype line = nthSubtitleLine(engine, editor->text(), target.number);
        if (line < 0)
            *why = QStringLiteral("The text has fewer than %1 subtitles.").arg(target.number);
        return int(line);
    }
    case GoToTarget::Time: {
        const qsizetype line = subtitleLineAtTime(engine, editor->text(), target.seconds);
        if (line < 0)
            *why = QStringLiteral("No subtitle is shown at %1 or after it.").arg(typed.trimmed());
        return int(line);
    }
    case GoToTarget::Invalid:
        break;
    }
    *why = QStringLiteral("\"%1\" is no line number, #subtitle or time.").arg(typed.trimmed());
    return -1;
}

void GoToDialog::accept()
{
    QString why;
    const int line = lineFor(m_editor, m_field->text(), &why);
    if (line < 0) {
        m_notice->setText(why);
        m_notice->show();
        adjustSize();
        m_field->setFocus();
        m_field->selectAll();
        return;
    }
    const QTextBlock block = m_editor->document()->findBlockByNumber(line);
    m_editor->setTextCursor(QTextCursor(block));
    m_editor->centerCursor();
    QDialog::accept();
}
