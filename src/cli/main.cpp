#include "cli/cli.h"
#include "files/filenames.h"

#include <QCoreApplication>
#include <QFile>

#include <csignal>
#include <cstdio>

int main(int argc, char *argv[])
{
    // A file size limit (ulimit -f) makes a write fail with EFBIG, which is
    // handled as any other failure (the file put back), rather than ending
    // the program in the middle of it.
    std::signal(SIGXFSZ, SIG_IGN);
    QCoreApplication app(argc, argv);
    QFile in, out, err;
    if (!in.open(stdin, QIODevice::ReadOnly) || !out.open(stdout, QIODevice::WriteOnly)
        || !err.open(stderr, QIODevice::WriteOnly))
        return 1;
    // File names go back to the system byte for byte, whatever they hold.
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << nameFromNative(argv[i]);
    int status = runCli(args, in, out, err);
    // Standard output is buffered: a full disk shows only here.
    if (!out.flush() && status == 0) {
        err.write(QStringLiteral("tarnlyx-cli: cannot write the standard output: %1\n")
                          .arg(out.errorString()).toLocal8Bit());
        status = 1;
    }
    out.close();
    err.close();
    return status;
}
