// Replays a fuzz target as an ordinary test: each saved input once, and each
// whole subtitle file (after --files) once per setting the target offers.
// "--files --corpus" takes the real-file corpus from TARNLYX_CORPUS_DIR and,
// where that is not set, reports the test as skipped (exit status 77).
#include "fuzzsupport.h"

#include <QDirIterator>
#include <QFile>

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

int main(int argc, char *argv[])
{
    int runs = 0;
    bool wholeFiles = false;
    for (int i = 1; i < argc; ++i) {
        QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == u"--files") {
            wholeFiles = true;
            continue;
        }
        if (arg == u"--corpus") {
            arg = qEnvironmentVariable("TARNLYX_CORPUS_DIR");
            if (arg.isEmpty()) {
                std::printf("TARNLYX_CORPUS_DIR is not set: no real files to replay, skipped\n");
                return 77;
            }
        }
        QStringList files;
        for (QDirIterator it(arg, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
            files << it.next();
        if (files.isEmpty()) // a file, not a folder
            files << arg;
        for (const QString &name : files) {
            QFile f(name);
            if (!f.open(QIODevice::ReadOnly)) {
                std::fprintf(stderr, "cannot read %s\n", qPrintable(name));
                return 1;
            }
            const QByteArray bytes = f.readAll();
            for (const QByteArray &prefix : wholeFiles ? fuzzFilePrefixes() : QList<QByteArray>{""}) {
                const QByteArray input = prefix + bytes;
                LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(input.constData()),
                                       std::size_t(input.size()));
                ++runs;
            }
        }
    }
    std::printf("%d passed, 0 failed\n", runs);
    return runs > 0 ? 0 : 1;
}
