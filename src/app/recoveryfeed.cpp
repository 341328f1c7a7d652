#include "app/recoveryfeed.h"

#include "widgets/myeditor.h"

#include <QTextCursor>
#include <QTextDocument>

#include <utility>

RecoveryFeed::RecoveryFeed(MyEditor *editor, SubtitleDocument *document, QObject *parent)
    : QObject(parent), m_editor(editor), m_document(document)
{
    QTextDocument *text = editor->document();
    connect(text, &QTextDocument::contentsChanged, document, &SubtitleDocument::edited);
    connect(text, &QTextDocument::contentsChange, this, &RecoveryFeed::noteEdit);
    connect(document, &SubtitleDocument::recoveryDue, this, &RecoveryFeed::handOver);
    connect(document, &SubtitleDocument::recoveryNeedsWholeText, this, [this] {
        m_editsNoted = false;
        m_filledText = {};
        handOver();
    });
}

void RecoveryFeed::noteEdit(int position, int removed, int added)
{
    if (added > (1 << 16)) {
        m_filledText = m_editor->takeFilledText();
        m_editsNoted = bool(m_filledText);
        m_edits.clear();
        return;
    }
    if (!m_editsNoted)
        return;
    QTextCursor cursor(m_editor->document());
    cursor.setPosition(position);
    cursor.setPosition(qMin(position + added, m_editor->document()->characterCount() - 1), QTextCursor::KeepAnchor);
    m_edits.append({position, removed, cursor.selectedText()});
}

void RecoveryFeed::handOver()
{
    const bool modified = m_editor->document()->isModified();
    if (m_editsNoted) {
        m_document->keepEditsForRecovery(modified, std::exchange(m_filledText, {}), std::exchange(m_edits, {}),
                                         m_editor->document()->characterCount() - 1, m_editor->rawTextFinisher());
        return;
    }
    m_edits.clear();
    m_filledText = {};
    m_editsNoted = true;
    m_document->keepForRecovery(modified, m_editor->rawText(), m_editor->rawTextFinisher());
}
