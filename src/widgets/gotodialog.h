// Go to: a line, "#N" for the N-th subtitle, or a time for the first
// subtitle on screen at it or after it.
#pragma once

#include <QDialog>

class MyEditor;
class QLabel;
class QLineEdit;

class GoToDialog : public QDialog
{
    Q_OBJECT

public:
    GoToDialog(MyEditor *editor, QWidget *parent);

    // Moves the editor's cursor to the start of the line the target names;
    // otherwise stays open and says why.
    void accept() override;

    // Where `typed` leads in the editor's text: the line (from 0), or -1
    // with the reason in `why`.
    static int lineFor(MyEditor *editor, const QString &typed, QString *why);

private:
    MyEditor *m_editor;
    QLineEdit *m_field;
    QLabel *m_notice;
};
