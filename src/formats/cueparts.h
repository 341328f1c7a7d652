// What the SubRip and WebVTT cue writers and the SubRip reader share:
// the styles of the text parts' codes and the subtitles read from a text.
#pragma once

#include "formats/subrip.h"

#include <QStringView>
#include <QVarLengthArray>

#include <vector>

namespace cues {

enum class Scope { Row, Cue };

// A style that becomes a tag: 'i', 'b', 'u', or 'c' for a colour.
struct Style
{
    char kind;
    QStringView colour; // BBGGRR as the code writes it, for 'c'
};
using Styles = QVarLengthArray<Style, 8>;

inline bool isHex(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

inline bool isAsciiLetter(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

// The characters of a one-byte encoding read as Latin-1 are those bytes:
// while a thread writes cues from such text, this holds each byte's own
// character, for what only the real one can tell (is it a space?).
extern thread_local const char16_t *t_byteCharacters;

// Whether `text` shows nothing but white space.
bool isBlank(QStringView text);

struct Subtitle
{
    qint64 show = 0;
    qint64 hide = -1; // none
    qsizetype textAt = 0; // where its text part stands in the text read
    int textLength = 0; // a line's text part is shorter than 2 Gi characters
    bool bracketTime = false;
};

// The subtitles of some lines, their times in milliseconds.
// Lines end at `separator`; with `crlf`, a CR before it belongs to the
// line end (as decoding a file with CR LF line ends takes it). `text`
// stands at `textAt` in the whole text read.
void readSubtitles(QStringView text, qsizetype textAt, QChar separator, bool crlf, double fps,
                   std::vector<Subtitle> &subtitles, CueReport &report);

// Writes one cue, whose text part is `text`; `next` is the show time of the
// subtitle after it, or -1. Made for QString and Utf8Out.
template <typename Out>
void appendCue(Out &out, qint64 number, const Subtitle &s, QStringView text, qint64 next, CueStyle style,
               const CueDisplay &defaults, CueReport &report);

// Adds the counts of `from` to `to`.
void add(CueReport &to, const CueReport &from);

} // namespace cues
