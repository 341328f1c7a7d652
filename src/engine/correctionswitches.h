// The switches of the correction, in the order the dialog lists them. The
// dialog, the batch tool's options and usage, and the tests all read this
// table; the completion and the manual page are held against it by a test.
//
// A switch is one row here, a field of CorrectionSettings (whose initialiser
// is its default, in the dialog and the batch tool alike) and the rule it
// turns on (correctFunction() or correctText()).
#pragma once

#include "engine/operationsettings.h"

#include <QString>
#include <QStringList>

#include <iterator>

struct CorrectionSwitch
{
    const char *name;  // the batch tool's --NAME and --no-NAME
    const char *label; // the dialog's check box, with its shortcut
    bool CorrectionSettings::*field;
};

inline constexpr CorrectionSwitch correctionSwitches[] = {
    {"double-spaces", "&Delete double spaces", &CorrectionSettings::delDoubleSpaces},
    {"end-spaces", "Delete spaces at the end of lines", &CorrectionSettings::delEndSpaces},
    {"digit-spaces", "Delete spaces between digits", &CorrectionSettings::delDigitSpaces},
    {"color", "Delete information about text color (mDVDp)", &CorrectionSettings::delColor},
    {"sustain", "Sustain subtitles display time", &CorrectionSettings::sustainTime},
    {"punctuation", "Correct punctuation marks position", &CorrectionSettings::fixPunctuation},
    {"dashes", "Correct dash positions (dialogues)", &CorrectionSettings::fixDashes},
};
inline constexpr int correctionSwitchCount = int(std::size(correctionSwitches));

// Whether the switch is on where nobody chose.
inline bool switchDefault(const CorrectionSwitch &option)
{
    return CorrectionSettings().*option.field;
}

// The names of the switches that are on, or off, where nobody chose.
QStringList switchNames(bool onByDefault);
