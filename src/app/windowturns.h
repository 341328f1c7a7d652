// Which main window has the keyboard: without a window manager nothing
// moves it to a window just opened, nor back to the one used before when a
// window closes.
#pragma once

class QMainWindow;
class QWidget;

// `window` has just become the active one.
void noteActivated(QMainWindow *window);
// `window` closes: the window that had the keyboard before it takes it
// back, once this one is gone.
void activatePrevious(QMainWindow *window);
// Raises `window` and gives it the keyboard.
void bringToFront(QWidget *window);
