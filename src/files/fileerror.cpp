#include "files/fileerror.h"

#include "files/filenames.h"
#include "formats/subrip.h"

#include <cstring>

QString systemReason(int errnum)
{
    return QString::fromLocal8Bit(std::strerror(errnum));
}

namespace {

// Words made to open a sentence, and end it where `stop`.
QString sentenceOf(QString words, bool stop)
{
    if (!words.isEmpty())
        words[0] = words[0].toUpper();
    if (stop && !words.isEmpty() && !words.endsWith(u'.'))
        words += u'.';
    return words;
}

} // namespace

QString FileError::whyWords() const
{
    if (cause)
        return cause->message();
    if (errnum != 0)
        return systemReason(errnum);
    switch (because) {
    case NoReason:
        return operation == CheckCopy ? QStringLiteral("it is not whole") : QString();
    case Said:
        return about;
    case IsDirectory:
        return QStringLiteral("it is a directory");
    case IsFolder:
        return QStringLiteral("It is a folder.");
    case NotRegularFile:
        return QStringLiteral("It is not a regular file.");
    case TooLarge:
        return QStringLiteral("it is larger than 1 GiB");
    case KeptChanging:
        return QStringLiteral("another program kept changing it while it was read");
    case ReplacedMeanwhile:
        return QStringLiteral("another program replaced it meanwhile; nothing was written");
    case ChangedMeanwhile:
        return QStringLiteral("another program changed it meanwhile; nothing was written");
    case WrittenMeanwhile:
        return QStringLiteral("another program wrote to it meanwhile; nothing was written");
    case SameFileAs:
        return QStringLiteral("it is the same file as \"%1\"").arg(shownName(about));
    case CannotKeepAside:
        return QStringLiteral("its file system cannot keep the old file aside");
    case NoStateHome:
        return QStringLiteral("neither XDG_STATE_HOME nor HOME names a folder to keep it in");
    case SymbolicLink:
        return QStringLiteral("it is a symbolic link, not a folder");
    case NotAFolder:
        return QStringLiteral("it is not a folder");
    case OtherUsersOwn:
        return QStringLiteral("it belongs to another user");
    case OpenToOthers:
        return QStringLiteral("other users may use it (mode %1, not 0700)").arg(mode & 07777, 4, 8, QLatin1Char('0'));
    case NotRecoveryFile:
        return QStringLiteral("it is not a recovery file");
    case NotInEncoding: {
        const char32_t code = about.size() == 2 && about[0].isHighSurrogate() && about[1].isLowSurrogate()
                ? QChar::surrogateToUcs4(about[0], about[1])
                : about.isEmpty() ? 0 : about[0].unicode();
        return QStringLiteral("line %1, column %2 holds \"%3\" (U+%4), which this file's encoding cannot store")
                .arg(QString::number(line), QString::number(column), about,
                     QString::number(uint(code), 16).toUpper().rightJustified(4, u'0'));
    }
    case NotEncodedText: {
        QString place = QStringLiteral("line %1, byte %2").arg(line).arg(column);
        if (byte >= 0)
            place += QStringLiteral(" (0x%1)").arg(QString::number(byte, 16).toUpper().rightJustified(2, u'0'));
        return QStringLiteral("%1 is not %2 text").arg(place, about);
    }
    case NotWideText:
    case NoCueNumber:
    case NoCueTimeLine:
    case CueTimesTooLarge:
        return notReadWords();
    case ChangedWhileRead:
    case NamedTwice:
    case BeingConverted:
    case ResultTwice:
    case SubRipAlready:
    case SubRipToConvert:
        return batchWords();
    case NotNameValue:
    case NotWholeNumber:
    case TooManyDecimals:
    case OutsideRange:
    case NeitherOnNorOff:
    case NoSuchRule:
        return line > 0 ? QStringLiteral("line %1: %2").arg(line).arg(ruleWords()) : ruleWords();
    }
    return QString();
}

FileError cueError(const QString &path, const CueProblem &problem)
{
    FileError::Reason why = FileError::CueTimesTooLarge;
    switch (problem.kind) {
    case CueProblem::NoCueNumber:
        why = FileError::NoCueNumber;
        break;
    case CueProblem::NoTimeLine:
        why = FileError::NoCueTimeLine;
        break;
    case CueProblem::TimesTooLarge:
        break;
    }
    FileError error(FileError::Read, path, why, problem.text);
    error.line = problem.line;
    return error;
}

QString FileError::notReadWords() const
{
    switch (because) {
    case NotWideText:
        return QStringLiteral("it is not %1 text").arg(about);
    case NoCueNumber:
        return QStringLiteral("line %1: \"%2\" is no cue number").arg(line).arg(about);
    case NoCueTimeLine:
        return QStringLiteral("line %1: cue %2 has no time line \"00:00:00,000 --> 00:00:00,000\"").arg(line).arg(about);
    default:
        return QStringLiteral("line %1: the times are too large for the format").arg(line);
    }
}

QString FileError::batchWords() const
{
    switch (because) {
    case ChangedWhileRead:
        return QStringLiteral("another program changed it while it was read");
    case NamedTwice:
        return QStringLiteral("it is named twice");
    case BeingConverted:
        return QStringLiteral("it is the file being converted");
    case ResultTwice:
        return QStringLiteral("another INPUT's result goes there too");
    case SubRipAlready:
        return QStringLiteral("it is SubRip already");
    default:
        return QStringLiteral("it is a SubRip file: convert it into a line format first");
    }
}

QString FileError::ruleWords() const
{
    switch (because) {
    case NotNameValue:
        return QStringLiteral("\"%1\" is not NAME = VALUE").arg(about);
    case NotWholeNumber:
        return QStringLiteral("%1: \"%2\" is not a whole number").arg(about, value);
    case TooManyDecimals:
        return QStringLiteral("%1: \"%2\" is not a number with at most %3 decimals")
                .arg(about, value, QString::number(decimals));
    case OutsideRange:
        return QStringLiteral("%1: %2 is outside %3 to %4").arg(about, value, lowest, highest);
    case NeitherOnNorOff:
        return QStringLiteral("%1: \"%2\" is neither on nor off").arg(about, value);
    default:
        return QStringLiteral("\"%1\" is no rule").arg(about);
    }
}

QString FileError::words(Form form, const QString &named) const
{
    if (form == Sentence || form == Opening) {
        // Under a heading that names the file, why alone says it.
        return sentenceOf(words(form == Opening || path.isEmpty() || path == named ? Why : Line), form == Sentence);
    }
    if (const QString own = aboutTheFile(form == Why ? QStringLiteral("it") : QStringLiteral("\"%1\"").arg(shownName(path)));
        !own.isEmpty())
        return own;
    QString why = whyWords();
    switch (aftermath) {
    case Untouched:
        break;
    case PutBack:
        why += QStringLiteral(" (the file was put back as it was)");
        break;
    case KeptAside:
        if (!keptIn.isEmpty())
            why += QStringLiteral("; its old content is kept in \"%1\"").arg(shownName(keptIn));
        break;
    }
    if (form == Why || why.isEmpty())
        return why; // nothing went wrong when empty
    const QString name = shownName(path);
    switch (operation) {
    case Read:
        return QStringLiteral("cannot read \"%1\": %2").arg(name, why);
    case Write:
        return QStringLiteral("cannot write \"%1\": %2").arg(name, why);
    case Create:
        return QStringLiteral("cannot create \"%1\": %2").arg(name, why);
    case CreateIn:
        return QStringLiteral("cannot create a file in the folder \"%1\": %2").arg(name, why);
    case BackUp:
        return QStringLiteral("no copy of it could be kept before writing over it: %1").arg(why);
    case Journal:
        return QStringLiteral("no record of the save could be kept before writing over it: %1").arg(why);
    case FlushFolder:
        return QStringLiteral("the new content is in place, but its folder could not be flushed to disk: %1").arg(why);
    case StateFolder:
    case StateFile:
        return path.isEmpty() ? why : QStringLiteral("\"%1\": %2").arg(name, why);
    case CheckCopy:
        return QStringLiteral("the copy \"%1\" is not whole").arg(name);
    case Remove:
        return QStringLiteral("cannot remove \"%1\": %2").arg(name, why);
    case Busy:
    case Unsettled:
    case Exists:
    case NoMemory:
        break; // said above
    }
    return why;
}

QString FileError::aboutTheFile(const QString &file) const
{
    switch (operation) {
    case Busy:
        return QStringLiteral("another save of %1 is in progress; nothing was written").arg(file);
    case Unsettled:
        return QStringLiteral("the last save of %1 did not finish; settle it first with \"tarnlyx-cli recover\"").arg(file);
    case Exists:
        return QStringLiteral("%1 exists; give --force to replace it").arg(file);
    case NoMemory:
        return QStringLiteral("not enough memory to %1 %2").arg(about, file);
    default:
        return QString();
    }
}

QStringList FileError::alongsideMessages() const
{
    QStringList lines;
    for (const FileError &other : alongside) {
        const QString name = shownName(other.path);
        switch (other.aftermath) {
        case Untouched:
            lines << QStringLiteral("\"%1\" was not changed").arg(name);
            break;
        case PutBack:
            lines << QStringLiteral("\"%1\" was put back as it was").arg(name);
            break;
        case KeptAside:
            lines << QStringLiteral("\"%1\" could not be put back: %2").arg(name, other.reason());
            break;
        }
    }
    return lines;
}

QString RestoreOutcome::words(FileError::Form form) const
{
    return form == FileError::Line || form == FileError::Why ? message()
                                                             : sentenceOf(message(), form == FileError::Sentence);
}

QString RestoreOutcome::message() const
{
    const QString name = shownName(path);
    switch (how) {
    case PutBack:
        return QStringLiteral("\"%1\" has its content from before the save again").arg(name);
    case MadeAnew:
        return QStringLiteral("\"%1\" was deleted since the save was cut short; it was made anew with its content "
                              "from before the save").arg(name);
    case KeptBeside:
        return QStringLiteral("%1 since the save was cut short, so it was left as it is; the content from before "
                              "the save is in \"%2\"")
                .arg(replaced ? QStringLiteral("another file has the name \"%1\"").arg(name)
                              : QStringLiteral("\"%1\" was written to").arg(name),
                     shownName(beside));
    }
    return QString();
}
