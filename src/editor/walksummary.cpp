#include "editor/walksummary.h"

namespace {

QString lines(qsizetype count)
{
    return count == 1 ? QStringLiteral("1 line") : QStringLiteral("%1 lines").arg(count);
}

} // namespace

QString walkSummary(int mode, const SubEngine::WalkCounts &counts, int convertFormat)
{
    static const char *const names[] = {"Conversion", "Shift", "Display time", "Frame rate", "Correction"};
    if (mode < ModeConvert || mode > ModeCorrect)
        return QString();
    QString summary = QStringLiteral("%1: %2 changed, %3")
                              .arg(QLatin1String(names[mode - 1]), lines(counts.changed),
                                   counts.notSubtitles == 1 ? QStringLiteral("1 line is not a subtitle")
                                                            : lines(counts.notSubtitles) + QStringLiteral(" are not subtitles"));
    if (counts.unwritten > 0) {
        static const char *const formats[] = {"clock-time", "clock-time", "frame-based", "bracket-time"};
        const bool named = mode == ModeConvert && convertFormat >= ClockTwoDigitHours && convertFormat <= BracketTime;
        summary += QStringLiteral(", %1 not be written%2")
                           .arg(lines(counts.unwritten) + QStringLiteral(" could"),
                                named ? QStringLiteral(" in ") + QLatin1String(formats[convertFormat - 1]) : QString());
    }
    return summary;
}
