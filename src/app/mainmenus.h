// The actions of a main window, in its menus and on its tool bar: their
// texts, keys, icons, tooltips and object names, in the order they show.
// Besides the text area's own commands, what each one does is the
// window's to connect.
#pragma once

#include <QString>

class MyEditor;
class QAction;
class QActionGroup;
class QMainWindow;
class QMenu;
class QToolBar;

struct MainMenus
{
    // File
    QAction *newFile, *open, *save, *saveAs, *close, *closeAll;
    QMenu *reopen;
    QAction *detectAgain;
    // Reopen with Encoding's checkable items, each with its encoding's name
    // as data ("bytes" for one byte per character).
    QActionGroup *encodings;
    QAction *saveWithEncoding, *exportSubRip, *exportWebVtt;
    // Edit
    QAction *find, *findNext, *findPrevious, *replace, *goTo;
    // Subtitles
    QAction *fps, *convert, *shift, *showTime, *changeFps, *correct, *check;
    // Help
    QAction *about;
};

// Fills the menu bar of `window` and `toolBar`; Undo, Redo, Cut, Copy,
// Paste and Select All go to `text`.
MainMenus createMainMenus(QMainWindow *window, QToolBar *toolBar, MyEditor *text);
// Puts the one check mark of Reopen with Encoding at `encoding`; none for
// an empty one.
void markEncoding(QMenu *reopen, const QString &encoding);
