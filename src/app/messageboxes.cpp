#include "app/messageboxes.h"

#include "files/filesaving.h"

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

QString asSentence(QString error, const QString &name)
{
    error = errorReason(error, name);
    if (!error.isEmpty())
        error[0] = error[0].toUpper();
    if (!error.isEmpty() && !error.endsWith(u'.'))
        error += u'.';
    return error;
}
