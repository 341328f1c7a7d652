// What an operation did, in words for the window that ran it.
#pragma once

#include "editor/subengine.h"

#include <QString>

// "Conversion: 3 lines changed, 1 line is not a subtitle", and when some
// results could not be written, ", 2 lines could not be written in
// clock-time".
QString walkSummary(int mode, const SubEngine::WalkCounts &counts);
