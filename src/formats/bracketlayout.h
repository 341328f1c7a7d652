// The shared layout of frame-based and bracket-time lines.
#pragma once

#include <QString>
#include <QStringView>

struct BracketParts
{
    QStringView start;
    QStringView end;
    QStringView text;
};

// Takes `line` apart; false when it does not have the layout. The empty
// line fits, with three empty parts.
bool splitBracketLine(QStringView line, char16_t open, char16_t close, BracketParts &parts);

// {start}{end}text with the given brackets; an end of 0 leaves its field empty.
void writeBracketLine(int start, int end, QStringView text, char16_t open, char16_t close,
                      QString &out);
