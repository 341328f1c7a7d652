#include "app/qtarnlyxmain.h"

#include "widgets/findbar.h"
#include "widgets/gotodialog.h"
#include "app/messageboxes.h"
#include "app/recoveryfeed.h"

#include "widgets/myabout.h"
#include "widgets/myfps.h"
#include "widgets/operationdialogs.h"
#include "widgets/myeditor.h"
#include "engine/walksummary.h"
#include "files/filenames.h"
#include "files/filereading.h"
#include "files/savingformat.h"
#include "files/unfinishedsaves.h"
#include "formats/subrip.h"
#include "widgets/changedbar.h"
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
#include <QApplication>
#include <QCloseEvent>
#include <QPointer>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLocale>
#include <QTextBlock>
#include <QTextDocument>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSet>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <functional>
#include <memory>
#include <utility>

namespace {

// The first shows every file the second does, and the usual subtitle files.
const char fileFilters[] = "Subtitle files (*.txt *.sub *.mpl *.srt);;*.txt;;All files (*)";

// The main windows in the order they last had the keyboard.
QList<QPointer<QTarnlyxMain>> &activationOrder()
{
    static QList<QPointer<QTarnlyxMain>> order;
    return order;
}

} // namespace

QSet<QString> &QTarnlyxMain::restoreWithoutAsking()
{
    static QSet<QString> ids;
    return ids;
}

QTarnlyxMain::QTarnlyxMain(QString name, const QString &encoding) : m_document(encoding)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("Tarnlyx main window, by the Tarnlyx developers"));

    toolBar = new QToolBar(this);
    toolBar->setObjectName(QStringLiteral("ToolBar"));
    toolBar->setWindowTitle(QStringLiteral("Tool bar"));
    addToolBar(toolBar);
    editor = new MyEditor(this, "editor");
    createActions();
    m_positionLabel = new QLabel(this);
    m_formatLabel = new QLabel(this);
    m_summaryLabel = new QLabel(this);
    m_summaryLabel->setObjectName(QStringLiteral("summary"));
    m_summaryLabel->setTextFormat(Qt::PlainText);
    m_summaryLabel->setWordWrap(true);
    m_summaryLabel->setContentsMargins(6, 3, 6, 3);
    m_summaryLabel->hide();
    m_editedLabel = new QLabel(QStringLiteral("Edited"), this);
    m_editedLabel->setObjectName(QStringLiteral("edited"));
    m_editedLabel->setToolTip(QStringLiteral("The text differs from the file it was read from or saved to"));
    m_editedLabel->setContentsMargins(0, 0, 8, 0);
    m_editedLabel->hide();
    statusBar()->addPermanentWidget(m_editedLabel);
    statusBar()->addPermanentWidget(m_positionLabel);
    statusBar()->addPermanentWidget(m_formatLabel);
    connect(editor, &QPlainTextEdit::cursorPositionChanged, this, &QTarnlyxMain::showPosition);
    connect(editor->document(), &QTextDocument::modificationChanged, m_editedLabel, &QWidget::setVisible);
    connect(editor->document(), &QTextDocument::contentsChanged, m_summaryLabel, [this] {
        if (!m_summaryLabel->isHidden()) {
            m_summaryLabel->clear();
            m_summaryLabel->hide();
        }
    });
    connect(editor, &MyEditor::filesDropped, this, [this](const QStringList &names) {
        // Not inside the drop: the questions of a load are modal.
        QTimer::singleShot(0, this, [this, names] { openDropped(names); });
    });
    showPosition();
    showFormat();
    editor->setFocus();
    // The text between the changed-on-disk bar and the find bar.
    auto *centre = new QWidget(this);
    auto *column = new QVBoxLayout(centre);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    m_changedBar = new ChangedOnDiskBar(centre);
    m_findBar = new FindBar(editor, centre);
    column->addWidget(m_changedBar);
    column->addWidget(editor, 1);
    column->addWidget(m_findBar);
    // Above the status bar, where a long summary has room to wrap.
    column->addWidget(m_summaryLabel);
    connect(m_findBar, &FindBar::replaced, this, &QTarnlyxMain::showSummary);
    // Until the next find, and never over a message of another kind.
    connect(m_findBar, &FindBar::noticed, this, [this, shown = QString()](const QString &notice) mutable {
        if (!notice.isEmpty())
            statusBar()->showMessage(notice);
        else if (!shown.isEmpty() && statusBar()->currentMessage() == shown)
            statusBar()->clearMessage();
        shown = notice;
    });
    connect(m_changedBar, &ChangedOnDiskBar::keep, this, [this] {
        m_document.keepDiskChange();
        editor->setFocus();
    });
    connect(m_changedBar, &ChangedOnDiskBar::reload, this, [this] {
        if (loadIn(m_document.fileName(), m_document.requestedEncoding()))
            editor->setFocus();
    });
    setCentralWidget(centre);
    resize(500, 600);

    // Unsaved text goes to its recovery file after a pause in typing; the
    // window says once when it cannot: a crash then would lose the text.
    m_recoveryFeed = new RecoveryFeed(editor, &m_document, this);
    connect(&m_document, &SubtitleDocument::recoveryFailed, this, [this](const FileError &error) {
        statusBar()->showMessage(QStringLiteral("Unsaved text is not kept for recovery: %1").arg(error.message()));
    });

    // A file that cannot be read leaves the window as a new, unnamed one.
    // The bare name "subtitles.txt" stands for a new file too, as it always
    // has on the command line (./subtitles.txt opens a file of that name).
    if (!name.isEmpty() && name != QLatin1String(untitledName) && loadIn(name, encoding))
        return;
    setFileName(m_document.fileName());
    editor->document()->setModified(false);
}

QTarnlyxMain::~QTarnlyxMain() = default;

void QTarnlyxMain::scheduleRecovery()
{
    m_recoveryFeed->handOver();
}

void QTarnlyxMain::writeRecoveryNow()
{
    scheduleRecovery();
    m_document.waitForRecovery();
}

void QTarnlyxMain::restoreRecovery(const RecoveredText &recovered)
{
    if (m_document.adoptRecovery(recovered))
        showRecovered(recovered, !m_document.fileName().isEmpty()
                                         && recovered.relationTo(m_document.fileName()) == RecoveredText::Relation::Changed);
}

void QTarnlyxMain::showRecovered(const RecoveredText &recovered, bool fileChanged)
{
    QString text;
    FileError error;
    if (!m_document.readRecovery(&text, &error)) {
        statusBar()->showMessage(QStringLiteral("The unsaved text cannot be read: %1").arg(error.message()));
        return;
    }
    editor->setText(text);
    editor->document()->setModified(true);
    if (fileChanged) {
        m_document.recoveredFromChangedFile(recovered);
        checkDisk();
    }
}

void QTarnlyxMain::offerRecovery(const RecoveredText &recovered)
{
    if (restoreWithoutAsking().remove(recovered.id)) {
        restoreRecovery(recovered);
        return;
    }
    if (!m_document.adoptRecovery(recovered))
        return;
    const bool changed = recovered.relationTo(m_document.fileName()) == RecoveredText::Relation::Changed;
    QMessageBox box(QMessageBox::Question, QString::fromLatin1(caption),
                    QStringLiteral("There is unsaved text of \"%1\" from %2 that was never saved.")
                            .arg(shownFileName(recovered.fileName),
                                 QLocale().toString(recovered.written, QLocale::ShortFormat)),
                    QMessageBox::NoButton, this);
    box.setObjectName(QStringLiteral("recovery"));
    box.setInformativeText(changed ? QStringLiteral("Tarnlyx ended before it was saved, and the file has changed since. "
                                                    "Restore it? Saving it would then ask before writing over the file.")
                                   : QStringLiteral("Tarnlyx ended before it was saved. Restore it?"));
    showPlainText(box);
    QPushButton *restore = box.addButton(QStringLiteral("&Restore unsaved text"), QMessageBox::AcceptRole);
    QPushButton *discard = box.addButton(QStringLiteral("&Discard it"), QMessageBox::DestructiveRole);
    box.setDefaultButton(restore);
    guardAnswers(box, {discard});
    box.exec();
    takeFocusBack(this);
    if (box.clickedButton() != restore) {
        m_document.dropRecovery();
        return;
    }
    showRecovered(recovered, changed);
}

bool QTarnlyxMain::mayOverwrite()
{
    if (!m_document.changedOnDisk())
        return true;
    const FileStamp now = stampOf(m_document.fileName());
    return confirm(this, QMessageBox::Warning, "changed on disk",
                   QStringLiteral("Another program has %1 \"%2\" since it was opened or saved here.")
                           .arg(now.exists ? QStringLiteral("changed") : QStringLiteral("deleted"), shownName(m_document.fileName())),
                   now.exists ? QStringLiteral("Saving replaces those changes with the text shown here.")
                              : QStringLiteral("Saving writes the text shown here to it again."),
                   QStringLiteral("&Overwrite"));
}

void QTarnlyxMain::createActions()
{
    const QPixmap newIcon(newtext_xpm), openIcon(opentext_xpm), saveIcon(savetext_xpm),
            convertIcon(convertformat_xpm), shiftIcon(shifttime_xpm),
            showTimeIcon(showtimechange_xpm), fpsIcon(changefps_xpm), correctIcon(correctsub_xpm);

    // A tool button and its menu item are one action: the tooltip belongs to
    // the button, the text and the keys to the menu.
    auto action = [this](const QPixmap &icon, const char *text, const QKeySequence &keys) {
        auto *a = new QAction(QIcon(icon), QString::fromUtf8(text), this);
        a->setShortcut(keys);
        return a;
    };
    auto tool = [this](QAction *a, const char *tip, const char *name) {
        a->setToolTip(QString::fromUtf8(tip));
        toolBar->addAction(a);
        toolBar->widgetForAction(a)->setObjectName(QString::fromUtf8(name));
    };

    QAction *newAct = action(newIcon, "&New subtitles file", QKeySequence(Qt::CTRL | Qt::Key_N));
    QAction *openAct = action(openIcon, "&Open subtitles file...", QKeySequence(Qt::CTRL | Qt::Key_O));
    QAction *saveAct = action(saveIcon, "&Save file", QKeySequence(Qt::CTRL | Qt::Key_S));
    QAction *saveAsAct = action(QPixmap(), "Save &as...", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    QAction *closeAct = action(QPixmap(), "&Close", QKeySequence(Qt::CTRL | Qt::Key_F4));
    QAction *closeAllAct = action(QPixmap(), "C&lose all", QKeySequence(Qt::ALT | Qt::Key_F4));
    QAction *fpsAct = action(QPixmap(), "&Default FPS value...", QKeySequence(Qt::CTRL | Qt::Key_I));
    QAction *convertAct = action(convertIcon, "&Convert subtitles format...", QKeySequence(Qt::CTRL | Qt::Key_T));
    QAction *shiftAct = action(shiftIcon, "&Shift subtitles display time...", QKeySequence(Qt::CTRL | Qt::Key_D));
    QAction *showTimeAct = action(showTimeIcon, "Ch&ange subtitles show time...", QKeySequence(Qt::CTRL | Qt::Key_W));
    QAction *changeFpsAct = action(fpsIcon, "Change &FPS value...", QKeySequence(Qt::CTRL | Qt::Key_Q));
    QAction *correctAct = action(correctIcon, "Correct &subtiles...", QKeySequence(Qt::CTRL | Qt::Key_R));
    QAction *aboutAct = action(QPixmap(), "&About...", QKeySequence(Qt::Key_F1));

    // The key names in the tooltips are only text; for the shift and the
    // display time they name each other's keys.
    tool(newAct, "New subtitles file (Ctrl+N)", "fnew");
    tool(openAct, "Open subtitles file (Ctrl+O)", "fopen");
    tool(saveAct, "Save subtitles file (Ctrl+S)", "fsave");
    toolBar->addSeparator();
    toolBar->addSeparator();
    tool(convertAct, "Convert subtitles format (Ctrl+T)", "convert format");
    tool(shiftAct, "Shift subtitles display time (Ctrl+W)", "shift time");
    tool(showTimeAct, "Change subtitles show time (Ctrl+D)", "show time");
    tool(changeFpsAct, "Change FPS value (Ctrl+Q)", "FPS change");
    tool(correctAct, "Correct subtiles (Ctrl+R)", "correct");

    QMenu *file = menuBar()->addMenu(QStringLiteral("&File"));
    file->addAction(newAct);
    file->addAction(openAct);
    file->addSeparator();
    file->addAction(saveAct);
    file->addAction(saveAsAct);
    file->addSeparator();
    file->addAction(closeAct);
    file->addAction(closeAllAct);
    // Beyond the items the File menu always had.
    file->addSeparator();
    QMenu *reopen = file->addMenu(QStringLiteral("&Reopen with Encoding"));
    reopen->setObjectName(QStringLiteral("reopenMenu"));
    m_reopenMenu = reopen;
    connect(reopen->addAction(QStringLiteral("&Detect Again")), &QAction::triggered, this,
            [this] { reopenWith(QString()); });
    reopen->addSeparator();
    // One check mark, at the encoding the text was read in.
    auto *marks = new QActionGroup(reopen);
    auto encodingAction = [this, marks](QMenu *menu, const QString &text, const QString &name) {
        QAction *a = menu->addAction(text);
        a->setCheckable(true);
        a->setData(name);
        marks->addAction(a);
        connect(a, &QAction::triggered, this, [this, name] { reopenWith(name); });
    };
    for (const EncodingGroup &group : commonEncodings()) {
        QMenu *script = reopen->addMenu(group.script);
        for (const QString &name : group.names)
            encodingAction(script, name, name);
    }
    reopen->addSeparator();
    encodingAction(reopen, QStringLiteral("Raw bytes (Latin-1)"), QStringLiteral("bytes"));
    connect(reopen, &QMenu::aboutToShow, this, &QTarnlyxMain::markReopenMenu);
    addFileFormatActions(file);

    createEditMenu();

    QMenu *subtitles = menuBar()->addMenu(QStringLiteral("&Subtitles"));
    subtitles->addAction(fpsAct);
    subtitles->addSeparator();
    subtitles->addAction(convertAct);
    subtitles->addAction(shiftAct);
    subtitles->addAction(showTimeAct);
    subtitles->addAction(changeFpsAct);
    subtitles->addAction(correctAct);
    addCheckActions(subtitles);

    menuBar()->addSeparator();
    QMenu *help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->addAction(aboutAct);

    connect(newAct, &QAction::triggered, this, &QTarnlyxMain::newFile);
    connect(openAct, &QAction::triggered, this, &QTarnlyxMain::open);
    connect(saveAct, &QAction::triggered, this, &QTarnlyxMain::save);
    connect(saveAsAct, &QAction::triggered, this, &QTarnlyxMain::saveAs);
    connect(closeAct, &QAction::triggered, this, &QWidget::close);
    connect(closeAllAct, &QAction::triggered, qApp, &QApplication::closeAllWindows);
    connect(fpsAct, &QAction::triggered, this, &QTarnlyxMain::specifyFps);
    connect(convertAct, &QAction::triggered, this, &QTarnlyxMain::subtitlesConvert);
    connect(shiftAct, &QAction::triggered, this, &QTarnlyxMain::shiftTime);
    connect(showTimeAct, &QAction::triggered, this, &QTarnlyxMain::changeShowTime);
    connect(changeFpsAct, &QAction::triggered, this, &QTarnlyxMain::changeSubFps);
    connect(correctAct, &QAction::triggered, this, &QTarnlyxMain::correctSubtitles);
    connect(aboutAct, &QAction::triggered, this, &QTarnlyxMain::showAbout);

    const QList<QAction *> named = {newAct, openAct, saveAct, saveAsAct, closeAct, closeAllAct,
                                    fpsAct, convertAct, shiftAct, showTimeAct, changeFpsAct,
                                    correctAct, aboutAct};
    const char *const names[] = {"newAction", "openAction", "saveAction", "saveAsAction",
                                 "closeAction", "closeAllAction", "fpsAction", "convertAction",
                                 "shiftAction", "showTimeAction", "changeFpsAction",
                                 "correctAction", "aboutAction"};
    for (int i = 0; i < named.size(); ++i)
        named[i]->setObjectName(QString::fromLatin1(names[i]));
}

void QTarnlyxMain::createEditMenu()
{
    QMenu *edit = menuBar()->addMenu(QStringLiteral("&Edit"));
    edit->setObjectName(QStringLiteral("editMenu"));
    struct Item
    {
        const char *text, *name;
        QKeySequence keys;
        std::function<void()> run;
    };
    const Item items[] = {
        {"&Undo", "undoAction", QKeySequence::Undo, [this] { editor->undo(); }},
        {"&Redo", "redoAction", QKeySequence::Redo, [this] { editor->redo(); }},
        {nullptr, nullptr, {}, {}},
        {"Cu&t", "cutAction", QKeySequence::Cut, [this] { editor->cut(); }},
        {"&Copy", "copyAction", QKeySequence::Copy, [this] { editor->copy(); }},
        {"&Paste", "pasteAction", QKeySequence::Paste, [this] { editor->paste(); }},
        {"Select &All", "selectAllAction", QKeySequence::SelectAll, [this] { editor->selectAll(); }},
        {nullptr, nullptr, {}, {}},
        {"&Find...", "findAction", QKeySequence(Qt::CTRL | Qt::Key_F), [this] { m_findBar->start(false); }},
        {"Find &Next", "findNextAction", QKeySequence(Qt::Key_F3), [this] { m_findBar->findNext(); }},
        {"Find Pre&vious", "findPreviousAction", QKeySequence(Qt::SHIFT | Qt::Key_F3),
         [this] { m_findBar->findPrevious(); }},
        {"R&eplace...", "replaceAction", QKeySequence(Qt::CTRL | Qt::Key_H), [this] { m_findBar->start(true); }},
        {"&Go to...", "goToAction", QKeySequence(Qt::CTRL | Qt::Key_G), [this] {
             GoToDialog dialog(editor, this);
             dialog.exec();
             takeFocusBack(this);
         }},
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
        connect(a, &QAction::triggered, this, item.run);
    }
}

void QTarnlyxMain::markReopenMenu()
{
    const QString current = m_document.fileName().isEmpty() ? QString() : m_document.format().encoding;
    for (QAction *a : m_reopenMenu->findChildren<QAction *>()) {
        if (a->isCheckable())
            a->setChecked(a->data().toString() == current);
    }
}

void QTarnlyxMain::showSummary(const QString &summary)
{
    if (summary.isEmpty())
        return; // a dialog cancelled: what was shown stays
    m_summaryLabel->setText(summary);
    m_summaryLabel->setToolTip(summary);
    m_summaryLabel->show();
}

void QTarnlyxMain::checkDisk()
{
    if (m_document.fileName().isEmpty())
        return;
    const SubtitleDocument::DiskState state = m_document.diskState();
    switch (state) {
    case SubtitleDocument::DiskState::Same:
        m_changedBar->hide();
        return;
    case SubtitleDocument::DiskState::KeptByUser:
        return;
    case SubtitleDocument::DiskState::Changed:
    case SubtitleDocument::DiskState::Deleted:
        m_changedBar->showFor(shownName(m_document.fileName()), state == SubtitleDocument::DiskState::Deleted);
        return;
    }
}

void QTarnlyxMain::openDropped(const QStringList &names)
{
    for (qsizetype i = 1; i < names.size(); ++i) {
        auto *window = new QTarnlyxMain(names[i]);
        window->show();
    }
    load(names.first());
    raise();
    activateWindow();
}

void QTarnlyxMain::reopenWith(const QString &encoding)
{
    if (!m_document.fileName().isEmpty())
        loadIn(m_document.fileName(), encoding);
}

void QTarnlyxMain::showFormat()
{
    static const char *const ends[] = {"LF", "CRLF", "mixed line ends", "CR"};
    const FileFormat &format = m_document.format();
    m_formatLabel->setText(QStringLiteral("%1, %2").arg(describeFormat(format), QLatin1String(ends[int(format.lineEnds)])));
}

void QTarnlyxMain::showPosition()
{
    const QTextCursor cursor = editor->textCursor();
    m_positionLabel->setText(QStringLiteral("Line %1, column %2")
                                     .arg(cursor.blockNumber() + 1)
                                     .arg(cursor.positionInBlock() + 1));
}

void QTarnlyxMain::setFileName(QString name)
{
    setWindowTitle(QStringLiteral("%1 (%2)").arg(QLatin1String(caption), shownFileName(name)));
    // Nothing to read again before the text has a file.
    m_reopenMenu->setEnabled(!m_document.fileName().isEmpty());
    if (!m_document.changedOnDisk())
        m_changedBar->hide();
}

void QTarnlyxMain::newFile()
{
    auto *window = new QTarnlyxMain;
    window->show();
    // Without a window manager nothing moves the keyboard to it.
    window->raise();
    window->activateWindow();
}

void QTarnlyxMain::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
        activationOrder().removeAll(this);
        activationOrder().append(this);
        checkDisk();
    }
}

void QTarnlyxMain::open()
{
    const QString folder = m_document.fileName().isEmpty() ? QString() : QFileInfo(m_document.fileName()).absolutePath();
    const QString name = QFileDialog::getOpenFileName(this, QString(), folder, QLatin1String(fileFilters));
    takeFocusBack(this);
    if (!name.isEmpty())
        load(name);
}

QTarnlyxMain::Answer QTarnlyxMain::askUnsaved()
{
    QMessageBox box(QMessageBox::Information, QString::fromLatin1(caption),
                    QStringLiteral("File has been changed and not saved!"), QMessageBox::NoButton,
                    this);
    box.setObjectName(QStringLiteral("unsaved"));
    showPlainText(box);
    // One role for all three keeps them left to right in this order.
    QPushButton *saveNow = box.addButton(QStringLiteral("Save now"), QMessageBox::ActionRole);
    QPushButton *cancel = box.addButton(QStringLiteral("Cancel"), QMessageBox::ActionRole);
    QPushButton *leave = box.addButton(QStringLiteral("Leave anyway"), QMessageBox::ActionRole);
    box.setDefaultButton(saveNow);
    box.setEscapeButton(cancel);
    guardAnswers(box, {leave});
    box.exec();
    takeFocusBack(this);
    if (box.clickedButton() == saveNow)
        return Answer::SaveNow;
    if (box.clickedButton() == leave)
        return Answer::LeaveAnyway;
    return Answer::Cancel;
}

bool QTarnlyxMain::mayDiscardText()
{
    if (!editor->document()->isModified())
        return true;
    switch (askUnsaved()) {
    case Answer::SaveNow:
        // A save that failed or found no name keeps the text here.
        return save();
    case Answer::LeaveAnyway:
        return true;
    case Answer::Cancel:
        return false;
    }
    return false;
}

bool QTarnlyxMain::load(QString name)
{
    return loadIn(name, QString());
}

bool QTarnlyxMain::loadIn(const QString &name, const QString &encoding)
{
    if (!mayDiscardText())
        return false;

    FileError error;
    SubtitleText file;
    if (!m_document.readIn(name, encoding, file, &error)) {
        tell(this, QMessageBox::Warning, "read error",
             QStringLiteral("Error in reading file \"%1\"!").arg(shownName(name)), error.words(FileError::Sentence, name));
        return false;
    }
    if (looksLikeSubRip(file.text) && offerSubRipConversion(name, file))
        return true;
    // The file itself gives the text again for its first recovery write.
    editor->setText(std::move(file.text), m_document.textAsRead());
    setFileName(m_document.fileName());
    showFormat();
    if (!file.strayBytes.isEmpty()) {
        tell(this, QMessageBox::Information, "stray bytes",
             QStringLiteral("\"%1\" is UTF-8 text with bytes that are not UTF-8.").arg(shownName(name)),
             QStringLiteral("The first is at %1. Each such byte is shown as a marked character, "
                            "left alone by every operation and saved as the same byte.")
                     .arg(file.strayBytes));
    }
    if (const QString notice = file.notice.words(FileError::Opening); !notice.isEmpty()) {
        tell(this, QMessageBox::Information, "read as bytes",
             QStringLiteral("\"%1\" is shown one byte per character.").arg(shownName(name)),
             QStringLiteral("%1, so every byte is shown as one character and kept as it is. "
                            "File > Reopen with Encoding chooses another encoding.").arg(notice));
    }
    // Each text a program that ended left for this very file, whatever name
    // or link reaches it now: the first restored here, the others each in
    // a window of its own (which offers the next).
    for (const RecoveredText &recovered : m_document.recoveryForThisFile()) {
        if (!editor->document()->isModified()) {
            offerRecovery(recovered);
            continue;
        }
        if (restoreWithoutAsking().contains(recovered.id))
            continue; // chosen at start: a window of its own comes for it
        auto *window = new QTarnlyxMain(name, m_document.requestedEncoding());
        window->show();
        break;
    }
    mustSpecifyFps();
    return true;
}

bool QTarnlyxMain::save()
{
    if (m_document.fileName().isEmpty())
        return saveAs();
    if (!mayOverwrite())
        return false;
    return saveTo(m_document.fileName(), m_document.format());
}

bool QTarnlyxMain::saveTo(const QString &name, const FileFormat &format)
{
    QString text;
    SubtitleDocument::SavePlan plan;
    try {
        text = editor->text();
        plan = SubtitleDocument::planSave(name, text, format);
    } catch (const std::bad_alloc &) {
        tell(this, QMessageBox::Warning, "write error", QStringLiteral("Error in writing file \"%1\"!").arg(shownName(name)),
             FileError(FileError::NoMemory, name, QStringLiteral("write")).words(FileError::Sentence, name));
        return false;
    }
    switch (plan.question) {
    case SubtitleDocument::SavePlan::Question::None:
        break;
    case SubtitleDocument::SavePlan::Question::NotInBytes:
        if (confirm(this, QMessageBox::Warning, "not in bytes", QStringLiteral("The text cannot be saved as raw bytes."),
                    plan.why.words(FileError::Sentence, name) + QStringLiteral(" The file is shown one byte per character; "
                                                          "reopen it in its encoding to edit its letters."),
                    QStringLiteral("&Reopen with Encoding..."))) {
            if (auto *menu = findChild<QMenu *>(QStringLiteral("reopenMenu")))
                menu->popup(mapToGlobal(rect().center()));
        }
        return false;
    case SubtitleDocument::SavePlan::Question::NotInEncoding:
        if (!confirm(this, QMessageBox::Question, "not in encoding",
                     QStringLiteral("The text cannot be saved as %1.").arg(format.encoding),
                     plan.why.words(FileError::Sentence, name) + QStringLiteral(" Save the file as UTF-8 instead?"),
                     QStringLiteral("Save as &UTF-8")))
            return false;
        plan = SubtitleDocument::inUtf8(std::move(plan), text);
        if (plan.question != SubtitleDocument::SavePlan::Question::None)
            return false;
        break;
    }
    if (!settleUnfinishedSaves(name))
        return false;
    FileError writeError;
    if (!m_document.write(plan, &writeError)) {
        tell(this, QMessageBox::Warning, "write error",
             QStringLiteral("Error in writing file \"%1\"!").arg(shownName(name)), writeError.words(FileError::Sentence, name));
        return false;
    }
    editor->document()->setModified(false);
    setFileName(m_document.fileName());
    showFormat();
    return true;
}

bool QTarnlyxMain::settleUnfinishedSaves(const QString &name)
{
    for (const UnfinishedSave &save : unfinishedSavesOf(name)) {
        QMessageBox box(QMessageBox::Warning, QString::fromLatin1(caption),
                        QStringLiteral("The last save of \"%1\" did not finish; the file may be damaged.").arg(shownName(name)),
                        QMessageBox::NoButton, this);
        box.setObjectName(QStringLiteral("unsettled save"));
        box.setInformativeText(QStringLiteral("The copy taken before that save is \"%1\". Restore Copy puts it back and keeps "
                                              "your text here unsaved; Discard Copy and Save lets the copy go and saves your "
                                              "text over the file.").arg(shownName(save.backupPath)));
        showPlainText(box);
        // No letter of their own: a key typed ahead must not write over a file.
        QPushButton *restore = box.addButton(QStringLiteral("Restore Copy"), QMessageBox::AcceptRole);
        QPushButton *discard = box.addButton(QStringLiteral("Discard Copy and Save"), QMessageBox::DestructiveRole);
        QPushButton *cancel = box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
        box.setDefaultButton(cancel);
        box.setEscapeButton(cancel);
        box.exec();
        takeFocusBack(this);
        FileError error;
        RestoreOutcome outcome;
        if (box.clickedButton() == restore) {
            if (!restoreUnfinished(save, save.path, &outcome, &error))
                tell(this, QMessageBox::Warning, "write error",
                     QStringLiteral("Error in writing file \"%1\"!").arg(shownName(save.path)), error.words(FileError::Sentence, save.path));
            else
                tell(this, QMessageBox::Information, "restored", outcome.words(FileError::Sentence), QString());
            checkDisk();
            return false;
        }
        if (box.clickedButton() != discard)
            return false;
        if (!discardUnfinished(save, &error)) {
            tell(this, QMessageBox::Warning, "write error",
                 QStringLiteral("Error in writing file \"%1\"!").arg(shownName(name)), error.words(FileError::Sentence, name));
            return false;
        }
    }
    return true;
}

QString QTarnlyxMain::askSaveName()
{
    // A converted text proposes the name of its own; else the file's.
    return askSaveFileName(this, QString(), m_document.proposedName(), QLatin1String(fileFilters));
}

bool QTarnlyxMain::saveAs()
{
    // Asked before a file of that name is replaced.
    const QString name = askSaveName();
    return !name.isEmpty() && saveTo(name, m_document.format());
}

void QTarnlyxMain::closeEvent(QCloseEvent *event)
{
    if (mayDiscardText()) {
        m_document.dropRecovery();
        event->accept();
        // The window that had the keyboard before this one takes it back.
        activationOrder().removeAll(this);
        activationOrder().removeAll(nullptr);
        if (!activationOrder().isEmpty()) {
            QTarnlyxMain *next = activationOrder().back();
            QTimer::singleShot(0, next, [next] {
                next->raise();
                next->activateWindow();
            });
        }
    } else {
        event->ignore();
    }
}

void QTarnlyxMain::showAbout()
{
    MyAbout about;
    about.exec();
    takeFocusBack(this);
}

void QTarnlyxMain::mustSpecifyFps()
{
    // A file that names its rate on its first line proposes that rate, any
    // other the window's. What is proposed is what Escape keeps: it is the
    // rate of everything done to the file from now on.
    const double header = frameRateHeader(editor->document()->firstBlock().text());
    double rate = header > 0.0 ? header : editor->fps;
    MyFps dialog(nullptr, &rate, false);
    dialog.exec();
    editor->fps = rate;
    takeFocusBack(this);
    followRate();
}

void QTarnlyxMain::specifyFps()
{
    MyFps dialog(nullptr, &editor->fps, true);
    dialog.exec();
    takeFocusBack(this);
    followRate();
}

namespace {

// Runs an operation's dialog; once it is accepted, what it chose becomes
// the window's (`chosen`, a part of `settings`) and the operation runs over
// the whole text, and the result says what it did. A rejected dialog
// changes nothing and gives an empty text.
template <typename Dialog, typename Settings>
QString runOperation(Dialog &dialog, Settings &chosen, MyEditor *editor, int mode, const OperationSettings &settings)
{
    const bool accepted = dialog.exec() == QDialog::Accepted;
    takeFocusBack(editor->window());
    if (!accepted)
        return QString();
    chosen = dialog.settings();
    SubEngine::WalkCounts walk;
    try {
        walk = editor->linesChange(mode, settings);
    } catch (const std::bad_alloc &) {
        tell(editor->window(), QMessageBox::Warning, "no memory", QStringLiteral("Not enough memory for this operation."),
             QStringLiteral("The text is as it was."));
        return QString();
    }
    return walkSummary(mode, walk);
}

} // namespace

// Each dialog opens with the same settings, whatever was chosen before.
void QTarnlyxMain::subtitlesConvert()
{
    SubConvert dialog(ConvertSettings(), this);
    showSummary(runOperation(dialog, m_settings.convert, editor, ModeConvert, m_settings));
}

void QTarnlyxMain::shiftTime()
{
    SubShift dialog(ShiftSettings(), this);
    showSummary(runOperation(dialog, m_settings.shift, editor, ModeShift, m_settings));
}

void QTarnlyxMain::changeShowTime()
{
    SubShowtime dialog(ShowTimeSettings(), this);
    showSummary(runOperation(dialog, m_settings.showTime, editor, ModeShowTime, m_settings));
}

void QTarnlyxMain::changeSubFps()
{
    // Frame numbers are at the window's rate, which the change then moves on.
    SubFpschange dialog(FpsChangeSettings{editor->fps}, this);
    showSummary(runOperation(dialog, m_settings.fpsChange, editor, ModeFpsChange, m_settings));
}

void QTarnlyxMain::correctSubtitles()
{
    SubCorrect dialog(CorrectionSettings(), this);
    showSummary(runOperation(dialog, m_settings.correction, editor, ModeCorrect, m_settings));
}
