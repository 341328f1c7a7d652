// Reading and writing one subtitle line in any of the three line formats,
// the frame-rate line that may head a frame-based file, and the display
// time a text needs. Free functions: every setting they use is an argument.
#pragma once

#include <QString>
#include <QStringView>

// Line format codes, as `getline` reports them and `putline` takes them.
enum SubtitleFormat : int {
    NoFormat = 0,
    ClockTwoDigitHours = 1, // hh:mm:ss:text
    ClockOneDigitHour = 2,  // h:mm:ss:text
    FrameBased = 3,         // {start}{end}text
    BracketTime = 4,        // [start][end]text
};

// The display seconds a subtitle gets when nobody chose any.
constexpr double DefaultDisplaySeconds = 3.0;

// The frame rate a frame-based file declares on its first line, as many
// players read it: `{1}{1}RATE` or `{0}{0}RATE`, RATE a plain number (digits,
// at most one point) from 1 to 200. 0 when `firstLine` is no such header.
double frameRateHeader(QStringView firstLine);
// Such a header line naming `rate` instead: with as many decimals as it had,
// more where the rate needs them to a thousandth (`{1}{1}23.976` at 25 is
// `{1}{1}25.000`, `{1}{1}25` at 23.976 is `{1}{1}23.976`).
QString frameRateLine(QStringView header, double rate);

// How many characters a reader sees in `text`: a letter with its combining
// marks, or a surrogate pair, is one.
qsizetype visibleLength(QStringView text);
// 2 s plus `factor` seconds per 50 characters, counted as a reader sees
// them (a letter with its combining accents is one character).
double getSubtitlesTime(QStringView text, double factor);
// Splits whole seconds into clock fields ("05", "-5", "123"); truncation
// goes toward zero, so negative input gives fields of 0 or below.
void SecToTime(int seconds, QString &hours, QString &minutes, QString &secs);

// ---- Any line ----------------------------------------------------------------
// Reads `line` with frame numbers at `fps` (a rate of 0 reads as 1, see
// readingRate()); false for a line that fits no format, or whose numbers
// do not fit a 32-bit integer. `text` is a view into `line`.
inline double readingRate(double fps)
{
    return fps == 0.0 ? 1.0 : fps;
}
bool readSubtitleLine(QStringView line, double fps, int &format, double &show, double &hide,
                      QStringView &text);
// Writes frame numbers at `fps` as it stands.
// False, with `out` untouched, for a code outside 1..4, for times that do
// not fit a 32-bit integer once turned into frames, tenths or seconds, and
// for a clock time below zero (a clock has no such time).
bool writeSubtitleLine(int format, double show, double hide, QStringView text, double fps,
                       QString &out);

// ---- Frame-based lines: {start}{end}text -------------------------------------
int _isFRMlinecorrect(QStringView line);
int _getstartfrm(QStringView line, QString &out);
int _getendfrm(QStringView line, QString &out);
int _getfrmtext(QStringView line, QString &out);
int _putfrmline(int start, int end, QStringView text, QString &out);

// ---- Bracket-time lines: [start][end]text ------------------------------------
int _isMPLlinecorrect(QStringView line);
int _getstartMPL(QStringView line, QString &out);
int _getendMPL(QStringView line, QString &out);
int _getMPLtext(QStringView line, QString &out);
int _putMPLline(int start, int end, QStringView text, QString &out);

// ---- Clock-time lines: hh:mm:ss:text -----------------------------------------
// Always 1; an invalid field reads as -1. `text` may be null.
int _getstarttime(QStringView line, int &style, int &hours, int &minutes, int &seconds,
                  QString *text);
int _isTIMElinecorrect(QStringView line);
// Writes in clock `style`; 0 (and `out` untouched) for any other style.
int _puttimeline(int style, int hours, int minutes, int seconds, QStringView text, QString &out);
