#include "cli/recover.h"

#include "files/filenames.h"
#include "files/savejournal.h"

#include <QDir>
#include <QIODevice>

#include <sys/stat.h>

namespace {

void say(QIODevice &device, const QString &line)
{
    device.write(QStringLiteral("tarnlyx-cli: %1\n").arg(line).toLocal8Bit());
}

// Whether `name`, however spelled or linked, is the file a save was writing.
bool names(const QString &name, const UnfinishedSave &save)
{
    if (QDir::cleanPath(QDir::current().absoluteFilePath(name)) == save.path)
        return true;
    struct stat a, b;
    return stat(nameToNative(name).constData(), &a) == 0 && stat(nameToNative(save.path).constData(), &b) == 0
            && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

} // namespace

void warnUnfinishedSaves(QIODevice &err)
{
    for (const UnfinishedSave &save : unfinishedSaves()) {
        say(err, QStringLiteral("the save of \"%1\" did not finish; the file may be damaged. Its old content is in \"%2\" "
                                "(\"tarnlyx-cli recover --restore FILE\" puts it back, \"--discard FILE\" keeps the file as it is)")
                         .arg(shownName(save.path), shownName(save.backupPath)));
    }
}

int runRecover(const QStringList &args, QIODevice &out, QIODevice &err)
{
    const QList<UnfinishedSave> saves = unfinishedSaves();
    if (args.isEmpty()) {
        for (const UnfinishedSave &save : saves)
            out.write((shownName(save.path) + u'\t' + shownName(save.backupPath) + u'\n').toLocal8Bit());
        return 0;
    }
    const QString &how = args[0];
    if (args.size() != 2 || (how != u"--restore" && how != u"--discard")) {
        say(err, QStringLiteral("usage: tarnlyx-cli recover [--restore FILE | --discard FILE]"));
        return 2;
    }
    bool found = false;
    for (const UnfinishedSave &save : saves) {
        if (!names(args[1], save))
            continue;
        found = true;
        FileError error;
        if (!(how == u"--restore" ? restoreUnfinished(save, &error) : discardUnfinished(save, &error))) {
            say(err, error.message());
            return 1;
        }
    }
    if (!found) {
        say(err, QStringLiteral("no save of \"%1\" is unfinished").arg(shownName(args[1])));
        return 1;
    }
    return 0;
}
