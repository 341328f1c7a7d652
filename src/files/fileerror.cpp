#include "files/fileerror.h"

#include "files/filenames.h"

#include <cstring>

QString systemReason(int errnum)
{
    return QString::fromLocal8Bit(std::strerror(errnum));
}

QString FileError::reason() const
{
    QString why = cause ? cause->message() : errnum != 0 ? systemReason(errnum) : detail;
    if (const QString own = aboutTheFile(QStringLiteral("it")); !own.isEmpty())
        return own;
    if (operation == CheckCopy && why.isEmpty())
        why = QStringLiteral("it is not whole");
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
    return why;
}

QString FileError::message() const
{
    const QString why = reason();
    if (why.isEmpty())
        return why; // nothing went wrong
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
        return path.isEmpty() ? why : QStringLiteral("\"%1\": %2").arg(name, why);
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
        return aboutTheFile(QStringLiteral("\"%1\"").arg(name));
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
        return QStringLiteral("not enough memory to %1 %2").arg(detail, file);
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
