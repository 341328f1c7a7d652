// The message boxes of the windows and of start-up: one caption, texts
// shown as plain text, the keyboard handed back when a box closes.
#pragma once

#include "files/fileerror.h"

#include <QMessageBox>
#include <QString>

inline constexpr char caption[] = "just Tarnlyx v0.1";
// What a text that has no file yet is called.
inline constexpr char untitledName[] = "subtitles.txt";
// The name a caption or a question shows for the file `name` (carried
// bytes as \xNN): untitledName for a text that has no file yet.
QString shownFileName(const QString &name);

// Without a window manager nothing hands the keyboard back to the window
// when a dialog closes (and the operation dialogs have no parent at all).
void takeFocusBack(QWidget *window);
// File names may hold anything, markup included: every box shows its texts
// as they are.
void showPlainText(QMessageBox &box);

// How long a box takes no key once it shows: keys still being typed into
// the window when it appeared must not answer it unread.
inline constexpr qint64 answerGuardMs = 500;
// The clock that guard reads, in milliseconds (steady); tests set their own.
extern qint64 (*questionClock)();
// Makes `box` answer only what is meant: no key for answerGuardMs after it
// shows, and the `meant` buttons (those that discard text or write over a
// file) never on a plain letter, only on Alt+letter or a click.
void guardAnswers(QMessageBox &box, const QList<QAbstractButton *> &meant = {});
// Tells the user something in a box named `name`, with OK (guarded).
void tell(QWidget *window, QMessageBox::Icon icon, const char *name, const QString &text,
          const QString &detail);
// Asks whether to go on: `accept` (Alt+letter or a click only), or Cancel
// (the default, also on Escape); guarded.
bool confirm(QWidget *window, QMessageBox::Icon icon, const char *name, const QString &text,
             const QString &detail, const QString &accept);
// The save dialog; the question before a file of that name is replaced is
// this program's own, so that Replace too takes only Alt+R or a click
// (Cancel, the default, goes back to the dialog). Empty when cancelled.
QString askSaveFileName(QWidget *window, const QString &title, QString proposed, const QString &filters);
