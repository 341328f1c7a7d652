// The switches of the correction, in the order the dialog lists them. The
// dialog, the batch tool's options and usage, and the tests all read this
// table; the completion and the manual page are held against it by a test.
//
// A switch is one row here, a field of SubEngine (whose initialiser is its
// default, in the dialog and the batch tool alike) and the rule it turns
// on (correctFunction() or correctText()).
#pragma once

#include "engine/subengine.h"

#include <QString>
#include <QStringList>

#include <iterator>

struct CorrectionSwitch
{
    const char *name;  // the batch tool's --NAME and --no-NAME
    const char *label; // the dialog's check box, with its shortcut
    bool SubEngine::*field;
};

inline constexpr CorrectionSwitch correctionSwitches[] = {
    {"double-spaces", "&Delete double spaces", &SubEngine::delDoubleSpaces},
    {"end-spaces", "Delete spaces at the end of lines", &SubEngine::delEndSpaces},
    {"digit-spaces", "Delete spaces between digits", &SubEngine::delDigitSpaces},
    {"color", "Delete information about text color (mDVDp)", &SubEngine::delColor},
    {"sustain", "Sustain subtitles display time", &SubEngine::sustainTime},
    {"punctuation", "Correct punctuation marks position", &SubEngine::fixPunctuation},
    {"dashes", "Correct dash positions (dialogues)", &SubEngine::fixDashes},
};
inline constexpr int correctionSwitchCount = int(std::size(correctionSwitches));

// Whether the switch is on where nobody chose.
inline bool switchDefault(const CorrectionSwitch &option)
{
    return SubEngine().*option.field;
}

// The names of the switches that are on, or off, where nobody chose.
QStringList switchNames(bool onByDefault);
