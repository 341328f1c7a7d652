// One line as the checks read it and the problems of one subtitle's times:
// what the kept list and the hide-time fixes share.
#pragma once

#include "engine/checks.h"

#include <QStringView>

#include <vector>

// Times closer than this are one time: a frame number divided by the rate
// is seldom exact, and a time at its limit is within it.
inline constexpr double slackSeconds = 1e-6;
inline constexpr double slackMs = slackSeconds * 1000.0;

// Reads line `number` of a text (`first`: the text's first line, which
// may name the rate); with `textProblems`, adds the problems of its text
// alone that `rules` looks for.
CheckedLine readChecked(SubEngine &engine, QStringView line, qsizetype number, bool first, const CheckRules &rules,
                        std::vector<CheckProblem> *textProblems);

// The problems of the subtitle `cur` on `line` that come from its times,
// given the subtitles before (on `prevLine`) and after it.
void timingProblems(const CheckedLine *prev, qsizetype prevLine, const CheckedLine &cur, qsizetype line,
                    const CheckedLine *next, const CheckRules &rules, double fps, std::vector<CheckProblem> &out);
