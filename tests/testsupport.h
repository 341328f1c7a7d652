// Helpers shared by the test programs.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTest>

// The real subtitle files the tests read, relative to the corpus folder.
inline QString corpusDir()
{
    return QStringLiteral(TARNLYX_CORPUS_DIR);
}

inline QStringList corpusFiles()
{
    QStringList files;
    const QDir root(corpusDir());
    for (const QString &sub : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        const QDir dir(root.filePath(sub));
        for (const QString &name : dir.entryList(QDir::Files, QDir::Name))
            files << sub + u'/' + name;
    }
    return files;
}

// In CI a missing corpus is a failure; elsewhere the test is skipped.
#define REQUIRE_CORPUS()                                                                     \
    do {                                                                                     \
        if (corpusFiles().isEmpty()) {                                                       \
            if (qEnvironmentVariableIsSet("CI"))                                             \
                QFAIL("no subtitle files in " TARNLYX_CORPUS_DIR);                           \
            QSKIP("no subtitle files in " TARNLYX_CORPUS_DIR);                               \
        }                                                                                    \
    } while (false)

inline QByteArray readBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

inline bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// What reading a file and saving it back gives: the same bytes with CRLF as
// LF and without a final line feed.
inline QByteArray expectedRoundTrip(QByteArray bytes)
{
    bytes.replace("\r\n", "\n");
    if (bytes.endsWith('\n'))
        bytes.chop(1);
    return bytes;
}
