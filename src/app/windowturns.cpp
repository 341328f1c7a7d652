#include "app/windowturns.h"

#include <QList>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>

namespace {

// The main windows in the order they last had the keyboard.
QList<QPointer<QMainWindow>> &activationOrder()
{
    static QList<QPointer<QMainWindow>> order;
    return order;
}

} // namespace

void noteActivated(QMainWindow *window)
{
    activationOrder().removeAll(window);
    activationOrder().append(window);
}

void activatePrevious(QMainWindow *window)
{
    activationOrder().removeAll(window);
    activationOrder().removeAll(nullptr);
    if (!activationOrder().isEmpty()) {
        QMainWindow *next = activationOrder().back();
        QTimer::singleShot(0, next, [next] { bringToFront(next); });
    }
}

void bringToFront(QWidget *window)
{
    window->raise();
    window->activateWindow();
}
