// Checks a subtitle text before it ships: timing, reading speed and the
// shape of the text, each a function of a subtitle line, the subtitles
// before and after it and the rules. Lines that are not subtitles, blank
// lines and a first line that names the frame rate ({1}{1}23.976) are never
// reported and stand between no two subtitles.
//
// A subtitle without a hide time of its own stays for the display time that
// SubRip export gives it. Characters are counted as a viewer reads them:
// brace codes, the row separator `|` and the `/` that makes a bracket-time
// row italic left out, a letter with its combining marks one character.
#pragma once

#include "engine/checkrules.h"
#include "engine/subengine.h"
#include "engine/textsearch.h"

#include <QList>
#include <QString>
#include <QStringView>

#include <functional>
#include <vector>

struct CheckProblem
{
    qsizetype line = 0; // from 0
    CheckKind kind = CheckKind::Overlap;
    // What was measured: ms (overlap, order, ends before it starts, too
    // short, too long), frames (gap), characters per second, the longest
    // row's characters, rows, or how many unknown codes the line has.
    double value = 0;
    // The previous subtitle's line (overlap, order, gap), the longest row
    // from 1 (row too long), or where the first unknown code starts in the
    // line; and that code's length.
    qsizetype other = 0;
    qsizetype length = 0;

    bool operator==(const CheckProblem &o) const
    {
        return line == o.line && kind == o.kind && value == o.value && other == o.other && length == o.length;
    }
};

// The detail shown beside a problem: "600 < 833 ms", "27.3 > 20",
// "line 12 by 400 ms", "{x:1}". `line` is the problem's line.
QString problemDetail(const CheckProblem &problem, QStringView line, const CheckRules &rules);
// The same, appended to `out`.
void appendProblemDetail(QString &out, const CheckProblem &problem, QStringView line, const CheckRules &rules);

// Whether a viewer sees nothing of `c`: white space. The C1 controls
// (U+0080..U+009F), which stand for letters where a file in a one-byte
// encoding is read as Latin-1, are seen.
bool blankToViewer(QChar c);

// A line as the checks read it: whether it is a subtitle, its times in
// seconds and how many characters a viewer reads in it.
struct CheckedLine
{
    bool subtitle = false;
    bool ownHide = false; // else it hides after `display` ms, or at the next show
    char format = NoFormat;
    double show = 0, hide = 0;
    qint64 display = 0;
    qsizetype chars = 0;
};

// The problems of a text, kept as it is edited: after an edit only the
// lines it touched and the subtitles on either side are checked again.
class CheckList
{
public:
    CheckList(const CheckRules &rules = CheckRules(), double fps = 25.0);

    const CheckRules &rules() const { return m_rules; }
    double fps() const { return m_fps; }
    // Both take effect at the next reset().
    void setRules(const CheckRules &rules) { m_rules = rules; }
    void setFps(double fps) { m_fps = fps; }

    // Checks every line of `text` (lines joined by LF) anew; a large text
    // in two halves on two threads.
    void reset(QStringView text);
    // Hands out the lines of a text one after another into `line`, which
    // stays valid until the next is asked for; false after the last.
    using LineSource = std::function<bool(QStringView &line)>;
    // The same for a text whose lines are those of `pieces` (one or two)
    // one after the other; two pieces are read on two threads. `lines`: about how many
    // lines they hold.
    void reset(const std::vector<LineSource> &pieces, qsizetype lines = 0);
    // The size from which a text is read in two halves.
    static constexpr qsizetype piecesFrom = 1 << 20;

    // Which problems an edit changed: [first, first + removed) of the list
    // before it became [first, first + added), and the lines of every
    // problem after them moved by `shift`.
    struct Change
    {
        qsizetype first = 0, removed = 0, added = 0, shift = 0;
    };
    using LineAt = std::function<QString(qsizetype line)>;
    // Called with the change and the problems that come in, before the
    // list changes.
    using AboutToChange = std::function<void(const Change &change, const std::vector<CheckProblem> &added)>;
    // Lines [first, first + removed) of the text became the `added` lines
    // from `first` on; `lineAt` gives any line of the text as it is now.
    Change replaceLines(qsizetype first, qsizetype removed, qsizetype added, const LineAt &lineAt,
                        const AboutToChange &aboutToChange = nullptr);

    // In the order of their lines, and of the kinds within a line.
    const std::vector<CheckProblem> &problems() const { return m_problems; }
    // The problems, taken out of the list, which is then empty.
    std::vector<CheckProblem> takeProblems()
    {
        m_counts.fill(0);
        m_lines.clear();
        return std::move(m_problems);
    }
    qsizetype count(CheckKind kind) const { return m_counts[size_t(kind)]; }
    qsizetype lineCount() const { return qsizetype(m_lines.size()); }

private:
    CheckedLine read(QStringView line, qsizetype number, std::vector<CheckProblem> *textProblems);
    // The problems of lines [from, to), which are read already; the text
    // problems of those lines come from `textProblems`, in line order.
    void checkRange(qsizetype from, qsizetype to, const std::vector<CheckProblem> &textProblems,
                    std::vector<CheckProblem> &out) const;
    void countAll(int sign, std::vector<CheckProblem>::const_iterator begin,
                  std::vector<CheckProblem>::const_iterator end);

    CheckRules m_rules;
    double m_fps;
    SubEngine m_engine;
    std::vector<CheckedLine> m_lines;
    std::vector<CheckProblem> m_problems;
    std::array<qsizetype, checkKindCount> m_counts{};
};

// Every problem of `text` (lines joined by LF), frame numbers read at `fps`.
std::vector<CheckProblem> checkText(QStringView text, const CheckRules &rules, double fps);

// What Fix did.
struct FixCounts
{
    qsizetype moved = 0; // hide times moved
    qsizetype overlaps = 0, tooShort = 0, gaps = 0;
};
// "5 hide times moved: 2 overlaps, 1 too short, 2 gaps"
QString describeFixes(const FixCounts &counts);

// The edits of `text` that mend, by moving hide times only, the overlaps,
// short gaps and too short subtitles `rules` looks for: a hide time moves
// back to leave the gap before the next subtitle (or, where there is no
// room for it, to the next show time), or forward as far as the room before
// the next subtitle allows. Show times never move; a subtitle without a
// hide time of its own, or one that hides before it shows, is left alone.
QList<TextEdit> hideTimeFixes(QStringView text, const CheckRules &rules, double fps, FixCounts &counts);
// `text` with `edits` (in order, not overlapping) made.
QString withEdits(QStringView text, const QList<TextEdit> &edits);
