#include "engine/correctionswitches.h"

QStringList switchNames(bool onByDefault)
{
    QStringList names;
    for (const CorrectionSwitch &option : correctionSwitches) {
        if (switchDefault(option) == onByDefault)
            names += QString::fromLatin1(option.name);
    }
    return names;
}
