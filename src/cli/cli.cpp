#include "cli/check.h"
#include "cli/cli.h"
#include "cli/recover.h"

#include "editor/piecehandover.h"
#include "editor/subengine.h"
#include "editor/walksummary.h"
#include "files/filenames.h"
#include "files/filereading.h"
#include "files/filesaving.h"
#include "files/savingformat.h"
#include "files/streamrewrite.h"
#include "files/subtitledocument.h"
#include "files/textcodec.h"
#include "formats/subrip.h"

#include <QBuffer>
#include <QFileInfo>
#include <QIODevice>
#include <QList>

#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace {

const char version[] = "tarnlyx-cli 0.1\n";

const char usage[] = R"(Usage: tarnlyx-cli [--fps F] [--encoding NAME] [--output-encoding NAME [--bom]]
                   [--crlf | --lf] OPERATION [OPTIONS] [INPUT...] [-o OUTPUT | -i [--force]]
       tarnlyx-cli [--encoding NAME] info [INPUT...]
       tarnlyx-cli recover [--restore FILE | --discard FILE]
       tarnlyx-cli check [RULE OPTIONS] [FILE...]   (tarnlyx-cli check --help)

Runs one of the editor's whole-file operations on subtitle files. Lines that
are not subtitles pass through untouched. INPUT "-" or none reads standard
input; the result goes to standard output, to OUTPUT with -o, or back into
each INPUT with -i (several INPUTs only with -i).

Operations:
  convert   --to FORMAT      hh:mm:ss (1), h:mm:ss (2), frames (3), tenths (4);
                             default frames; or srt (SubRip), vtt (WebVTT).
                             A SubRip INPUT is converted into the line format
                             (srt and vtt: UTF-8 unless --output-encoding;
                             -i writes NAME.srt, NAME.vtt or NAME.sub beside
                             NAME, never over it)
  shift     --seconds S      seconds to add, negative for earlier (default 0)
            --no-show        leave the show times alone
            --no-hide        leave the hide times alone
  showtime  --seconds S      display time (default 3.0); with the length rule,
                             seconds per 50 characters on top of 2 seconds
            --write-empty    empty every hide time
            --only-empty     change only subtitles without a hide time
            --fixed          the same display time for every subtitle
            --no-block       let a hide time pass the next subtitle's show time
  fps       --from A --to B  frame rates to read and write frame numbers with
                             (default: the file's rate, as --fps says, and 29);
                             a first line {1}{1}RATE is given the new rate
  correct   --[no-]double-spaces  --[no-]end-spaces  --[no-]digit-spaces
            --[no-]color  --[no-]sustain  --[no-]punctuation  --[no-]dashes
            default: all on except digit-spaces and color
  info                       print each file's encoding, line ends and how
                             many lines of each format it has
  check                      report overlaps, short gaps, reading speeds and
                             more, one line per problem; exit status 1 when
                             something is found (see tarnlyx-cli check --help)
  recover                    list the saves over a file that did not finish
                             (each is named at every run until settled):
            --restore FILE   put back FILE's content from before that save (into
                             a new FILE.before-save where FILE was written
                             to since: never over newer work)
            --discard FILE   keep FILE as it is and drop the old content

Options:
  --fps F          frame rate of frame numbers (default: the rate a first
                   line {1}{1}RATE names, else 25). That line is no
                   subtitle: only fps and a conversion change it (one into
                   tenths or a clock leaves it out, and says so)
  --encoding NAME  read and write the files in encoding NAME ("bytes": one
                   byte per character); by default it is detected, and each
                   file is written back in its own encoding
  --output-encoding NAME  write in encoding NAME (by default the input's own)
  --bom            write a byte-order mark (UTF encodings only)
  --crlf, --lf     end lines with CR LF, or with LF
  -o, --output F   write the result to F
  -i, --in-place   write each result back into its INPUT
  --force          with -i, replace a NAME.srt, NAME.vtt or NAME.sub that
                   exists already (else it is an error)
  -h, --help       show this help
  --version        show the version

Ranges: frame rates 0.1 to 200, shift -99999999 to 99999999, display time
0.1 to 100.

Examples:
  tarnlyx-cli convert --to tenths movie.sub -o movie.txt
  tarnlyx-cli convert --to srt -i movie.sub        (writes movie.srt)
  tarnlyx-cli --output-encoding windows-1250 --crlf correct -i movie.sub
  tarnlyx-cli --fps 23.976 shift --seconds -2.5 --no-hide -i movie.sub
  tarnlyx-cli showtime --seconds 2 --only-empty < in.sub > out.sub
  tarnlyx-cli fps --from 25 --to 23.976 -i part1.sub part2.sub
  tarnlyx-cli correct --color --no-sustain movie.sub -o fixed.sub

Exit status: 0 done, 1 a file could not be read or written, 2 bad usage.
)";

struct UsageError
{
    QString message;
};

// Not an operation of the editor: the report of `info`.
constexpr int ModeInfo = 100;

// Conversion targets beside the line formats.
constexpr int ToSubRip = 101;
constexpr int ToWebVtt = 102;

struct Options
{
    int mode = 0;
    QString encoding;
    QStringList inputs;
    std::optional<QString> output;
    bool inPlace = false;
    bool force = false;    // -i may replace another file of the result's name
    bool fpsGiven = false; // else a file's own {1}{1}RATE first line names it
    bool fromGiven = false; // else fps reads frame numbers at the file's rate
    bool help = false;
    bool showVersion = false;
    // What the output is written in, where it differs from the input.
    QString outputEncoding;
    bool bom = false;
    std::optional<LineEnds> lineEnds;
};

double parseNumber(const QString &option, const QString &text, double low, double high)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok)
        throw UsageError{QStringLiteral("%1: \"%2\" is not a number").arg(option, text)};
    if (!(value >= low && value <= high))
        throw UsageError{QStringLiteral("%1: %2 is outside %3 to %4")
                                 .arg(option, text, QString::number(low, 'g', 10),
                                      QString::number(high, 'g', 10))};
    return value;
}

int parseFormat(const QString &text)
{
    static const QList<QPair<QString, int>> names = {
        {QStringLiteral("hh:mm:ss"), ClockTwoDigitHours}, {QStringLiteral("1"), ClockTwoDigitHours},
        {QStringLiteral("h:mm:ss"), ClockOneDigitHour},   {QStringLiteral("2"), ClockOneDigitHour},
        {QStringLiteral("frames"), FrameBased},           {QStringLiteral("3"), FrameBased},
        {QStringLiteral("tenths"), BracketTime},          {QStringLiteral("4"), BracketTime},
        {QStringLiteral("srt"), ToSubRip},                {QStringLiteral("vtt"), ToWebVtt},
    };
    for (const auto &name : names) {
        if (name.first == text)
            return name.second;
    }
    throw UsageError{QStringLiteral(
                             "--to: \"%1\" is not a format (hh:mm:ss, h:mm:ss, frames, tenths, srt, vtt)")
                             .arg(text)};
}

const QList<QPair<QString, int>> &operations()
{
    static const QList<QPair<QString, int>> list = {
        {QStringLiteral("convert"), ModeConvert}, {QStringLiteral("shift"), ModeShift},
        {QStringLiteral("showtime"), ModeShowTime}, {QStringLiteral("fps"), ModeFpsChange},
        {QStringLiteral("correct"), ModeCorrect}, {QStringLiteral("info"), ModeInfo},
    };
    return list;
}

// The correction switches, each with a --no- form.
const QList<QPair<QString, bool SubEngine::*>> &correctionSwitches()
{
    static const QList<QPair<QString, bool SubEngine::*>> list = {
        {QStringLiteral("double-spaces"), &SubEngine::delDoubleSpaces},
        {QStringLiteral("end-spaces"), &SubEngine::delEndSpaces},
        {QStringLiteral("digit-spaces"), &SubEngine::delDigitSpaces},
        {QStringLiteral("color"), &SubEngine::delColor},
        {QStringLiteral("sustain"), &SubEngine::sustainTime},
        {QStringLiteral("punctuation"), &SubEngine::fixPunctuation},
        {QStringLiteral("dashes"), &SubEngine::fixDashes},
    };
    return list;
}

class ArgumentParser
{
public:
    ArgumentParser(const QStringList &args, SubEngine &engine) : m_args(args), m_engine(engine) {}

    Options parse()
    {
        Options options;
        bool onlyInputs = false;
        for (m_pos = 0; m_pos < m_args.size(); ++m_pos) {
            const QString arg = m_args[m_pos];
            if (onlyInputs || arg == u"-" || !arg.startsWith(u'-')) {
                if (options.mode == 0 && !onlyInputs)
                    options.mode = operationMode(arg);
                else
                    options.inputs << arg;
                continue;
            }
            splitOption(arg);
            if (m_name == u"--") {
                onlyInputs = true;
            } else if (m_name == u"-h" || m_name == u"--help") {
                options.help = true;
            } else if (m_name == u"--version") {
                options.showVersion = true;
            } else if (m_name == u"--fps") {
                m_engine.fps = parseNumber(m_name, value(), 0.1, 200.0);
                options.fpsGiven = true;
            } else if (m_name == u"--encoding") {
                const QString name = value();
                options.encoding = canonicalEncoding(name);
                if (options.encoding.isEmpty())
                    throw UsageError{QStringLiteral("--encoding: \"%1\" is not an encoding this system knows").arg(name)};
            } else if (m_name == u"--output-encoding") {
                const QString name = value();
                options.outputEncoding = canonicalEncoding(name);
                if (options.outputEncoding.isEmpty() || options.outputEncoding == u"bytes")
                    throw UsageError{QStringLiteral("--output-encoding: \"%1\" is not an encoding this system knows").arg(name)};
            } else if (m_name == u"--bom") {
                options.bom = true;
            } else if (m_name == u"--crlf" || m_name == u"--lf") {
                const LineEnds ends = m_name == u"--crlf" ? LineEnds::CRLF : LineEnds::LF;
                if (options.lineEnds && *options.lineEnds != ends)
                    throw UsageError{QStringLiteral("--crlf and --lf cannot be used together")};
                options.lineEnds = ends;
            } else if (m_name == u"-o" || m_name == u"--output") {
                options.output = value();
            } else if (m_name == u"-i" || m_name == u"--in-place") {
                options.inPlace = true;
            } else if (m_name == u"--force") {
                options.force = true;
            } else if (!operationOption(options.mode)) {
                throw UsageError{options.mode == 0
                                         ? QStringLiteral("%1: unknown option").arg(m_name)
                                         : QStringLiteral("%1: not an option of %2")
                                                   .arg(m_name, operationName(options.mode))};
            } else if (options.mode == ModeFpsChange && m_name == u"--from") {
                options.fromGiven = true;
            }
            if (m_inlineValue && !m_valueUsed)
                throw UsageError{QStringLiteral("%1 takes no value").arg(m_name)};
        }
        return options;
    }

private:
    static int operationMode(const QString &name)
    {
        for (const auto &op : operations()) {
            if (op.first == name)
                return op.second;
        }
        throw UsageError{QStringLiteral(
                                 "\"%1\" is not an operation (convert, shift, showtime, fps, "
                                 "correct, info, check)")
                                 .arg(name)};
    }

    static QString operationName(int mode)
    {
        for (const auto &op : operations()) {
            if (op.second == mode)
                return op.first;
        }
        return QString();
    }

    void splitOption(const QString &arg)
    {
        const qsizetype eq = arg.startsWith(u"--") ? arg.indexOf(u'=') : -1;
        m_name = eq < 0 ? arg : arg.first(eq);
        m_inlineValue = eq >= 0 ? std::optional<QString>(arg.mid(eq + 1)) : std::nullopt;
        m_valueUsed = false;
    }

    // The option's value: after "=", or the next argument, whatever it
    // starts with (so "--seconds -2" works).
    QString value()
    {
        m_valueUsed = true;
        if (m_inlineValue)
            return *m_inlineValue;
        if (m_pos + 1 >= m_args.size())
            throw UsageError{QStringLiteral("%1 needs a value").arg(m_name)};
        return m_args[++m_pos];
    }

    // Takes the current option when it belongs to operation `mode`.
    bool operationOption(int mode)
    {
        SubEngine &e = m_engine;
        auto is = [this](const char *name) { return m_name == QLatin1String(name); };
        auto number = [this](double low, double high) {
            return parseNumber(m_name, value(), low, high);
        };
        switch (mode) {
        case ModeConvert:
            if (!is("--to"))
                return false;
            e.convertFormat = parseFormat(value());
            return true;
        case ModeShift:
            if (is("--seconds"))
                e.shiftSeconds = number(-99999999.0, 99999999.0);
            else if (is("--no-show"))
                e.shiftStart = false;
            else if (is("--no-hide"))
                e.shiftEnd = false;
            else
                return false;
            return true;
        case ModeShowTime:
            if (is("--seconds"))
                e.showSeconds = number(0.1, 100.0);
            else if (is("--write-empty"))
                e.writeEmptyEnd = true;
            else if (is("--only-empty"))
                e.onlyEmptyEnd = true;
            else if (is("--fixed"))
                e.lengthDependent = false;
            else if (is("--no-block"))
                e.blockTooLong = false;
            else
                return false;
            return true;
        case ModeFpsChange:
            if (is("--from"))
                e.fpsFrom = number(0.1, 200.0);
            else if (is("--to"))
                e.fpsTo = number(0.1, 200.0);
            else
                return false;
            return true;
        case ModeCorrect:
            for (const auto &option : correctionSwitches()) {
                if (m_name == QStringLiteral("--") + option.first)
                    e.*option.second = true;
                else if (m_name == QStringLiteral("--no-") + option.first)
                    e.*option.second = false;
                else
                    continue;
                return true;
            }
            return false;
        default:
            return false;
        }
    }

    const QStringList &m_args;
    SubEngine &m_engine;
    qsizetype m_pos = 0;
    QString m_name;
    std::optional<QString> m_inlineValue;
    bool m_valueUsed = false;
};

void checkCombination(Options &options)
{
    if (options.mode == 0)
        throw UsageError{QStringLiteral("no operation given (see --help)")};
    if (options.mode == ModeInfo && (!options.outputEncoding.isEmpty() || options.bom || options.lineEnds))
        throw UsageError{QStringLiteral("info writes no file")};
    if (options.inputs.isEmpty())
        options.inputs << QStringLiteral("-");
    if (options.inPlace && options.output)
        throw UsageError{QStringLiteral("-o and -i cannot be used together")};
    if (options.force && !options.inPlace)
        throw UsageError{QStringLiteral("--force goes with -i")};
    if (options.inPlace && options.inputs.contains(QStringLiteral("-")))
        throw UsageError{QStringLiteral("-i needs input files, not standard input")};
    if (options.mode == ModeInfo && (options.inPlace || options.output))
        throw UsageError{QStringLiteral("info writes to the standard output only")};
    if (options.inputs.size() > 1 && !options.inPlace && options.mode != ModeInfo)
        throw UsageError{QStringLiteral("several inputs need -i")};
    if (options.inputs.count(QStringLiteral("-")) > 1)
        throw UsageError{QStringLiteral("standard input can be read only once")};
    if (options.bom && !options.outputEncoding.isEmpty() && !options.outputEncoding.startsWith(u"UTF"))
        throw UsageError{QStringLiteral("--bom: %1 has no byte-order mark").arg(options.outputEncoding)};
}

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
    bool secondOk = false;
    HelperThread thread;
    const bool started = thread.start([&] { secondOk = encodeSubtitleText(pieces[1], rest, second, nullptr); });
    const bool firstOk = encodeSubtitleText(pieces[0], format, result, nullptr);
    if (!started)
        secondOk = encodeSubtitleText(pieces[1], rest, second, nullptr);
    thread.join();
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

// The rate a file names on its first line ({1}{1}23.976), or 0. The first
// kilobytes are enough to read it in any encoding.
double headerRate(QByteArrayView bytes, const QString &encoding)
{
    const QString start = decodeSubtitleBytes(bytes.first(qMin<qsizetype>(bytes.size(), 4096)), encoding).text;
    const qsizetype end = start.indexOf(u'\n');
    return frameRateHeader(QStringView(start).first(end < 0 ? start.size() : end));
}

void say(QIODevice &device, const QString &line)
{
    device.write(QStringLiteral("tarnlyx-cli: %1\n").arg(line).toLocal8Bit());
}

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

int rewriteFiles(const QStringList &args, QIODevice &in, QIODevice &out, QIODevice &err, Progress &progress)
{
    if (args.value(0) == u"recover")
        return runRecover(args.mid(1), out, err);
    if (isCheckCommand(args))
        return runCheck(args, in, out, err);
    SubEngine settings;
    Options options;
    try {
        options = ArgumentParser(args, settings).parse();
        if (options.help) {
            out.write(usage);
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

    // Every result goes to a temporary file, and only once all inputs were
    // read and rewritten do the files take their place: an error leaves
    // every file as it was. Standard output gets the result only then, too.
    FileSetWriter writer;
    QBuffer standardOutput;
    standardOutput.open(QIODevice::WriteOnly);
    std::vector<std::unique_ptr<FileBytes>> files; // checked once all are rewritten
    QStringList targets;
    for (const QString &input : std::as_const(options.inputs)) {
        progress = {input, QStringLiteral("read")};
        FileError error;
        QByteArray standardInput;
        QByteArrayView bytes;
        if (input == u"-") {
            if (!readAllCapped(in, standardInput, &error)) {
                say(err, QStringLiteral("cannot read the standard input: %1").arg(error.reason()));
                return 1;
            }
            bytes = standardInput;
        } else {
            files.push_back(std::make_unique<FileBytes>());
            if (!files.back()->load(input, &error)) {
                say(err, error);
                return 1;
            }
            bytes = files.back()->bytes();
        }
        // What a whole-text road has read of a file it need not keep.
        const auto release = [&files, mapped = input != u"-"](qsizetype end) {
            if (mapped)
                files.back()->release(end);
        };
        if (!options.encoding.isEmpty()) {
            QString notice;
            qsizetype start = 0;
            if (detectFormat(bytes, options.encoding, &start, &notice).encoding != options.encoding) {
                say(err, FileError(FileError::Read, input, notice));
                return 1;
            }
        }
        if (options.mode == ModeInfo) {
            standardOutput.write(describeFile(input, decodeSubtitleBytes(bytes, options.encoding, release)));
            continue;
        }
        // One rate for everything done to a file: the one asked for, else
        // the one it names, else 25.
        SubEngine engine = settings;
        if (!options.fpsGiven) {
            if (const double rate = headerRate(bytes, options.encoding); rate > 0.0)
                engine.fps = rate;
        }
        if (!options.fromGiven)
            engine.fpsFrom = engine.fps;
        const int convertTo = options.mode == ModeConvert ? engine.convertFormat : 0;
        const bool cuesOut = convertTo == ToSubRip || convertTo == ToWebVtt;
        // Only the first lines tell a SubRip file.
        const bool subRipIn = looksLikeSubRip(
                decodeSubtitleBytes(bytes.first(std::min<qsizetype>(bytes.size(), 4096)), options.encoding).text);
        if (subRipIn && (options.mode != ModeConvert || cuesOut)) {
            say(err, FileError(FileError::Read, input,
                               options.mode == ModeConvert
                                       ? QStringLiteral("it is SubRip already")
                                       : QStringLiteral("it is a SubRip file: convert it into a line format first")));
            return 1;
        }
        QString target = options.inPlace ? input : options.output.value_or(QStringLiteral("-"));
        if (options.inPlace && (cuesOut || subRipIn)) {
            // Another kind of file goes beside the source, never over it.
            target = besideName(input, cuesOut ? (convertTo == ToSubRip ? QStringLiteral(".srt") : QStringLiteral(".vtt"))
                                               : QStringLiteral(".sub"));
            if (target == input) {
                say(err, FileError(FileError::Write, target, QStringLiteral("it is the file being converted")));
                return 1;
            }
        }
        if (target != u"-") {
            // movie.sub and movie.srt with -i: two results for one movie.sub.
            const QString absolute = QFileInfo(target).absoluteFilePath();
            if (targets.contains(absolute)) {
                say(err, FileError(FileError::Write, target, QStringLiteral("another INPUT's result goes there too")));
                return 1;
            }
            targets << absolute;
        }
        // Another file of the result's name is replaced only when asked.
        const bool beside = options.inPlace && target != input;
        if (beside && !options.force && (QFileInfo(target).exists() || QFileInfo(target).isSymLink())) {
            say(err, FileError(FileError::Exists, target, 0));
            return 1;
        }
        progress.doing = QStringLiteral("rewrite");
        const OutputChoice choice{options.outputEncoding, options.bom, options.lineEnds};
        // A mark asked for in the file's own encoding, which may have none.
        if (options.bom && options.outputEncoding.isEmpty() && !cuesOut) {
            qsizetype start = 0;
            const QString own = detectFormat(bytes, options.encoding, &start, nullptr).encoding;
            if (!own.startsWith(u"UTF")) {
                say(err, QStringLiteral("--bom: %1 has no byte-order mark").arg(own));
                return 1;
            }
        }
        const bool whole = cuesOut;
        QByteArrayList converted;
        std::unique_ptr<StreamedCues> streamed; // cues made as they are written
        if (whole && !rewriteWhole(engine, convertTo, options, input, bytes, converted, streamed, target, err, release))
            return 1;
        // Rewritten in place, the file must still be the one read when the
        // result takes its place, and unchanged since; a new file of another
        // name is made only where the name is still free.
        FileStamp readFrom;
        const bool overInput = options.inPlace && target == input && input != u"-";
        if (overInput)
            readFrom = files.back()->stamp();
        QIODevice *device = target == u"-" ? &standardOutput
                                           : writer.open(target, &error, overInput || (beside && !options.force) ? &readFrom : nullptr);
        if (!device) {
            say(err, error);
            return 1;
        }
        if (streamed) {
            if (QString why; !streamed->write(*device, &why)) {
                say(err, writeFailure(*device, target, why.isEmpty() ? device->errorString() : why));
                return 1;
            }
            reportCues(err, input, streamed->report);
        } else if (subRipIn) {
            CueReport report;
            QString readError, why;
            if (!importSubRipBytes(bytes, options.encoding, engine.convertFormat, engine.fps, choice, *device, report,
                                   &readError, &why)) {
                say(err, readError.isEmpty() ? writeFailure(*device, target, why) : FileError(FileError::Read, input, readError));
                return 1;
            }
            reportCues(err, input, report);
        } else if (whole) {
            for (const QByteArray &piece : std::as_const(converted)) {
                if (device->write(piece) != piece.size()) {
                    say(err, writeFailure(*device, target, device->errorString()));
                    return 1;
                }
            }
        } else if (QString why; !rewriteSubtitleBytes(engine, options.mode, bytes, *device, &why, 0, options.encoding, choice)) {
            say(err, writeFailure(*device, target, why));
            return 1;
        }
        // Such lines are left as they were; the rest of the file is done.
        if (const qsizetype unwritten = engine.lastWalk.unwritten) {
            say(err, QStringLiteral("%1: %2 could not be written in clock-time")
                             .arg(shownName(input), unwritten == 1 ? QStringLiteral("1 line")
                                                                   : QStringLiteral("%1 lines").arg(unwritten)));
        }
        if (engine.lastWalk.rateLine == SubEngine::RateLine::LeftOut)
            say(err, QStringLiteral("%1: %2").arg(shownName(input), rateLineNote(engine.lastWalk)));
        if (input != u"-" && files.back()->changedWhileRead()) {
            say(err, FileError(FileError::Read, input, QStringLiteral("another program changed it while it was read")));
            return 1;
        }
    }
    FileError error;
    progress = {options.inputs.value(options.inputs.size() - 1), QStringLiteral("write")};
    if (!writer.commit(&error)) {
        say(err, error);
        return 1;
    }
    const QByteArray &result = standardOutput.data();
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
