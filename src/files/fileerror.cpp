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
    if (operation == CheckCopy && why.isEmpty())
        why = QStringLiteral("it is not whole");
    switch (aftermath) {
    case Untouched:
        break;
    case PutBack:
        why += QStringLiteral(" (the file was put back as it was)");
        break;
    case KeptAside:
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
        return why;
    case CheckCopy:
        return QStringLiteral("the copy \"%1\" is not whole").arg(name);
    case Remove:
        return QStringLiteral("cannot remove \"%1\": %2").arg(name, why);
    }
    return why;
}
