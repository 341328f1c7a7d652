#include "files/recoverywriter.h"

#include <chrono>
#include <utility>

namespace {

qint64 steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
}

} // namespace

qint64 (*RecoveryWriter::clock)() = steadyMs;

RecoveryWriter::RecoveryWriter(QObject *parent) : QObject(parent)
{
    m_thread.setMaxThreadCount(1);
    m_timer.setParent(this);
    m_timer.setObjectName(QStringLiteral("recoveryPause"));
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        const qint64 rest = m_lastEdit + pauseMs - clock();
        if (rest > 0)
            m_timer.start(int(rest));
        else
            emit recoveryDue();
    });
}

RecoveryWriter::~RecoveryWriter()
{
    m_thread.waitForDone();
}

void RecoveryWriter::edited()
{
    // The timer is not started again at every key: it wakes when the
    // pause after the first may be over, and waits on for the rest.
    m_lastEdit = clock();
    if (!m_timer.isActive())
        m_timer.start(int(pauseMs));
}

void RecoveryWriter::keepEdits(bool modified, const std::function<QString()> &filled, const QList<RawEdit> &edits,
                               qsizetype length, const std::function<QString(QString)> &finish, const QString &name,
                               const FileStamp &stamp)
{
    m_timer.stop();
    if (modified)
        m_adopted = false;
    m_thread.start([this, filled, edits, length, finish, write = modified, name, stamp] {
        if (filled) {
            m_filled = filled;
            m_shown = QString();
        }
        if (!write && edits.isEmpty())
            return; // made when next needed
        QString &text = shown();
        // An edit's place and length are the same in the raw text and in
        // the text as shown: finishing changes one character into one. No
        // text at all: the file read again is no longer the one shown.
        bool addsUp = !text.isNull() || length == 0;
        for (const RawEdit &e : edits) {
            addsUp = addsUp && e.position >= 0 && e.removed >= 0 && qsizetype(e.position) <= text.size();
            if (addsUp)
                text.replace(e.position, e.removed, finish(e.added));
        }
        if (!addsUp || text.size() != length) {
            QMetaObject::invokeMethod(this, &RecoveryWriter::recoveryNeedsWholeText, Qt::QueuedConnection);
            return;
        }
        if (write)
            writeShown(name, stamp);
    });
    // Text undone back to the file's needs no recovery: its file goes once
    // the writer is done with it, not waited for here. A restored text not
    // yet written again (or still being asked about) keeps its file.
    if (!modified && !m_adopted)
        m_thread.start([this] { m_recovery.remove(); });
}

void RecoveryWriter::fileHashIs(const QByteArray &hash)
{
    m_thread.start([this, hash] { m_fileHash = hash; });
}

void RecoveryWriter::fileHoldsBytes(const QByteArray &bytes)
{
    // Off the window's thread: only a recovery write needs it.
    m_thread.start([this, bytes] { m_fileHash = contentHash(bytes); });
}

QString &RecoveryWriter::shown()
{
    if (m_filled)
        m_shown = std::exchange(m_filled, {})();
    return m_shown;
}

void RecoveryWriter::writeShown(const QString &name, const FileStamp &stamp)
{
    FileError error;
    if (m_recovery.write(name, stamp, m_fileHash, m_shown, &error))
        return;
    qWarning("cannot keep the unsaved text for recovery: %s", qPrintable(error.message()));
    QMetaObject::invokeMethod(this, [this, error] {
        if (!std::exchange(m_warned, true))
            emit recoveryFailed(error);
    }, Qt::QueuedConnection);
}

bool RecoveryWriter::adopt(const QString &id)
{
    m_thread.waitForDone();
    if (!m_recovery.adopt(id))
        return false;
    m_adopted = true;
    return true;
}

bool RecoveryWriter::readAdopted(QString *text, FileError *error)
{
    m_thread.waitForDone();
    if (m_recovery.readText(text, error))
        return true;
    m_recovery.release(); // never written over with another text
    m_adopted = false;
    return false;
}

void RecoveryWriter::drop()
{
    m_adopted = false;
    m_timer.stop();
    m_thread.waitForDone();
    m_recovery.remove();
}
