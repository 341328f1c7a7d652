#include "app/messageboxes.h"

#include <QLabel>
#include <QPushButton>

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

void tell(QWidget *window, QMessageBox::Icon icon, const char *name, const QString &text,
          const QString &detail)
{
    QMessageBox box(icon, QString::fromLatin1(caption), text, QMessageBox::Ok, window);
    box.setObjectName(QString::fromLatin1(name));
    box.setInformativeText(detail);
    showPlainText(box);
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
    box.exec();
    takeFocusBack(window);
    return box.clickedButton() == yes;
}

QString asSentence(QString reason)
{
    if (!reason.isEmpty())
        reason[0] = reason[0].toUpper();
    if (!reason.isEmpty() && !reason.endsWith(u'.'))
        reason += u'.';
    return reason;
}

QString asSentence(const FileError &error, const QString &name)
{
    return asSentence(error.path == name ? error.reason() : error.message());
}
