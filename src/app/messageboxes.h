// The message boxes of the windows and of start-up: one caption, texts
// shown as plain text, the keyboard handed back when a box closes.
#pragma once

#include <QMessageBox>
#include <QString>

inline constexpr char caption[] = "just Tarnlyx v0.1";
// The name a new file has until it is saved.
inline constexpr char newFileName[] = "subtitles.txt";

// Without a window manager nothing hands the keyboard back to the window
// when a dialog closes (and the operation dialogs have no parent at all).
void takeFocusBack(QWidget *window);
// File names may hold anything, markup included: every box shows its texts
// as they are.
void showPlainText(QMessageBox &box);
// Tells the user something in a box named `name`, with OK.
void tell(QWidget *window, QMessageBox::Icon icon, const char *name, const QString &text,
          const QString &detail);
// Asks whether to go on: `accept`, or Cancel (the default, also on Escape).
bool confirm(QWidget *window, QMessageBox::Icon icon, const char *name, const QString &text,
             const QString &detail, const QString &accept);
// The system's reason, or ours, as a sentence of its own: "cannot write
// "x": No space left on device" -> "No space left on device." `name` is
// the file the error names.
QString asSentence(QString error, const QString &name = QString());
