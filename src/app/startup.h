// Start-up of the editor: its command line, the questions about what a
// program that ended early left behind, and the first windows.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class QTarnlyxMain;

// Opens a window per file name, each shown before the next is built (with
// no name, one window on a new file). Asks first about saves over a file
// that did not finish, and afterwards about the unsaved texts no window
// took. The toolkit's own options must have been taken out of `names`.
QList<QTarnlyxMain *> openMainWindows(const QStringList &names, const QString &encoding = QString());

// The editor's command line (without the program name, the toolkit's own
// options taken out): file names, "--encoding NAME", "--" before names that
// start with "-". Returns -1 to go on; otherwise the exit status, with the
// text to print in `message` (usage for --help, the version, or what is
// wrong: 0 to standard output, 2 to standard error).
int parseEditorArguments(const QStringList &args, QStringList &names, QString &encoding,
                         QString &message);
