// Answers modal dialogs in a GUI test: exec() would otherwise block it.
#pragma once

#include "app/messageboxes.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

// Each answer runs on the next modal dialog that opens, in order.
class ModalAnswers : public QObject
{
public:
    using Answer = std::function<void(QWidget *)>;

    ModalAnswers()
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            QWidget *modal = QApplication::activeModalWidget();
            if (!modal || modal == m_last || m_pending.isEmpty() || !modal->isVisible())
                return;
            m_last = modal;
            m_seen << modal->objectName();
            // From a timer of its own, so that a dialog the answer opens in
            // turn (a confirmation) can be answered too.
            QTimer::singleShot(0, modal, [modal, answer = m_pending.takeFirst()] { answer(modal); });
        });
        m_timer.start(5);
    }
    ModalAnswers &then(Answer answer)
    {
        m_pending.append(std::move(answer));
        return *this;
    }
    int answered() const { return int(m_seen.size()); }
    int pending() const { return int(m_pending.size()); }
    // The object names of the dialogs answered, in order.
    QStringList seen() const { return m_seen; }

private:
    QTimer m_timer;
    QList<Answer> m_pending;
    QPointer<QWidget> m_last;
    QStringList m_seen;
};

// The clock a question's guard against keys typed ahead reads in a test
// that sets questionClock = testClock: it stands still unless moved.
inline qint64 &testTime()
{
    static qint64 now = 0;
    return now;
}
inline qint64 testClock()
{
    return testTime();
}
// A key pressed in a box once its guard is over.
inline void keyAfterGuard(QWidget *box, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    testTime() += answerGuardMs;
    QTest::keyClick(box, key, modifiers);
}

// Keys typed ahead of a question: in its guard's last millisecond neither
// Return nor Alt+`letter` answers it, and after the guard no plain
// `letter`; then `close` does. True if the box stayed open until `close`
// and no longer.
inline bool onlyMeantKeys(QWidget *box, Qt::Key letter, Qt::Key close)
{
    testTime() += 499;
    QTest::keyClick(box, Qt::Key_Return);
    QTest::keyClick(box, letter, Qt::AltModifier);
    QTest::qWait(300); // a mnemonic clicks after a moment
    testTime() += 1;
    QTest::keyClick(box, letter);
    QTest::qWait(300);
    const bool stayed = box->isVisible();
    QTest::keyClick(box, close);
    const bool closed = !box->isVisible();
    if (!closed) // a guard that outlasts its time fails the test, not hangs it
        static_cast<QDialog *>(box)->reject();
    return stayed && closed;
}

// One of a message box's texts as the box shows it: marked where markup in
// it (a file name's, say) would be drawn rather than shown.
inline QString shownText(const QMessageBox *box, const QString &text)
{
    for (const QLabel *label : box->findChildren<QLabel *>()) {
        if (text.isEmpty() || (label->text() == text && label->textFormat() == Qt::PlainText))
            return text;
    }
    return QStringLiteral("(drawn as markup) ") + text;
}

inline QPushButton *buttonWithText(QWidget *dialog, const QString &text)
{
    for (QPushButton *b : dialog->findChildren<QPushButton *>()) {
        if (b->text().remove(u'&') == text)
            return b;
    }
    return nullptr;
}

// Clicks the button with this text (accelerator marks aside).
inline ModalAnswers::Answer press(const QString &text)
{
    return [text](QWidget *dialog) {
        if (QPushButton *b = buttonWithText(dialog, text))
            b->click();
        else
            qWarning("no button \"%s\" in \"%s\"", qPrintable(text), qPrintable(dialog->objectName()));
    };
}

// Picks `path` in a file dialog, typed whole, or cancels it for an empty path.
inline ModalAnswers::Answer chooseFile(const QString &path)
{
    return [path](QWidget *dialog) {
        auto *files = static_cast<QFileDialog *>(dialog);
        if (path.isEmpty())
            return files->reject();
        files->setOption(QFileDialog::DontConfirmOverwrite);
        files->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(path);
        static_cast<QDialog *>(files)->accept();
    };
}
