// The find and replace bar under a window's text: plain text or a regular
// expression, case, whole words; Find wraps around and says so; Replace All
// is one undo step.
#pragma once

#include "engine/textsearch.h"

#include <QWidget>

class MyEditor;
class QCheckBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;

class FindBar : public QWidget
{
    Q_OBJECT

public:
    // A Replace All still searching after this long shows its progress,
    // with Cancel.
    static constexpr int progressAfterMs = 500;

    FindBar(MyEditor *editor, QWidget *parent);

    // Shows the bar with the keys in the find field, which takes the
    // selected text when it is one line; `replace` shows the replace row.
    void start(bool replace);
    // False when the text is not found (the bar says so).
    bool findNext();
    bool findPrevious();
    void replace();
    // Returns how many were replaced; none when the user cancelled it.
    qsizetype replaceAll();
    QSize minimumSizeHint() const override;

signals:
    // What the bar did, for the window's status bar.
    void replaced(const QString &summary);
    // What Find says while the bar is closed (F3 alone), for the status
    // bar; empty when there is nothing to say.
    void noticed(const QString &notice);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    class FlowLayout;
    // The buttons beside the fields, or in a row of their own below them.
    void arrange(bool beside);
    // Width of a row of `field` with its label and the close button.
    int besideWidth(QWidget *field) const;
    bool find(bool backward);
    // The pattern of the find field; shows why when it is no valid pattern.
    bool pattern(QRegularExpression &out);
    void say(const QString &notice);
    void close();

    MyEditor *m_editor;
    QLineEdit *m_find;
    QLineEdit *m_replace;
    QCheckBox *m_regularExpression;
    QCheckBox *m_matchCase;
    QCheckBox *m_wholeWords;
    QPushButton *m_next;
    QPushButton *m_previous;
    QPushButton *m_replaceOne;
    QPushButton *m_replaceAll;
    QLabel *m_replaceLabel;
    QLabel *m_notice;
    QList<QWidget *> m_labels;
    QWidget *m_close = nullptr;
    QGridLayout *m_grid = nullptr;
    FlowLayout *m_buttons = nullptr;
    bool m_beside = true;
    // Where Find last went, in the text as it was then.
    struct Found
    {
        int anchor = -1, position = -1, revision = -1;
    } m_found;
};
