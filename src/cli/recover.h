// Saves that did not finish, from the command line.
#pragma once

#include <QStringList>

class QIODevice;

// Names on `err` each save that did not finish, until it is settled.
void warnUnfinishedSaves(QIODevice &err);
// "recover" (lists them), "recover --restore NAME", "recover --discard
// NAME"; `args` follow the word "recover". Exit status as runCli()'s.
int runRecover(const QStringList &args, QIODevice &out, QIODevice &err);
