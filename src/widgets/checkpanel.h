// The panel beside a window's text that lists what the checks find: a count
// per kind at the top (choosing one lists only that kind), then one row per
// problem; Enter or a double click puts the cursor on its line. While it is
// shown it follows the text as it is edited, checking again only the lines
// an edit touched. Fix moves hide times as one undo step.
#pragma once

#include "engine/checks.h"

#include <QDockWidget>

class MyEditor;
class ProblemModel;
class QPushButton;
class QTableView;
class QTreeWidget;

class CheckPanel : public QDockWidget
{
    Q_OBJECT

public:
    CheckPanel(MyEditor *editor, QWidget *parent);
    ~CheckPanel() override;

    const CheckRules &rules() const { return m_list.rules(); }
    void setRules(const CheckRules &rules);
    // Checks the whole text again, at the editor's frame rate as it is now.
    void recheck();
    // Lists only `kind`, or every kind for -1.
    void showKind(int kind);
    // Gives the list of problems the keyboard.
    void focusProblems();
    // Puts the editor's cursor on the line of the problem in `row`.
    void goToRow(int row);
    // Mends what moving hide times can mend, as one undo step.
    void fix();

signals:
    // What Fix did, for the window's summary.
    void fixed(const QString &summary);

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    // Columns wide enough for what they hold, at the font in use.
    void fitColumns();
    // The editor's text changed at `position`; `added` characters are new.
    void follow(int position, int removed, int added);
    void showCounts();
    void chooseRules();

    MyEditor *m_editor;
    CheckList m_list;
    ProblemModel *m_model;
    QTreeWidget *m_kinds;
    QTableView *m_problems;
    QPushButton *m_fix;
    QMetaObject::Connection m_following;
    int m_lines = 0; // the text's lines when last checked
};
