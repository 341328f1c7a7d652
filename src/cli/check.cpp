#include "cli/check.h"
#include "cli/checkoptions.h"
#include "cli/piecelines.h"
#include "cli/recover.h"
#include "cli/say.h"

#include "engine/checks.h"
#include "engine/fieldranges.h"
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
           std::vector<CheckProblem>::const_iterator end, qsizetype firstLine, bool first, const CheckOptions &options,
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
void printTo(const Checked &file, const CheckOptions &options, const Write &write)
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

// The rate a first line names ({1}{1}23.976), else 25.
double rateOf(QByteArrayView bytes, const QString &encoding)
{
    const double rate = headerRate(bytes, encoding);
    return rate > 0.0 ? rate : Fields::frameRate.byDefault;
}

// Moves the hide times of the file read as `bytes`, and hands what a save
// writes to `writer`, to be put in place with the others; the text moves
// into `file`. False, with the reason said, when it cannot be written.
bool fixInPlace(const QString &input, QByteArrayView bytes, const FileStamp &readFrom, const CheckOptions &options,
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


// What was read stays until the problems are printed from it.
struct ReadFiles
{
    QByteArray standardInput;
    std::vector<std::unique_ptr<FileBytes>> files;
};

// Reads `input` ("-": the standard input) into `read` and sets `bytes` to
// what it holds; false, with the reason said, when it cannot be read or
// is not in the encoding `encoding` (if any) names.
bool readInput(const QString &input, const QString &encoding, QIODevice &in, QIODevice &err, ReadFiles &read,
               QByteArrayView &bytes)
{
    FileError error;
    read.files.push_back(std::make_unique<FileBytes>());
    if (input == u"-") {
        if (!readAllCapped(in, read.standardInput, &error)) {
            say(err, QStringLiteral("cannot read the standard input: %1").arg(error.reason()));
            return false;
        }
        bytes = read.standardInput;
    } else if (!read.files.back()->load(input, &error)) {
        say(err, error.message());
        return false;
    } else {
        bytes = read.files.back()->bytes();
    }
    if (!encoding.isEmpty()) {
        FileError notice;
        qsizetype start = 0;
        if (detectFormat(bytes, encoding, &start, notice).encoding != encoding) {
            notice.path = input;
            say(err, notice.message());
            return false;
        }
    }
    return true;
}

// Reads and checks every input (with --fix, fixes them and puts them in
// place, all or none) into `results`; false, with the reason said, at
// the first file that cannot be read or written.
bool checkInputs(const CheckOptions &options, QIODevice &in, QIODevice &err, ReadFiles &read,
                 std::vector<Checked> &results)
{
    FileSetWriter writer;
    QStringList fixing; // the files --fix -i writes, by their whole names
    for (const QString &input : std::as_const(options.inputs)) {
        QByteArrayView bytes;
        if (!readInput(input, options.encoding, in, err, read, bytes))
            return false;
        Checked checked;
        checked.name = input == u"-" ? input : shownName(input);
        checked.fps = options.fps ? *options.fps : rateOf(bytes, options.encoding);
        if (options.fix) {
            const QString whole = QFileInfo(input).absoluteFilePath();
            if (fixing.contains(whole)) {
                say(err, FileError(FileError::Write, input, FileError::NamedTwice).message());
                return false;
            }
            fixing << whole;
            if (!fixInPlace(input, bytes, read.files.back()->stamp(), options, writer, checked, err))
                return false;
        } else if (!cutIntoLines(bytes, options.encoding, checked)) {
            checked.text = decodeSubtitleBytes(bytes, options.encoding).text;
        }
        if (input != u"-" && read.files.back()->changedWhileRead()) {
            say(err, FileError(FileError::Read, input, FileError::ChangedWhileRead).message());
            return false;
        }
        check(checked, options.rules, bytes.size());
        results.push_back(std::move(checked));
    }
    FileError error;
    if (!writer.commit(&error)) {
        say(err, error.message());
        return false;
    }
    return true;
}

// Prints the problems of `results` (and, after --fix, what moved) and
// gives the exit status.
int printResults(const std::vector<Checked> &results, const CheckOptions &options, QIODevice &out, QIODevice &err)
{
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
    CheckOptions options;
    QString why;
    if (!readCheckOptions(args, options, &why)) {
        say(err, why);
        return 2;
    }
    if (options.help) {
        out.write(checkUsage().toUtf8());
        return 0;
    }
    warnUnfinishedSaves(err);
    if (!options.saveRules.isEmpty()) {
        FileError error;
        if (!writeSubtitleFile(options.saveRules, rulesToText(options.rules).toUtf8(), &error)) {
            say(err, error.message());
            return 2;
        }
    }
    ReadFiles read;
    std::vector<Checked> results;
    if (!checkInputs(options, in, err, read, results))
        return 2;
    return printResults(results, options, out, err);
}
