#include "cli/say.h"

#include <QIODevice>

void say(QIODevice &device, const QString &line)
{
    device.write(QStringLiteral("tarnlyx-cli: %1\n").arg(line).toLocal8Bit());
}
