// tarnlyx-cli: the editor's whole-file operations on files from the command line.
#pragma once

#include <QStringList>

class QIODevice;

// Runs the batch tool on `args` (without the program name). Returns the exit
// status: 0 done, 1 a file could not be read or written, 2 a usage error.
int runCli(const QStringList &args, QIODevice &in, QIODevice &out, QIODevice &err);
