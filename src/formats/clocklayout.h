// The layout of clock-time lines.
#pragma once

#include <QStringView>

struct ClockParts
{
    int style = 1;
    int hours = -1;
    int minutes = -1;
    int seconds = -1;
    QStringView text;

    bool valid() const { return hours >= 0 && minutes >= 0 && seconds >= 0; }
};

// Takes a line apart as a clock-time line; a field that is not a number
// reads as -1. Never fails: the caller judges the line by `valid()`.
void readClockLine(QStringView line, ClockParts &parts);
