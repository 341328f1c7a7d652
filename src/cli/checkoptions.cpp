#include "cli/checkoptions.h"

#include "engine/fieldranges.h"
#include "files/filenames.h"
#include "files/filereading.h"
#include "files/textcodec.h"

#include <algorithm>

namespace {

struct UsageError
{
    QString message;
};

// What the kind `info` reports at `limit`: "shown less than 833 ms".
QString ruleText(const CheckKindInfo &info, double limit)
{
    const QString rule = QString::fromLatin1(info.rule);
    return info.limitName ? rule.arg(limitText(limit)) : rule;
}

} // namespace

QString checkUsage()
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

namespace {

class Parser
{
public:
    explicit Parser(const QStringList &args) : m_args(args) {}

    CheckOptions parse()
    {
        CheckOptions o;
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
    void option(CheckOptions &o, bool &onlyInputs)
    {
        CheckKind kind;
        const QStringView name = QStringView(m_name).sliced(std::min<qsizetype>(2, m_name.size()));
        if (m_name == u"--") {
            onlyInputs = true;
        } else if (m_name == u"-h" || m_name == u"--help") {
            o.help = true;
        } else if (m_name == u"--fps") {
            const QString text = value();
            bool ok = false;
            const double fps = text.toDouble(&ok);
            if (!ok || !(fps >= Fields::frameRate.low && fps <= Fields::frameRate.high))
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
            if (RuleProblem problem; !rulesFromText(read.text, o.rules, &problem))
                throw UsageError{QStringLiteral("%1: %2").arg(shownName(file), ruleError(file, problem).reason())};
        } else if (m_name.startsWith(u"--no-") && kindNamed(name.sliced(3), kind)) {
            o.rules.on[size_t(kind)] = false;
        } else if (m_name.startsWith(u"--") && kindNamed(name, kind)) {
            o.rules.on[size_t(kind)] = true;
        } else if (m_name.startsWith(u"--") && kindNamed(name, kind, true)) {
            if (RuleProblem problem; !setRule(o.rules, name, value(), &problem))
                throw UsageError{QStringLiteral("--") + ruleError(QString(), problem).reason()};
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

} // namespace

bool readCheckOptions(const QStringList &args, CheckOptions &options, QString *error)
{
    try {
        options = Parser(args).parse();
        if (options.help)
            return true;
        if (options.fix != options.inPlace)
            throw UsageError{options.fix ? QStringLiteral("--fix needs -i: the fixed files are written back")
                                         : QStringLiteral("-i goes with --fix")};
        if (options.inputs.isEmpty() && (options.saveRules.isEmpty() || options.fix))
            options.inputs << QStringLiteral("-");
        if (options.fix && options.inputs.contains(QStringLiteral("-")))
            throw UsageError{QStringLiteral("--fix -i needs input files, not standard input")};
        if (options.inputs.count(QStringLiteral("-")) > 1)
            throw UsageError{QStringLiteral("standard input can be read only once")};
    } catch (const UsageError &usage) {
        *error = usage.message;
        return false;
    }
    return true;
}
