// The subtitle line engine: the operations' settings with the frame rate
// beside them, the readers and writers of the three line formats, the five
// per-line operations and the walk that runs one of them over a whole text.
//
// It links Qt Core only. The editor widget and the batch tool each make one
// from the settings of the operation they run.
#pragma once

#include "engine/fieldranges.h"
#include "engine/operationsettings.h"
#include "formats/lineformat.h"

#include <QString>
#include <QStringView>

// Operation modes of `linesChange`.
enum OperationMode : int {
    ModeConvert = 1,
    ModeShift = 2,
    ModeShowTime = 3,
    ModeFpsChange = 4,
    ModeCorrect = 5,
};

class SubEngine : public OperationSettings
{
public:
    SubEngine() = default;
    explicit SubEngine(const OperationSettings &settings, double rate = Fields::frameRate.byDefault)
        : OperationSettings(settings), fps(rate)
    {
    }

    // The operations' settings are the members of OperationSettings
    // (`shift.seconds`, `correction.fixDashes`, ...); beside them, the rate
    // frame numbers are read and written at.
    double fps = Fields::frameRate.byDefault;

    // ---- Reading and writing any line, frame numbers at `fps` --------------
    // False for a line that fits no format, or whose numbers do not fit a
    // 32-bit integer; then nothing is written.
    bool getline(QStringView line, int &format, double &show, double &hide, QString &text) const;
    // False, with `out` untouched, for a code outside 1..4, for times that
    // do not fit a 32-bit integer once turned into frames, tenths or seconds,
    // and for a clock time below zero (a clock has no such time).
    bool putline(int format, double show, double hide, QStringView text, QString &out) const;

    // What a walk did: the lines it read, the ones it changed, those that
    // are no subtitles (which stay as they are) and the subtitles whose
    // result could not be written in clock-time (a time below zero, or past
    // 32 bits; left as they were). The per-line operations add to it; the
    // engine keeps none of it between calls.
    // A file's first line that names its frame rate is no subtitle: every
    // operation passes it as it is, but a frame-rate change writes the new
    // rate into it and a conversion into a format without frame numbers
    // leaves it out.
    enum class RateLine { None, Kept, Rewritten, LeftOut };
    struct WalkCounts
    {
        qsizetype lines = 0, changed = 0, notSubtitles = 0, unwritten = 0;
        RateLine rateLine = RateLine::None; // the rate line is counted in none of the above
        QString rateLineText;               // the rate line as it was read, or as rewritten

        // Adds what a walk over later lines of the same text counted (it
        // has no rate line).
        void addLater(const WalkCounts &later)
        {
            lines += later.lines;
            changed += later.changed;
            notSubtitles += later.notSubtitles;
            unwritten += later.unwritten;
        }
    };

    // ---- Per-line operations: the line and the line after it in, the new
    // line out; a line that is no subtitle or cannot be written is counted
    // in `counts`.
    QString convertFunction(QStringView line, QStringView next, WalkCounts &counts);
    QString shiftTimeFunction(QStringView line, QStringView next, WalkCounts &counts);
    QString showTimeChangeFunction(QStringView line, QStringView next, WalkCounts &counts);
    QString fpsChangeFunction(QStringView line, QStringView next, WalkCounts &counts);
    QString correctFunction(QStringView line, QStringView next, WalkCounts &counts);

    // Runs operation `mode` over every line of `text` and returns the new
    // text; what the walk did goes to `counts` where given. A final empty
    // line is dropped; an empty text is one empty line; a first line that
    // names the frame rate goes as walkLines() says. An undefined mode
    // leaves the text as it was and says so on qDebug.
    QString linesChange(QStringView text, int mode, WalkCounts *counts = nullptr);

    using LineOperation = QString (SubEngine::*)(QStringView line, QStringView next, WalkCounts &counts);
    // The per-line operation of `mode`, or null for an undefined mode.
    static LineOperation lineOperation(int mode);

    // The walk itself, for any source of lines. `takeLine(QStringView &)`
    // hands out the next line, false when there is none (it is called once
    // more after the last line); a line must stay valid until the line after
    // it has been taken. `sink(const QString &result, bool last)` gets each
    // result in order. Each operation sees the line after it as it stood
    // before the walk; the last line sees `after` (a text walked in pieces
    // gives each piece the first line of the next). The operation counts
    // into `counts`. Where the lines start a file (`fileStart`), a first
    // line that names the frame rate goes as rateLineResult() says, and
    // `counts` says so before the sink sees anything: a rate line left out
    // has no result, so a file of that line alone sinks none at all.
    template <typename TakeLine, typename Sink>
    void walkLines(LineOperation operation, TakeLine &&takeLine, Sink &&sink, WalkCounts &counts,
                   QStringView after = QStringView(u""), bool fileStart = false)
    {
        QStringView line;
        if (!takeLine(line))
            line = QStringView(u"");
        QStringView next;
        bool last = !takeLine(next);
        if (fileStart && frameRateHeader(line) > 0.0) {
            QString result;
            counts.rateLine = rateLineResult(operation, line, result);
            counts.rateLineText = counts.rateLine == RateLine::Rewritten ? result : line.toString();
            if (counts.rateLine != RateLine::LeftOut)
                sink(result, last);
            if (last)
                return;
            line = next;
            last = !takeLine(next);
        }
        for (;;) {
            sink((this->*operation)(line, last ? after : next, counts), last);
            if (last)
                break;
            line = next;
            last = !takeLine(next);
        }
    }
    // What `operation` makes of a file's rate line: `out` is the line to
    // write where it is not left out.
    RateLine rateLineResult(LineOperation operation, QStringView line, QString &out) const;

    // `getline` with the text part as a view into `line`.
    bool readLine(QStringView line, int &format, double &show, double &hide, QStringView &text) const
    {
        return readSubtitleLine(line, fps, format, show, hide, text);
    }

private:
    // Reads the line an operation rewrites, frame numbers at `rate`: one
    // that is no subtitle is counted.
    static bool readOwnLine(QStringView line, double rate, int &format, double &show, double &hide,
                            QStringView &text, WalkCounts &counts)
    {
        const bool ok = readSubtitleLine(line, rate, format, show, hide, text);
        counts.notSubtitles += !ok;
        return ok;
    }
    // Writes the line anew, frame numbers at `rate`, or gives it back
    // unchanged (and counted) when it cannot be written.
    static QString rewritten(QStringView line, double rate, int format, double show, double hide,
                             QStringView text, WalkCounts &counts);
    // `hide`, cut back to the show time of the subtitle on `next` when it
    // would pass it, but never to `show` or before.
    double notPast(QStringView next, double show, double hide) const;

    // Working space of the correction, kept between lines.
    QString m_textBuffers[2];
};
