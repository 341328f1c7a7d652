// The walk that runs one per-line operation over a whole text.
#include "engine/operations.h"
#include "engine/subengine.h"

#include <QDebug>

#include <utility>

SubEngine::LineOperation SubEngine::lineOperation(int mode)
{
    const Operation *operation = operationOf(mode);
    return operation ? operation->function : nullptr;
}

QString SubEngine::linesChange(QStringView text, int mode, WalkCounts *counts)
{
    // A newline at the very end starts no further line; an empty text is
    // one empty line.
    const QStringView body = text.endsWith(u'\n') ? text.chopped(1) : text;

    WalkCounts own;
    WalkCounts &walk = counts ? *counts : own;
    walk = WalkCounts();
    const LineOperation operation = lineOperation(mode);
    if (!operation) {
        const qsizetype lines = body.count(u'\n') + 1;
        for (qsizetype i = 0; i < lines; ++i)
            qDebug("ERROR: undefined modification called!");
        return text.toString();
    }

    qsizetype pos = 0;
    auto takeLine = [&body, &pos](QStringView &line) {
        if (pos < 0)
            return false;
        const qsizetype newline = body.indexOf(u'\n', pos);
        if (newline < 0) {
            line = body.sliced(pos);
            pos = -1;
        } else {
            line = body.sliced(pos, newline - pos);
            pos = newline + 1;
        }
        return true;
    };
    QString result;
    result.reserve(text.size() + text.size() / 8 + 16);
    qsizetype before = 0; // where the line the result stands for begins
    bool first = true;
    walkLines(operation, takeLine, [&](const QString &line, bool last) {
        bool counted = true;
        if (std::exchange(first, false) && walk.rateLine != RateLine::None) {
            // The rate line is counted nowhere; left out, it has no result,
            // and this one stands for the line after it.
            if (walk.rateLine == RateLine::LeftOut)
                before = body.indexOf(u'\n') + 1;
            else
                counted = false;
        }
        const qsizetype end = last ? body.size() : body.indexOf(u'\n', before);
        if (counted) {
            walk.changed += QStringView(line) != body.sliced(before, end - before);
            ++walk.lines;
        }
        before = end + 1;
        result += line;
        if (!last)
            result += u'\n';
    }, walk, QStringView(u""), true);
    return result;
}

bool SubEngine::getline(QStringView line, int &format, double &show, double &hide, QString &text) const
{
    QStringView part;
    if (!readLine(line, format, show, hide, part))
        return false;
    text = part.toString();
    return true;
}

bool SubEngine::putline(int format, double show, double hide, QStringView text, QString &out) const
{
    return writeSubtitleLine(format, show, hide, text, fps, out);
}

SubEngine::RateLine SubEngine::rateLineResult(LineOperation operation, QStringView line, QString &out) const
{
    out = line.toString();
    if (operation == &SubEngine::fpsChangeFunction) {
        out = frameRateLine(line, fpsChange.to);
        return RateLine::Rewritten;
    }
    // Only frame-based lines have a place for it.
    if (operation == &SubEngine::convertFunction && convert.format != FrameBased)
        return RateLine::LeftOut;
    return RateLine::Kept;
}
