#include "app/mainmenus.h"

#include "widgets/myeditor.h"
#include "files/filereading.h"
#include "images/changefps.xpm"
#include "images/convertformat.xpm"
#include "images/correctsub.xpm"
#include "images/newtext.xpm"
#include "images/opentext.xpm"
#include "images/savetext.xpm"
#include "images/shifttime.xpm"
#include "images/showtimechange.xpm"

#include <QAction>
#include <QActionGroup>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>

namespace {

// The actions the tool bar shows too, made before any menu.
void createFileAndSubtitleActions(MainMenus &m, QMainWindow *window, QToolBar *toolBar)
{
    const QPixmap newIcon(newtext_xpm), openIcon(opentext_xpm), saveIcon(savetext_xpm),
            convertIcon(convertformat_xpm), shiftIcon(shifttime_xpm),
            showTimeIcon(showtimechange_xpm), fpsIcon(changefps_xpm), correctIcon(correctsub_xpm);

    // A tool button and its menu item are one action: the tooltip belongs to
    // the button, the text and the keys to the menu.
    auto action = [window](const QPixmap &icon, const char *text, const QKeySequence &keys, const char *name) {
        auto *a = new QAction(QIcon(icon), QString::fromUtf8(text), window);
        a->setShortcut(keys);
        a->setObjectName(QString::fromLatin1(name));
        return a;
    };
    auto tool = [toolBar](QAction *a, const char *tip, const char *name) {
        a->setToolTip(QString::fromUtf8(tip));
        toolBar->addAction(a);
        toolBar->widgetForAction(a)->setObjectName(QString::fromUtf8(name));
    };

    m.newFile = action(newIcon, "&New subtitles file", QKeySequence(Qt::CTRL | Qt::Key_N), "newAction");
    m.open = action(openIcon, "&Open subtitles file...", QKeySequence(Qt::CTRL | Qt::Key_O), "openAction");
    m.save = action(saveIcon, "&Save file", QKeySequence(Qt::CTRL | Qt::Key_S), "saveAction");
    m.saveAs = action(QPixmap(), "Save &as...", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S), "saveAsAction");
    m.close = action(QPixmap(), "&Close", QKeySequence(Qt::CTRL | Qt::Key_F4), "closeAction");
    m.closeAll = action(QPixmap(), "C&lose all", QKeySequence(Qt::ALT | Qt::Key_F4), "closeAllAction");
    m.fps = action(QPixmap(), "&Default FPS value...", QKeySequence(Qt::CTRL | Qt::Key_I), "fpsAction");
    m.convert = action(convertIcon, "&Convert subtitles format...", QKeySequence(Qt::CTRL | Qt::Key_T),
                       "convertAction");
    m.shift = action(shiftIcon, "&Shift subtitles display time...", QKeySequence(Qt::CTRL | Qt::Key_D),
                     "shiftAction");
    m.showTime = action(showTimeIcon, "Ch&ange subtitles show time...", QKeySequence(Qt::CTRL | Qt::Key_W),
                        "showTimeAction");
    m.changeFps = action(fpsIcon, "Change &FPS value...", QKeySequence(Qt::CTRL | Qt::Key_Q), "changeFpsAction");
    m.correct = action(correctIcon, "Correct &subtiles...", QKeySequence(Qt::CTRL | Qt::Key_R), "correctAction");
    m.about = action(QPixmap(), "&About...", QKeySequence(Qt::Key_F1), "aboutAction");

    // The key names in the tooltips are only text; for the shift and the
    // display time they name each other's keys.
    tool(m.newFile, "New subtitles file (Ctrl+N)", "fnew");
    tool(m.open, "Open subtitles file (Ctrl+O)", "fopen");
    tool(m.save, "Save subtitles file (Ctrl+S)", "fsave");
    toolBar->addSeparator();
    toolBar->addSeparator();
    tool(m.convert, "Convert subtitles format (Ctrl+T)", "convert format");
    tool(m.shift, "Shift subtitles display time (Ctrl+W)", "shift time");
    tool(m.showTime, "Change subtitles show time (Ctrl+D)", "show time");
    tool(m.changeFps, "Change FPS value (Ctrl+Q)", "FPS change");
    tool(m.correct, "Correct subtiles (Ctrl+R)", "correct");
}

void createFileMenu(MainMenus &m, QMainWindow *window)
{
    QMenu *file = window->menuBar()->addMenu(QStringLiteral("&File"));
    file->addAction(m.newFile);
    file->addAction(m.open);
    file->addSeparator();
    file->addAction(m.save);
    file->addAction(m.saveAs);
    file->addSeparator();
    file->addAction(m.close);
    file->addAction(m.closeAll);
    // Beyond the items the File menu always had.
    file->addSeparator();
    m.reopen = file->addMenu(QStringLiteral("&Reopen with Encoding"));
    m.reopen->setObjectName(QStringLiteral("reopenMenu"));
    m.detectAgain = m.reopen->addAction(QStringLiteral("&Detect Again"));
    m.reopen->addSeparator();
    // One check mark, at the encoding the text was read in.
    m.encodings = new QActionGroup(m.reopen);
    auto encodingAction = [&m](QMenu *menu, const QString &text, const QString &name) {
        QAction *a = menu->addAction(text);
        a->setCheckable(true);
        a->setData(name);
        m.encodings->addAction(a);
    };
    for (const EncodingGroup &group : commonEncodings()) {
        QMenu *script = m.reopen->addMenu(group.script);
        for (const QString &name : group.names)
            encodingAction(script, name, name);
    }
    m.reopen->addSeparator();
    encodingAction(m.reopen, QStringLiteral("Raw bytes (Latin-1)"), QStringLiteral("bytes"));

    m.saveWithEncoding = file->addAction(QStringLiteral("Save with &Encoding..."));
    m.saveWithEncoding->setObjectName(QStringLiteral("saveWithEncodingAction"));
    QMenu *exportMenu = file->addMenu(QStringLiteral("E&xport"));
    exportMenu->setObjectName(QStringLiteral("exportMenu"));
    m.exportSubRip = exportMenu->addAction(QStringLiteral("&SubRip..."));
    m.exportSubRip->setObjectName(QStringLiteral("exportSubRipAction"));
    m.exportWebVtt = exportMenu->addAction(QStringLiteral("&WebVTT..."));
    m.exportWebVtt->setObjectName(QStringLiteral("exportWebVttAction"));
}

// The text area's own commands, find and replace, go to.
void createEditMenu(MainMenus &m, QMainWindow *window, MyEditor *text)
{
    QMenu *edit = window->menuBar()->addMenu(QStringLiteral("&Edit"));
    edit->setObjectName(QStringLiteral("editMenu"));
    // An item either runs a command of the text area or is the window's.
    struct Item
    {
        const char *text, *name;
        QKeySequence keys;
        void (MyEditor::*command)();
        QAction *MainMenus::*action;
    };
    const Item items[] = {
        {"&Undo", "undoAction", QKeySequence::Undo, &MyEditor::undo, nullptr},
        {"&Redo", "redoAction", QKeySequence::Redo, &MyEditor::redo, nullptr},
        {nullptr, nullptr, {}, nullptr, nullptr},
        {"Cu&t", "cutAction", QKeySequence::Cut, &MyEditor::cut, nullptr},
        {"&Copy", "copyAction", QKeySequence::Copy, &MyEditor::copy, nullptr},
        {"&Paste", "pasteAction", QKeySequence::Paste, &MyEditor::paste, nullptr},
        {"Select &All", "selectAllAction", QKeySequence::SelectAll, &MyEditor::selectAll, nullptr},
        {nullptr, nullptr, {}, nullptr, nullptr},
        {"&Find...", "findAction", QKeySequence(Qt::CTRL | Qt::Key_F), nullptr, &MainMenus::find},
        {"Find &Next", "findNextAction", QKeySequence(Qt::Key_F3), nullptr, &MainMenus::findNext},
        {"Find Pre&vious", "findPreviousAction", QKeySequence(Qt::SHIFT | Qt::Key_F3), nullptr,
         &MainMenus::findPrevious},
        {"R&eplace...", "replaceAction", QKeySequence(Qt::CTRL | Qt::Key_H), nullptr, &MainMenus::replace},
        {"&Go to...", "goToAction", QKeySequence(Qt::CTRL | Qt::Key_G), nullptr, &MainMenus::goTo},
    };
    for (const Item &item : items) {
        if (!item.text) {
            edit->addSeparator();
            continue;
        }
        QAction *a = edit->addAction(QString::fromLatin1(item.text));
        a->setObjectName(QString::fromLatin1(item.name));
        a->setShortcut(item.keys);
        // The text area's own keys for these reach it first where it has
        // the keyboard; elsewhere in the window the menu's take them.
        if (item.command)
            QObject::connect(a, &QAction::triggered, text, item.command);
        else
            m.*item.action = a;
    }
}

void createSubtitlesAndHelpMenus(MainMenus &m, QMainWindow *window)
{
    QMenu *subtitles = window->menuBar()->addMenu(QStringLiteral("&Subtitles"));
    subtitles->addAction(m.fps);
    subtitles->addSeparator();
    subtitles->addAction(m.convert);
    subtitles->addAction(m.shift);
    subtitles->addAction(m.showTime);
    subtitles->addAction(m.changeFps);
    subtitles->addAction(m.correct);
    m.check = new QAction(QStringLiteral("Chec&k..."), window);
    m.check->setObjectName(QStringLiteral("checkAction"));
    m.check->setShortcut(QKeySequence(Qt::Key_F7));
    subtitles->addSeparator();
    subtitles->addAction(m.check);

    window->menuBar()->addSeparator();
    QMenu *help = window->menuBar()->addMenu(QStringLiteral("&Help"));
    help->addAction(m.about);
}

} // namespace

MainMenus createMainMenus(QMainWindow *window, QToolBar *toolBar, MyEditor *text)
{
    MainMenus menus{};
    createFileAndSubtitleActions(menus, window, toolBar);
    createFileMenu(menus, window);
    createEditMenu(menus, window, text);
    createSubtitlesAndHelpMenus(menus, window);
    return menus;
}

void markEncoding(QMenu *reopen, const QString &encoding)
{
    for (QAction *a : reopen->findChildren<QAction *>()) {
        if (a->isCheckable())
            a->setChecked(a->data().toString() == encoding);
    }
}
