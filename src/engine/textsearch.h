// Finding and replacing in a subtitle text, and the places "Go to" goes:
// a line, the N-th subtitle, or the first subtitle at or after a time.
// Qt Core only, so that the widgets stay thin.
#pragma once

#include <QList>
#include <QRegularExpression>
#include <QString>
#include <QStringView>

#include <functional>

class SubEngine;

struct SearchOptions
{
    bool regularExpression = false;
    bool matchCase = false;
    bool wholeWords = false;
};

// The pattern that finds `needle` under `options`: literal unless it is a
// regular expression. Check isValid(); errorString() says what is wrong.
QRegularExpression searchPattern(const QString &needle, const SearchOptions &options);

// What replaces `match`: in a regular expression's replacement "\N" stands
// for its N-th group (0 to 9) and "\\" for one backslash; a literal
// replacement is taken as it stands.
QString replacementFor(const QRegularExpressionMatch &match, const QString &replacement,
                       bool regularExpression);

// One replacement: `length` characters from `start` become `text`.
struct TextEdit
{
    qsizetype start = 0, length = 0;
    QString text;
};

// Every match of `pattern` in `text`, line by line (a match never spans a
// line end, as in Find), in order, with what replaces it. `goOn`, where
// given, is told after each line (or match) how far into the text the
// search is; once it returns false the search stops, and gives no edits.
QList<TextEdit> replacementsInText(QStringView text, const QRegularExpression &pattern,
                                   const QString &replacement, bool regularExpression,
                                   const std::function<bool(qsizetype)> &goOn = {});


// A "Go to" target as typed: "12" a line, "#12" the 12th subtitle line,
// "1:02:03", "1:02:03.5", "2:03" or "3723.5" (seconds, with a point or a
// comma) a time.
struct GoToTarget
{
    enum Kind { Invalid, Line, Subtitle, Time };
    Kind kind = Invalid;
    qsizetype number = 0; // a line or subtitle, counted from 1
    double seconds = 0.0;
};
GoToTarget parseGoToTarget(QStringView typed);

// The line (from 0) of the `n`-th line of `text` that is a subtitle, or -1
// when there are fewer. Here and below, a first line that names the frame
// rate is no subtitle.
qsizetype nthSubtitleLine(SubEngine &engine, QStringView text, qsizetype n);

// The line (from 0) of the first subtitle on screen at `seconds` or shown
// after it, frame numbers read at the engine's rate; -1 when there is none.
qsizetype subtitleLineAtTime(SubEngine &engine, QStringView text, double seconds);
