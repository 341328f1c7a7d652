// SubRip (.srt) and WebVTT (.vtt) cues from the three line formats, and
// SubRip cues back into lines.
//
// Out: each subtitle line becomes one cue, numbered from 1 in file order.
// Frames / rate and tenths / 10 become milliseconds, rounded half away from
// zero. A subtitle without a hide time stays on screen for the display time
// that Set display times gives it with its defaults, but no longer than the
// next subtitle's show time. `|` starts a new row; the whole-row codes
// {y:i} {y:b} {y:u} (and {Y:...} for the whole subtitle), a bracket-time
// row's leading `/` and the colour code {c:$BBGGRR} become tags; any other
// brace code is dropped.
//
// In: a cue's rows are joined with `|`, tags around a whole row or cue
// become the matching codes, and a cue that is not well formed stops the
// conversion with its line number: nothing is guessed.
#pragma once

#include "formats/lineformat.h"

#include <QByteArrayList>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <functional>
#include <memory>

enum class CueStyle { SubRip, WebVtt };

// What a conversion left behind, for the report.
struct CueReport
{
    qsizetype cues = 0;
    qsizetype notSubtitles = 0; // lines that are no subtitle (blank ones aside), left out
    qsizetype clampedTimes = 0; // times below zero, written as 0
    qsizetype droppedCodes = 0; // codes and tags with no counterpart in the target
    qsizetype emptyRows = 0;    // rows with nothing in them, which would end a cue
};

// The cues of `text` (lines joined by LF), with LF line ends. Frame numbers
// are read at `fps`; a first line {1}{1}RATE that names the file's rate is
// left out.
QString exportCues(QStringView text, double fps, CueStyle style, CueReport &report);
// The same in pieces to be joined (a large text is done in two, on two
// threads), so that each can be encoded on its own.
QStringList exportCuePieces(QStringView text, double fps, CueStyle style, CueReport &report);

// exportCues() written straight into UTF-8, with CR LF line ends for
// `crlf`, in pieces to be joined: the bytes its text encodes to. Empty when
// the text holds what UTF-8 cannot store.
QByteArrayList exportCuesAsUtf8(QStringView text, double fps, CueStyle style, bool crlf, CueReport &report);
// The same from a file's bytes (after any byte-order mark) in a one-byte
// encoding, without decoding them first: the bytes that decoding the file
// and the above give. Empty for an encoding that is no such one (UTF-8,
// Shift_JIS...), or for bytes the encoding does not have.
QByteArrayList exportCuesAsUtf8(QByteArrayView content, const QString &encoding, double fps, CueStyle style,
                                bool crlf, CueReport &report);

// The cues of exportCuesAsUtf8(), made a piece at a time and handed out as
// they are made, so that a large file's cues are written while the rest are
// still being made and are never all held at once.
class CueStream
{
public:
    using Write = std::function<bool(QByteArrayView bytes)>;

    CueStream();
    ~CueStream();
    CueStream(const CueStream &) = delete;
    CueStream &operator=(const CueStream &) = delete;

    // Reads the subtitles of `text`, which must outlive the stream. False
    // where exportCuesAsUtf8() gives nothing: nothing can be written then.
    bool read(QStringView text, double fps, CueStyle style, bool crlf);
    // The same from a file's bytes in a one-byte encoding, which must
    // outlive the stream.
    bool read(QByteArrayView content, const QString &encoding, double fps, CueStyle style, bool crlf);
    // Hands the cues to `write` in order, a piece at a time; false as soon
    // as `write` fails. `report` is whole once it returns true.
    bool write(const Write &write, CueReport &report) const;
    // How many cues there are, once read.
    qsizetype cues() const;

private:
    struct Data;
    std::unique_ptr<Data> d;
};

// The display time Set display times gives: `seconds` as they stand, or
// as a factor of the text's length.
struct CueDisplay
{
    double seconds = DefaultDisplaySeconds;
    bool lengthDependent = true;
};

// How long a subtitle without a hide time of its own stays on screen, in
// ms: the display time Set display times gives `text` with the settings of
// `defaults` (2 s at least with the defaults).
qint64 defaultDisplayMs(const CueDisplay &defaults, QStringView text);
// When a subtitle shown at `show` for `display` ms hides: not past `next`,
// the show time of the subtitle after it, when that comes later (-1: there
// is none), so never less than 1 ms after `show` then.
qint64 hideNotPast(qint64 show, qint64 display, qint64 next);

// Whether `text` reads as SubRip: its first line that is not blank is a cue
// number and the line after it a time line.
bool looksLikeSubRip(QStringView text);

// What is wrong with SubRip text that cannot be read into lines, and where.
struct CueProblem
{
    enum Kind { NoCueNumber, NoTimeLine, TimesTooLarge };
    Kind kind = NoCueNumber;
    qsizetype line = 0; // in the file, counted from 1
    QString text;       // NoCueNumber: the line's first 40 characters; NoTimeLine: the cue's number
};

// The lines of SubRip `text` in `format` (a SubtitleFormat code), frame
// numbers at `fps`. False, with the problem, for a cue that is not well
// formed; `out` is then untouched. `firstLine` lines come before `text` in
// its file (for the line a problem names).
bool importSubRip(QStringView text, int format, double fps, QString &out, CueReport &report,
                  CueProblem *problem, qsizetype firstLine = 0);

// Whether SubRip `text` (without its last line end) ends with a blank line:
// the lines converted from it then end with a line end, as the file that
// was exported to it did.
inline bool subRipEndsWithBlankLine(QStringView text)
{
    return text.endsWith(u'\n');
}

// "12 cues; 2 lines that are no subtitles left out; ..." for a status bar or
// the batch tool's report.
QString describeCueReport(const CueReport &report);
