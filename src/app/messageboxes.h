// The message boxes of the windows and of start-up: one caption, texts
// shown as plain text, the keyboard handed back when a box closes.
#pragma once

#include "files/fileerror.h"

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
// A reason as a sentence of its own: "it is SubRip already" -> "It is
// SubRip already."
QString asSentence(QString reason);
// An error for a box that names the file `name` already: its reason when
// it is about that file ("No space left on device."), else all of it.
QString asSentence(const FileError &error, const QString &name);
