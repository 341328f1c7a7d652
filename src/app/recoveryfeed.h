// Feeds the text an editor shows to its document's recovery file.
#pragma once

#include "files/subtitledocument.h"

#include <QList>
#include <QObject>

#include <functional>

class MyEditor;

// Each edit is noted as it is made, so that a recovery write hands the
// writer's thread what was typed rather than the whole text. After a large
// change the writer starts again from the string the new text was made from
// (a file read, an operation's result, Replace All's), or else from a copy
// of the whole text, the only work that grows with the text on the
// window's thread.
class RecoveryFeed : public QObject
{
    Q_OBJECT

public:
    RecoveryFeed(MyEditor *editor, SubtitleDocument *document, QObject *parent = nullptr);

    // Hands the text over now rather than after the pause in typing (or
    // lets the recovery file of a text no longer edited go); returns at
    // once, the writing is on the writer's thread.
    void handOver();

private:
    void noteEdit(int position, int removed, int added);

    MyEditor *m_editor;
    SubtitleDocument *m_document;
    QList<RawEdit> m_edits;                // made since the text was last handed over
    bool m_editsNoted = false;             // else the whole text goes next time
    std::function<QString()> m_filledText; // the text the edits start from, if new since
};
