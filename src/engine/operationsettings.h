// The settings of the five whole-file operations, as plain values. Each
// starts at the state its dialog opens with, which the batch tool shares;
// the frame rate frame numbers are read at is not among them, as it belongs
// to the text and not to an operation.
#pragma once

#include "engine/fieldranges.h"

// The format a conversion writes: a SubtitleFormat code.
struct ConvertSettings
{
    int format = FrameBased;
};

// Seconds to move subtitles by, and whether show and hide times move.
struct ShiftSettings
{
    double seconds = Fields::shiftSeconds.byDefault;
    bool start = true;
    bool end = true;
};

// How long subtitles stay on screen.
struct ShowTimeSettings
{
    double seconds = Fields::displaySeconds.byDefault;
    bool writeEmptyEnd = false;
    bool onlyEmptyEnd = false;
    bool lengthDependent = true;
    bool blockTooLong = true;
};

// The rate frame numbers are read at, and the one they are written at.
struct FpsChangeSettings
{
    double from = Fields::frameRate.byDefault;
    double to = Fields::targetRate.byDefault;
};

// The switches of the correction; correctionswitches.h lists them.
struct CorrectionSettings
{
    bool delDoubleSpaces = true;
    bool delEndSpaces = true;
    bool delDigitSpaces = false;
    bool delColor = false;
    bool sustainTime = true;
    bool fixPunctuation = true;
    bool fixDashes = true;
};

struct OperationSettings
{
    ConvertSettings convert;
    ShiftSettings shift;
    ShowTimeSettings showTime;
    FpsChangeSettings fpsChange;
    CorrectionSettings correction;
};
