// The main window's commands for other file formats: export to SubRip and
// WebVTT, SubRip files opened, and saving in a chosen encoding.
#include "app/qtarnlyxmain.h"

#include "app/messageboxes.h"

#include "widgets/saveformat.h"
#include "widgets/myeditor.h"
#include "files/filenames.h"
#include "files/savingformat.h"
#include "formats/subrip.h"

#include <QAction>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>

void QTarnlyxMain::exportSubRip()
{
    exportCuesAs(CueStyle::SubRip);
}

void QTarnlyxMain::exportWebVtt()
{
    exportCuesAs(CueStyle::WebVtt);
}

void QTarnlyxMain::exportCuesAs(CueStyle style)
{
    const bool subRip = style == CueStyle::SubRip;
    const QString path = askSaveFileName(
            this, subRip ? QStringLiteral("Export SubRip") : QStringLiteral("Export WebVTT"), m_document.exportName(style),
            subRip ? QStringLiteral("SubRip (*.srt);;All files (*)") : QStringLiteral("WebVTT (*.vtt);;All files (*)"));
    if (path.isEmpty())
        return;
    if (m_document.isOwnFile(path)) {
        tell(this, QMessageBox::Warning, "export over own file",
                    QStringLiteral("\"%1\" is the file being edited.").arg(shownName(path)),
                    QStringLiteral("Export writes a new file; choose another name."));
        return;
    }
    CueReport report;
    const QString cues = exportCues(editor->text(), editor->fps, style, report);
    // Players read SubRip and WebVTT as UTF-8; the file's own line ends stay.
    const FileFormat format = SubtitleDocument::cueFileFormat(m_document.format(), report.cues);
    QByteArray bytes;
    FileError error;
    if (!encodeSubtitleText(cues, format, bytes, error) || !writeSubtitleFile(path, bytes, &error)) {
        tell(this, QMessageBox::Warning, "write error",
             QStringLiteral("Error in writing file \"%1\"!").arg(shownName(path)),
             error.words(FileError::Sentence, path));
        return;
    }
    showSummary(QStringLiteral("Exported to %1: %2").arg(QFileInfo(path).fileName(), describeCueReport(report)));
}

bool QTarnlyxMain::saveWithEncoding()
{
    FileFormat chosen = m_document.format();
    {
        SaveFormatDialog dialog(this, &chosen);
        const bool accepted = dialog.exec() == QDialog::Accepted;
        if (isVisible())
            activateWindow();
        if (!accepted)
            return false;
    }
    // The encoding was chosen: a text it cannot hold is not saved in another.
    const SubtitleDocument::SavePlan plan = SubtitleDocument::planSave(QString(), editor->text(), chosen);
    if (plan.question != SubtitleDocument::SavePlan::Question::None) {
        tell(this, QMessageBox::Warning, "not in encoding",
             QStringLiteral("The text cannot be saved as %1.").arg(chosen.encoding), plan.why.words(FileError::Sentence));
        return false;
    }
    // The format becomes the file's only once it is saved in it.
    if (m_document.fileName().isEmpty()) {
        const QString name = askSaveName();
        return !name.isEmpty() && saveTo(name, chosen);
    }
    return mayOverwrite() && saveTo(m_document.fileName(), chosen);
}

bool QTarnlyxMain::offerSubRipConversion(const QString &name, const SubtitleText &file)
{
    QMessageBox box(QMessageBox::Question, QString::fromLatin1(caption),
                    QStringLiteral("\"%1\" is a SubRip file.").arg(shownName(name)), QMessageBox::NoButton, this);
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
    takeFocusBack(this);
    if (box.clickedButton() != bracket && box.clickedButton() != frames)
        return false;
    const bool frameBased = box.clickedButton() == frames;
    // Frame numbers need the rate first.
    if (frameBased)
        mustSpecifyFps();
    QString lines, error;
    CueReport report;
    if (!importSubRip(file.text, frameBased ? FrameBased : BracketTime, editor->fps, lines, report, &error)) {
        tell(this, QMessageBox::Warning, "broken SubRip",
             QStringLiteral("\"%1\" cannot be converted.").arg(shownName(name)),
             FileError(FileError::Read, name, error).words(FileError::Sentence, name)
                     + QStringLiteral(" The file is shown as it is."));
        return false;
    }
    m_document.becomeUntitled(SubtitleDocument::fromSubRipFormat(file), name);
    editor->setText(lines);
    editor->document()->setModified(true);
    setFileName(m_document.fileName());
    showFormat();
    showSummary(QStringLiteral("Converted from SubRip: %1").arg(describeCueReport(report)));
    if (!frameBased)
        mustSpecifyFps();
    return true;
}
