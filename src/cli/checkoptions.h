// The options of tarnlyx-cli check, read from its arguments, and its
// usage text, which the table of check kinds writes.
#pragma once

#include "engine/checkrules.h"

#include <QString>
#include <QStringList>

#include <optional>

struct CheckOptions
{
    CheckRules rules;
    std::optional<double> fps;
    QString encoding;
    bool json = false;
    bool fix = false;
    bool inPlace = false;
    bool help = false;
    QString saveRules;
    QStringList inputs;
};

// The usage text of tarnlyx-cli check.
QString checkUsage();

// The options `args` give, checked against each other; false, with the
// reason in `error`, on a usage error. With --help the rest is not checked.
bool readCheckOptions(const QStringList &args, CheckOptions &options, QString *error);
