#include "cli/options.h"

#include <QCommandLineParser>
#include <QRegularExpression>

#include "link/comports.h"
#include "settings/settingtable.h"

namespace Kavoctl {

namespace {

struct CommandInfo {
    const char *name;
    const char *usage;     // after "kavoctl <name>"
    const char *summary;
};

const CommandInfo Commands[] = {
    {"ports", "[--json]", "Lists the COM ports, their devices and whether each can be used now; opens none of them."},
    {"info", "--port COMn[,COMn...] [options]", "Shows each module's version, bit rate, card capacity and free space."},
    {"read", "--port COMn[,COMn...] [-o FILE] [options]", "Reads the nine settings of each module as a settings file."},
    {"write", "--port COMn[,COMn...] [options] FILE",
     "Writes a settings file to each module (the bit rate last), then reads the settings back and compares."},
    {"play", "--port COMn[,COMn...] [--upload] [options]",
     "Plays the test file on each module; --upload sends it first when the card lacks it or holds a copy of another "
     "size."},
    {"upload", "--port COMn[,COMn...] [--as /NAME.MP3] [options] LOCALFILE", "Sends a local file to each module's card."},
};

const CommandInfo *findCommand(const QString &name)
{
    for (const CommandInfo &c : Commands)
        if (name == QLatin1String(c.name))
            return &c;
    return nullptr;
}

// A value the user gave, quoted in a message: cut short when it is long.
QString shown(const QString &value)
{
    return value.size() > 40 ? value.left(40) + QStringLiteral("...") : value;
}

Parsed usageError(const QString &text)
{
    Parsed p;
    p.exit = BadUsage;
    p.err = QStringLiteral("kavoctl: %1\nTry 'kavoctl --help'.\n").arg(text);
    return p;
}

// "COM3", "com3", a comma list of them: the COM names, each once, in order.
bool takePorts(const QStringList &values, QStringList *ports, QString *error)
{
    static const QRegularExpression form(QStringLiteral("^COM([1-9]|1[0-6])$"),
                                         QRegularExpression::CaseInsensitiveOption);
    for (const QString &value : values) {
        for (const QString &item : value.split(QLatin1Char(','))) {
            const QString name = item.trimmed();
            if (name.isEmpty())
                continue;
            const QRegularExpressionMatch match = form.match(name);
            if (!match.hasMatch()) {
                *error = QStringLiteral("'%1' is not a COM port (COM%2 to COM%3)")
                             .arg(shown(name))
                             .arg(ComPorts::FirstPort)
                             .arg(ComPorts::LastPort);
                return false;
            }
            const QString port = QStringLiteral("COM") + match.captured(1);
            if (!ports->contains(port))
                *ports << port;
        }
    }
    if (ports->isEmpty()) {
        *error = QStringLiteral("no port given (--port COMn)");
        return false;
    }
    return true;
}

// A card path the module's command line can carry: "/NAME.MP3", no blanks.
bool validCardPath(const QString &path)
{
    static const QRegularExpression form(QStringLiteral("^/[!-~]{1,63}$"));
    return form.match(path).hasMatch();
}

// Plain decimal digits without a sign or a leading zero.
bool plainNumber(const QString &text)
{
    static const QRegularExpression form(QStringLiteral("^[1-9][0-9]{0,8}$"));
    return form.match(text).hasMatch();
}

QString optionsText(bool onModules, const QString &command)
{
    QString text = QStringLiteral("Options:\n");
    const auto option = [&](const char *names, const char *what) {
        text += QStringLiteral("  %1\n      %2\n").arg(QLatin1String(names), QLatin1String(what));
    };
    if (onModules) {
        option("-p, --port COMn[,COMn...]",
               "The modules' COM ports, COM1 to COM16, as a comma list or the option given again. They are handled "
               "at once (see --jobs).");
        option("-r, --rate BPS|auto",
               "The modules' bit rate: 9600, 19200, 38400, 57600 or 115200; auto (the default) tries each in turn.");
        option("-j, --jobs N", "Handles at most N ports at once (1: one after another). Default: all at once.");
        option("-v, --verbose", "Shows every status text on standard error as it comes, naming its port.");
        option("--trace FILE",
               "Writes every line exchanged with the modules to FILE ('-': standard error), one per line: the time, the "
               "seconds since the port opened, the port, the bit rate, S sent / R received / D dropped / * the port's "
               "events, and the bytes with control characters escaped.");
    }
    option("--json", "Prints one JSON object per port (per COM number for ports) instead of text.");
    if (command == QLatin1String("read"))
        option("-o, --output FILE",
               "Writes the settings file to FILE instead of standard output ('-'); with several ports {port} in the "
               "name stands for each port's name.");
    if (command == QLatin1String("play"))
        option("--upload", "Sends the test file first when the card lacks it or holds a copy of another size.");
    if (command == QLatin1String("upload"))
        option("--as /NAME.MP3", "The file's name on the card (default: the local file's name in upper case, in the "
                                 "card's root).");
    option("-h, --help", "Shows this help.");
    if (command.isEmpty())
        option("--version", "Shows kavoctl's version.");
    return text;
}

} // namespace

QStringList commands()
{
    QStringList names;
    for (const CommandInfo &c : Commands)
        names << QLatin1String(c.name);
    return names;
}

QString helpText(const QString &command)
{
    if (const CommandInfo *c = findCommand(command)) {
        QString text = QStringLiteral("Usage: kavoctl %1 %2\n\n%3\n\n")
                           .arg(QLatin1String(c->name), QLatin1String(c->usage), QLatin1String(c->summary));
        if (command == QLatin1String("write"))
            text += QStringLiteral("Arguments:\n  FILE\n      The settings file to write ('-': standard input); {port} in its "
                                   "name stands for each port's name, for a file per port.\n\n");
        if (command == QLatin1String("upload"))
            text += QStringLiteral("Arguments:\n  LOCALFILE\n      The file to send, 1 byte to 2 GiB.\n\n");
        return text + optionsText(command != QLatin1String("ports"), command);
    }
    QString text = QStringLiteral("Usage: kavoctl COMMAND [options]\n"
                                  "       kavoctl help [COMMAND]\n"
                                  "       kavoctl --version\n\n"
                                  "Sets up Kavo MP3 player modules on serial ports, one or many at once.\n\n"
                                  "Commands:\n");
    for (const CommandInfo &c : Commands)
        text += QStringLiteral("  %1 %2\n").arg(QLatin1String(c.name), -7).arg(QLatin1String(c.summary));
    text += QStringLiteral("  help    Shows this help, or a command's.\n");
    text += QStringLiteral("\n") + optionsText(true, QString());
    text += QStringLiteral(
        "\n"
        "Examples:\n"
        "  kavoctl ports\n"
        "  kavoctl info --port COM3\n"
        "  kavoctl read --port COM3 -o exhibition.kavo\n"
        "  kavoctl write --port COM4,COM5,COM6 exhibition.kavo\n"
        "  kavoctl write --port COM3,COM4 'bench-{port}.kavo'\n"
        "  kavoctl read --port COM3,COM4 -o 'bench-{port}.kavo' --jobs 1\n"
        "  kavoctl play --upload --port COM3 --json\n"
        "  kavoctl upload --port COM3 chime.mp3 --as /CHIME.MP3\n"
        "  kavoctl info --port COM3 --trace -\n"
        "\n"
        "Settings files (.kavo): plain text, the nine setting strings as the window shows them, one per line\n"
        "in any order, e.g.\n"
        "  ST D 2    bit rate: 0 to 4 for 9600, 19200, 38400, 57600, 115200\n"
        "  ST T 20   write time-out: 0 (none) or 1 to 254 times 10 ms\n"
        "  ST S 1    input style: 0 none, 1 8 switch, 2 7 bit\n"
        "  ST N 0    input file number offset: 0 to 32767\n"
        "  ST H 1    hardware busy indicator: 0 or 1\n"
        "  ST V 16   volume: 0 (loudest) to 254 (off), one value for both channels or two (left right)\n"
        "  ST O 1    loop count: 0 (infinite) to 254\n"
        "  ST B 37   bass boost: boost in dB x 16 + frequency step (x 10 Hz); 0 is off\n"
        "  ST U 0    uninterrupted playback: 0 or 1\n"
        "Blank lines and lines starting with # are skipped. All nine must be there, each once, with plain\n"
        "decimal values in range; any other file is refused whole and nothing is sent.\n"
        "\n"
        "Exit status:\n"
        "  0    every port succeeded\n"
        "  1    a module failed (not found, wrong identity, a setting refused or not sticking, a card\n"
        "       error, a failed upload) or the output could not be written\n"
        "  2    bad usage, a bad settings file or a local file that cannot be used: nothing was sent\n"
        "  128+N  ended by signal N (130 Ctrl+C, 143 SIGTERM, 129 SIGHUP): each port's operation was\n"
        "       ended, an upload's card file closed\n"
        "\n"
        "'kavoctl help COMMAND' tells more of each command.\n");
    return text;
}

Parsed parse(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QString());
    const QCommandLineOption version(QStringLiteral("version"), QString());
    const QCommandLineOption port({QStringLiteral("p"), QStringLiteral("port")}, QString(), QStringLiteral("COMn"));
    const QCommandLineOption rate({QStringLiteral("r"), QStringLiteral("rate")}, QString(), QStringLiteral("BPS"));
    const QCommandLineOption jobs({QStringLiteral("j"), QStringLiteral("jobs")}, QString(), QStringLiteral("N"));
    const QCommandLineOption json(QStringLiteral("json"), QString());
    const QCommandLineOption verbose({QStringLiteral("v"), QStringLiteral("verbose")}, QString());
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")}, QString(), QStringLiteral("FILE"));
    const QCommandLineOption upload(QStringLiteral("upload"), QString());
    const QCommandLineOption as(QStringLiteral("as"), QString(), QStringLiteral("NAME"));
    const QCommandLineOption trace(QStringLiteral("trace"), QString(), QStringLiteral("FILE"));

    // Which options a command takes is checked below, so that the message names the
    // command; the parser knows them all.
    parser.addOptions({help, version, port, rate, jobs, json, verbose, output, upload, as, trace});
    if (!parser.parse(arguments))
        return usageError(parser.errorText());

    const QStringList positional = parser.positionalArguments();
    Invocation in;
    in.command = positional.value(0);
    QStringList rest = positional.mid(1);

    if (in.command == QLatin1String("help")) {
        if (rest.size() > 1)
            return usageError(QStringLiteral("help takes at most one command"));
        if (!rest.isEmpty() && !findCommand(rest.first()))
            return usageError(QStringLiteral("'%1' is not a command").arg(shown(rest.first())));
        Parsed p;
        p.exit = Success;
        p.out = helpText(rest.value(0));
        return p;
    }
    if (parser.isSet(version)) {
        if (!in.command.isEmpty() || parser.optionNames().size() > 1)
            return usageError(QStringLiteral("--version goes alone"));
        Parsed p;
        p.exit = Success;
        p.out = QStringLiteral("kavoctl %1\n").arg(QStringLiteral(KAVO_VERSION));
        return p;
    }
    const CommandInfo *command = findCommand(in.command);
    if (!command) {
        if (parser.isSet(help) && in.command.isEmpty()) {
            Parsed p;
            p.exit = Success;
            p.out = helpText();
            return p;
        }
        return usageError(in.command.isEmpty() ? QStringLiteral("no command given")
                                               : QStringLiteral("'%1' is not a command").arg(shown(in.command)));
    }
    if (parser.isSet(help)) {
        Parsed p;
        p.exit = Success;
        p.out = helpText(in.command);
        return p;
    }

    // The options this command takes, and each single-valued one at most once.
    const bool onModules = in.command != QLatin1String("ports");
    QList<const QCommandLineOption *> allowed{&json};
    if (onModules)
        allowed << &port << &rate << &jobs << &verbose << &trace;
    if (in.command == QLatin1String("read"))
        allowed << &output;
    if (in.command == QLatin1String("play"))
        allowed << &upload;
    if (in.command == QLatin1String("upload"))
        allowed << &as;
    for (const QCommandLineOption *option : {&port, &rate, &jobs, &json, &verbose, &output, &upload, &as, &trace}) {
        if (!parser.isSet(*option))
            continue;
        const QString name = option->names().constLast();
        if (!allowed.contains(option))
            return usageError(QStringLiteral("%1 takes no --%2").arg(in.command, name));
        if (option != &port && parser.values(*option).size() > 1)
            return usageError(QStringLiteral("--%1 is given more than once").arg(name));
    }

    const qsizetype wanted = (in.command == QLatin1String("write") || in.command == QLatin1String("upload")) ? 1 : 0;
    if (rest.size() != wanted)
        return usageError(wanted ? QStringLiteral("%1 takes one file (usage: kavoctl %1 %2)").arg(in.command, QLatin1String(command->usage))
                                 : QStringLiteral("%1 takes no file ('%2')").arg(in.command, shown(rest.value(0))));
    in.json = parser.isSet(json);
    if (!onModules) {
        Parsed p;
        p.invocation = in;
        return p;
    }

    QString error;
    if (!takePorts(parser.values(port), &in.ports, &error))
        return usageError(error);
    if (parser.isSet(rate) && parser.value(rate) != QLatin1String("auto")) {
        const QString text = parser.value(rate);
        in.rate = plainNumber(text) ? text.toInt() : 0;
        if (SettingTable::bitRateIndex(in.rate) < 0)
            return usageError(QStringLiteral("'%1' is not a bit rate (9600, 19200, 38400, 57600, 115200 or auto)").arg(shown(text)));
    }
    if (parser.isSet(jobs)) {
        const QString text = parser.value(jobs);
        if (!plainNumber(text) || text.size() > 4)
            return usageError(QStringLiteral("'%1' is not a number of ports at once (1 or more)").arg(shown(text)));
        in.jobs = text.toInt();
    }
    in.verbose = parser.isSet(verbose);
    if (parser.isSet(trace)) {
        in.trace = parser.value(trace);
        if (in.trace.isEmpty())
            return usageError(QStringLiteral("--trace needs a file name ('-' for standard error)"));
    }

    if (in.command == QLatin1String("read") && parser.isSet(output)) {
        in.output = parser.value(output);
        if (in.output.isEmpty())
            return usageError(QStringLiteral("-o needs a file name ('-' for standard output)"));
        if (in.ports.size() > 1 && in.output != QLatin1String("-") && !in.output.contains(QStringLiteral("{port}")))
            return usageError(QStringLiteral("with several ports, -o needs {port} in the file name"));
    }
    if (in.command == QLatin1String("write"))
        in.settingsFile = rest.first();
    if (in.command == QLatin1String("play"))
        in.upload = parser.isSet(upload);
    if (in.command == QLatin1String("upload")) {
        in.localFile = rest.first();
        if (in.localFile.isEmpty())
            return usageError(QStringLiteral("upload needs a file name"));
        in.cardPath = parser.isSet(as) ? parser.value(as)
                                       : QLatin1Char('/') + in.localFile.section(QLatin1Char('/'), -1).toUpper();
        if (!validCardPath(in.cardPath))
            return usageError(QStringLiteral("'%1' is not a card path: '/' and up to 63 printable characters, no blanks")
                                  .arg(shown(in.cardPath)));
    }
    Parsed p;
    p.invocation = in;
    return p;
}

} // namespace Kavoctl
