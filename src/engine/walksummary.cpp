#include "engine/walksummary.h"

#include "engine/operations.h"

namespace {

QString lines(qsizetype count)
{
    return count == 1 ? QStringLiteral("1 line") : QStringLiteral("%1 lines").arg(count);
}

} // namespace

QString walkSummary(int mode, const SubEngine::WalkCounts &counts)
{
    const Operation *operation = operationOf(mode);
    if (!operation)
        return QString();
    QString summary = QStringLiteral("%1: %2 changed, %3")
                              .arg(QLatin1String(operation->summaryName), lines(counts.changed),
                                   counts.notSubtitles == 1 ? QStringLiteral("1 line is not a subtitle")
                                                            : lines(counts.notSubtitles) + QStringLiteral(" are not subtitles"));
    // Only clock-time, which holds no time below zero, leaves lines unwritten.
    if (counts.unwritten > 0)
        summary += QStringLiteral(", %1 could not be written in clock-time").arg(lines(counts.unwritten));
    if (const QString note = rateLineNote(counts); !note.isEmpty())
        summary += QStringLiteral(", ") + note;
    return summary;
}

QString rateLineNote(const SubEngine::WalkCounts &counts)
{
    switch (counts.rateLine) {
    case SubEngine::RateLine::LeftOut:
        return QStringLiteral("the frame rate line %1 was left out").arg(counts.rateLineText);
    case SubEngine::RateLine::Rewritten:
        return QStringLiteral("the frame rate line is now %1").arg(counts.rateLineText);
    default:
        return QString();
    }
}
