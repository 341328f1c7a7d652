// The batch tool's command line: its options, read from the tables of the
// engine, and its usage text.
#pragma once

#include "engine/subengine.h"
#include "files/textcodec.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

inline constexpr char version[] = "tarnlyx-cli 0.1\n";

struct UsageError
{
    QString message;
};

// Not an operation of the editor: the report of `info`.
constexpr int ModeInfo = 100;

// Conversion targets beside the line formats.
constexpr int ToSubRip = 101;
constexpr int ToWebVtt = 102;

struct Options
{
    int mode = 0;
    QString encoding;
    QStringList inputs;
    std::optional<QString> output;
    bool inPlace = false;
    bool force = false;    // -i may replace another file of the result's name
    bool fpsGiven = false; // else a file's own {1}{1}RATE first line names it
    bool fromGiven = false; // else fps reads frame numbers at the file's rate
    bool help = false;
    bool showVersion = false;
    // What the output is written in, where it differs from the input.
    QString outputEncoding;
    bool bom = false;
    std::optional<LineEnds> lineEnds;
};

// Reads `args` (without the program name), the operation's settings into
// `settings`; throws UsageError.
Options parseArguments(const QStringList &args, SubEngine &settings);
// Throws UsageError for options that do not go together; no INPUT is "-".
void checkCombination(Options &options);
// The text of --help.
QByteArray usageText();
