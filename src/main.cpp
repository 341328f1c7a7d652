#include "app/startup.h"
#include "files/filenames.h"

#include <QApplication>
#include <QIcon>

#include <csignal>
#include <cstdio>
#include <cstring>

namespace {

// Prints what the command line asks for and gives the exit status, or -1.
int handleArguments(int argc, char *argv[], char *rest[], int restCount, QStringList &names,
                    QString &encoding)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << nameFromNative(argv[i]);
    for (int i = 0; i < restCount; ++i)
        args << nameFromNative(rest[i]);
    QString message;
    const int status = parseEditorArguments(args, names, encoding, message);
    if (status >= 0)
        std::fputs(message.toLocal8Bit().constData(), status == 0 ? stdout : stderr);
    return status;
}

} // namespace

int main(int argc, char *argv[])
{
    QStringList names;
    QString encoding;
    // The toolkit sees only what comes before "--": what follows is file
    // names, whatever they look like.
    int toolkitArgc = 1;
    while (toolkitArgc < argc && std::strcmp(argv[toolkitArgc], "--") != 0)
        ++toolkitArgc;
    char **rest = argv + toolkitArgc;
    const int restCount = argc - toolkitArgc;
    // --help and --version need no display.
    for (int i = 1; i < toolkitArgc; ++i) {
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h") || !std::strcmp(argv[i], "--version"))
            return handleArguments(toolkitArgc, argv, rest, restCount, names, encoding);
    }
    // A file size limit (ulimit -f) fails the write (EFBIG) and the save says
    // so, rather than ending the editor in the middle of it.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication app(toolkitArgc, argv);
    QApplication::setDesktopFileName(QStringLiteral("org.tarnlyx.Tarnlyx"));
    QIcon icon;
    for (const char *size : {"32x32", "64x64", "256x256"})
        icon.addFile(QStringLiteral(":/icons/%1/apps/org.tarnlyx.Tarnlyx.png").arg(QLatin1String(size)));
    QApplication::setWindowIcon(icon);
    // The toolkit has taken out its own options; the rest are file names,
    // kept byte for byte.
    const int status = handleArguments(toolkitArgc, argv, rest, restCount, names, encoding);
    if (status >= 0)
        return status;
    openMainWindows(names, encoding);
    QObject::connect(&app, &QApplication::lastWindowClosed, &app, &QApplication::quit);
    return app.exec();
}
