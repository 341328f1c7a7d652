// Helpers shared by the test programs.
#pragma once

#include <QDir>
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
