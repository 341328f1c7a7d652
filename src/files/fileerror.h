// What went wrong with a file, as data: what was being done, to which
// file, and why (the system's errno, or a reason of our own with what it
// needs to be told). The file layer returns these; the windows and the
// batch tool show them. The words a user reads are made here, by words(),
// and nowhere else.
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
        NoMemory,    // not enough memory to ABOUT "PATH" (ABOUT: a verb, "rewrite")
    };
    // Why, where the system's errno does not say. The words of each, as
    // reason() makes them:
    enum Reason {
        NoReason,          // (none of our own: the errno, the failed step, or the operation says it)
        Said,              // ABOUT: words from elsewhere, a device's or the batch tool's own
        IsDirectory,       // it is a directory
        IsFolder,          // It is a folder.  (the editor's refusal before reading, a sentence of its own)
        NotRegularFile,    // It is not a regular file.
        TooLarge,          // it is larger than 1 GiB
        KeptChanging,      // another program kept changing it while it was read
        ReplacedMeanwhile, // another program replaced it meanwhile; nothing was written
        ChangedMeanwhile,  // another program changed it meanwhile; nothing was written
        WrittenMeanwhile,  // another program wrote to it meanwhile; nothing was written
        SameFileAs,        // it is the same file as "ABOUT"
        CannotKeepAside,   // its file system cannot keep the old file aside
        NoStateHome,       // neither XDG_STATE_HOME nor HOME names a folder to keep it in
        SymbolicLink,      // it is a symbolic link, not a folder
        NotAFolder,        // it is not a folder
        OtherUsersOwn,     // it belongs to another user
        OpenToOthers,      // other users may use it (mode MODE, not 0700)
        NotRecoveryFile,   // it is not a recovery file
        NotInEncoding,     // line LINE, column COLUMN holds "ABOUT" (U+XXXX), which this file's encoding
                           // cannot store
        NotEncodedText,    // line LINE, byte COLUMN (0xBYTE) is not ABOUT text  (ABOUT: the encoding;
                           // no "(0x..)" when the file ends inside a character)
        NotWideText,       // it is not ABOUT text  (ABOUT: a UTF-16 or UTF-32 encoding)
        ChangedWhileRead,  // another program changed it while it was read  (the batch tool, after a run
                           // that read it once; KeptChanging is the reader's own)
        NamedTwice,        // it is named twice
        BeingConverted,    // it is the file being converted
        ResultTwice,       // another INPUT's result goes there too
        SubRipAlready,     // it is SubRip already
        SubRipToConvert,   // it is a SubRip file: convert it into a line format first
        NoCueNumber,       // line LINE: "ABOUT" is no cue number
        NoCueTimeLine,     // line LINE: cue ABOUT has no time line "00:00:00,000 --> 00:00:00,000"
        CueTimesTooLarge,  // line LINE: the times are too large for the format
        // A rule file's line that holds no rule, "line LINE: " first (none for line 0, a rule given
        // alone); ABOUT: the rule's name, or the whole line for NotNameValue:
        NotNameValue,      // "ABOUT" is not NAME = VALUE
        NotWholeNumber,    // ABOUT: "VALUE" is not a whole number
        TooManyDecimals,   // ABOUT: "VALUE" is not a number with at most DECIMALS decimals
        OutsideRange,      // ABOUT: VALUE is outside LOWEST to HIGHEST
        NeitherOnNorOff,   // ABOUT: "VALUE" is neither on nor off
        NoSuchRule,        // "ABOUT" is no rule
    };
    // How the words are shown.
    enum Form {
        Line,     // a line of its own, standard error or a status bar: "cannot write "a.sub": WHY"
        Why,      // why alone, after words that name the file already: "WHY"
        Opening,  // why alone opening a sentence the caller goes on with: "WHY" with a capital
        Sentence, // a window's sentence under a heading that names a file: "WHY." when the
                  // error is about that file, else "Cannot write "b.sub": WHY."
    };
    // What became of a file's old content when writing over it failed.
    enum Aftermath { Untouched, PutBack, KeptAside };

    Operation operation = Write;
    QString path;         // as the user or the program named it; may hold carried bytes
    int errnum = 0;       // the system's reason; 0 when `because` or `cause` says why
    Reason because = NoReason;
    QString about;        // with Said, SameFileAs, NoMemory and NotInEncoding: the words, the other
                          // file, the verb, the character; the cue reasons: the line or the number
    qint64 line = 0;      // with NotInEncoding, NotEncodedText and the cue reasons: where the
    qint64 column = 0;    // character, the byte or the cue is, both counted from 1
    int byte = -1;        // with NotEncodedText: the byte's value; -1 past the end
    unsigned mode = 0;    // with OpenToOthers: the folder's permission bits
    QString value;        // with the rule reasons: the value given, and
    int decimals = 0;     // what it may be
    QString lowest, highest;
    std::shared_ptr<const FileError> cause; // the step that failed, in its own words
    Aftermath aftermath = Untouched;
    QString keptIn;       // with KeptAside: where the old content is
    // The other files of a save of several that failed, each with what
    // became of it (Untouched, PutBack or KeptAside).
    QList<FileError> alongside;

    FileError() = default;
    FileError(Operation op, const QString &name, int number, Reason why = NoReason)
        : operation(op), path(name), errnum(number), because(why) {}
    FileError(Operation op, const QString &name, Reason why, const QString &payload = QString())
        : operation(op), path(name), because(why), about(payload) {}
    // Words from elsewhere (a device's error string), or NoMemory's verb.
    FileError(Operation op, const QString &name, const QString &said) : FileError(op, name, 0, said) {}
    FileError(Operation op, const QString &name, int number, const QString &said)
        : operation(op), path(name), errnum(number), because(said.isEmpty() || op == NoMemory ? NoReason : Said),
          about(said) {}
    FileError(Operation op, const QString &name, const FileError &failedStep)
        : operation(op), path(name), cause(std::make_shared<const FileError>(failedStep)) {}

    // The words of this error in `form`; empty while nothing went wrong.
    // `named` is the file a Sentence's heading names; an error without a
    // file is about that one.
    QString words(Form form, const QString &named = QString()) const;
    // WHY: "No space left on device", "another program replaced it
    // meanwhile; nothing was written", or the failed step's own message.
    QString reason() const { return words(Why); }
    // The whole message: "cannot write "NAME": WHY".
    QString message() const { return words(Line); }
    // What became of each file in `alongside`, a line each: ""a.sub" was
    // put back as it was".
    QStringList alongsideMessages() const;

private:
    // Our own reason's words, or the system's for `errnum`.
    QString whyWords() const;
    // The words of a reason the text could not be read for: not in its
    // encoding, a cue that is not well formed.
    QString notReadWords() const;
    // The words of the batch tool's own reasons: what its inputs and
    // results are to each other, SubRip where it is no input.
    QString batchWords() const;
    // A rule reason's words, without the line.
    QString ruleWords() const;
    // The words of the operations that are a sentence about the file, with
    // `file` standing for it; empty for the others.
    QString aboutTheFile(const QString &file) const;
};

struct CueProblem;
// Why SubRip text in the file `path` could not be read into lines.
FileError cueError(const QString &path, const CueProblem &problem);

// The error of a rule file's line that holds no rule, from what the check
// rules' reader found (a RuleProblem: a template, as the file layer does
// not know the checks). No `path` and line 0: a rule given alone.
template <typename Problem>
FileError ruleError(const QString &path, const Problem &problem)
{
    FileError error(FileError::Read, path, FileError::NoSuchRule, problem.name);
    switch (problem.kind) {
    case Problem::NotNameValue: error.because = FileError::NotNameValue; break;
    case Problem::NotWholeNumber: error.because = FileError::NotWholeNumber; break;
    case Problem::TooManyDecimals: error.because = FileError::TooManyDecimals; break;
    case Problem::OutsideRange: error.because = FileError::OutsideRange; break;
    case Problem::NeitherOnNorOff: error.because = FileError::NeitherOnNorOff; break;
    case Problem::NoSuchRule: break;
    }
    error.line = problem.line;
    error.value = problem.value;
    error.decimals = problem.decimals;
    error.lowest = problem.lowest;
    error.highest = problem.highest;
    return error;
}

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
    // The same in `form` (Line and Why alike: it names its file itself).
    QString words(FileError::Form form) const;
};

// The system's reason for `errnum`, as a sentence fragment ("No space left
// on device").
QString systemReason(int errnum);
