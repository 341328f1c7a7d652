#include "cli/arguments.h"

#include "engine/correctionswitches.h"
#include "engine/fieldranges.h"
#include "engine/operations.h"

#include <QList>
#include <QPair>

namespace {

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
@CORRECT@
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

@RANGES@

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

// The editor's operations, then the tool's own report.
const QList<QPair<QString, int>> &operationWords()
{
    static const QList<QPair<QString, int>> list = [] {
        QList<QPair<QString, int>> words;
        for (const Operation &operation : operations)
            words.append({QLatin1String(operation.word), operation.mode});
        words.append({QStringLiteral("info"), ModeInfo});
        return words;
    }();
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
                m_engine.fps = parseNumber(m_name, value(), Fields::frameRate.low, Fields::frameRate.high);
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
        QStringList words;
        for (const auto &op : operationWords()) {
            if (op.first == name)
                return op.second;
            words += op.first;
        }
        words += QStringLiteral("check");
        throw UsageError{QStringLiteral("\"%1\" is not an operation (%2)").arg(name, words.join(QStringLiteral(", ")))};
    }

    static QString operationName(int mode)
    {
        for (const auto &op : operationWords()) {
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
        auto number = [this](const NumberField &field) {
            return parseNumber(m_name, value(), field.low, field.high);
        };
        switch (mode) {
        case ModeConvert:
            if (!is("--to"))
                return false;
            e.convert.format = parseFormat(value());
            return true;
        case ModeShift:
            if (is("--seconds"))
                e.shift.seconds = number(Fields::shiftSeconds);
            else if (is("--no-show"))
                e.shift.start = false;
            else if (is("--no-hide"))
                e.shift.end = false;
            else
                return false;
            return true;
        case ModeShowTime:
            if (is("--seconds"))
                e.showTime.seconds = number(Fields::displaySeconds);
            else if (is("--write-empty"))
                e.showTime.writeEmptyEnd = true;
            else if (is("--only-empty"))
                e.showTime.onlyEmptyEnd = true;
            else if (is("--fixed"))
                e.showTime.lengthDependent = false;
            else if (is("--no-block"))
                e.showTime.blockTooLong = false;
            else
                return false;
            return true;
        case ModeFpsChange:
            if (is("--from"))
                e.fpsChange.from = number(Fields::frameRate);
            else if (is("--to"))
                e.fpsChange.to = number(Fields::targetRate);
            else
                return false;
            return true;
        case ModeCorrect:
            for (const CorrectionSwitch &option : correctionSwitches) {
                if (m_name == QStringLiteral("--") + QLatin1String(option.name))
                    e.correction.*option.field = true;
                else if (m_name == QStringLiteral("--no-") + QLatin1String(option.name))
                    e.correction.*option.field = false;
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

} // namespace

namespace {

// The usage's line of the number fields' ranges, from their table: each
// field's words and its range, neither cut when the line is wrapped at 80
// columns.
QString rangesText()
{
    QStringList pieces{QStringLiteral("Ranges:")};
    QLatin1String named;
    for (const Fields::Named &field : Fields::all) {
        if (named == QLatin1String(field.words))
            continue;
        named = QLatin1String(field.words);
        if (pieces.size() > 1)
            pieces.last() += u',';
        pieces << named
               << QStringLiteral("%1 to %2").arg(QString::number(field.field.low, 'g', 10),
                                                 QString::number(field.field.high, 'g', 10));
    }
    pieces.last() += u'.';
    QString text = pieces.takeFirst();
    qsizetype lineStart = 0;
    for (const QString &piece : std::as_const(pieces)) {
        if (text.size() - lineStart + 1 + piece.size() > 80) {
            text += u'\n';
            lineStart = text.size();
        } else {
            text += u' ';
        }
        text += piece;
    }
    return text;
}

} // namespace

// The usage text, its correction switches from their table: each with a
// --no- form, as many to a line as fit in 80 columns, then the defaults.
QByteArray usageText()
{
    QString lines = QStringLiteral("  correct ");
    qsizetype lineStart = 0;
    for (const CorrectionSwitch &option : correctionSwitches) {
        const QString item = QStringLiteral("--[no-]") + QLatin1String(option.name);
        if (lines.size() - lineStart + 2 + item.size() > 80) {
            lines += QStringLiteral("\n");
            lineStart = lines.size();
            lines += QString(10, u' ');
        }
        lines += QStringLiteral("  ") + item;
    }
    QStringList off = switchNames(false);
    const QString last = off.isEmpty() ? QString() : off.takeLast();
    lines += QStringLiteral("\n            default: all on");
    if (!last.isEmpty())
        lines += QStringLiteral(" except ") + (off.isEmpty() ? last : off.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last);
    return QByteArray(usage).replace("@CORRECT@", lines.toUtf8()).replace("@RANGES@", rangesText().toUtf8());
}

Options parseArguments(const QStringList &args, SubEngine &settings)
{
    return ArgumentParser(args, settings).parse();
}

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
