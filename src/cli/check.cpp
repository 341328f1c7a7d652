#include "cli/check.h"
#include "cli/recover.h"

#include "engine/checks.h"
#include "files/filenames.h"
#include "files/filereading.h"
#include "files/filesaving.h"
#include "files/textcodec.h"
#include "formats/twothreads.h"

#include <QFileDevice>
#include <QFileInfo>
#include <QIODevice>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace {

struct UsageError
{
    QString message;
};

struct Options
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

// What the kind `info` reports at `limit`: "shown less than 833 ms".
QString ruleText(const CheckKindInfo &info, double limit)
{
    const QString rule = QString::fromLatin1(info.rule);
    return info.limitName ? rule.arg(limitText(limit)) : rule;
}

QString usage()
{
    QString text = QStringLiteral(
            "Usage: tarnlyx-cli check [RULE OPTIONS] [--fps F] [--encoding NAME]\n"
            "                         [--format text|json] [FILE...]\n"
            "       tarnlyx-cli check [RULE OPTIONS] --fix -i FILE...\n"
            "       tarnlyx-cli check [RULE OPTIONS] --save-rules FILE\n"
            "\n"
            "Checks subtitle files before they ship and prints one line per problem,\n"
            "FILE:LINE: KIND: DETAIL, as compilers do. FILE \"-\" or none reads standard\n"
            "input. Lines that are not subtitles and a first line {1}{1}RATE are never\n"
            "reported. A subtitle without a hide time stays for the display time SubRip\n"
            "export gives it. Characters are counted as a viewer reads them: brace\n"
            "codes, the row separator | and a bracket-time row's leading / left out.\n"
            "\n"
            "Kinds, and what each reports by default:\n");
    auto row = [&text](const QString &left, const QString &right) {
        text += QStringLiteral("  %1 %2\n").arg(left, -19).arg(right);
    };
    for (const CheckKindInfo &info : checkKinds())
        row(QLatin1String(info.word), ruleText(info, info.defaultLimit));
    text += QStringLiteral("\nRule options, taken in order:\n");
    row(QStringLiteral("--no-KIND"), QStringLiteral("leave out a kind; --KIND looks for it again"));
    for (const CheckKindInfo &info : checkKinds()) {
        if (info.limitName) {
            row(QStringLiteral("--%1 N").arg(QLatin1String(info.limitName)),
                QStringLiteral("the limit of %1, %2 to %3")
                        .arg(QLatin1String(info.word), limitText(info.lowest), limitText(info.highest)));
        }
    }
    row(QStringLiteral("--rules FILE"), QStringLiteral("take the rules a rule file sets"));
    row(QStringLiteral("--save-rules FILE"), QStringLiteral("write the rules to a rule file"));
    text += QStringLiteral(
            "\n"
            "Options:\n"
            "  --fps F             frame rate of frame numbers, 0.1 to 200 (default: the\n"
            "                      rate a first line {1}{1}RATE names, else 25)\n"
            "  --encoding NAME     read the files in encoding NAME (default: detected)\n"
            "  --format text|json  one line per problem (default), or one JSON object\n"
            "  --fix               move hide times to mend overlaps, short gaps and too\n"
            "                      short subtitles (as far as the room before the next\n"
            "                      allows); show times never move. Needs -i\n"
            "  -i, --in-place      write the fixed files back, all or none\n"
            "  -h, --help          show this help\n"
            "\n"
            "Exit status: 0 no problem found, 1 problems found (after --fix: left),\n"
            "2 bad usage or a file that could not be read or written.\n");
    return text;
}

class Parser
{
public:
    explicit Parser(const QStringList &args) : m_args(args) {}

    Options parse()
    {
        Options o;
        bool onlyInputs = false, sawWord = false;
        for (m_pos = 0; m_pos < m_args.size(); ++m_pos) {
            const QString &arg = m_args[m_pos];
            if (onlyInputs || arg == u"-" || !arg.startsWith(u'-')) {
                if (!sawWord && !onlyInputs && arg == u"check")
                    sawWord = true;
                else
                    o.inputs << arg;
                continue;
            }
            const qsizetype eq = arg.startsWith(u"--") ? arg.indexOf(u'=') : -1;
            m_name = eq < 0 ? arg : arg.first(eq);
            m_inline = eq < 0 ? std::nullopt : std::optional<QString>(arg.mid(eq + 1));
            m_used = false;
            option(o, onlyInputs);
            if (m_inline && !m_used)
                throw UsageError{QStringLiteral("%1 takes no value").arg(m_name)};
        }
        return o;
    }

private:
    void option(Options &o, bool &onlyInputs)
    {
        CheckKind kind;
        const QStringView name = QStringView(m_name).sliced(std::min<qsizetype>(2, m_name.size()));
        QString error;
        if (m_name == u"--") {
            onlyInputs = true;
        } else if (m_name == u"-h" || m_name == u"--help") {
            o.help = true;
        } else if (m_name == u"--fps") {
            const QString text = value();
            bool ok = false;
            const double fps = text.toDouble(&ok);
            if (!ok || !(fps >= 0.1 && fps <= 200.0))
                throw UsageError{QStringLiteral("--fps: \"%1\" is not a frame rate from 0.1 to 200").arg(text)};
            o.fps = fps;
        } else if (m_name == u"--encoding") {
            const QString text = value();
            o.encoding = canonicalEncoding(text);
            if (o.encoding.isEmpty())
                throw UsageError{QStringLiteral("--encoding: \"%1\" is not an encoding this system knows").arg(text)};
        } else if (m_name == u"--format") {
            const QString text = value();
            if (text != u"text" && text != u"json")
                throw UsageError{QStringLiteral("--format: \"%1\" is neither text nor json").arg(text)};
            o.json = text == u"json";
        } else if (m_name == u"--fix") {
            o.fix = true;
        } else if (m_name == u"-i" || m_name == u"--in-place") {
            o.inPlace = true;
        } else if (m_name == u"--save-rules") {
            o.saveRules = value();
        } else if (m_name == u"--rules") {
            const QString file = value();
            SubtitleText read;
            FileError readError;
            if (!readSubtitleFile(file, read, &readError))
                throw UsageError{readError.message()};
            if (!rulesFromText(read.text, o.rules, &error))
                throw UsageError{QStringLiteral("%1: %2").arg(shownName(file), error)};
        } else if (m_name.startsWith(u"--no-") && kindNamed(name.sliced(3), kind)) {
            o.rules.on[size_t(kind)] = false;
        } else if (m_name.startsWith(u"--") && kindNamed(name, kind)) {
            o.rules.on[size_t(kind)] = true;
        } else if (m_name.startsWith(u"--") && kindNamed(name, kind, true)) {
            if (!setRule(o.rules, name, value(), &error))
                throw UsageError{QStringLiteral("--") + error};
        } else {
            throw UsageError{QStringLiteral("%1: not an option of check").arg(m_name)};
        }
    }

    // The option's value: after "=", or the next argument.
    QString value()
    {
        m_used = true;
        if (m_inline)
            return *m_inline;
        if (m_pos + 1 >= m_args.size())
            throw UsageError{QStringLiteral("%1 needs a value").arg(m_name)};
        return m_args[++m_pos];
    }

    const QStringList &m_args;
    qsizetype m_pos = 0;
    QString m_name;
    std::optional<QString> m_inline;
    bool m_used = false;
};

void say(QIODevice &err, const QString &line)
{
    err.write(QStringLiteral("tarnlyx-cli: %1\n").arg(line).toUtf8());
}

void appendJsonString(QByteArray &out, QStringView s)
{
    out += '"';
    qsizetype from = 0;
    for (qsizetype i = 0; i < s.size(); ++i) {
        const char16_t c = s[i].unicode();
        if (c >= 0x20 && c != u'"' && c != u'\\')
            continue;
        out += s.sliced(from, i - from).toUtf8();
        if (c == u'"' || c == u'\\') {
            out += '\\';
            out += char(c);
        } else {
            out += QByteArray("\\u00") + QByteArray::number(c, 16).rightJustified(2, '0');
        }
        from = i + 1;
    }
    out += s.sliced(from).toUtf8();
    out += '"';
}

// The lines of one piece of a file: its bytes decoded (as
// decodeSubtitleBytes() would make them), or a text. An object serves
// next() or at(), not both.
class PieceLines
{
public:
    // `asBytes`: a one-byte encoding read one character a byte (as
    // Latin-1), for next() where that tells the checks the same.
    PieceLines(QByteArrayView bytes, const QString &encoding, char separator, bool asBytes = false)
        : m_bytes(bytes), m_codec(encoding, asBytes), m_separator(separator), m_decoding(true)
    {
    }
    explicit PieceLines(QStringView text) : m_text(text), m_codec(QString(), false) {}

    // The next line, which stays valid until the next is asked for; false
    // after the last. Bytes are decoded many lines at a time.
    bool next(QStringView &line)
    {
        if (!m_decoding)
            return nextOf(m_text, m_pos, u'\n', false, line);
        if (m_at < 0) {
            if (m_pos < 0)
                return false;
            // Up to a line end some way on: few calls, and little memory.
            constexpr qsizetype chunk = 1 << 16;
            const qsizetype cut = m_bytes.size() - m_pos > chunk ? m_bytes.indexOf(m_separator, m_pos + chunk) : -1;
            m_codec.decode(m_bytes.sliced(m_pos, (cut < 0 ? m_bytes.size() : cut) - m_pos), m_buffer);
            m_cutAtLineEnd = cut >= 0;
            m_pos = cut < 0 ? -1 : cut + 1;
            m_at = 0;
        }
        ++m_line;
        return nextOf(m_buffer, m_at, m_separator, m_cutAtLineEnd, line);
    }
    qsizetype linesGiven() const { return m_line + 1; }

    // Line `number` of the piece, at or after the last one given; the lines
    // before it are passed over without being decoded.
    QStringView at(qsizetype number)
    {
        for (; m_line + 1 < number && m_pos >= 0; ++m_line) {
            const qsizetype end = m_decoding ? m_bytes.indexOf(m_separator, m_pos) : m_text.indexOf(u'\n', m_pos);
            m_pos = end < 0 ? -1 : end + 1;
        }
        if (m_line == number || m_pos < 0)
            return m_current;
        ++m_line;
        if (!m_decoding) {
            nextOf(m_text, m_pos, u'\n', false, m_current);
            return m_current;
        }
        const qsizetype end = m_bytes.indexOf(m_separator, m_pos);
        QByteArrayView raw = m_bytes.sliced(m_pos, (end < 0 ? m_bytes.size() : end) - m_pos);
        if (m_separator == '\n' && end >= 0 && raw.endsWith('\r'))
            raw.chop(1);
        m_pos = end < 0 ? -1 : end + 1;
        m_codec.decode(raw, m_buffer);
        return m_current = m_buffer;
    }

private:
    // The line of `text` from `from` on, `from` moved past it (-1 after the
    // last); a CR before an LF belongs to the line end, as does one at the
    // end of a text that was `cut` at an LF.
    static bool nextOf(QStringView text, qsizetype &from, char16_t separator, bool cut, QStringView &line)
    {
        if (from < 0)
            return false;
        const qsizetype end = text.indexOf(QChar(separator), from);
        line = text.sliced(from, (end < 0 ? text.size() : end) - from);
        if (separator == u'\n' && (end >= 0 || cut) && line.endsWith(u'\r'))
            line.chop(1);
        from = end < 0 ? -1 : end + 1;
        return true;
    }

    QByteArrayView m_bytes;
    QStringView m_text;
    LineCodec m_codec;
    char m_separator = '\n';
    bool m_decoding = false;
    qsizetype m_pos = 0; // where the next line (or lines to decode) start; -1 after the last
    qsizetype m_line = -1;
    QString m_buffer;
    qsizetype m_at = -1;  // next(): where the next line starts in m_buffer; -1 when all are given
    bool m_cutAtLineEnd = false;
    QStringView m_current; // at(): the line given last
};

// One file, as it is checked and printed.
struct Checked
{
    QString name; // as shown
    double fps = 25.0;
    // The file's lines in pieces: its bytes (at most two pieces of whole
    // lines, read on two threads), or its text once fixed.
    QString encoding;
    bool readAsBytes = false; // see checkedAlike()
    char separator = '\n';
    std::vector<QByteArrayView> bytePieces;
    qsizetype secondPieceLine = 0; // the line the second piece starts at
    QString text;
    std::vector<CheckProblem> problems;
    FixCounts fixes;

    qsizetype pieceCount() const { return text.isNull() ? qsizetype(bytePieces.size()) : 1; }
    // To read for the checks, or (`shown`) for what is printed.
    PieceLines lines(qsizetype piece, bool shown) const
    {
        return text.isNull() ? PieceLines(bytePieces[size_t(piece)], encoding, separator, readAsBytes && !shown)
                             : PieceLines(text);
    }
};

// Whether the checks find the same in `encoding`'s bytes read one
// character a byte (as Latin-1, which is much faster) as in its letters:
// as many characters, and blank where the letters are.
bool checkedAlike(const QString &encoding)
{
    QByteArray upper(128, '\0');
    for (int i = 0; i < 128; ++i)
        upper[i] = char(0x80 + i);
    QString letters, bytes;
    LineCodec(encoding, false).decode(upper, letters);
    LineCodec(encoding, true).decode(upper, bytes);
    if (letters.size() != bytes.size())
        return false;
    for (qsizetype i = 0; i < letters.size(); ++i) {
        if (blankToViewer(letters[i]) != blankToViewer(bytes[i]))
            return false;
    }
    return true;
}

// Cuts a file's bytes into pieces of whole lines to read as
// decodeSubtitleBytes() reads them; false for files whose lines cannot be
// cut at a byte (UTF-16, UTF-32).
bool cutIntoLines(QByteArrayView bytes, const QString &encoding, Checked &file)
{
    qsizetype start = 0;
    const FileFormat format = detectFormat(bytes, encoding, &start, nullptr);
    if (!LineCodec(format.encoding, false).asciiCompatible())
        return false;
    file.encoding = format.encoding;
    file.readAsBytes = checkedAlike(format.encoding);
    file.separator = format.lineEnds == LineEnds::CR ? '\r' : '\n';
    QByteArrayView body = bytes.sliced(start);
    // A line end after the last line ends it; it starts none.
    if (body.endsWith(file.separator))
        body.chop(file.separator == '\n' && body.endsWith("\r\n") ? 2 : 1);
    const qsizetype cut = body.size() >= CheckList::piecesFrom ? body.indexOf(file.separator, body.size() / 2) : -1;
    if (cut < 0) {
        file.bytePieces = {body};
    } else {
        QByteArrayView first = body.first(cut);
        if (file.separator == '\n' && first.endsWith('\r'))
            first.chop(1);
        file.bytePieces = {first, body.sliced(cut + 1)};
    }
    return true;
}

using Write = std::function<void(const QByteArray &bytes)>;

// Cheaper than a string of its own for each of many lines.
void appendNumber(QByteArray &out, qsizetype number)
{
    char digits[24];
    int at = 24;
    do {
        digits[--at] = char('0' + number % 10);
        number /= 10;
    } while (number > 0);
    out.append(digits + at, 24 - at);
}

// `text` in UTF-8; most details are ASCII, which needs no conversion.
void appendUtf8(QByteArray &out, QStringView text)
{
    const qsizetype at = out.size();
    out.resize(at + text.size());
    char *to = out.data() + at;
    for (const QChar c : text) {
        if (c.unicode() >= 0x80) {
            out.truncate(at);
            out += text.toUtf8();
            return;
        }
        *to++ = char(c.unicode());
    }
}

// Prints problems [begin, end) of `file`, all on lines of piece `piece`,
// which starts at line `firstLine`, in the form asked for, and hands them
// to `write` a part at a time; `first`: the file's first problem is among
// them.
void print(const Checked &file, qsizetype piece, std::vector<CheckProblem>::const_iterator begin,
           std::vector<CheckProblem>::const_iterator end, qsizetype firstLine, bool first, const Options &options,
           const Write &write)
{
    const QByteArray name = file.name.toUtf8() + ':';
    QByteArray kinds[checkKindCount]; // ": KIND: " for each
    for (const CheckKindInfo &info : checkKinds())
        kinds[int(info.kind)] = QByteArray(": ") + info.word + ": ";
    QString detail;
    QByteArray out;
    SubEngine engine;
    engine.fps = file.fps;
    PieceLines lines = file.lines(piece, true);
    for (auto p = begin; p != end; ++p) {
        // The line itself is wanted only for a code it holds, or for JSON.
        const QStringView text = options.json || p->kind == CheckKind::UnknownCode ? lines.at(p->line - firstLine)
                                                                                  : QStringView();
        detail.resize(0);
        appendProblemDetail(detail, *p, text, options.rules);
        if (!options.json) {
            out += name;
            appendNumber(out, p->line + 1);
            out += kinds[int(p->kind)];
            appendUtf8(out, detail);
            out += '\n';
        } else {
            int format;
            double show, hide;
            QStringView part;
            engine.readLine(text, format, show, hide, part);
            out += first && p == begin ? "{\"line\": " : ", {\"line\": ";
            appendNumber(out, p->line + 1);
            out += ", \"kind\": \"";
            out += kindInfo(p->kind).word;
            out += "\", \"detail\": ";
            appendJsonString(out, detail);
            out += ", \"text\": ";
            appendJsonString(out, part);
            out += '}';
        }
        // A part at a time, which keeps the buffer small.
        if (out.size() > (1 << 16)) {
            write(out);
            out.resize(0);
        }
    }
    write(out);
}

// Hands the problems of `file`, printed, to `write`; a file in two pieces
// is printed on two threads, the first written as it is made.
void printTo(const Checked &file, const Options &options, const Write &write)
{
    const auto begin = file.problems.cbegin(), end = file.problems.cend();
    if (file.pieceCount() == 1) {
        print(file, 0, begin, end, 0, true, options, write);
        return;
    }
    const auto middle = std::lower_bound(begin, end, file.secondPieceLine,
                                         [](const CheckProblem &p, qsizetype line) { return p.line < line; });
    QByteArray second;
    second.reserve((end - middle) * 48);
    runHalves(2, [&](int half) {
        if (half == 0)
            print(file, 0, begin, middle, 0, true, options, write);
        else
            print(file, 1, middle, end, file.secondPieceLine, middle == begin, options,
                  [&second](const QByteArray &bytes) { second += bytes; });
    });
    write(second);
}

// The rate a first line names ({1}{1}23.976), else 25; the first
// kilobytes hold it in any encoding.
double rateOf(QByteArrayView bytes, const QString &encoding)
{
    const QString start = decodeSubtitleBytes(bytes.first(std::min<qsizetype>(bytes.size(), 4096)), encoding).text;
    const qsizetype end = start.indexOf(u'\n');
    const double rate = frameRateHeader(QStringView(start).first(end < 0 ? start.size() : end));
    return rate > 0.0 ? rate : 25.0;
}

// Moves the hide times of the file read as `bytes`, and hands what a save
// writes to `writer`, to be put in place with the others; the text moves
// into `file`. False, with the reason said, when it cannot be written.
bool fixInPlace(const QString &input, QByteArrayView bytes, const FileStamp &readFrom, const Options &options,
                FileSetWriter &writer, Checked &file, QIODevice &err)
{
    SubtitleText whole = decodeSubtitleBytes(bytes, options.encoding);
    const QList<TextEdit> edits = hideTimeFixes(whole.text, options.rules, file.fps, file.fixes);
    file.text = edits.isEmpty() ? whole.text : withEdits(whole.text, edits);
    if (edits.isEmpty())
        return true;
    QByteArray encoded;
    QString why;
    if (!encodeSubtitleText(file.text, whole.format, encoded, &why)) {
        say(err, FileError(FileError::Write, input, why).message());
        return false;
    }
    FileError error;
    QIODevice *device = writer.open(input, &error, &readFrom);
    if (!device) {
        say(err, error.message());
        return false;
    }
    if (device->write(encoded) != encoded.size()) {
        say(err, FileError(FileError::Write, input, writeFailure(*device), device->errorString()).message());
        return false;
    }
    return true;
}

// The problems of `file`, its text or its bytes' pieces (about `size`
// bytes) read on as many threads.
void check(Checked &file, const CheckRules &rules, qsizetype size)
{
    CheckList list(rules, file.fps);
    if (!file.text.isNull()) {
        list.reset(file.text);
    } else {
        std::vector<PieceLines> pieces;
        pieces.reserve(size_t(file.pieceCount()));
        std::vector<CheckList::LineSource> sources;
        for (qsizetype i = 0; i < file.pieceCount(); ++i)
            pieces.push_back(file.lines(i, false));
        for (PieceLines &piece : pieces)
            sources.push_back([&piece](QStringView &line) { return piece.next(line); });
        list.reset(sources, size / 40);
        file.secondPieceLine = pieces[0].linesGiven();
    }
    file.problems = list.takeProblems();
}

} // namespace

bool isCheckCommand(const QStringList &args)
{
    qsizetype i = 0;
    while (i < args.size() && (args[i] == u"--fps" || args[i] == u"--encoding"))
        i += 2;
    while (i < args.size() && (args[i].startsWith(u"--fps=") || args[i].startsWith(u"--encoding=")))
        ++i;
    return i < args.size() && args[i] == u"check";
}

int runCheck(const QStringList &args, QIODevice &in, QIODevice &out, QIODevice &err)
{
    Options options;
    try {
        options = Parser(args).parse();
        if (options.help) {
            out.write(usage().toUtf8());
            return 0;
        }
        if (options.fix != options.inPlace)
            throw UsageError{options.fix ? QStringLiteral("--fix needs -i: the fixed files are written back")
                                         : QStringLiteral("-i goes with --fix")};
        if (options.inputs.isEmpty() && (options.saveRules.isEmpty() || options.fix))
            options.inputs << QStringLiteral("-");
        if (options.fix && options.inputs.contains(QStringLiteral("-")))
            throw UsageError{QStringLiteral("--fix -i needs input files, not standard input")};
        if (options.inputs.count(QStringLiteral("-")) > 1)
            throw UsageError{QStringLiteral("standard input can be read only once")};
    } catch (const UsageError &error) {
        say(err, error.message);
        return 2;
    }
    warnUnfinishedSaves(err);
    if (!options.saveRules.isEmpty()) {
        FileError error;
        if (!writeSubtitleFile(options.saveRules, rulesToText(options.rules).toUtf8(), &error)) {
            say(err, error.message());
            return 2;
        }
    }

    FileSetWriter writer;
    std::vector<Checked> results;
    QStringList fixing; // the files --fix -i writes, by their whole names
    // What was read stays until the problems are printed from it.
    QByteArray standardInput;
    std::vector<std::unique_ptr<FileBytes>> read;
    for (const QString &input : std::as_const(options.inputs)) {
        FileError error;
        QByteArrayView bytes;
        read.push_back(std::make_unique<FileBytes>());
        if (input == u"-") {
            if (!readAllCapped(in, standardInput, &error)) {
                say(err, QStringLiteral("cannot read the standard input: %1").arg(error.reason()));
                return 2;
            }
            bytes = standardInput;
        } else if (!read.back()->load(input, &error)) {
            say(err, error.message());
            return 2;
        } else {
            bytes = read.back()->bytes();
        }
        if (!options.encoding.isEmpty()) {
            QString notice;
            qsizetype start = 0;
            if (detectFormat(bytes, options.encoding, &start, &notice).encoding != options.encoding) {
                say(err, FileError(FileError::Read, input, notice).message());
                return 2;
            }
        }
        Checked checked;
        checked.name = input == u"-" ? input : shownName(input);
        checked.fps = options.fps ? *options.fps : rateOf(bytes, options.encoding);
        if (options.fix) {
            const QString whole = QFileInfo(input).absoluteFilePath();
            if (fixing.contains(whole)) {
                say(err, FileError(FileError::Write, input, QStringLiteral("it is named twice")).message());
                return 2;
            }
            fixing << whole;
            if (!fixInPlace(input, bytes, read.back()->stamp(), options, writer, checked, err))
                return 2;
        } else if (!cutIntoLines(bytes, options.encoding, checked)) {
            checked.text = decodeSubtitleBytes(bytes, options.encoding).text;
        }
        if (input != u"-" && read.back()->changedWhileRead()) {
            say(err, FileError(FileError::Read, input, QStringLiteral("another program changed it while it was read")).message());
            return 2;
        }
        check(checked, options.rules, bytes.size());
        results.push_back(std::move(checked));
    }
    FileError error;
    if (!writer.commit(&error)) {
        say(err, error.message());
        return 2;
    }

    bool found = false;
    bool written = true;
    auto write = [&](const QByteArray &bytes) { written = written && out.write(bytes) == bytes.size(); };
    if (options.json)
        write("{\"files\": [");
    for (size_t i = 0; i < results.size(); ++i) {
        const Checked &file = results[i];
        found = found || !file.problems.empty();
        if (options.fix && file.fixes.moved > 0)
            say(err, QStringLiteral("%1: %2").arg(file.name, describeFixes(file.fixes)));
        if (options.json) {
            QByteArray head = i == 0 ? "{\"file\": " : ", {\"file\": ";
            appendJsonString(head, file.name);
            if (options.fix)
                head += ", \"moved\": " + QByteArray::number(file.fixes.moved);
            write(head + ", \"problems\": [");
        }
        printTo(file, options, write);
        if (options.json)
            write("]}");
    }
    if (options.json)
        write("]}\n");
    // Standard output is buffered: a full disk shows only here.
    if (auto *file = qobject_cast<QFileDevice *>(&out))
        written = written && file->flush();
    if (!written) {
        say(err, QStringLiteral("cannot write the standard output: %1").arg(out.errorString()));
        return 2;
    }
    return found ? 1 : 0;
}
