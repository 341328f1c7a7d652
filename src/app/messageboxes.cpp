#include "app/messageboxes.h"

#include "files/filenames.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

#include <chrono>

void takeFocusBack(QWidget *window)
{
    if (window && window->isVisible())
        window->activateWindow();
}

void showPlainText(QMessageBox &box)
{
    box.setTextFormat(Qt::PlainText);
    for (QLabel *label : box.findChildren<QLabel *>())
        label->setTextFormat(Qt::PlainText);
}

namespace {

qint64 steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
}

// Watches every event on its way to the box and its buttons.
class AnswerGuard : public QObject
{
public:
    AnswerGuard(QMessageBox *box, const QList<QAbstractButton *> &meant) : QObject(box), m_box(box)
    {
        for (QAbstractButton *button : meant) {
            const QKeySequence mnemonic = QKeySequence::mnemonic(button->text());
            if (!mnemonic.isEmpty())
                m_letters << mnemonic[0].key();
        }
        qApp->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        const QEvent::Type type = event->type();
        if (watched == m_box && type == QEvent::Show)
            m_shownAt = questionClock();
        if (type != QEvent::KeyPress && type != QEvent::ShortcutOverride && type != QEvent::Shortcut)
            return false;
        auto *widget = qobject_cast<QWidget *>(watched);
        if (!widget || (widget != m_box && !m_box->isAncestorOf(widget)))
            return false;
        if (m_shownAt < 0 || questionClock() - m_shownAt < answerGuardMs)
            return true;
        if (type != QEvent::KeyPress)
            return false;
        const auto *key = static_cast<QKeyEvent *>(event);
        // The box itself takes a button's letter without Alt.
        return !(key->modifiers() & (Qt::AltModifier | Qt::ControlModifier | Qt::MetaModifier))
                && m_letters.contains(Qt::Key(key->key()));
    }

private:
    QMessageBox *m_box;
    QList<Qt::Key> m_letters;
    qint64 m_shownAt = -1;
};

} // namespace

qint64 (*questionClock)() = steadyMs;

void guardAnswers(QMessageBox &box, const QList<QAbstractButton *> &meant)
{
    new AnswerGuard(&box, meant);
}

void tell(QWidget *window, QMessageBox::Icon icon, const char *name, const QString &text,
          const QString &detail)
{
    QMessageBox box(icon, QString::fromLatin1(caption), text, QMessageBox::Ok, window);
    box.setObjectName(QString::fromLatin1(name));
    box.setInformativeText(detail);
    showPlainText(box);
    guardAnswers(box);
    box.exec();
    takeFocusBack(window);
}

bool confirm(QWidget *window, QMessageBox::Icon icon, const char *name, const QString &text,
             const QString &detail, const QString &accept)
{
    QMessageBox box(icon, QString::fromLatin1(caption), text, QMessageBox::NoButton, window);
    box.setObjectName(QString::fromLatin1(name));
    box.setInformativeText(detail);
    showPlainText(box);
    QPushButton *yes = box.addButton(accept, QMessageBox::AcceptRole);
    QPushButton *cancel = box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    guardAnswers(box, {yes});
    box.exec();
    takeFocusBack(window);
    return box.clickedButton() == yes;
}

QString askSaveFileName(QWidget *window, const QString &title, QString proposed, const QString &filters)
{
    for (;;) {
        const QString name = QFileDialog::getSaveFileName(window, title, proposed, filters, nullptr,
                                                          QFileDialog::DontConfirmOverwrite);
        takeFocusBack(window);
        if (name.isEmpty() || !QFileInfo::exists(name))
            return name;
        if (confirm(window, QMessageBox::Warning, "replace file",
                    QStringLiteral("\"%1\" already exists.").arg(shownName(name)),
                    QStringLiteral("Saving replaces what it holds."), QStringLiteral("&Replace")))
            return name;
        proposed = name;
    }
}

QString shownFileName(const QString &name)
{
    return name.isEmpty() ? QString::fromLatin1(untitledName) : shownName(name);
}
