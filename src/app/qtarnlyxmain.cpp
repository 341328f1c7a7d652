#include "app/qtarnlyxmain.h"

#include "app/mainmenus.h"
#include "app/messageboxes.h"
#include "app/recoveryfeed.h"
#include "app/windowquestions.h"
#include "app/windowturns.h"
#include "widgets/changedbar.h"
#include "widgets/checkpanel.h"
#include "widgets/findbar.h"
#include "widgets/gotodialog.h"
#include "widgets/myabout.h"
#include "widgets/myeditor.h"
#include "widgets/myfps.h"
#include "widgets/operationdialogs.h"
#include "widgets/saveformat.h"
#include "widgets/statuslabels.h"
#include "engine/walksummary.h"
#include "files/filenames.h"
#include "files/filereading.h"
#include "files/savingformat.h"
#include "formats/subrip.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QSet>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QToolBar>
#include <QVBoxLayout>

#include <memory>
#include <utility>

namespace {

// The first shows every file the second does, and the usual subtitle files.
const char fileFilters[] = "Subtitle files (*.txt *.sub *.mpl *.srt);;*.txt;;All files (*)";

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
    m_status = std::make_unique<StatusLabels>(editor, this);
    connect(editor, &MyEditor::filesDropped, this, [this](const QStringList &names) {
        // Not inside the drop: the questions of a load are modal.
        QTimer::singleShot(0, this, [this, names] { openDropped(names); });
    });
    showFormat();
    editor->setFocus();
    createCentre();
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

void QTarnlyxMain::createCentre()
{
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
    column->addWidget(m_status->summaryLabel());
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
}

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
    if (!askRestoreRecovery(this, recovered, changed)) {
        m_document.dropRecovery();
        return;
    }
    showRecovered(recovered, changed);
}

bool QTarnlyxMain::mayOverwrite()
{
    return !m_document.changedOnDisk()
            || confirmOverwrite(this, m_document.fileName(), stampOf(m_document.fileName()).exists);
}

void QTarnlyxMain::createActions()
{
    const MainMenus menus = createMainMenus(this, toolBar, editor);
    m_reopenMenu = menus.reopen;
    connect(menus.newFile, &QAction::triggered, this, &QTarnlyxMain::newFile);
    connect(menus.open, &QAction::triggered, this, &QTarnlyxMain::open);
    connect(menus.save, &QAction::triggered, this, &QTarnlyxMain::save);
    connect(menus.saveAs, &QAction::triggered, this, &QTarnlyxMain::saveAs);
    connect(menus.close, &QAction::triggered, this, &QWidget::close);
    connect(menus.closeAll, &QAction::triggered, qApp, &QApplication::closeAllWindows);
    connect(menus.reopen, &QMenu::aboutToShow, this, [this] {
        markEncoding(m_reopenMenu, m_document.fileName().isEmpty() ? QString() : m_document.format().encoding);
    });
    connect(menus.detectAgain, &QAction::triggered, this, [this] { reopenWith(QString()); });
    for (QAction *a : menus.encodings->actions())
        connect(a, &QAction::triggered, this, [this, name = a->data().toString()] { reopenWith(name); });
    connect(menus.saveWithEncoding, &QAction::triggered, this, &QTarnlyxMain::saveWithEncoding);
    connect(menus.exportSubRip, &QAction::triggered, this, &QTarnlyxMain::exportSubRip);
    connect(menus.exportWebVtt, &QAction::triggered, this, &QTarnlyxMain::exportWebVtt);

    connect(menus.find, &QAction::triggered, this, [this] { m_findBar->start(false); });
    connect(menus.findNext, &QAction::triggered, this, [this] { m_findBar->findNext(); });
    connect(menus.findPrevious, &QAction::triggered, this, [this] { m_findBar->findPrevious(); });
    connect(menus.replace, &QAction::triggered, this, [this] { m_findBar->start(true); });
    connect(menus.goTo, &QAction::triggered, this, [this] {
        GoToDialog dialog(editor, this);
        dialog.exec();
        takeFocusBack(this);
    });

    connect(menus.fps, &QAction::triggered, this, &QTarnlyxMain::specifyFps);
    connect(menus.convert, &QAction::triggered, this, &QTarnlyxMain::subtitlesConvert);
    connect(menus.shift, &QAction::triggered, this, &QTarnlyxMain::shiftTime);
    connect(menus.showTime, &QAction::triggered, this, &QTarnlyxMain::changeShowTime);
    connect(menus.changeFps, &QAction::triggered, this, &QTarnlyxMain::changeSubFps);
    connect(menus.correct, &QAction::triggered, this, &QTarnlyxMain::correctSubtitles);
    connect(menus.check, &QAction::triggered, this, &QTarnlyxMain::showChecks);
    connect(menus.about, &QAction::triggered, this, &QTarnlyxMain::showAbout);
}

void QTarnlyxMain::showSummary(const QString &summary)
{
    m_status->showSummary(summary);
}

void QTarnlyxMain::showChecks()
{
    if (!m_checkPanel) {
        m_checkPanel = new CheckPanel(editor, this);
        connect(m_checkPanel, &CheckPanel::fixed, this, &QTarnlyxMain::showSummary);
        addDockWidget(Qt::RightDockWidgetArea, m_checkPanel);
        // Room for the panel beside the text, as far as the screen allows.
        const int wanted = width() + m_checkPanel->sizeHint().width();
        const QScreen *place = screen();
        resize(place ? std::min(wanted, place->availableGeometry().width()) : wanted, height());
    }
    m_checkPanel->show();
    m_checkPanel->raise();
    m_checkPanel->focusProblems();
}

void QTarnlyxMain::followRate()
{
    if (m_checkPanel && m_checkPanel->isVisible())
        m_checkPanel->recheck();
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
    bringToFront(this);
}

void QTarnlyxMain::reopenWith(const QString &encoding)
{
    if (!m_document.fileName().isEmpty())
        loadIn(m_document.fileName(), encoding);
}

void QTarnlyxMain::showFormat()
{
    m_status->showFormat(m_document.format());
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
    bringToFront(window);
}

void QTarnlyxMain::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
        noteActivated(this);
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

bool QTarnlyxMain::mayDiscardText()
{
    if (!editor->document()->isModified())
        return true;
    switch (askUnsaved(this)) {
    case UnsavedAnswer::SaveNow:
        // A save that failed or found no name keeps the text here.
        return save();
    case UnsavedAnswer::LeaveAnyway:
        return true;
    case UnsavedAnswer::Cancel:
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
        tellReadError(this, name, error);
        return false;
    }
    if (looksLikeSubRip(file.text) && offerSubRipConversion(name, file))
        return true;
    // The file itself gives the text again for its first recovery write.
    editor->setText(std::move(file.text), m_document.textAsRead());
    setFileName(m_document.fileName());
    showFormat();
    tellReadNotices(this, name, file);
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
        tellWriteError(this, name, FileError(FileError::NoMemory, name, QStringLiteral("write")));
        return false;
    }
    switch (plan.question) {
    case SubtitleDocument::SavePlan::Question::None:
        break;
    case SubtitleDocument::SavePlan::Question::NotInBytes:
        if (askReopenForBytes(this, name, plan.why)) {
            if (auto *menu = findChild<QMenu *>(QStringLiteral("reopenMenu")))
                menu->popup(mapToGlobal(rect().center()));
        }
        return false;
    case SubtitleDocument::SavePlan::Question::NotInEncoding:
        if (!askUtf8Instead(this, name, format.encoding, plan.why))
            return false;
        plan = SubtitleDocument::inUtf8(std::move(plan), text);
        if (plan.question != SubtitleDocument::SavePlan::Question::None)
            return false;
        break;
    }
    const Settled settled = settleUnfinishedSaves(this, name);
    if (settled == Settled::CopyRestored)
        checkDisk();
    if (settled != Settled::GoOn)
        return false;
    FileError writeError;
    if (!m_document.write(plan, &writeError)) {
        tellWriteError(this, name, writeError);
        return false;
    }
    editor->document()->setModified(false);
    setFileName(m_document.fileName());
    showFormat();
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
        activatePrevious(this);
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
    MyFps dialog(header > 0.0 ? header : editor->fps, false);
    dialog.exec();
    editor->fps = dialog.fps();
    takeFocusBack(this);
    followRate();
}

void QTarnlyxMain::specifyFps()
{
    MyFps dialog(editor->fps, true);
    if (dialog.exec() == QDialog::Accepted)
        editor->fps = dialog.fps();
    takeFocusBack(this);
    followRate();
}

void QTarnlyxMain::exportSubRip()
{
    exportCuesAs(CueStyle::SubRip);
}

void QTarnlyxMain::exportWebVtt()
{
    exportCuesAs(CueStyle::WebVtt);
}

void QTarnlyxMain::exportCuesAs(CueStyle style)
{
    const QString path = askExportName(this, style, m_document.exportName(style));
    if (path.isEmpty())
        return;
    if (m_document.isOwnFile(path)) {
        tellExportOverOwnFile(this, path);
        return;
    }
    CueReport report;
    const QString cues = exportCues(editor->text(), editor->fps, style, report);
    // Players read SubRip and WebVTT as UTF-8; the file's own line ends stay.
    const FileFormat format = SubtitleDocument::cueFileFormat(m_document.format(), report.cues);
    QByteArray bytes;
    FileError error;
    if (!encodeSubtitleText(cues, format, bytes, error) || !writeSubtitleFile(path, bytes, &error)) {
        tellWriteError(this, path, error);
        return;
    }
    showSummary(QStringLiteral("Exported to %1: %2").arg(QFileInfo(path).fileName(), describeCueReport(report)));
}

bool QTarnlyxMain::saveWithEncoding()
{
    FileFormat chosen = m_document.format();
    {
        SaveFormatDialog dialog(this, &chosen);
        const bool accepted = dialog.exec() == QDialog::Accepted;
        if (isVisible())
            activateWindow();
        if (!accepted)
            return false;
    }
    // The encoding was chosen: a text it cannot hold is not saved in another.
    const SubtitleDocument::SavePlan plan = SubtitleDocument::planSave(QString(), editor->text(), chosen);
    if (plan.question != SubtitleDocument::SavePlan::Question::None) {
        tellNotInEncoding(this, chosen.encoding, plan.why);
        return false;
    }
    // The format becomes the file's only once it is saved in it.
    if (m_document.fileName().isEmpty()) {
        const QString name = askSaveName();
        return !name.isEmpty() && saveTo(name, chosen);
    }
    return mayOverwrite() && saveTo(m_document.fileName(), chosen);
}

bool QTarnlyxMain::offerSubRipConversion(const QString &name, const SubtitleText &file)
{
    const SubRipAnswer answer = askSubRipConversion(this, name);
    if (answer == SubRipAnswer::Keep)
        return false;
    const bool frameBased = answer == SubRipAnswer::FrameBased;
    // Frame numbers need the rate first.
    if (frameBased)
        mustSpecifyFps();
    QString lines;
    CueReport report;
    CueProblem problem;
    if (!importSubRip(file.text, frameBased ? FrameBased : BracketTime, editor->fps, lines, report, &problem)) {
        tellBrokenSubRip(this, name, cueError(name, problem));
        return false;
    }
    m_document.becomeUntitled(SubtitleDocument::fromSubRipFormat(file), name);
    editor->setText(lines);
    editor->document()->setModified(true);
    setFileName(m_document.fileName());
    showFormat();
    showSummary(QStringLiteral("Converted from SubRip: %1").arg(describeCueReport(report)));
    if (!frameBased)
        mustSpecifyFps();
    return true;
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
