// What the batch tool tells the user, on its error output.
#pragma once

#include <QString>

class QIODevice;

// Writes "tarnlyx-cli: LINE" and a line end to `device`.
void say(QIODevice &device, const QString &line);
