// The writer that keeps a document's unsaved text in its recovery file: on
// a thread of its own, after a pause in typing, from the edits the window
// hands over rather than from the whole text each time.
#pragma once

#include "files/filestamp.h"
#include "files/recovery.h"

#include <QObject>
#include <QThreadPool>
#include <QTimer>

#include <functional>

// One edit of the editor's raw text: `removed` characters at `position`
// replaced by `added`.
struct RawEdit
{
    int position = 0, removed = 0;
    QString added;
};

class RecoveryWriter : public QObject
{
    Q_OBJECT

public:
    explicit RecoveryWriter(QObject *parent = nullptr);
    // Waits for what was handed over; the recovery file stays.
    ~RecoveryWriter() override;

    // How long typing must pause before the text is kept for recovery.
    static constexpr qint64 pauseMs = 2000;
    // The clock that pause is measured with, in milliseconds (steady);
    // tests set their own.
    static qint64 (*clock)();
    // The text was edited: it is kept for recovery once typing pauses.
    void edited();
    // Hands over the edits made since the text was last handed over (see
    // SubtitleDocument::keepEditsForRecovery()); the text of the file
    // `name`, as it was at `stamp`.
    void keepEdits(bool modified, const std::function<QString()> &filled, const QList<RawEdit> &edits,
                   qsizetype length, const std::function<QString(QString)> &finish, const QString &name,
                   const FileStamp &stamp);
    // Waits until what was handed over is on disk.
    void waitForDone() { m_thread.waitForDone(); }

    // The file the text is of holds what hashes to `hash` (contentHash()),
    // or `bytes`: told to the thread, which alone needs it.
    void fileHashIs(const QByteArray &hash);
    void fileHoldsBytes(const QByteArray &bytes);

    // Takes over the recovery file `id` a program that ended left.
    bool adopt(const QString &id);
    // The whole of the text taken over; false, with the reason, when it
    // cannot be read (it is let go, for the next start).
    bool readAdopted(QString *text, FileError *error);
    // The text was saved or let go: its recovery file goes.
    void drop();

signals:
    // The pause after an edit is over: the text is to be kept now.
    void recoveryDue();
    // The text cannot be kept for recovery; said once, with the reason.
    void recoveryFailed(const FileError &error);
    // The edits handed over did not add up: the whole text is needed.
    void recoveryNeedsWholeText();

private:
    RecoveryFile m_recovery;        // written from m_thread only
    QByteArray m_fileHash;          // the contentHash() of the file's bytes; m_thread's only
    QThreadPool m_thread;
    QTimer m_timer;                 // "recoveryPause": wakes when the pause may be over
    qint64 m_lastEdit = 0;
    bool m_adopted = false;         // holds a restored text's file, not written again yet
    bool m_warned = false;
    // The text last handed over, as shown; made from m_filled when first
    // needed, so that a handover that writes nothing costs nothing.
    // m_thread's only.
    QString m_shown;
    std::function<QString()> m_filled;
    QString &shown();
    // Writes m_shown as the text of the file `name`, `stamp`; on m_thread.
    void writeShown(const QString &name, const FileStamp &stamp);
};
