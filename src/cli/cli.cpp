#include "cli/arguments.h"
#include "cli/check.h"
#include "cli/cli.h"
#include "cli/recover.h"
#include "cli/say.h"
#include "cli/streamrewrite.h"
#include "cli/subripimport.h"
#include "cli/utf8reencoder.h"

#include "engine/subengine.h"
#include "engine/walksummary.h"
#include "files/filenames.h"
#include "files/filereading.h"
#include "files/filesaving.h"
#include "files/savingformat.h"
#include "files/subtitledocument.h"
#include "files/textcodec.h"
#include "formats/subrip.h"
#include "formats/twothreads.h"

#include <QBuffer>
#include <QFileInfo>
#include <QIODevice>
#include <QList>

#include <memory>
#include <optional>
#include <vector>

namespace {

// `name` with its extension replaced by `suffix` (".srt").
QString besideName(const QString &name, const QString &suffix)
{
    const qsizetype slash = name.lastIndexOf(u'/');
    const qsizetype dot = name.lastIndexOf(u'.');
    return (dot > slash + 1 ? name.first(dot) : name) + suffix;
}

// Encodes two pieces of a text on two threads; false when either cannot
// be encoded (encoding the whole then names the place).
bool encodePieces(const QStringList &pieces, const FileFormat &format, QByteArray &result)
{
    FileFormat rest = format;
    rest.bom = false;
    QByteArray second;
    bool firstOk = false, secondOk = false;
    runHalves(2, [&](int half) {
        if (half == 0)
            firstOk = encodeSubtitleText(pieces[0], format, result, nullptr);
        else
            secondOk = encodeSubtitleText(pieces[1], rest, second, nullptr);
    });
    if (!firstOk || !secondOk)
        return false;
    result += second;
    return true;
}

// "NAME: 12 cues; ..." when something was left out, dropped or clamped.
void reportCues(QIODevice &err, const QString &input, const CueReport &report)
{
    if (report.notSubtitles || report.clampedTimes || report.droppedCodes || report.emptyRows)
        err.write(QStringLiteral("tarnlyx-cli: %1: %2\n").arg(shownName(input), describeCueReport(report)).toLocal8Bit());
}

// SubRip or WebVTT by a short road, written as it is made: UTF-8, or
// another encoding made from it a line at a time.
struct StreamedCues
{
    SubtitleText file; // the text the cues are read from, if decoded
    CueStream cues;
    QByteArray before; // a byte-order mark
    QByteArray after;  // a line end after the last cue
    CueReport report;
    QString encoding;  // to write in, where not UTF-8

    // False with the reason in `why`, or leaving it empty when the device
    // failed (it says why).
    bool write(QIODevice &device, QString *why)
    {
        std::optional<Utf8Reencoder> reencoder;
        if (!encoding.isEmpty())
            reencoder.emplace(encoding, device);
        auto put = [&](QByteArrayView bytes) {
            return reencoder ? reencoder->write(bytes) : device.write(bytes.data(), bytes.size()) == bytes.size();
        };
        if (put(before) && cues.write(put, report) && put(after) && (!reencoder || reencoder->finish()))
            return true;
        if (reencoder && writeFailure(device) == 0)
            *why = reencoder->error();
        return false;
    }
};

// SubRip or WebVTT in UTF-8 by the short roads: from the bytes of a one-byte
// encoding as they are, else from the text, written as UTF-8 straight
// away. False when neither can (the long road then says why).
bool cuesAsUtf8(const SubEngine &engine, CueStyle style, const Options &options, QByteArrayView bytes,
                StreamedCues &result, const std::function<void(qsizetype)> &release)
{
    qsizetype start = 0;
    const FileFormat source = detectFormat(bytes, options.encoding, &start, nullptr);
    const QByteArrayView content = bytes.sliced(start);
    // The file's own line ends, as a save would write them.
    bool crlf = options.lineEnds ? *options.lineEnds == LineEnds::CRLF : source.firstLineEnd == LineEnds::CRLF;
    bool finalLineEnd = source.finalLineEnd;
    if (!result.cues.read(content, source.encoding, engine.fps, style, crlf)) {
        result.file = decodeSubtitleBytes(bytes, options.encoding, release);
        crlf = options.lineEnds ? *options.lineEnds == LineEnds::CRLF
                                : result.file.format.writtenLineEnds() == LineEnds::CRLF;
        finalLineEnd = result.file.format.finalLineEnd;
        if (!result.cues.read(result.file.text, engine.fps, style, crlf))
            return false;
    }
    // A line end after the last line is a blank line after the last cue, so
    // that the way back gives it again.
    if (finalLineEnd && result.cues.cues() > 0)
        result.after = crlf ? "\r\n" : "\n";
    if (options.bom)
        result.before = "\xEF\xBB\xBF";
    return true;
}

// SubRip and WebVTT out: streamed where it can be, else the whole text at
// once. False, with the message said, on failure.
bool rewriteWhole(SubEngine &engine, int target, const Options &options, const QString &input, QByteArrayView bytes,
                  QByteArrayList &result, std::unique_ptr<StreamedCues> &streamed, QString &targetName, QIODevice &err,
                  const std::function<void(qsizetype)> &release)
{
    const CueStyle style = target == ToSubRip ? CueStyle::SubRip : CueStyle::WebVtt;
    if (target == ToWebVtt && !options.outputEncoding.isEmpty() && options.outputEncoding != u"UTF-8") {
        err.write("tarnlyx-cli: --output-encoding: a WebVTT file is always UTF-8\n");
        return false;
    }
    streamed = std::make_unique<StreamedCues>();
    if (options.outputEncoding != u"UTF-8")
        streamed->encoding = options.outputEncoding;
    if (cuesAsUtf8(engine, style, options, bytes, *streamed, release))
        return true;
    streamed.reset();
    // What the short roads cannot write: the long road says why.
    const SubtitleText file = decodeSubtitleBytes(bytes, options.encoding, release);
    QString text;
    CueReport report;
    QString error;
    const QStringList pieces = exportCuePieces(file.text, engine.fps, style, report);
    // Cues end their lines with CR LF or LF only.
    FileFormat format = SubtitleDocument::cueFileFormat(file.format, report.cues);
    if (!options.outputEncoding.isEmpty()) {
        format.encoding = options.outputEncoding;
        format.bom = false;
    }
    if (options.bom)
        format.bom = true;
    if (options.lineEnds)
        format.lineEnds = *options.lineEnds;
    if (target == ToWebVtt && format.encoding != u"UTF-8") {
        err.write("tarnlyx-cli: --output-encoding: a WebVTT file is always UTF-8\n");
        return false;
    }
    if (format.bom && !format.encoding.startsWith(u"UTF")) {
        err.write(QStringLiteral("tarnlyx-cli: --bom: %1 has no byte-order mark\n").arg(format.encoding).toLocal8Bit());
        return false;
    }
    QByteArray encodedBytes;
    const bool encoded = pieces.size() == 2 && encodePieces(pieces, format, encodedBytes);
    if (!encoded && !pieces.isEmpty())
        text = pieces.join(QString());
    if (!encoded && !encodeSubtitleText(text, format, encodedBytes, &error)) {
        err.write(QStringLiteral("tarnlyx-cli: %1\n").arg(FileError(FileError::Write, targetName, error).message()).toLocal8Bit());
        return false;
    }
    result = {encodedBytes};
    reportCues(err, input, report);
    return true;
}

// "NAME: ENCODING, LINE ENDS, N lines: F frame-based, B bracket-time, C
// clock-time, O other"
QByteArray describeFile(const QString &name, const SubtitleText &file)
{
    static const char *const ends[] = {"LF", "CRLF", "mixed", "CR"};
    qsizetype counts[5] = {}; // other, the four formats
    SubEngine engine;
    qsizetype lines = 0;
    for (const QStringView line : QStringView(file.text).tokenize(u'\n')) {
        if (file.text.isEmpty())
            break;
        ++lines;
        int format = NoFormat;
        double show, hide;
        QString text;
        if (line.isEmpty() || !engine.getline(line, format, show, hide, text))
            format = NoFormat;
        ++counts[format];
    }
    const qsizetype firstEnd = file.text.indexOf(u'\n');
    const double rate = lines == 0 ? 0.0 : frameRateHeader(QStringView(file.text).first(firstEnd < 0 ? file.text.size() : firstEnd));
    return QStringLiteral("%1: %2, %3, %4 lines: %5 frame-based, %6 bracket-time, %7 clock-time, %8 other%9\n")
            .arg(shownName(name), describeFormat(file.format), QLatin1String(ends[int(file.format.lineEnds)]))
            .arg(lines)
            .arg(counts[FrameBased])
            .arg(counts[BracketTime])
            .arg(counts[ClockTwoDigitHours] + counts[ClockOneDigitHour])
            .arg(counts[NoFormat])
            .arg(rate > 0.0 ? QStringLiteral(", frame rate %1 (first line)").arg(QString::number(rate, 'g', 10))
                            : QString())
            .toUtf8();
}

// Beside the one for a line, which this would hide.
using ::say;

void say(QIODevice &device, const FileError &error)
{
    say(device, error.message());
    for (const QString &line : error.alongsideMessages())
        say(device, line);
}

// What the tool is doing, and to which file: what too little memory stopped.
struct Progress
{
    QString file;
    QString doing = QStringLiteral("read");
};

// The inputs read so far: a file's bytes stay mapped until its result
// takes its place.
using InputFiles = std::vector<std::unique_ptr<FileBytes>>;

// Reads INPUT ("-": standard input, into `standardInput`) into `bytes`;
// false, said on `err`, where it cannot be read.
bool readInput(const QString &input, QIODevice &in, QIODevice &err, InputFiles &files, QByteArray &standardInput,
               QByteArrayView &bytes)
{
    FileError error;
    if (input == u"-") {
        if (!readAllCapped(in, standardInput, &error)) {
            say(err, QStringLiteral("cannot read the standard input: %1").arg(error.reason()));
            return false;
        }
        bytes = standardInput;
        return true;
    }
    files.push_back(std::make_unique<FileBytes>());
    if (!files.back()->load(input, &error)) {
        say(err, error);
        return false;
    }
    bytes = files.back()->bytes();
    return true;
}

// What is done to one input, and where its result goes.
struct FilePlan
{
    SubEngine engine;
    int convertTo = 0;
    bool cuesOut = false;  // SubRip or WebVTT out
    bool subRipIn = false; // a SubRip file into a line format
    QString target;        // "-": standard output
    bool beside = false;   // -i, but another file than the input
};

// Plans what becomes of INPUT; false, said on `err`, where it cannot be
// done. `targets` holds the results' files so far.
bool planFile(const Options &options, const SubEngine &settings, const QString &input, QByteArrayView bytes,
              QStringList &targets, QIODevice &err, FilePlan &plan)
{
    // One rate for everything done to a file: the one asked for, else
    // the one it names, else 25.
    SubEngine &engine = plan.engine;
    engine = settings;
    if (!options.fpsGiven) {
        if (const double rate = headerRate(bytes, options.encoding); rate > 0.0)
            engine.fps = rate;
    }
    if (!options.fromGiven)
        engine.fpsChange.from = engine.fps;
    const int convertTo = plan.convertTo = options.mode == ModeConvert ? engine.convert.format : 0;
    const bool cuesOut = plan.cuesOut = convertTo == ToSubRip || convertTo == ToWebVtt;
    // Only the first lines tell a SubRip file.
    const bool subRipIn = plan.subRipIn = looksLikeSubRip(
            decodeSubtitleBytes(bytes.first(std::min<qsizetype>(bytes.size(), 4096)), options.encoding).text);
    if (subRipIn && (options.mode != ModeConvert || cuesOut)) {
        say(err, FileError(FileError::Read, input,
                           options.mode == ModeConvert ? FileError::SubRipAlready : FileError::SubRipToConvert));
        return false;
    }
    QString &target = plan.target;
    target = options.inPlace ? input : options.output.value_or(QStringLiteral("-"));
    if (options.inPlace && (cuesOut || subRipIn)) {
        // Another kind of file goes beside the source, never over it.
        target = besideName(input, cuesOut ? (convertTo == ToSubRip ? QStringLiteral(".srt") : QStringLiteral(".vtt"))
                                           : QStringLiteral(".sub"));
        if (target == input) {
            say(err, FileError(FileError::Write, target, FileError::BeingConverted));
            return false;
        }
    }
    if (target != u"-") {
        // movie.sub and movie.srt with -i: two results for one movie.sub.
        const QString absolute = QFileInfo(target).absoluteFilePath();
        if (targets.contains(absolute)) {
            say(err, FileError(FileError::Write, target, FileError::ResultTwice));
            return false;
        }
        targets << absolute;
    }
    // Another file of the result's name is replaced only when asked.
    const bool beside = plan.beside = options.inPlace && target != input;
    if (beside && !options.force && (QFileInfo(target).exists() || QFileInfo(target).isSymLink())) {
        say(err, FileError(FileError::Exists, target, 0));
        return false;
    }
    // A mark asked for in the file's own encoding, which may have none.
    if (options.bom && options.outputEncoding.isEmpty() && !cuesOut) {
        qsizetype start = 0;
        const QString own = detectFormat(bytes, options.encoding, &start, nullptr).encoding;
        if (!own.startsWith(u"UTF")) {
            say(err, QStringLiteral("--bom: %1 has no byte-order mark").arg(own));
            return false;
        }
    }
    return true;
}

// Writes the result of `plan` for INPUT to `device`: cues made as they are
// written, SubRip turned into lines, a whole text made before, or lines
// rewritten as they are read. False, said on `err`, where it fails.
bool writeResult(FilePlan &plan, const Options &options, const QString &input, QByteArrayView bytes,
                 StreamedCues *streamed, const QByteArrayList &converted, QIODevice &device, QIODevice &err)
{
    const SubEngine &engine = plan.engine;
    const QString &target = plan.target;
    SubEngine::WalkCounts walk; // SubRip in and cues out count nothing
    const OutputChoice choice{options.outputEncoding, options.bom, options.lineEnds};
    if (streamed) {
        if (QString why; !streamed->write(device, &why)) {
            say(err, writeFailure(device, target, why.isEmpty() ? device.errorString() : why));
            return false;
        }
        reportCues(err, input, streamed->report);
    } else if (plan.subRipIn) {
        CueReport report;
        FileError readError(FileError::Read, input, 0);
        QString why;
        if (!importSubRipBytes(bytes, options.encoding, engine.convert.format, engine.fps, choice, device, report,
                               &readError, &why)) {
            say(err, readError.because == FileError::NoReason ? writeFailure(device, target, why) : readError);
            return false;
        }
        reportCues(err, input, report);
    } else if (plan.cuesOut) {
        for (const QByteArray &piece : converted) {
            if (device.write(piece) != piece.size()) {
                say(err, writeFailure(device, target, device.errorString()));
                return false;
            }
        }
    } else if (QString why; !rewriteSubtitleBytes(engine, options.mode, bytes, device, &why, &walk, 0, options.encoding,
                                                           choice)) {
        say(err, writeFailure(device, target, why));
        return false;
    }
    // Such lines are left as they were; the rest of the file is done.
    if (const qsizetype unwritten = walk.unwritten) {
        say(err, QStringLiteral("%1: %2 could not be written in clock-time")
                         .arg(shownName(input), unwritten == 1 ? QStringLiteral("1 line")
                                                               : QStringLiteral("%1 lines").arg(unwritten)));
    }
    if (walk.rateLine == SubEngine::RateLine::LeftOut)
        say(err, QStringLiteral("%1: %2").arg(shownName(input), rateLineNote(walk)));
    return true;
}

// Every result goes to a temporary file, and only once all inputs were
// read and rewritten do the files take their place: an error leaves
// every file as it was. Standard output gets the result only then, too.
struct Results
{
    FileSetWriter writer;
    QBuffer standardOutput;
    InputFiles files; // checked once all are rewritten
    QStringList targets;
};

// Reads and rewrites one INPUT into `results`; false, said on `err`, where
// it fails.
bool rewriteFile(const Options &options, const SubEngine &settings, const QString &input, QIODevice &in,
                 QIODevice &err, Results &results, Progress &progress)
{
    progress = {input, QStringLiteral("read")};
    InputFiles &files = results.files;
    QByteArray standardInput;
    QByteArrayView bytes;
    if (!readInput(input, in, err, files, standardInput, bytes))
        return false;
    // What a whole-text road has read of a file it need not keep.
    const auto release = [&files, mapped = input != u"-"](qsizetype end) {
        if (mapped)
            files.back()->release(end);
    };
    if (!options.encoding.isEmpty()) {
        FileError notice;
        qsizetype start = 0;
        if (detectFormat(bytes, options.encoding, &start, notice).encoding != options.encoding) {
            notice.path = input;
            say(err, notice);
            return false;
        }
    }
    if (options.mode == ModeInfo) {
        results.standardOutput.write(describeFile(input, decodeSubtitleBytes(bytes, options.encoding, release)));
        return true;
    }
    FilePlan plan;
    if (!planFile(options, settings, input, bytes, results.targets, err, plan))
        return false;
    progress.doing = QStringLiteral("rewrite");
    QString &target = plan.target; // a whole-text road may name another
    QByteArrayList converted;
    std::unique_ptr<StreamedCues> streamed; // cues made as they are written
    if (plan.cuesOut
        && !rewriteWhole(plan.engine, plan.convertTo, options, input, bytes, converted, streamed, target, err, release))
        return false;
    // Rewritten in place, the file must still be the one read when the
    // result takes its place, and unchanged since; a new file of another
    // name is made only where the name is still free.
    FileStamp readFrom;
    const bool overInput = options.inPlace && target == input && input != u"-";
    if (overInput)
        readFrom = files.back()->stamp();
    FileError error;
    QIODevice *device = target == u"-" ? &results.standardOutput
                                       : results.writer.open(target, &error,
                                                             overInput || (plan.beside && !options.force) ? &readFrom : nullptr);
    if (!device) {
        say(err, error);
        return false;
    }
    if (!writeResult(plan, options, input, bytes, streamed.get(), converted, *device, err))
        return false;
    if (input != u"-" && files.back()->changedWhileRead()) {
        say(err, FileError(FileError::Read, input, FileError::ChangedWhileRead));
        return false;
    }
    return true;
}

int rewriteFiles(const QStringList &args, QIODevice &in, QIODevice &out, QIODevice &err, Progress &progress)
{
    if (args.value(0) == u"recover")
        return runRecover(args.mid(1), out, err);
    if (isCheckCommand(args))
        return runCheck(args, in, out, err);
    SubEngine settings;
    Options options;
    try {
        options = parseArguments(args, settings);
        if (options.help) {
            out.write(usageText());
            return 0;
        }
        if (options.showVersion) {
            out.write(version);
            return 0;
        }
        checkCombination(options);
    } catch (const UsageError &error) {
        say(err, error.message);
        return 2;
    }
    warnUnfinishedSaves(err);

    Results results;
    results.standardOutput.open(QIODevice::WriteOnly);
    for (const QString &input : std::as_const(options.inputs)) {
        if (!rewriteFile(options, settings, input, in, err, results, progress))
            return 1;
    }
    FileError error;
    progress = {options.inputs.value(options.inputs.size() - 1), QStringLiteral("write")};
    if (!results.writer.commit(&error)) {
        say(err, error);
        return 1;
    }
    const QByteArray &result = results.standardOutput.data();
    if (out.write(result) != result.size()) {
        say(err, QStringLiteral("cannot write the standard output: %1").arg(out.errorString()));
        return 1;
    }
    return 0;
}

} // namespace

int runCli(const QStringList &args, QIODevice &in, QIODevice &out, QIODevice &err)
{
    // Too little memory anywhere stops the run with words, not an abort;
    // whatever was begun is undone as it unwinds, so no file is changed.
    Progress progress;
    try {
        return rewriteFiles(args, in, out, err, progress);
    } catch (const std::bad_alloc &) {
        say(err, FileError(FileError::NoMemory, progress.file, progress.doing));
        return 1;
    }
}
