#include "app/qtarnlyxmain.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // The toolkit has taken out its own options; the rest are file names.
    openMainWindows(app.arguments().mid(1));
    QObject::connect(&app, &QApplication::lastWindowClosed, &app, &QApplication::quit);
    return app.exec();
}
