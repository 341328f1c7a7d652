// What a main window asks and tells in message boxes: each function makes
// the box's words and buttons and returns the answer; the window does what
// the answer says.
#pragma once

#include <QString>

class QWidget;
enum class CueStyle;
struct FileError;
struct RecoveredText;
struct SubtitleText;

// The text is edited: Save now (the default), Cancel (Escape) or Leave
// anyway (only on Alt+letter or a click).
enum class UnsavedAnswer { SaveNow, Cancel, LeaveAnyway };
UnsavedAnswer askUnsaved(QWidget *window);

// Whether to bring back the unsaved text a program that ended without
// saving left (the default); `fileChanged` when its file changed since.
bool askRestoreRecovery(QWidget *window, const RecoveredText &recovered, bool fileChanged);

// Whether to save over `name`, which another program changed or (when it
// no longer `exists`) deleted since it was read or saved here.
bool confirmOverwrite(QWidget *window, const QString &name, bool exists);

// A text that cannot be saved as raw bytes, for `why`: true when the user
// wants to reopen the file in its encoding.
bool askReopenForBytes(QWidget *window, const QString &name, const FileError &why);
// A text that cannot be saved in `encoding`, for `why`: true to save it as
// UTF-8 instead.
bool askUtf8Instead(QWidget *window, const QString &name, const QString &encoding, const FileError &why);

// Asks about each save over `name` that did not finish, before another
// goes over it: Restore Copy (and no save), Discard Copy and Save, or
// Cancel (the default); what was chosen is done, a failure reported.
enum class Settled { GoOn, Cancelled, CopyRestored };
Settled settleUnfinishedSaves(QWidget *window, const QString &name);

// A SubRip file was read: keep it as it is (Cancel), or convert it into
// bracket-time (the default) or frame-based lines.
enum class SubRipAnswer { Keep, BracketTime, FrameBased };
SubRipAnswer askSubRipConversion(QWidget *window, const QString &name);

// A text that cannot be saved in the `encoding` the user chose, for `why`.
void tellNotInEncoding(QWidget *window, const QString &encoding, const FileError &why);

// The name to export to in `style`, `proposed` first; empty when cancelled.
QString askExportName(QWidget *window, CueStyle style, const QString &proposed);
// Export writes a new file, never the one being edited.
void tellExportOverOwnFile(QWidget *window, const QString &path);

// The SubRip file `name` cannot be converted, for `why`; it is shown as it is.
void tellBrokenSubRip(QWidget *window, const QString &name, const FileError &why);

// What a read worth knowing left: bytes that are not UTF-8 in UTF-8 text,
// or a text shown one byte per character.
void tellReadNotices(QWidget *window, const QString &name, const SubtitleText &file);
void tellReadError(QWidget *window, const QString &name, const FileError &error);
void tellWriteError(QWidget *window, const QString &name, const FileError &error);
