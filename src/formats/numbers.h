// Number reading and writing shared by the line formats.
#pragma once

#include <QString>
#include <QStringView>

// C `atoi` on a field: leading white space, an optional sign, then digits up
// to the first other character; no digits reads as 0. False when the number
// does not fit a signed 32-bit integer.
bool fieldToInt(QStringView field, int &value);

// The toolkit's base-10 conversion of a whole clock field; -1 when it fails
// (not a number, a sign, or out of range).
int clockFieldValue(QStringView field);

// Plain decimal form with a single "0" in front of a one-character form:
// 5 -> "05", -5 -> "-5", 123 -> "123".
QString clockField(int value);

// Hours, minutes and seconds of a whole number of seconds. Integer division
// truncates toward zero, so below zero every field is 0 or negative.
inline void splitSeconds(int total, int &hours, int &minutes, int &seconds)
{
    hours = total / 3600;
    minutes = (total - hours * 3600) / 60;
    seconds = total - hours * 3600 - minutes * 60;
}

// `value` rounded to the nearest whole number, halves away from zero. False
// when the result does not fit a signed 32-bit integer, or `value` is not a
// number.
bool roundToInt(double value, int &result);

// Appends the plain decimal form of `value` to `out`.
void appendInt(QString &out, int value);
