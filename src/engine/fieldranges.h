// The number fields of the operations: the range each accepts, its default,
// and the text a dialog's field opens with. The dialogs, the batch tool's
// parser and usage text, and the engine's own defaults read them here.
#pragma once

#include "formats/lineformat.h"

struct NumberField
{
    double low;
    double high;
    double byDefault;
    const char *initialText; // the dialog's field as it opens
};

namespace Fields {
// The rate frame numbers are read at (--fps, the frame-rate dialog, the
// rate a frame-rate change reads with).
inline constexpr NumberField frameRate{0.1, 200.0, 25.0, "25.0"};
// The rate a frame-rate change writes.
inline constexpr NumberField targetRate{0.1, 200.0, 29.0, "29.0"};
inline constexpr NumberField shiftSeconds{-99999999.0, 99999999.0, 0.0, "0"};
inline constexpr NumberField displaySeconds{0.1, 100.0, DefaultDisplaySeconds, "3.0"};

// Every field, with the words the batch tool's usage names its range by;
// fields side by side under the same words share one range, named once.
struct Named
{
    const char *words;
    NumberField field;
};
inline constexpr Named all[] = {
    {"frame rates", frameRate}, {"frame rates", targetRate}, {"shift", shiftSeconds}, {"display time", displaySeconds},
};
} // namespace Fields
