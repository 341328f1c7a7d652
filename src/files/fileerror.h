// What went wrong with a file, as data: what was being done, to which
// file, and why (the system's errno, or our own words where the system had
// none). The file layer returns these; the windows and the batch tool show
// them. The words a user reads are made here and nowhere else.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

struct FileError
{
    // What was being done. The words of each, as message() makes them:
    enum Operation {
        Read,        // cannot read "PATH": WHY
        Write,       // cannot write "PATH": WHY
        Create,      // cannot create "PATH": WHY
        CreateIn,    // cannot create a file in the folder "PATH": WHY
        BackUp,      // no copy of it could be kept before writing over it: WHY
        Journal,     // no record of the save could be kept before writing over it: WHY
        FlushFolder, // the new content is in place, but its folder could not be flushed to disk: WHY
        StateFolder, // "PATH": WHY (WHY alone when no folder could be named)
        StateFile,   // "PATH": WHY, PATH the folder of a file of the program's own (a lock, a
                     // record, a copy); WHY alone when no folder could be named
        CheckCopy,   // the copy "PATH" is not whole
        Remove,      // cannot remove "PATH": WHY
        Busy,        // another save of "PATH" is in progress; nothing was written
        Unsettled,   // the last save of "PATH" did not finish; settle it first with "tarnlyx-cli recover"
        Exists,      // "PATH" exists; give --force to replace it
        NoMemory,    // not enough memory to DETAIL "PATH" (DETAIL: a verb, "rewrite")
    };
    // What became of a file's old content when writing over it failed.
    enum Aftermath { Untouched, PutBack, KeptAside };

    Operation operation = Write;
    QString path;         // as the user or the program named it; may hold carried bytes
    int errnum = 0;       // the system's reason; 0 when `detail` or `cause` says why
    QString detail;       // our own reason, a sentence fragment ("it is a directory")
    std::shared_ptr<const FileError> cause; // the step that failed, in its own words
    Aftermath aftermath = Untouched;
    QString keptIn;       // with KeptAside: where the old content is
    // The other files of a save of several that failed, each with what
    // became of it (Untouched, PutBack or KeptAside).
    QList<FileError> alongside;

    FileError() = default;
    FileError(Operation op, const QString &name, int number, const QString &why = QString())
        : operation(op), path(name), errnum(number), detail(why) {}
    FileError(Operation op, const QString &name, const QString &why) : operation(op), path(name), detail(why) {}
    FileError(Operation op, const QString &name, const FileError &failedStep)
        : operation(op), path(name), cause(std::make_shared<const FileError>(failedStep)) {}

    // WHY: "No space left on device", "another program replaced it
    // meanwhile; nothing was written", or the failed step's own message.
    QString reason() const;
    // The whole message: "cannot write "NAME": WHY"; empty while nothing
    // went wrong.
    QString message() const;
    // What became of each file in `alongside`, a line each: ""a.sub" was
    // put back as it was".
    QStringList alongsideMessages() const;

private:
    // The words of the operations that are a sentence about the file, with
    // `file` standing for it; empty for the others.
    QString aboutTheFile(const QString &file) const;
};

// What a restore of a save that did not finish did.
struct RestoreOutcome
{
    enum How {
        PutBack,   // the old content is back in the file
        MadeAnew,  // the file had gone: made again with its old content
        KeptBeside // the file holds newer data: the old content went to `beside`
    };
    How how = PutBack;
    bool replaced = false; // with KeptBeside: another file has the name now (else it changed)
    QString path;          // the file, as the user named it
    QString beside;

    // ""a.sub" has its content from before the save again", and so on.
    QString message() const;
};

// The system's reason for `errnum`, as a sentence fragment ("No space left
// on device").
QString systemReason(int errnum);
