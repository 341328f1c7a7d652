#include "engine/checks.h"

#include "engine/checkline.h"
#include "formats/twothreads.h"

#include <algorithm>

namespace {

using K = CheckKind;

} // namespace

CheckList::CheckList(const CheckRules &rules, double fps) : m_rules(rules), m_fps(fps) {}

CheckedLine CheckList::read(QStringView line, qsizetype number, std::vector<CheckProblem> *textProblems)
{
    return readChecked(m_engine, line, number, number == 0, m_rules, textProblems);
}

void CheckList::checkRange(qsizetype from, qsizetype to, const std::vector<CheckProblem> &textProblems,
                           std::vector<CheckProblem> &out) const
{
    const qsizetype size = lineCount();
    qsizetype prev = from - 1;
    while (prev >= 0 && !m_lines[size_t(prev)].subtitle)
        --prev;
    auto text = std::lower_bound(textProblems.cbegin(), textProblems.cend(), from,
                                 [](const CheckProblem &p, qsizetype line) { return p.line < line; });
    qsizetype next = from;
    while (next < size && !m_lines[size_t(next)].subtitle)
        ++next;
    for (qsizetype line = next; line < to; line = next) {
        next = line + 1;
        while (next < size && !m_lines[size_t(next)].subtitle)
            ++next;
        timingProblems(prev >= 0 ? &m_lines[size_t(prev)] : nullptr, prev, m_lines[size_t(line)], line,
                       next < size ? &m_lines[size_t(next)] : nullptr, m_rules, m_fps, out);
        while (text != textProblems.cend() && text->line < line)
            ++text;
        for (; text != textProblems.cend() && text->line == line; ++text)
            out.push_back(*text);
        prev = line;
    }
}

void CheckList::countAll(int sign, std::vector<CheckProblem>::const_iterator begin,
                         std::vector<CheckProblem>::const_iterator end)
{
    for (auto it = begin; it != end; ++it)
        m_counts[size_t(it->kind)] += sign;
}

void CheckList::reset(QStringView text)
{
    const qsizetype cut = text.size() >= piecesFrom ? text.indexOf(u'\n', text.size() / 2) : -1;
    const QStringView parts[] = {cut < 0 ? text : text.first(cut), cut < 0 ? QStringView() : text.sliced(cut + 1)};
    qsizetype from[] = {0, 0};
    std::vector<LineSource> pieces;
    for (int i = 0; i < (cut < 0 ? 1 : 2); ++i) {
        pieces.push_back([&, i](QStringView &line) {
            if (from[i] < 0)
                return false;
            const qsizetype end = parts[i].indexOf(u'\n', from[i]);
            line = parts[i].sliced(from[i], (end < 0 ? parts[i].size() : end) - from[i]);
            from[i] = end < 0 ? -1 : end + 1;
            return true;
        });
    }
    reset(pieces, text.size() / 40);
}

void CheckList::reset(const std::vector<LineSource> &pieces, qsizetype lines)
{
    m_engine.fps = m_fps;
    m_counts.fill(0);
    // Each piece is read on a thread of its own, its lines numbered from
    // its start, then moved to their places.
    struct Read
    {
        std::vector<CheckedLine> lines;
        std::vector<CheckProblem> textProblems;
    };
    std::vector<Read> reads(pieces.size());
    runHalves(int(pieces.size()), [&](int index) {
        SubEngine engine;
        engine.fps = m_fps;
        Read &read = reads[size_t(index)];
        // The first takes the others' lines in after it.
        read.lines.reserve(size_t(lines) / (index == 0 ? 1 : pieces.size()) + 16);
        QStringView line;
        for (qsizetype number = 0; pieces[size_t(index)](line); ++number) {
            read.lines.push_back(readChecked(engine, line, number, index == 0 && number == 0, m_rules,
                                             &read.textProblems));
        }
    });
    m_lines = std::move(reads[0].lines);
    std::vector<CheckProblem> textProblems = std::move(reads[0].textProblems);
    for (size_t i = 1; i < reads.size(); ++i) {
        const qsizetype before = lineCount();
        for (CheckProblem &p : reads[i].textProblems)
            p.line += before;
        m_lines.insert(m_lines.end(), reads[i].lines.cbegin(), reads[i].lines.cend());
        textProblems.insert(textProblems.end(), reads[i].textProblems.cbegin(), reads[i].textProblems.cend());
    }
    // The timing checks, in two halves as well.
    std::vector<CheckProblem> halves[2];
    halves[0].reserve(textProblems.size() + m_lines.size());
    halves[1].reserve(textProblems.size() / 2 + m_lines.size() / 2);
    const qsizetype middle = pieces.size() > 1 ? lineCount() / 2 : lineCount();
    runHalves(pieces.size() > 1 ? 2 : 1, [&](int half) {
        checkRange(half == 0 ? 0 : middle, half == 0 ? middle : lineCount(), textProblems, halves[half]);
    });
    m_problems = std::move(halves[0]);
    m_problems.insert(m_problems.end(), halves[1].cbegin(), halves[1].cend());
    countAll(1, m_problems.cbegin(), m_problems.cend());
}

CheckList::Change CheckList::replaceLines(qsizetype first, qsizetype removed, qsizetype added, const LineAt &lineAt,
                                          const AboutToChange &aboutToChange)
{
    const qsizetype shift = added - removed;
    // Lines kept in number are read again in place.
    const qsizetype kept = std::min(removed, added);
    if (shift < 0)
        m_lines.erase(m_lines.begin() + first + kept, m_lines.begin() + first + removed);
    else if (shift > 0)
        m_lines.insert(m_lines.begin() + first + kept, size_t(shift), CheckedLine());
    const qsizetype size = lineCount();
    // Only the first line names the rate: the line that was first is read
    // again where it moved, and so is the one that became first.
    const qsizetype readAgain = first == 0 && added < size ? added : -1;

    // The lines the edit made, the subtitles on either side of them (whose
    // times depend on theirs), and the lines between, which are none.
    qsizetype from = first - 1;
    while (from >= 0 && !m_lines[size_t(from)].subtitle)
        --from;
    from = from < 0 ? first : from;
    qsizetype to = first + added;
    std::vector<CheckProblem> textProblems;
    for (qsizetype line = from; line < size; ++line) {
        const bool made = (line >= first && line < first + added) || line == readAgain;
        if (!made && !m_lines[size_t(line)].subtitle)
            continue;
        m_lines[size_t(line)] = read(lineAt(line), line, &textProblems);
        to = std::max(to, line + 1);
        // The first subtitle after every line read again ends it; a line
        // read again that became a subtitle (the rate line moved down) has
        // its own next subtitle to check.
        if (line >= first + added && line > readAgain && m_lines[size_t(line)].subtitle)
            break;
    }

    auto byLine = [](const CheckProblem &p, qsizetype line) { return p.line < line; };
    const auto begin = std::lower_bound(m_problems.begin(), m_problems.end(), from, byLine);
    const auto end = std::lower_bound(begin, m_problems.end(), to - shift, byLine);
    std::vector<CheckProblem> fresh;
    checkRange(from, to, textProblems, fresh);
    Change change{begin - m_problems.begin(), end - begin, qsizetype(fresh.size()), shift};
    if (aboutToChange)
        aboutToChange(change, fresh);
    countAll(-1, begin, end);
    countAll(1, fresh.cbegin(), fresh.cend());
    // As many as there were are written over, the rest taken out or put in.
    const qsizetype over = std::min(change.removed, change.added);
    std::copy(fresh.cbegin(), fresh.cbegin() + over, begin);
    const auto rest = m_problems.begin() + change.first + over;
    auto after = rest + (change.removed - over);
    if (change.removed > over)
        after = m_problems.erase(rest, after);
    else if (change.added > over)
        after = m_problems.insert(rest, fresh.cbegin() + over, fresh.cend()) + (change.added - over);
    if (shift != 0) {
        for (auto it = after; it != m_problems.end(); ++it) {
            it->line += shift;
            // Their previous subtitle is after the edit too.
            if (it->kind == K::Overlap || it->kind == K::Order || it->kind == K::Gap)
                it->other += shift;
        }
    }
    return change;
}

std::vector<CheckProblem> checkText(QStringView text, const CheckRules &rules, double fps)
{
    CheckList list(rules, fps);
    list.reset(text);
    return list.problems();
}
