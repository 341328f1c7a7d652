#include "app/qtarnlyxmain.h"
#include "files/filenames.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setDesktopFileName(QStringLiteral("org.tarnlyx.Tarnlyx"));
    QIcon icon;
    for (const char *size : {"32x32", "64x64", "256x256"})
        icon.addFile(QStringLiteral(":/icons/%1/apps/org.tarnlyx.Tarnlyx.png").arg(QLatin1String(size)));
    QApplication::setWindowIcon(icon);
    // The toolkit has taken out its own options; the rest are file names,
    // kept byte for byte.
    QStringList names;
    for (int i = 1; i < argc; ++i)
        names << nameFromNative(argv[i]);
    openMainWindows(names);
    QObject::connect(&app, &QApplication::lastWindowClosed, &app, &QApplication::quit);
    return app.exec();
}
