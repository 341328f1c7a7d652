// The text rules of the correction, on a text part alone.
#pragma once

#include <QString>

struct CorrectionRules
{
    bool punctuation = false; // one space after a punctuation mark, none before
    bool dashes = false;      // one space after the dash that opens a row
    bool doubleSpaces = false;
    bool endSpaces = false;   // none at the end of the text or around "|"
    bool digitSpaces = false; // none between two digits
    bool color = false;       // no {...} groups
};

// Applies the rules to `text` in their fixed order; `scratch` is working
// space that may be kept between calls. With `skipIdle` a rule that a quick
// look shows would change nothing is passed over; the result is the same.
void correctText(QString &text, const CorrectionRules &rules, QString &scratch,
                 bool skipIdle = true);
