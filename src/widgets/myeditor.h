// The text area of a main window: a plain-text editor that runs the line
// engine over its text, as one undo step each time.
#pragma once

#include <array>
#include <functional>
#include <utility>

#include "engine/subengine.h"
#include "engine/textsearch.h"

#include <QHash>
#include <QPlainTextEdit>

class MyEditor : public QPlainTextEdit
{
    Q_OBJECT

public:
    explicit MyEditor(QWidget *parent = nullptr, const char *name = "editor");
    ~MyEditor() override;

    // The frame rate the text's frame numbers are read at. It belongs to
    // the text: a frame-rate change moves it, and undo and redo put back
    // the rate of their text.
    double fps = 25.0;

    // Runs operation `mode` with `settings` (frame numbers read at `fps`)
    // over the whole text as one undo step, keeps the cursor's line and
    // column (clamped to the new text) and marks the text as edited,
    // whether or not a line changed. A frame-rate change makes its new
    // rate `fps`. Returns what the walk did.
    SubEngine::WalkCounts linesChange(int mode, const OperationSettings &settings = {});

    static constexpr int standInCount = 4;

    // The text exactly as the user sees it, lines joined by LF.
    QString text() const;
    // text() in two steps: the document's raw text, taken here, and a
    // function that finishes it on any thread (a copy of what it needs).
    QString rawText() const;
    std::function<QString(QString)> rawTextFinisher() const;
    // text() as setText(), replaceWhole() or replaceParts() with the text
    // it was given last made the document, as a function that gives it on
    // any thread from the strings it was made from (shared, not copied
    // here); given once, and none once anything else changed the document
    // since.
    std::function<QString()> takeFilledText() { return std::exchange(m_filled, nullptr); }
    // Replaces the text, clearing the undo history, and marks it unedited.
    // `sameText`, where given, gives `text` again later (or a null string
    // when it no longer can), so that takeFilledText() need not hold it;
    // then a `text` held nowhere else is let go of as it goes in.
    void setText(QString text, const std::function<QString()> &sameText = {});
    // Replaces the whole text as one undo step, keeping the cursor's line
    // and column (clamped) and the view; undoing or redoing the step puts
    // them back there too.
    void replaceWhole(const QString &text);
    // Makes the edits, in order and not overlapping, at places in text()
    // as one undo step; the cursor and view stay as replaceWhole() keeps them.
    // `text`, where given, is text() now, for takeFilledText().
    void replaceParts(const QList<TextEdit> &edits, const QString &text = QString());

public slots:
    // The text area's own undo and redo, which after a whole-text step
    // would leave the cursor at the end of the text.
    void undo();
    void redo();

signals:
    // Files were dropped on the text area: they are to be opened, not
    // their addresses inserted.
    void filesDropped(const QStringList &names);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    // A line may hold characters the text area would take as line breaks (a
    // lone CR, U+2029, U+FDD0, U+FDD1). They stand in the document as
    // noncharacters that the text does not contain, and go back on the way
    // out.
    void chooseStandIns(const QString &text);
    QString toDocument(QString text) const;
    std::array<QChar, standInCount> standIns() const;
    QString fromDocument(QString text) const;

    QChar m_standIns[standInCount];
    // See takeFilledText(); set while the document is filled.
    std::function<QString()> m_filled;
    bool m_filling = false;
    // Fills the document through `fill`, which makes it `filled`.
    void fillWhole(const std::function<QString()> &filled, const std::function<void()> &fill);

    struct Place
    {
        int line = 0, column = 0, scroll = 0;
    };
    Place place() const;
    void goTo(const Place &place);
    // Where the cursor stood before each whole-text step, by the step's
    // place in the undo stack.
    QHash<int, Place> m_placeBefore;
    // The rate before and after each frame-rate change, kept the same way.
    QHash<int, std::pair<double, double>> m_rateAround;
};
