// The five whole-file operations: the mode each runs under, the batch
// tool's word for it, the name its summary starts with and its per-line
// function. The walk, the batch tool's parser and the summaries read them
// here; a test holds the completion against the words.
#pragma once

#include "engine/subengine.h"

#include <iterator>

struct Operation
{
    int mode;
    const char *word;        // the batch tool's OPERATION
    const char *summaryName; // "Shift: 3 lines changed, ..."
    SubEngine::LineOperation function;
};

inline constexpr Operation operations[] = {
    {ModeConvert, "convert", "Conversion", &SubEngine::convertFunction},
    {ModeShift, "shift", "Shift", &SubEngine::shiftTimeFunction},
    {ModeShowTime, "showtime", "Display time", &SubEngine::showTimeChangeFunction},
    {ModeFpsChange, "fps", "Frame rate", &SubEngine::fpsChangeFunction},
    {ModeCorrect, "correct", "Correction", &SubEngine::correctFunction},
};

// The operation of `mode`, or null for an undefined one.
inline const Operation *operationOf(int mode)
{
    for (const Operation &operation : operations) {
        if (operation.mode == mode)
            return &operation;
    }
    return nullptr;
}
