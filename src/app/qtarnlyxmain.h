// A main window: one subtitle file in an editor, with a tool bar and the
// File, Subtitles and Help menus.
#pragma once

#include "engine/subengine.h"
#include "files/subtitledocument.h"

#include <QMainWindow>
#include <QSet>

#include <memory>

class ChangedOnDiskBar;
class CheckPanel;
class FindBar;
class MyEditor;
class QMenu;
enum class CueStyle;
class QToolBar;
class RecoveryFeed;
class StatusLabels;

class QTarnlyxMain : public QMainWindow
{
    Q_OBJECT

public:
    // A window on the file `name`, loaded at once; without a name (or with
    // the bare name "subtitles.txt"), on a new text that has no file yet.
    // `encoding` forces the one the file is read in; empty detects it.
    explicit QTarnlyxMain(QString name = QString(), const QString &encoding = QString());
    ~QTarnlyxMain() override;

    MyEditor *editorWidget() const { return editor; }
    // What the operations' dialogs chose last; the frame rate is the editor's.
    const OperationSettings &operationSettings() const { return m_settings; }
    QString currentFileName() const { return m_document.fileName(); }

    // Asks whether to bring back the unsaved text a program that ended
    // without saving left; restored, it shows as edited.
    void offerRecovery(const RecoveredText &recovered);
    // Brings it back without asking; the recovery file stays until the text
    // is saved or written again.
    void restoreRecovery(const RecoveredText &recovered);
    // Ids of recovery files the user chose at start to restore: a window on
    // their file restores them without asking again.
    static QSet<QString> &restoreWithoutAsking();
    // Writes the unsaved text to its recovery file now rather than after
    // the pause in typing; waits until it is on disk.
    void writeRecoveryNow();
    // Hands the unsaved text to the recovery writer's thread (or removes
    // the recovery file of a text no longer edited); returns at once.
    void scheduleRecovery();
    // Reads the file again in `encoding` ("bytes": one byte per character;
    // empty: detected again), asking first about unsaved changes.
    void reopenWith(const QString &encoding);
    const FileFormat &fileFormat() const { return m_document.format(); }

public slots:
    // Shows `name` in the caption ("subtitles.txt" for none); the file saved
    // to stays as it was.
    void setFileName(QString name);
    void newFile();
    void open();
    // Reads `name` into this window, in the encoding detected in it (one
    // forced for the file before is that file's alone). True once loaded;
    // false, with nothing changed, when the user keeps the edited text or
    // the file cannot be read.
    bool load(QString name);
    // False when the text was not saved (no name chosen, or a write error,
    // which is reported); the edited flag then stays on.
    bool save();
    bool saveAs();
    void showAbout();
    void mustSpecifyFps();
    void specifyFps();
    void subtitlesConvert();
    void shiftTime();
    void changeShowTime();
    void changeSubFps();
    void correctSubtitles();
    // Writes the text as SubRip or WebVTT to a file the user names; the
    // window stays on its own file.
    void exportSubRip();
    void exportWebVtt();
    // Saves in an encoding and with line ends the user chooses; a text the
    // encoding cannot hold is refused before anything is written.
    bool saveWithEncoding();

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    // load() in `encoding` (empty: detected), which stays the file's for
    // Reload until another file is read.
    bool loadIn(const QString &name, const QString &encoding);
    // True when the window may let its text go: not edited, saved now, or
    // the user says to leave it.
    bool mayDiscardText();
    // Shows the recovered text taken over as the unsaved text; says so in
    // the status bar when it cannot be read, and leaves it for next time.
    // Made from a file that has changed since, it is saved over that file
    // only once the user says so.
    void showRecovered(const RecoveredText &recovered, bool fileChanged);
    void createActions();
    // The text between the changed-on-disk bar and the find bar, and the
    // summary of the last operation under them.
    void createCentre();
    // Whether to save over a file another program changed or removed since
    // it was loaded or saved here; true when it did not.
    bool mayOverwrite();
    // Writes the text to `name` in `format`; both become the window's only
    // once it is saved. A failure is reported and changes nothing.
    bool saveTo(const QString &name, const FileFormat &format);
    void showFormat();
    // The name Save As proposes; empty when the user cancels.
    QString askSaveName();
    void exportCuesAs(CueStyle style);
    // Offers to turn a SubRip file just read into subtitle lines, as a new
    // unnamed text; true when it did.
    bool offerSubRipConversion(const QString &name, const SubtitleText &file);
    // What the last operation or Replace All did, until the next edit.
    void showSummary(const QString &summary);
    // Shows the changed-on-disk bar when the file changed or went since it
    // was read or saved here, and the user has not kept this version yet.
    void checkDisk();
    // Files dropped on the text: the first here, as Open would, the others
    // each in a window of its own.
    void openDropped(const QStringList &names);
    // Subtitles > Check...: the panel of what the checks find.
    void showChecks();
    // The panel checks again at a new frame rate.
    void followRate();

    QToolBar *toolBar = nullptr;
    MyEditor *editor = nullptr;
    // What the operations' dialogs chose last, the frame rate aside: that
    // is the text's own (the editor's `fps`).
    OperationSettings m_settings;
    SubtitleDocument m_document;    // the file's life: name, format, stamp, recovery
    RecoveryFeed *m_recoveryFeed = nullptr; // the text shown, to the document's recovery file
    FindBar *m_findBar = nullptr;
    ChangedOnDiskBar *m_changedBar = nullptr;
    std::unique_ptr<StatusLabels> m_status;
    QMenu *m_reopenMenu = nullptr;
    CheckPanel *m_checkPanel = nullptr; // made when first asked for
};
