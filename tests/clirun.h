// Runs the batch tool in-process, as a test would run it from a shell.
#pragma once

#include "cli/cli.h"

#include <QBuffer>

struct CliRun
{
    int status = -1;
    QByteArray out;
    QByteArray err;
};

inline CliRun runTool(const QStringList &args, const QByteArray &input = QByteArray())
{
    QByteArray inBytes = input;
    QBuffer in(&inBytes), out, err;
    in.open(QIODevice::ReadOnly);
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);
    CliRun r;
    r.status = runCli(args, in, out, err);
    r.out = out.data();
    r.err = err.data();
    return r;
}
