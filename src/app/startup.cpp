#include "app/startup.h"

#include "app/messageboxes.h"
#include "app/qtarnlyxmain.h"
#include "widgets/myeditor.h"
#include "files/filenames.h"
#include "files/recovery.h"
#include "files/textcodec.h"
#include "files/unfinishedsaves.h"

#include <QLocale>
#include <QPushButton>
#include <QTextDocument>

namespace {

enum class RecoveryAnswer { Restore, Discard, Later };

// Lists the texts that programs which ended left (name, time, first lines)
// and asks what to do with them; Discard removes them.
RecoveryAnswer askAboutRecovery(const QList<RecoveredText> &texts)
{
    QStringList listed;
    for (const RecoveredText &recovered : texts) {
        QString entry = QStringLiteral("\"%1\", %2").arg(shownFileName(recovered.fileName),
                                                      QLocale().toString(recovered.written, QLocale::ShortFormat));
        switch (recovered.fileName.isEmpty() ? RecoveredText::Relation::Same : recovered.relationTo(recovered.fileName)) {
        case RecoveredText::Relation::Same:
            break;
        case RecoveredText::Relation::Changed:
            entry += QStringLiteral(" (the file has changed since)");
            break;
        case RecoveredText::Relation::Other:
            entry += QStringLiteral(" (another file has that name now)");
            break;
        }
        for (const QString &line : recovered.firstLines.split(u'\n').mid(0, 2))
            entry += QStringLiteral("\n    ") + line.left(80);
        listed << entry;
    }
    QMessageBox box(QMessageBox::Question, QString::fromLatin1(caption),
                    texts.size() == 1 ? QStringLiteral("Tarnlyx ended before this text was saved:")
                                      : QStringLiteral("Tarnlyx ended before these texts were saved:"),
                    QMessageBox::NoButton);
    box.setObjectName(QStringLiteral("recovery list"));
    box.setInformativeText(listed.join(u'\n'));
    showPlainText(box);
    QPushButton *restore = box.addButton(QStringLiteral("&Restore, each in its own window"), QMessageBox::AcceptRole);
    QPushButton *discard = box.addButton(QStringLiteral("&Discard"), QMessageBox::DestructiveRole);
    QPushButton *later = box.addButton(QStringLiteral("&Later"), QMessageBox::RejectRole);
    box.setDefaultButton(restore);
    box.setEscapeButton(later);
    guardAnswers(box, {discard});
    box.exec();
    if (box.clickedButton() == restore)
        return RecoveryAnswer::Restore;
    if (box.clickedButton() != discard)
        return RecoveryAnswer::Later;
    for (const RecoveredText &recovered : texts) {
        RecoveryFile file;
        if (file.adopt(recovered.id))
            file.remove();
    }
    return RecoveryAnswer::Discard;
}

// Asks about each save over a file that did not finish: Restore puts the
// old bytes back (or, where the file was written to or replaced since,
// beside it); Keep (the default) leaves file and copy for the next start.
void offerUnfinishedSaves()
{
    for (const UnfinishedSave &save : unfinishedSaves()) {
        SaveDamage damage = SaveDamage::Damaged;
        inspectUnfinished(save, save.path, &damage, nullptr);
        const QString name = shownName(save.path);
        QString text, detail;
        switch (damage) {
        case SaveDamage::Finished:
        case SaveDamage::Damaged:
            text = QStringLiteral("The save of %1 did not finish; the file may be damaged. "
                                  "Restore the copy taken before the save?").arg(name);
            detail = QStringLiteral("The copy is \"%1\"; it is kept until you restore it.").arg(shownName(save.backupPath));
            break;
        case SaveDamage::Changed:
        case SaveDamage::Replaced:
            text = damage == SaveDamage::Changed
                    ? QStringLiteral("The save of %1 did not finish, and the file was written to since. "
                                     "Restore the copy taken before the save beside it?").arg(name)
                    : QStringLiteral("The save of %1 did not finish, and another file has that name now. "
                                     "Restore the copy taken before the save beside it?").arg(name);
            detail = QStringLiteral("Restore writes the copy (\"%1\") to a new file beside it and leaves the file as it is; "
                                    "Keep keeps the copy until you restore it.").arg(shownName(save.backupPath));
            break;
        case SaveDamage::Missing:
            text = QStringLiteral("The save of %1 did not finish, and the file was deleted since. "
                                  "Make it anew from the copy taken before the save?").arg(name);
            detail = QStringLiteral("The copy is \"%1\"; it is kept until you restore it.").arg(shownName(save.backupPath));
            break;
        }
        QMessageBox box(QMessageBox::Warning, QString::fromLatin1(caption), text, QMessageBox::NoButton);
        box.setObjectName(QStringLiteral("unfinished save"));
        box.setInformativeText(detail);
        showPlainText(box);
        QPushButton *restore = box.addButton(QStringLiteral("&Restore"), QMessageBox::AcceptRole);
        QPushButton *keep = box.addButton(QStringLiteral("&Keep"), QMessageBox::RejectRole);
        box.setDefaultButton(keep);
        box.setEscapeButton(keep);
        guardAnswers(box, {restore}); // writes over the file
        box.exec();
        if (box.clickedButton() != restore)
            continue;
        FileError error;
        RestoreOutcome outcome;
        if (!restoreUnfinished(save, save.path, &outcome, &error)) {
            tell(nullptr, QMessageBox::Warning, "write error",
                 QStringLiteral("Error in writing file \"%1\"!").arg(name), error.words(FileError::Sentence, save.path));
        } else if (outcome.how != RestoreOutcome::PutBack) {
            tell(nullptr, QMessageBox::Information, "restored beside", outcome.words(FileError::Sentence), QString());
        }
    }
}

} // namespace

QList<QTarnlyxMain *> openMainWindows(const QStringList &names, const QString &encoding)
{
    offerUnfinishedSaves(); // before any window reads a file it names
    QList<QTarnlyxMain *> windows;
    const QStringList list = names.isEmpty() ? QStringList{QString()} : names; // one untitled window
    for (const QString &name : list) {
        auto *window = new QTarnlyxMain(name, encoding);
        window->show();
        window->activateWindow();
        windows << window;
    }
    const QList<RecoveredText> left = RecoveryFile::orphans();
    if (left.isEmpty() || askAboutRecovery(left) != RecoveryAnswer::Restore)
        return windows;
    for (const RecoveredText &recovered : left)
        QTarnlyxMain::restoreWithoutAsking().insert(recovered.id);
    for (const RecoveredText &recovered : left) {
        // Into a window on its file only while the name still holds that
        // file; else untitled, so that a save never goes over another file.
        if (!recovered.fileName.isEmpty() && recovered.relationTo(recovered.fileName) != RecoveredText::Relation::Other) {
            if (!QTarnlyxMain::restoreWithoutAsking().contains(recovered.id))
                continue; // restored by a window on the same file
            windows << new QTarnlyxMain(recovered.fileName, encoding);
        } else {
            auto *window = windows.size() == 1 && names.isEmpty() && !windows[0]->editorWidget()->document()->isModified()
                    ? windows[0]
                    : new QTarnlyxMain;
            window->restoreRecovery(recovered);
            if (!windows.contains(window))
                windows << window;
        }
        windows.back()->show();
    }
    QTarnlyxMain::restoreWithoutAsking().clear();
    return windows;
}

int parseEditorArguments(const QStringList &args, QStringList &names, QString &encoding,
                         QString &message)
{
    static const char usage[] = "Usage: tarnlyx [--encoding NAME] [--] [FILE...]\n"
                                "Opens a window on each subtitle FILE, or on a new file.\n"
                                "  --encoding NAME  read the files in encoding NAME (\"bytes\": one byte\n"
                                "                   per character) instead of detecting it\n"
                                "  --help           show this help\n"
                                "  --version        show the version\n";
    bool onlyNames = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        if (onlyNames || !arg.startsWith(u'-') || arg == u"-") {
            names << arg;
        } else if (arg == u"--") {
            onlyNames = true;
        } else if (arg == u"--help" || arg == u"-h") {
            message = QString::fromLatin1(usage);
            return 0;
        } else if (arg == u"--version") {
            message = QStringLiteral("tarnlyx 0.1\n");
            return 0;
        } else if (arg == u"--encoding" || arg.startsWith(u"--encoding=")) {
            const QString value = arg.contains(u'=') ? arg.section(u'=', 1) : i + 1 < args.size() ? args[++i] : QString();
            encoding = canonicalEncoding(value);
            if (encoding.isEmpty()) {
                message = QStringLiteral("tarnlyx: --encoding: \"%1\" is not an encoding this system knows\n").arg(value);
                return 2;
            }
        } else {
            message = QStringLiteral("tarnlyx: %1: unknown option (see --help); \"tarnlyx -- %1\" opens a file of that name\n")
                              .arg(shownName(arg));
            return 2;
        }
    }
    return -1;
}
