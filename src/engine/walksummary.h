// What an operation did, in words for the window that ran it.
#pragma once

#include "engine/subengine.h"

#include <QString>

// "Conversion: 3 lines changed, 1 line is not a subtitle", and when some
// results could not be written, ", 2 lines could not be written in
// clock-time", and then what became of the frame rate line.
QString walkSummary(int mode, const SubEngine::WalkCounts &counts);

// What the operation did to the file's frame rate line, where it did
// anything: "the frame rate line {1}{1}23.976 was left out", "the frame
// rate line is now {1}{1}25.000"; empty otherwise.
QString rateLineNote(const SubEngine::WalkCounts &counts);
