// Frame-based {start}{end}text and bracket-time [start][end]text lines.
// The two share one layout and differ only in their bracket characters.
#include "formats/bracketlayout.h"
#include "formats/lineformat.h"
#include "formats/numbers.h"

bool splitBracketLine(QStringView line, char16_t open, char16_t close, BracketParts &parts)
{
    const qsizetype n = line.size();
    if (n == 0) {
        parts = {};
        return true;
    }
    if (line[0] != open || n < 2 || line[1] == close)
        return false;
    const qsizetype c1 = line.indexOf(QChar(close), 1);
    if (c1 < 0 || c1 + 1 >= n || line[c1 + 1] != open || c1 + 2 >= n)
        return false;
    const qsizetype c2 = line.indexOf(QChar(close), c1 + 2);
    if (c2 < 0)
        return false;
    parts.start = line.sliced(1, c1 - 1);
    parts.end = line.sliced(c1 + 2, c2 - c1 - 2);
    parts.text = line.sliced(c2 + 1);
    return true;
}

void writeBracketLine(int start, int end, QStringView text, char16_t open, char16_t close,
                      QString &out)
{
    out.clear();
    out.reserve(text.size() + 24);
    out.append(QChar(open));
    appendInt(out, start);
    out.append(QChar(close));
    out.append(QChar(open));
    if (end != 0)
        appendInt(out, end);
    out.append(QChar(close));
    out.append(text);
}

namespace {
enum class Piece { Start, End, Text };

int takePiece(QStringView line, char16_t open, char16_t close, Piece piece, QString &out)
{
    BracketParts parts;
    if (!splitBracketLine(line, open, close, parts)) {
        out.clear();
        return 1;
    }
    switch (piece) {
    case Piece::Start: out = parts.start.toString(); break;
    case Piece::End: out = parts.end.toString(); break;
    case Piece::Text: out = parts.text.toString(); break;
    }
    return 1;
}
} // namespace

int _isFRMlinecorrect(QStringView line)
{
    BracketParts parts;
    return splitBracketLine(line, u'{', u'}', parts) ? 1 : 0;
}

int _getstartfrm(QStringView line, QString &out)
{
    return takePiece(line, u'{', u'}', Piece::Start, out);
}

int _getendfrm(QStringView line, QString &out)
{
    return takePiece(line, u'{', u'}', Piece::End, out);
}

int _getfrmtext(QStringView line, QString &out)
{
    return takePiece(line, u'{', u'}', Piece::Text, out);
}

int _putfrmline(int start, int end, QStringView text, QString &out)
{
    writeBracketLine(start, end, text, u'{', u'}', out);
    return 1;
}

int _isMPLlinecorrect(QStringView line)
{
    BracketParts parts;
    return splitBracketLine(line, u'[', u']', parts) ? 1 : 0;
}

int _getstartMPL(QStringView line, QString &out)
{
    return takePiece(line, u'[', u']', Piece::Start, out);
}

int _getendMPL(QStringView line, QString &out)
{
    return takePiece(line, u'[', u']', Piece::End, out);
}

int _getMPLtext(QStringView line, QString &out)
{
    return takePiece(line, u'[', u']', Piece::Text, out);
}

int _putMPLline(int start, int end, QStringView text, QString &out)
{
    writeBracketLine(start, end, text, u'[', u']', out);
    return 1;
}
