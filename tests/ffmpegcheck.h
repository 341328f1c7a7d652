// ffmpeg as the independent reader of the SubRip and WebVTT files we write.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QtDebug>

// How many cues ffmpeg reads in `path` (it leaves out cues without text);
// -1 when it reports an error.
inline int ffmpegCues(const QString &path, const QString &encoding = QString())
{
    QStringList args{"-nostdin", "-v", "error"};
    if (!encoding.isEmpty())
        args << "-sub_charenc" << encoding;
    args << "-i" << path << "-f" << "srt" << "-";
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), args);
    if (!ffmpeg.waitForFinished(60000) || ffmpeg.exitCode() != 0 || !ffmpeg.readAllStandardError().isEmpty()) {
        qWarning() << "ffmpeg failed on" << path;
        return -1;
    }
    // Time lines: "00:00:01,000 --> ...".
    int cues = 0;
    for (const QByteArray &line : ffmpeg.readAllStandardOutput().split('\n')) {
        const qsizetype arrow = line.indexOf(" --> ");
        cues += arrow >= 12 && line[arrow - 4] == ',' && line[arrow - 7] == ':' && line[arrow - 10] == ':';
    }
    return cues;
}
