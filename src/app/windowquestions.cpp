#include "app/windowquestions.h"

#include "app/messageboxes.h"
#include "files/filenames.h"
#include "files/recovery.h"
#include "files/textcodec.h"
#include "files/unfinishedsaves.h"
#include "formats/subrip.h"

#include <QLocale>
#include <QMessageBox>
#include <QPushButton>

UnsavedAnswer askUnsaved(QWidget *window)
{
    QMessageBox box(QMessageBox::Information, QString::fromLatin1(caption),
                    QStringLiteral("File has been changed and not saved!"), QMessageBox::NoButton,
                    window);
    box.setObjectName(QStringLiteral("unsaved"));
    showPlainText(box);
    // One role for all three keeps them left to right in this order.
    QPushButton *saveNow = box.addButton(QStringLiteral("Save now"), QMessageBox::ActionRole);
    QPushButton *cancel = box.addButton(QStringLiteral("Cancel"), QMessageBox::ActionRole);
    QPushButton *leave = box.addButton(QStringLiteral("Leave anyway"), QMessageBox::ActionRole);
    box.setDefaultButton(saveNow);
    box.setEscapeButton(cancel);
    guardAnswers(box, {leave});
    box.exec();
    takeFocusBack(window);
    if (box.clickedButton() == saveNow)
        return UnsavedAnswer::SaveNow;
    if (box.clickedButton() == leave)
        return UnsavedAnswer::LeaveAnyway;
    return UnsavedAnswer::Cancel;
}

bool askRestoreRecovery(QWidget *window, const RecoveredText &recovered, bool fileChanged)
{
    QMessageBox box(QMessageBox::Question, QString::fromLatin1(caption),
                    QStringLiteral("There is unsaved text of \"%1\" from %2 that was never saved.")
                            .arg(shownFileName(recovered.fileName),
                                 QLocale().toString(recovered.written, QLocale::ShortFormat)),
                    QMessageBox::NoButton, window);
    box.setObjectName(QStringLiteral("recovery"));
    box.setInformativeText(fileChanged
                                   ? QStringLiteral("Tarnlyx ended before it was saved, and the file has changed since. "
                                                    "Restore it? Saving it would then ask before writing over the file.")
                                   : QStringLiteral("Tarnlyx ended before it was saved. Restore it?"));
    showPlainText(box);
    QPushButton *restore = box.addButton(QStringLiteral("&Restore unsaved text"), QMessageBox::AcceptRole);
    QPushButton *discard = box.addButton(QStringLiteral("&Discard it"), QMessageBox::DestructiveRole);
    box.setDefaultButton(restore);
    guardAnswers(box, {discard});
    box.exec();
    takeFocusBack(window);
    return box.clickedButton() == restore;
}

bool confirmOverwrite(QWidget *window, const QString &name, bool exists)
{
    return confirm(window, QMessageBox::Warning, "changed on disk",
                   QStringLiteral("Another program has %1 \"%2\" since it was opened or saved here.")
                           .arg(exists ? QStringLiteral("changed") : QStringLiteral("deleted"), shownName(name)),
                   exists ? QStringLiteral("Saving replaces those changes with the text shown here.")
                          : QStringLiteral("Saving writes the text shown here to it again."),
                   QStringLiteral("&Overwrite"));
}

bool askReopenForBytes(QWidget *window, const QString &name, const FileError &why)
{
    return confirm(window, QMessageBox::Warning, "not in bytes", QStringLiteral("The text cannot be saved as raw bytes."),
                   why.words(FileError::Sentence, name) + QStringLiteral(" The file is shown one byte per character; "
                                                                         "reopen it in its encoding to edit its letters."),
                   QStringLiteral("&Reopen with Encoding..."));
}

bool askUtf8Instead(QWidget *window, const QString &name, const QString &encoding, const FileError &why)
{
    return confirm(window, QMessageBox::Question, "not in encoding",
                   QStringLiteral("The text cannot be saved as %1.").arg(encoding),
                   why.words(FileError::Sentence, name) + QStringLiteral(" Save the file as UTF-8 instead?"),
                   QStringLiteral("Save as &UTF-8"));
}

namespace {

enum class UnfinishedAnswer { RestoreCopy, DiscardCopyAndSave, Cancel };

UnfinishedAnswer askUnfinishedSave(QWidget *window, const QString &name, const UnfinishedSave &save)
{
    QMessageBox box(QMessageBox::Warning, QString::fromLatin1(caption),
                    QStringLiteral("The last save of \"%1\" did not finish; the file may be damaged.").arg(shownName(name)),
                    QMessageBox::NoButton, window);
    box.setObjectName(QStringLiteral("unsettled save"));
    box.setInformativeText(QStringLiteral("The copy taken before that save is \"%1\". Restore Copy puts it back and keeps "
                                          "your text here unsaved; Discard Copy and Save lets the copy go and saves your "
                                          "text over the file.").arg(shownName(save.backupPath)));
    showPlainText(box);
    // No letter of their own: a key typed ahead must not write over a file.
    QPushButton *restore = box.addButton(QStringLiteral("Restore Copy"), QMessageBox::AcceptRole);
    QPushButton *discard = box.addButton(QStringLiteral("Discard Copy and Save"), QMessageBox::DestructiveRole);
    QPushButton *cancel = box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    box.exec();
    takeFocusBack(window);
    if (box.clickedButton() == restore)
        return UnfinishedAnswer::RestoreCopy;
    if (box.clickedButton() == discard)
        return UnfinishedAnswer::DiscardCopyAndSave;
    return UnfinishedAnswer::Cancel;
}

} // namespace

Settled settleUnfinishedSaves(QWidget *window, const QString &name)
{
    for (const UnfinishedSave &save : unfinishedSavesOf(name)) {
        const UnfinishedAnswer answer = askUnfinishedSave(window, name, save);
        FileError error;
        if (answer == UnfinishedAnswer::RestoreCopy) {
            RestoreOutcome outcome;
            if (!restoreUnfinished(save, save.path, &outcome, &error))
                tellWriteError(window, save.path, error);
            else
                tell(window, QMessageBox::Information, "restored", outcome.words(FileError::Sentence), QString());
            return Settled::CopyRestored;
        }
        if (answer != UnfinishedAnswer::DiscardCopyAndSave)
            return Settled::Cancelled;
        if (!discardUnfinished(save, &error)) {
            tellWriteError(window, name, error);
            return Settled::Cancelled;
        }
    }
    return Settled::GoOn;
}

void tellNotInEncoding(QWidget *window, const QString &encoding, const FileError &why)
{
    tell(window, QMessageBox::Warning, "not in encoding", QStringLiteral("The text cannot be saved as %1.").arg(encoding),
         why.words(FileError::Sentence));
}

QString askExportName(QWidget *window, CueStyle style, const QString &proposed)
{
    const bool subRip = style == CueStyle::SubRip;
    return askSaveFileName(
            window, subRip ? QStringLiteral("Export SubRip") : QStringLiteral("Export WebVTT"), proposed,
            subRip ? QStringLiteral("SubRip (*.srt);;All files (*)") : QStringLiteral("WebVTT (*.vtt);;All files (*)"));
}

void tellExportOverOwnFile(QWidget *window, const QString &path)
{
    tell(window, QMessageBox::Warning, "export over own file",
         QStringLiteral("\"%1\" is the file being edited.").arg(shownName(path)),
         QStringLiteral("Export writes a new file; choose another name."));
}

SubRipAnswer askSubRipConversion(QWidget *window, const QString &name)
{
    QMessageBox box(QMessageBox::Question, QString::fromLatin1(caption),
                    QStringLiteral("\"%1\" is a SubRip file.").arg(shownName(name)), QMessageBox::NoButton, window);
    box.setObjectName(QStringLiteral("convert SubRip"));
    box.setInformativeText(QStringLiteral("Convert it into subtitle lines? The result is a new text; "
                                          "the SubRip file stays as it is. Cancel shows the file as it is."));
    showPlainText(box);
    QPushButton *bracket = box.addButton(QStringLiteral("&Bracket-time [000][000]"), QMessageBox::AcceptRole);
    QPushButton *frames = box.addButton(QStringLiteral("&Frame-based {000}{000}"), QMessageBox::AcceptRole);
    QPushButton *cancel = box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(bracket);
    box.setEscapeButton(cancel);
    guardAnswers(box);
    box.exec();
    takeFocusBack(window);
    if (box.clickedButton() == bracket)
        return SubRipAnswer::BracketTime;
    if (box.clickedButton() == frames)
        return SubRipAnswer::FrameBased;
    return SubRipAnswer::Keep;
}

void tellBrokenSubRip(QWidget *window, const QString &name, const FileError &why)
{
    tell(window, QMessageBox::Warning, "broken SubRip", QStringLiteral("\"%1\" cannot be converted.").arg(shownName(name)),
         why.words(FileError::Sentence, name) + QStringLiteral(" The file is shown as it is."));
}

void tellReadNotices(QWidget *window, const QString &name, const SubtitleText &file)
{
    if (!file.strayBytes.isEmpty()) {
        tell(window, QMessageBox::Information, "stray bytes",
             QStringLiteral("\"%1\" is UTF-8 text with bytes that are not UTF-8.").arg(shownName(name)),
             QStringLiteral("The first is at %1. Each such byte is shown as a marked character, "
                            "left alone by every operation and saved as the same byte.")
                     .arg(file.strayBytes));
    }
    if (const QString notice = file.notice.words(FileError::Opening); !notice.isEmpty()) {
        tell(window, QMessageBox::Information, "read as bytes",
             QStringLiteral("\"%1\" is shown one byte per character.").arg(shownName(name)),
             QStringLiteral("%1, so every byte is shown as one character and kept as it is. "
                            "File > Reopen with Encoding chooses another encoding.").arg(notice));
    }
}

void tellReadError(QWidget *window, const QString &name, const FileError &error)
{
    tell(window, QMessageBox::Warning, "read error", QStringLiteral("Error in reading file \"%1\"!").arg(shownName(name)),
         error.words(FileError::Sentence, name));
}

void tellWriteError(QWidget *window, const QString &name, const FileError &error)
{
    tell(window, QMessageBox::Warning, "write error", QStringLiteral("Error in writing file \"%1\"!").arg(shownName(name)),
         error.words(FileError::Sentence, name));
}
