#include "files/subtitledocument.h"

#include "files/filelinks.h"
#include "files/filereading.h"

#include <QDir>
#include <QFileInfo>

#include <new>
#include <utility>

SubtitleDocument::SubtitleDocument(const QString &encoding, QObject *parent)
    : QObject(parent), m_requestedEncoding(encoding), m_recoveryWriter(this)
{
    connect(&m_recoveryWriter, &RecoveryWriter::recoveryDue, this, &SubtitleDocument::recoveryDue);
    connect(&m_recoveryWriter, &RecoveryWriter::recoveryFailed, this, &SubtitleDocument::recoveryFailed);
    connect(&m_recoveryWriter, &RecoveryWriter::recoveryNeedsWholeText, this, &SubtitleDocument::recoveryNeedsWholeText);
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

bool SubtitleDocument::readIn(const QString &name, const QString &encoding, SubtitleText &file, FileError *error)
{
    const QString before = std::exchange(m_requestedEncoding, encoding);
    if (read(name, file, error))
        return true;
    m_requestedEncoding = before;
    return false;
}

bool SubtitleDocument::readFile(const QString &name, SubtitleText &file, FileError *error)
{
    const FileKind kind = kindOf(name);
    if (kind == FileKind::Directory || kind == FileKind::Other) {
        // A pipe might never end, a device is not a subtitle file.
        if (error)
            *error = FileError(FileError::Read, name, kind == FileKind::Directory ? FileError::IsFolder : FileError::NotRegularFile);
        return false;
    }
    FileStamp stamp;
    QByteArray hash;
    if ((kind == FileKind::Missing && !createEmptyFile(name, error))
        || !readSubtitleFile(name, file, error, m_requestedEncoding, &stamp, &hash))
        return false;
    dropRecovery(); // the text before was saved or let go
    m_fileName = name;
    m_stamp = stamp;
    m_readEncoding = m_requestedEncoding;
    m_readHash = hash;
    m_keptStamp.reset();
    m_proposedName.clear();
    m_recoveryWriter.fileHashIs(hash);
    m_diskChanged = false;
    m_format = file.format;
    return true;
}

std::function<QString()> SubtitleDocument::textAsRead() const
{
    return [name = m_fileName, stamp = m_stamp, encoding = m_readEncoding, hash = m_readHash] {
        SubtitleText file;
        FileStamp now;
        QByteArray nowHash;
        if (!readSubtitleFile(name, file, nullptr, encoding, &now, &nowHash) || now != stamp || nowHash != hash)
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
    if (!encodeSubtitleText(text, format, plan.bytes, plan.why)) {
        plan.why.path = name;
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
    plan.why = FileError();
    plan.question = SavePlan::Question::None;
    if (!encodeSubtitleText(text, plan.format, plan.bytes, plan.why)) {
        plan.question = SavePlan::Question::NotInEncoding;
        plan.why.path = plan.name;
    }
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
            *error = plan.why;
        return false;
    }
    if (!writeSubtitleFile(plan.name, plan.bytes, error, nullptr, &plan.current))
        return false;
    m_fileName = plan.name;
    m_stamp = stampOf(plan.name);
    m_keptStamp.reset();
    m_proposedName.clear(); // the name moved with the save, not before
    m_diskChanged = false;
    m_format = plan.format;
    m_format.lineEnds = m_format.writtenLineEnds(); // mixed no more
    dropRecovery();
    m_recoveryWriter.fileHoldsBytes(plan.bytes);
    return true;
}

void SubtitleDocument::becomeUntitled(const FileFormat &format, const QString &from)
{
    dropRecovery();
    m_fileName.clear();
    m_stamp = FileStamp();
    m_keptStamp.reset();
    m_proposedName = from.isEmpty() ? QString() : nameBeside(from, QStringLiteral(".sub"));
    m_recoveryWriter.fileHashIs(QByteArray());
    m_diskChanged = false;
    m_format = format;
}

QString SubtitleDocument::proposedName() const
{
    if (!m_proposedName.isEmpty())
        return m_proposedName;
    return m_fileName.isEmpty() ? QString() : QFileInfo(m_fileName).absoluteFilePath();
}

QString SubtitleDocument::exportName(CueStyle style) const
{
    return nameBeside(m_fileName, style == CueStyle::SubRip ? QStringLiteral(".srt") : QStringLiteral(".vtt"));
}

bool SubtitleDocument::isOwnFile(const QString &path) const
{
    return !m_fileName.isEmpty() && QFileInfo(path) == QFileInfo(m_fileName);
}

SubtitleDocument::DiskState SubtitleDocument::diskState() const
{
    if (m_fileName.isEmpty())
        return DiskState::Same;
    const FileStamp now = stampOf(m_fileName);
    if (now == m_stamp)
        return DiskState::Same;
    if (now == m_keptStamp)
        return DiskState::KeptByUser;
    return now.exists ? DiskState::Changed : DiskState::Deleted;
}

void SubtitleDocument::keepForRecovery(bool modified, const QString &raw, const std::function<QString(QString)> &finish)
{
    keepEditsForRecovery(modified, [raw, finish] { return finish(raw); }, {}, raw.size(), finish);
}

void SubtitleDocument::keepEditsForRecovery(bool modified, const std::function<QString()> &filled,
                                            const QList<RawEdit> &edits, qsizetype length,
                                            const std::function<QString(QString)> &finish)
{
    m_recoveryWriter.keepEdits(modified, filled, edits, length, finish, RecoveryFile::absoluteName(m_fileName), m_stamp);
}

bool SubtitleDocument::adoptRecovery(const RecoveredText &recovered)
{
    return m_recoveryWriter.adopt(recovered.id);
}

void SubtitleDocument::recoveredFromChangedFile(const RecoveredText &recovered)
{
    m_stamp = recovered.stamp;
    m_recoveryWriter.fileHashIs(recovered.hash);
    m_diskChanged = true;
}

bool SubtitleDocument::readRecovery(QString *text, FileError *error)
{
    return m_recoveryWriter.readAdopted(text, error);
}

void SubtitleDocument::dropRecovery()
{
    m_recoveryWriter.drop();
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

QString nameBeside(const QString &path, const QString &suffix)
{
    if (path.isEmpty())
        return QStringLiteral("subtitles") + suffix;
    const QFileInfo info(path);
    const QString base = info.completeBaseName().isEmpty() ? info.fileName() : info.completeBaseName();
    return info.dir().filePath(base + suffix);
}
