#include "app/qtarnlyxmain.h"

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
    // The toolkit has taken out its own options; the rest are file names.
    openMainWindows(app.arguments().mid(1));
    QObject::connect(&app, &QApplication::lastWindowClosed, &app, &QApplication::quit);
    return app.exec();
}
