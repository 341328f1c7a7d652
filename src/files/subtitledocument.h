// One subtitle file's life in the editor: its name, the format it is read
// and written in, what was on disk when it was read or saved and what the
// disk holds now, the name a converted text proposes, and the recovery
// writer that keeps its unsaved text.
#pragma once

#include "files/filesaving.h"
#include "files/recovery.h"
#include "files/recoverywriter.h"
#include "files/textcodec.h"
#include "formats/subrip.h"

#include <QObject>

#include <functional>
#include <optional>

class SubtitleDocument : public QObject
{
    Q_OBJECT

public:
    // Untitled, UTF-8, until a file is read or saved; `encoding` forces the
    // one files are read in (empty detects it).
    explicit SubtitleDocument(const QString &encoding = QString(), QObject *parent = nullptr);
    // What is in the recovery file stays there for the next start.
    ~SubtitleDocument() override;

    QString fileName() const { return m_fileName; } // empty: untitled
    const FileFormat &format() const { return m_format; }
    const FileStamp &stamp() const { return m_stamp; }
    QString requestedEncoding() const { return m_requestedEncoding; }
    void setRequestedEncoding(const QString &encoding) { m_requestedEncoding = encoding; }

    // Reads `name` (a name that does not exist yet is made, empty; anything
    // but a regular file is refused). Once read, the document is that file
    // and the recovery file of the text before goes. False, with the
    // reason (too little memory among them), and nothing changed otherwise.
    bool read(const QString &name, SubtitleText &file, FileError *error);
    // The same in `encoding` (empty detects it), which files are read in
    // from then on; a read that fails keeps the encoding asked for before.
    bool readIn(const QString &name, const QString &encoding, SubtitleText &file, FileError *error);
    // The text read() gave, read again when called (on any thread): null
    // when the file no longer holds the bytes read then. So a text that is
    // the file's needs no copy kept for its first recovery write.
    std::function<QString()> textAsRead() const;
    // Whether another program changed, replaced or removed the file since
    // it was read or saved here (or since the text taken over from recovery
    // was made from it).
    bool changedOnDisk() const { return m_diskChanged || stampOf(m_fileName) != m_stamp; }
    // What the disk holds under the file's name now, against what was read
    // or saved here. An untitled document has nothing on disk: Same.
    enum class DiskState {
        Same,       // the file as it was read or saved here
        Changed,    // another program changed or replaced it
        Deleted,    // another program removed it
        KeptByUser, // changed or removed, and the user keeps the text over that change
    };
    DiskState diskState() const;
    // The user keeps the text over what the disk holds now: the same change
    // is not told again, a later one is.
    void keepDiskChange() { m_keptStamp = stampOf(m_fileName); }
    // A text made ready to be saved to a name, or what must be asked first.
    struct SavePlan
    {
        enum class Question {
            None,
            NotInBytes,    // raw bytes cannot hold the text: only reading it in its encoding helps
            NotInEncoding, // the encoding cannot hold the text: UTF-8 can (inUtf8())
        };
        Question question = Question::None;
        FileError why;     // which character, on which line, cannot be stored
        QString name;
        FileStamp current; // what the name held when the save began
        FileFormat format; // what `bytes` are in
        QByteArray bytes;
    };
    // Encodes `text` in `format` for `name`. What the name holds now is what
    // the save may write over, never a file another program puts there
    // while the user answers a question.
    static SavePlan planSave(const QString &name, QStringView text, const FileFormat &format);
    // The same plan with the whole text in UTF-8 instead: never a "?" for a
    // letter the encoding lacks.
    static SavePlan inUtf8(SavePlan plan, QStringView text);
    // Writes a plan that asks nothing. Once written, the document is that
    // file in that format and its recovery file goes. False, with the
    // reason, and nothing changed otherwise.
    bool write(const SavePlan &plan, FileError *error);

    // The text shown is a new one made from the file `from` just read (a
    // SubRip file turned into lines): untitled, to be written in `format`,
    // and saved by default beside `from` as a .sub file.
    void becomeUntitled(const FileFormat &format, const QString &from = QString());
    // The name Save As proposes: a converted text's own, else the file's
    // (absolute); empty for an untitled text.
    QString proposedName() const;

    // Export: the name proposed for the cue file, beside the file.
    QString exportName(CueStyle style) const;
    // Whether `path` is this document's own file, which Export never writes.
    bool isOwnFile(const QString &path) const;
    // What a cue file made of a text in `source` is written in, by both
    // programs: UTF-8, the text's own line ends (CR LF or LF only), and a
    // blank line after the last of its `cues` where the text ended its
    // last line.
    // (Written here in full, so that the batch tool takes no more of the
    // document than these.)
    static FileFormat cueFileFormat(const FileFormat &source, int cues)
    {
        FileFormat format;
        format.lineEnds = source.writtenLineEnds() == LineEnds::CRLF ? LineEnds::CRLF : LineEnds::LF;
        format.finalLineEnd = source.finalLineEnd && cues > 0;
        return format;
    }
    // What the lines made of the SubRip file `file` are saved in: its own
    // format, a line end after the last line where a blank line followed its
    // last cue.
    static FileFormat fromSubRipFormat(const SubtitleText &file)
    {
        FileFormat format = file.format;
        format.finalLineEnd = subRipEndsWithBlankLine(file.text);
        return format;
    }

    // The text was edited: it is kept for recovery once typing pauses.
    void edited() { m_recoveryWriter.edited(); }
    // Keeps the text for recovery now, on the writer's thread: `raw`
    // finished by `finish` there. An unedited text needs none (unless it is
    // a restored one not written again yet).
    void keepForRecovery(bool modified, const QString &raw, const std::function<QString(QString)> &finish);
    // The same from the edits made since the text was last handed over,
    // which leave it `length` characters long: the window copies only what
    // was typed. `filled`, where given, is the text as a whole before the
    // edits, made on the writer's thread from a string the window already
    // holds. Edits that do not add up ask for the whole text again.
    void keepEditsForRecovery(bool modified, const std::function<QString()> &filled, const QList<RawEdit> &edits,
                              qsizetype length, const std::function<QString(QString)> &finish);
    // Waits until what was handed to the writer is on disk.
    void waitForRecovery() { m_recoveryWriter.waitForDone(); }
    // Takes over a text a program that ended left, as this document's own.
    bool adoptRecovery(const RecoveredText &recovered);
    // The text taken over was made from the file as it was before another
    // program wrote to it: the file counts as changed on disk until it is
    // read or saved again.
    void recoveredFromChangedFile(const RecoveredText &recovered);
    // The whole of the text taken over; false, with the reason, when it
    // cannot be read (it is let go, for the next start).
    bool readRecovery(QString *text, FileError *error);
    // The text was saved or let go: its recovery file goes.
    void dropRecovery();
    // Texts a program that ended left for this very file, however named,
    // whether it still holds what they were made from or not.
    QList<RecoveredText> recoveryForThisFile() const;

signals:
    // The pause after an edit is over: the text is to be kept now.
    void recoveryDue();
    // The text cannot be kept for recovery; said once, with the reason.
    void recoveryFailed(const FileError &error);
    // The edits handed over did not add up: the whole text is needed.
    void recoveryNeedsWholeText();

private:
    // read() and write(), which add words for too little memory.
    bool readFile(const QString &name, SubtitleText &file, FileError *error);
    bool writeFile(const SavePlan &plan, FileError *error);

    QString m_fileName;
    FileFormat m_format;            // new files are UTF-8
    QString m_requestedEncoding;    // empty: detected
    FileStamp m_stamp;              // the file as it was read or last written here
    std::optional<FileStamp> m_keptStamp; // a change on disk the user chose to keep the text over
    QString m_proposedName;         // what Save As proposes for a converted text
    QString m_readEncoding;         // what read() was asked to read it in
    QByteArray m_readHash;          // the contentHash() of the bytes read() read
    bool m_diskChanged = false;     // the text is not from the file as it is now
    RecoveryWriter m_recoveryWriter;
};

// `path` with its extension replaced by `suffix`; "subtitles" and `suffix`
// for none.
QString nameBeside(const QString &path, const QString &suffix);
