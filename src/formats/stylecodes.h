// Brace codes in a subtitle's text part: a `{` and the first `}` after it,
// as the correction and the punctuation rule take them. A viewer never sees
// one; players act on those the line formats know and hide or show the rest.
#pragma once

#include <QStringView>

// The length of the brace code at the start of `s`, braces included, or 0
// when `s` does not start with one (no `{`, or no `}` after it).
qsizetype braceGroupLength(QStringView s);

// Whether `code` (braces included) is one the line formats know:
//   {y:STYLES} {Y:STYLES}  STYLES of i, b, u, s (italic, bold, underline,
//                          strike-through), run together or with commas
//   {c:$BBGGRR} {C:$BBGGRR} a colour, six hexadecimal digits
//   {f:NAME} {F:NAME}      a font
//   {s:SIZE} {S:SIZE}      a size in points, digits
// The small letter is for one row, the capital for the whole subtitle.
bool isKnownStyleCode(QStringView code);
