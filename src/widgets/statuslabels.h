// What a window shows of its text below the text: "Edited" while it
// differs from the file, where the cursor is and the file's format in the
// status bar, and above it what the last operation did, until the next edit.
#pragma once

#include <QString>

class MyEditor;
class QLabel;
class QMainWindow;
struct FileFormat;

class StatusLabels
{
public:
    // In the status bar of `window`; the summary is the window's to place.
    StatusLabels(MyEditor *editor, QMainWindow *window);

    QLabel *summaryLabel() const { return m_summary; }
    void showFormat(const FileFormat &format);
    // Empty (a dialog cancelled) leaves what is shown.
    void showSummary(const QString &summary);

private:
    static void showPosition(const MyEditor *editor, QLabel *label);

    QLabel *m_position;
    QLabel *m_format;
    QLabel *m_summary;
    QLabel *m_edited;
};
