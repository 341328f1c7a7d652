// Unsaved text kept on disk, so that a crash or a power cut loses at most
// the last moments of typing.
//
// Each window with unsaved changes keeps its text in a file of its own under
// $XDG_STATE_HOME/tarnlyx/recovery/ (mode 0600), beside a lock file that the
// window holds for as long as it lives. A recovery file whose lock nobody
// holds was left by a program that ended without saving: it can be offered
// back to the user.
#pragma once

#include "files/filesaving.h"

#include <QDateTime>
#include <QList>
#include <QString>

struct RecoveredText
{
    QString id;             // names the pair of files in the recovery folder
    QString fileName;       // the file the text belongs to, absolute; empty when untitled
    FileStamp stamp;        // that file as it was read or last saved
    QByteArray hash;        // and the contentHash() of its bytes then; empty in older recovery files
    QString firstLines;     // the text's first two lines, as far as the start of the file holds them
    QDateTime written;

    enum class Relation {
        Same,    // the file the text was made from, holding the same bytes (touched, maybe)
        Changed, // that file, written to since: the text is not the file's own any more
        Other,   // another file, or none: the name was given to another file
    };
    // What the file a name leads to now is to the text, whatever name or
    // link reaches it; a file the system gave the same inode after the
    // first was removed is told by its bytes.
    Relation relationTo(const QString &name) const;
};

class RecoveryFile
{
public:
    RecoveryFile() = default;
    ~RecoveryFile();
    RecoveryFile(const RecoveryFile &) = delete;
    RecoveryFile &operator=(const RecoveryFile &) = delete;

    // Takes over a recovery file that no program holds any more.
    bool adopt(const QString &id);
    // The whole text of the recovery file held; false, with the reason,
    // when it cannot be read.
    bool readText(QString *text, FileError *error) const;
    // Writes the text for `fileName` (empty for an untitled text), the file
    // `stamp` whose bytes have the contentHash() `hash`, in place of what was
    // written before; the old content stays whole until the new one is on
    // disk. False, with the reason, when it cannot be written.
    bool write(const QString &fileName, const FileStamp &stamp, const QByteArray &hash, const QString &text,
               FileError *error);
    // Removes the recovery file: the text was saved or let go.
    void remove();
    // Lets go of the recovery file, which stays for the next start; the
    // next write makes a new one.
    void release();

    // Recovery files no running program holds, oldest first; only the
    // head of each is read.
    static QList<RecoveredText> orphans();
    // `name` made absolute as bytes, never through a form that could merge
    // two names: "" stays "".
    static QString absoluteName(const QString &name);
    static QString folder(FileError *error = nullptr);

private:
    bool lock(FileError *error);
    QString m_id;
    int m_lock = -1;
};
