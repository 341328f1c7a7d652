// What the checks look for: the kinds of problem, each with its names and,
// where it has one, its limit, in one table that the batch tool's options
// and usage text, the editor's panel and rules dialog, the rule file and
// the tests all read. A rule set says which kinds are looked for and at
// which limits; it is saved as a small text file and read back.
#pragma once

#include <QString>
#include <QStringView>

#include <array>

enum class CheckKind : int {
    Overlap,
    Order,
    EndsBeforeStart,
    TooShort,
    TooLong,
    Gap,
    ReadingSpeed,
    RowTooLong,
    TooManyRows,
    Empty,
    UnknownCode,
};
constexpr int checkKindCount = 11;

struct CheckKindInfo
{
    CheckKind kind;
    const char *word;  // in the batch tool's output and JSON, its --no-WORD and the rule file
    const char *title; // in the editor's panel
    const char *rule;  // what is reported, "%1" standing for the limit
    // The limit, for the kinds that have one (null `limitName` otherwise):
    // its option and rule file name, default and range, and how many
    // decimals it takes (0: whole numbers only).
    const char *limitName;
    double defaultLimit, lowest, highest;
    int decimals;
    bool fixable; // Fix mends it by moving hide times
};

// Every kind, in the order problems of one line are listed.
const std::array<CheckKindInfo, checkKindCount> &checkKinds();
inline const CheckKindInfo &kindInfo(CheckKind kind)
{
    return checkKinds()[size_t(kind)];
}
// The kind whose word (or, with `byLimit`, whose limit name) is `word`;
// false when there is none.
bool kindNamed(QStringView word, CheckKind &kind, bool byLimit = false);
// `value` as a limit is written: "833", "17.5", "23.976".
QString limitText(double value);

struct CheckRules
{
    CheckRules();
    std::array<bool, checkKindCount> on;
    std::array<double, checkKindCount> limit; // 0 for the kinds without one

    bool looksFor(CheckKind kind) const { return on[size_t(kind)]; }
    double limitOf(CheckKind kind) const { return limit[size_t(kind)]; }
    bool operator==(const CheckRules &o) const { return on == o.on && limit == o.limit; }
    bool operator!=(const CheckRules &o) const { return !(*this == o); }
};

// What is wrong with a rule, and where. The words are the file error's
// (FileError's rule reasons), for a rule file and a rule given alone.
struct RuleProblem
{
    enum Kind { NotNameValue, NotWholeNumber, TooManyDecimals, OutsideRange, NeitherOnNorOff, NoSuchRule };
    Kind kind = NoSuchRule;
    qsizetype line = 0;      // in a rule file, counted from 1; 0 for a rule given alone
    QString name;            // NotNameValue: the whole line
    QString value;
    int decimals = 0;        // TooManyDecimals: how many a limit takes
    QString lowest, highest; // OutsideRange: the range, as a rule file writes numbers
};

// Sets one rule: a kind's word with "on" or "off", or a limit's name with a
// number within its range. False, with the problem, otherwise.
bool setRule(CheckRules &rules, QStringView name, QStringView value, RuleProblem *problem);

// The rule file: "NAME = VALUE" lines (as setRule() takes them), blank
// lines and "#" comments. Every rule is written, limits first.
QString rulesToText(const CheckRules &rules);
// Changes `rules` by the lines of a rule file; a rule the file does not
// name keeps its value. False, with the problem and its line, on the first
// line that is not a rule; `rules` is then untouched.
bool rulesFromText(QStringView text, CheckRules &rules, RuleProblem *problem);
