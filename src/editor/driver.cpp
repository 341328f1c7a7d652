// The walk that runs one per-line operation over a whole text.
#include "editor/subengine.h"

#include <QDebug>

QString SubEngine::linesChange(QStringView text, int mode)
{
    using LineOperation = QString (SubEngine::*)(QStringView, QStringView);
    LineOperation operation = nullptr;
    switch (mode) {
    case ModeConvert: operation = &SubEngine::convertFunction; break;
    case ModeShift: operation = &SubEngine::shiftTimeFunction; break;
    case ModeShowTime: operation = &SubEngine::showTimeChangeFunction; break;
    case ModeFpsChange: operation = &SubEngine::fpsChangeFunction; break;
    case ModeCorrect: operation = &SubEngine::correctFunction; break;
    default: break;
    }

    // A newline at the very end starts no further line; an empty text is
    // one empty line.
    const QStringView body = text.endsWith(u'\n') ? text.chopped(1) : text;

    if (!operation) {
        const qsizetype lines = body.count(u'\n') + 1;
        for (qsizetype i = 0; i < lines; ++i)
            qDebug("ERROR: undefined modification called!");
        return text.toString();
    }

    qsizetype pos = 0;
    auto takeLine = [&body, &pos]() {
        const qsizetype newline = body.indexOf(u'\n', pos);
        QStringView line;
        if (newline < 0) {
            line = body.sliced(pos);
            pos = -1;
        } else {
            line = body.sliced(pos, newline - pos);
            pos = newline + 1;
        }
        return line;
    };

    // Each operation sees the line after it as it stood before the walk began.
    QString result;
    result.reserve(text.size() + text.size() / 8 + 16);
    QStringView line = takeLine();
    for (;;) {
        const bool last = pos < 0;
        const QStringView next = last ? QStringView(u"") : takeLine();
        result += (this->*operation)(line, next);
        if (last)
            break;
        result += u'\n';
        line = next;
    }
    return result;
}
