#include "cli/cli.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QFile in, out, err;
    if (!in.open(stdin, QIODevice::ReadOnly) || !out.open(stdout, QIODevice::WriteOnly)
        || !err.open(stderr, QIODevice::WriteOnly))
        return 1;
    int status = runCli(app.arguments().mid(1), in, out, err);
    // Standard output is buffered: a full disk shows only here.
    if (!out.flush() && status == 0) {
        err.write("tarnlyx-cli: cannot write the standard output\n");
        status = 1;
    }
    out.close();
    err.close();
    return status;
}
