#include "files/subtitledocument.h"

#include "files/filelinks.h"
#include "files/filereading.h"

#include <chrono>
#include <new>
#include <utility>

SubtitleDocument::SubtitleDocument(const QString &encoding, QObject *parent)
    : QObject(parent), m_requestedEncoding(encoding)
{
    m_recoveryWriter.setMaxThreadCount(1);
    m_recoveryTimer.setParent(this);
    m_recoveryTimer.setObjectName(QStringLiteral("recoveryPause"));
    m_recoveryTimer.setSingleShot(true);
    connect(&m_recoveryTimer, &QTimer::timeout, this, [this] {
        const qint64 rest = m_lastEdit + recoveryPauseMs - clock();
        if (rest > 0)
            m_recoveryTimer.start(int(rest));
        else
            emit recoveryDue();
    });
}

namespace {

qint64 steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
}

} // namespace

qint64 (*SubtitleDocument::clock)() = steadyMs;

void SubtitleDocument::edited()
{
    // The timer is not started again at every key: it wakes when the
    // pause after the first may be over, and waits on for the rest.
    m_lastEdit = clock();
    if (!m_recoveryTimer.isActive())
        m_recoveryTimer.start(int(recoveryPauseMs));
}

SubtitleDocument::~SubtitleDocument()
{
    m_recoveryWriter.waitForDone();
}

bool SubtitleDocument::read(const QString &name, SubtitleText &file, FileError *error)
{
    try {
        return readFile(name, file, error);
    } catch (const std::bad_alloc &) {
        file = SubtitleText();
        if (error)
            *error = FileError(FileError::NoMemory, name, QStringLiteral("read"));
        return false;
    }
}

bool SubtitleDocument::readFile(const QString &name, SubtitleText &file, FileError *error)
{
    const FileKind kind = kindOf(name);
    if (kind == FileKind::Directory || kind == FileKind::Other) {
        // A pipe might never end, a device is not a subtitle file.
        if (error)
            *error = FileError(FileError::Read, name,
                               kind == FileKind::Directory ? QStringLiteral("It is a folder.") : QStringLiteral("It is not a regular file."));
        return false;
    }
    FileStamp stamp;
    size_t digest = 0;
    QByteArray hash;
    if ((kind == FileKind::Missing && !createEmptyFile(name, error))
        || !readSubtitleFile(name, file, error, m_requestedEncoding, &stamp, &digest, &hash))
        return false;
    dropRecovery(); // the text before was saved or let go
    m_fileName = name;
    m_stamp = stamp;
    m_readEncoding = m_requestedEncoding;
    m_readDigest = digest;
    m_recoveryWriter.start([this, hash] { m_fileHash = hash; });
    m_diskChanged = false;
    m_format = file.format;
    return true;
}

std::function<QString()> SubtitleDocument::textAsRead() const
{
    return [name = m_fileName, stamp = m_stamp, encoding = m_readEncoding, digest = m_readDigest] {
        SubtitleText file;
        FileStamp now;
        size_t nowDigest = 0;
        if (!readSubtitleFile(name, file, nullptr, encoding, &now, &nowDigest) || now != stamp || nowDigest != digest)
            return QString();
        return file.text;
    };
}

SubtitleDocument::SavePlan SubtitleDocument::planSave(const QString &name, QStringView text, const FileFormat &format)
{
    SavePlan plan;
    plan.name = name;
    plan.current = stampOf(name);
    plan.format = format;
    if (!encodeSubtitleText(text, format, plan.bytes, &plan.why)) {
        // A raw-bytes text shows each byte as a Latin-1 character, so its
        // other letters are misread ones: stored as UTF-8 they would be
        // wrong for good.
        plan.question = format.encoding == u"bytes" ? SavePlan::Question::NotInBytes
                                                    : SavePlan::Question::NotInEncoding;
        plan.bytes.clear();
    }
    return plan;
}

SubtitleDocument::SavePlan SubtitleDocument::inUtf8(SavePlan plan, QStringView text)
{
    if (plan.question != SavePlan::Question::NotInEncoding)
        return plan;
    plan.format.encoding = QStringLiteral("UTF-8");
    plan.format.bom = false;
    plan.why.clear();
    plan.question = encodeSubtitleText(text, plan.format, plan.bytes, &plan.why) ? SavePlan::Question::None
                                                                                 : SavePlan::Question::NotInEncoding;
    return plan;
}

bool SubtitleDocument::write(const SavePlan &plan, FileError *error)
{
    try {
        return writeFile(plan, error);
    } catch (const std::bad_alloc &) {
        if (error)
            *error = FileError(FileError::NoMemory, plan.name, QStringLiteral("write"));
        return false;
    }
}

bool SubtitleDocument::writeFile(const SavePlan &plan, FileError *error)
{
    Q_ASSERT(plan.question == SavePlan::Question::None);
    if (plan.question != SavePlan::Question::None) {
        if (error)
            *error = FileError(FileError::Write, plan.name, plan.why);
        return false;
    }
    if (!writeSubtitleFile(plan.name, plan.bytes, error, nullptr, &plan.current))
        return false;
    m_fileName = plan.name;
    m_stamp = stampOf(plan.name);
    m_diskChanged = false;
    m_format = plan.format;
    m_format.lineEnds = m_format.writtenLineEnds(); // mixed no more
    dropRecovery();
    // Off the window's thread: only a recovery write needs it.
    m_recoveryWriter.start([this, bytes = plan.bytes] { m_fileHash = contentHash(bytes); });
    return true;
}

void SubtitleDocument::becomeUntitled(const FileFormat &format)
{
    dropRecovery();
    m_fileName.clear();
    m_stamp = FileStamp();
    m_recoveryWriter.start([this] { m_fileHash.clear(); });
    m_diskChanged = false;
    m_format = format;
}

void SubtitleDocument::keepForRecovery(bool modified, const QString &raw, const std::function<QString(QString)> &finish)
{
    keepEditsForRecovery(modified, [raw, finish] { return finish(raw); }, {}, raw.size(), finish);
}

void SubtitleDocument::keepEditsForRecovery(bool modified, const std::function<QString()> &filled,
                                            const QList<RawEdit> &edits, qsizetype length,
                                            const std::function<QString(QString)> &finish)
{
    m_recoveryTimer.stop();
    if (modified)
        m_recoveryAdopted = false;
    m_recoveryWriter.start([this, filled, edits, length, finish, write = modified,
                            name = RecoveryFile::absoluteName(m_fileName), stamp = m_stamp] {
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
            QMetaObject::invokeMethod(this, &SubtitleDocument::recoveryNeedsWholeText, Qt::QueuedConnection);
            return;
        }
        if (write)
            writeShown(name, stamp);
    });
    // Text undone back to the file's needs no recovery: its file goes once
    // the writer is done with it, not waited for here. A restored text not
    // yet written again (or still being asked about) keeps its file.
    if (!modified && !m_recoveryAdopted)
        m_recoveryWriter.start([this] { m_recovery.remove(); });
}

QString &SubtitleDocument::shown()
{
    if (m_filled)
        m_shown = std::exchange(m_filled, {})();
    return m_shown;
}

void SubtitleDocument::writeShown(const QString &name, const FileStamp &stamp)
{
    FileError error;
    if (m_recovery.write(name, stamp, m_fileHash, m_shown, &error))
        return;
    qWarning("cannot keep the unsaved text for recovery: %s", qPrintable(error.message()));
    QMetaObject::invokeMethod(this, [this, error] {
        if (!std::exchange(m_recoveryWarned, true))
            emit recoveryFailed(error);
    }, Qt::QueuedConnection);
}

bool SubtitleDocument::adoptRecovery(const RecoveredText &recovered)
{
    m_recoveryWriter.waitForDone();
    if (!m_recovery.adopt(recovered.id))
        return false;
    m_recoveryAdopted = true;
    return true;
}

void SubtitleDocument::recoveredFromChangedFile(const RecoveredText &recovered)
{
    m_stamp = recovered.stamp;
    m_recoveryWriter.start([this, hash = recovered.hash] { m_fileHash = hash; });
    m_diskChanged = true;
}

bool SubtitleDocument::readRecovery(QString *text, FileError *error)
{
    m_recoveryWriter.waitForDone();
    if (m_recovery.readText(text, error))
        return true;
    m_recovery.release(); // never written over with another text
    m_recoveryAdopted = false;
    return false;
}

void SubtitleDocument::dropRecovery()
{
    m_recoveryAdopted = false;
    m_recoveryTimer.stop();
    m_recoveryWriter.waitForDone();
    m_recovery.remove();
}

QList<RecoveredText> SubtitleDocument::recoveryForThisFile() const
{
    QList<RecoveredText> found;
    for (const RecoveredText &recovered : RecoveryFile::orphans()) {
        if (recovered.relationTo(m_fileName) != RecoveredText::Relation::Other)
            found << recovered;
    }
    return found;
}
