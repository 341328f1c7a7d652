// tarnlyx-cli check: the editor's checks as a quality gate for scripts.
#pragma once

#include <QStringList>

class QIODevice;

// Whether `args` (without the program name) ask for `check`: its word
// comes first, or after --fps and --encoding and their values.
bool isCheckCommand(const QStringList &args);
// Checks the files `args` name and prints one line per problem,
// FILE:LINE: KIND: DETAIL (or JSON). Exit status: 0 none found, 1 found,
// 2 a usage error or a file that could not be read or written.
int runCheck(const QStringList &args, QIODevice &in, QIODevice &out, QIODevice &err);
