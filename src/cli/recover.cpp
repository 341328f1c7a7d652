#include "cli/recover.h"
#include "cli/say.h"

#include "files/filenames.h"
#include "files/unfinishedsaves.h"

#include <QDir>
#include <QFileDevice>
#include <QIODevice>
#include <QScopeGuard>

#include <sys/stat.h>

namespace {

// Whether `name` is the file a save was writing: the very file, however
// spelled or linked, or the name the save wrote to, whatever it holds now.
bool names(const QString &name, const UnfinishedSave &save)
{
    if (QDir::cleanPath(QDir::current().absoluteFilePath(name)) == save.path)
        return true;
    struct stat st;
    return stat(nameToNative(name).constData(), &st) == 0 && quint64(st.st_dev) == save.device
            && quint64(st.st_ino) == save.inode;
}

} // namespace

void warnUnfinishedSaves(QIODevice &err)
{
    // Before the run's own work, however long it takes or however it ends.
    const auto flushed = qScopeGuard([&] {
        if (auto *file = qobject_cast<QFileDevice *>(&err))
            file->flush();
    });
    for (const UnfinishedSave &save : unfinishedSaves()) {
        say(err, QStringLiteral("the save of \"%1\" did not finish; the file may be damaged. Its old content is in \"%2\" "
                                "(\"tarnlyx-cli recover --restore FILE\" puts it back, \"--discard FILE\" keeps the file as it is)")
                         .arg(shownName(save.path), shownName(save.backupPath)));
    }
}

int runRecover(const QStringList &args, QIODevice &out, QIODevice &err)
{
    FileError refused;
    const QList<UnfinishedSave> saves = unfinishedSaves(&refused);
    if (!refused.message().isEmpty()) {
        say(err, QStringLiteral("the backup folder cannot be used: %1").arg(refused.message()));
        return 1;
    }
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
    int status = 0;
    for (const UnfinishedSave &save : saves) {
        if (!names(args[1], save))
            continue;
        found = true;
        FileError error;
        RestoreOutcome outcome;
        if (!(how == u"--restore" ? restoreUnfinished(save, args[1], &outcome, &error) : discardUnfinished(save, &error))) {
            say(err, error.message());
            return 1;
        }
        // Never written over newer work: said, and not what was asked.
        if (how == u"--restore") {
            say(err, outcome.message());
            if (outcome.how == RestoreOutcome::KeptBeside)
                status = 1;
        }
    }
    if (!found) {
        say(err, QStringLiteral("no save of \"%1\" is unfinished").arg(shownName(args[1])));
        return 1;
    }
    return status;
}
