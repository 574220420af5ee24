#include "cli/commands.h"

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <functional>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

#include "cli/interrupt.h"
#include "cli/report.h"
#include "link/kavolink.h"
#include "link/portlisting.h"
#include "playtest/testfile.h"
#include "session/kavosession.h"
#include "settings/settingsfile.h"
#include "settings/settingtable.h"

namespace Kavoctl {

namespace {

struct CommandInfo {
    const char *name;
    const char *summary;
};

const CommandInfo Commands[] = {
    {"ports", "Lists the COM ports, their devices and whether each can be opened now."},
    {"info", "Shows each module's version, card capacity and free space."},
    {"read", "Reads the nine settings of each module as a settings file."},
    {"write", "Writes a settings file to each module, then reads the settings back and compares."},
    {"play", "Plays the test file on each module (--upload sends it first when the card lacks it)."},
    {"upload", "Sends a local file to each module's card."},
};

// A command line taken apart, checked before anything is sent.
struct Invocation {
    QString command;
    QStringList ports;
    qint32 rate = 0;   // 0: automatic detection
    bool json = false;
    bool verbose = false;
    QString output;          // read: -o
    SettingsFile::Strings settings;   // write: the file's nine strings
    bool upload = false;     // play: --upload
    QString localFile;       // upload
    QString cardPath;        // upload: --as
};

int usageError(const QString &text)
{
    printTo(stderr, QStringLiteral("kavoctl: %1\nTry 'kavoctl --help'.\n").arg(text));
    return BadUsage;
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
                *error = QStringLiteral("'%1' is not a COM port (COM1 to COM16)").arg(name);
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

// --- one module ------------------------------------------------------------------------

class ModuleJob
{
public:
    ModuleJob(const Invocation &invocation, const QString &port, PortReport &report)
        : m_in(invocation), m_port(port), m_report(report)
    {
        m_report.port = port;
        QObject::connect(&m_session, &KavoSession::portLost, [this](const QString &why) { m_lost = why; });
        if (m_in.verbose)
            QObject::connect(&m_session, &KavoSession::status, [this](const QString &text) {
                printTo(stderr, QStringLiteral("%1: %2\n").arg(m_port, text));
            });
    }

    KavoSession &session() { return m_session; }

    void run()
    {
        SessionOperation operation(m_session);
        if (!operation.acquired() || !connectModule())
            return;
        if (m_in.command == QLatin1String("info"))
            info();
        else if (m_in.command == QLatin1String("read"))
            read();
        else if (m_in.command == QLatin1String("write"))
            write();
        else if (m_in.command == QLatin1String("play"))
            play();
        else if (m_in.command == QLatin1String("upload"))
            upload();
    }

private:
    // The operation was ended early: by the user, or because the port went away.
    void ended()
    {
        if (InterruptWatch::requested())
            m_report.fail(QStringLiteral("interrupted"));
        else
            m_report.fail(QStringLiteral("the port was lost"),
                          {QStringLiteral("%1 was lost (%2)").arg(m_port, m_lost)});
    }

    bool connectModule()
    {
        ConnectRequest request;
        request.portName = [this] { return m_port; };
        for (const qint32 rate : SettingTable::bitRates())
            request.rates << QString::number(rate);
        request.automatic = m_in.rate == 0;
        request.chosen = SettingTable::bitRateIndex(m_in.rate);
        const ConnectOutcome outcome = m_session.connectModule(request);
        using Result = ConnectOutcome::Result;
        switch (outcome.result) {
        case Result::Connected:
            break;
        case Result::Aborted:
            ended();
            return false;
        case Result::PortUnavailable:
            m_report.fail(QStringLiteral("the port could not be opened"), outcome.messages);
            return false;
        case Result::WrongIdentity:
            m_report.fail(QStringLiteral("not a Kavo (identity '%1')").arg(outcome.identity), outcome.messages);
            return false;
        case Result::NotFound:
            m_report.fail(QStringLiteral("no Kavo answered"), outcome.messages);
            return false;
        }
        m_report.json.insert(QStringLiteral("version"), outcome.version);
        m_report.json.insert(QStringLiteral("rate"), m_session.bitRate());
        m_report.detail(QStringLiteral("version %1").arg(outcome.version));
        m_report.detail(QStringLiteral("bit rate %1 bps").arg(m_session.bitRate()));
        return true;
    }

    void info()
    {
        const CardOutcome card = m_session.readCardInfo();
        if (card.aborted) {
            ended();
            return;
        }
        if (!card.messages.isEmpty()) {
            m_report.fail(QStringLiteral("the device keeps sending"), card.messages);
            return;
        }
        QJsonObject object;
        object.insert(QStringLiteral("capacity"), card.info.capacity);
        object.insert(QStringLiteral("freeSpace"), card.info.freeSpace);
        object.insert(QStringLiteral("status"), card.info.status);
        m_report.json.insert(QStringLiteral("card"), object);
        if (!card.info.status.isEmpty() || card.info.capacity.isEmpty()) {
            const QString status = card.info.status.isEmpty() ? QStringLiteral("no answer") : card.info.status;
            m_report.fail(QStringLiteral("card error %1").arg(status),
                          {QStringLiteral("The card reports '%1'").arg(SettingTable::printable(status.toLatin1()))});
            return;
        }
        m_report.detail(QStringLiteral("card capacity %1 KiB, free space %2 KiB").arg(card.info.capacity, card.info.freeSpace));
    }

    // The settings of a complete read as setting strings.
    static SettingsFile::Strings stringsOf(const ReadOutcome &read)
    {
        SettingsFile::Strings strings;
        for (auto it = read.readings.cbegin(); it != read.readings.cend(); ++it)
            strings.insert(it.key(), SettingTable::storedFrom(it.key(), it.value()).settingString());
        return strings;
    }

    static QJsonObject jsonOf(const SettingsFile::Strings &strings)
    {
        QJsonObject object;
        for (auto it = strings.cbegin(); it != strings.cend(); ++it)
            object.insert(QString(QLatin1Char(it.key())), it.value());
        return object;
    }

    void read()
    {
        const ReadOutcome outcome = m_session.readSettings();
        if (outcome.aborted) {
            ended();
            return;
        }
        if (!outcome.complete) {
            m_report.fail(QStringLiteral("a setting could not be read"), outcome.messages.isEmpty() ? QStringList{outcome.failure} : outcome.messages);
            return;
        }
        const SettingsFile::Strings strings = stringsOf(outcome);
        m_report.json.insert(QStringLiteral("settings"), jsonOf(strings));
        const QByteArray file = SettingsFile::format(strings);
        if (m_in.output.isEmpty()) {
            if (!m_in.json) {
                if (m_in.ports.size() > 1)
                    printTo(stdout, QStringLiteral("# %1\n").arg(m_port));
                printTo(stdout, QString::fromLatin1(file));
            }
            return;
        }
        QString path = m_in.output;
        path.replace(QStringLiteral("{port}"), m_port);
        QString error;
        if (!SettingsFile::save(path, strings, &error)) {
            m_report.fail(QStringLiteral("the settings file could not be written"),
                          {QStringLiteral("%1: %2").arg(path, error)});
            return;
        }
        m_report.json.insert(QStringLiteral("file"), path);
        m_report.detail(QStringLiteral("settings written to %1").arg(path));
    }

    void write()
    {
        const WriteOutcome written = m_session.writeSettings([this](char letter) { return m_in.settings.value(letter); });
        if (written.result == WriteOutcome::Result::Aborted) {
            ended();
            return;
        }
        m_report.json.insert(QStringLiteral("notStored"), QJsonArray::fromStringList(written.notStored));
        if (!written.problems.isEmpty())
            m_report.fail(written.notStored.isEmpty() ? written.problems.constFirst()
                                                      : QStringLiteral("not stored: ") + written.notStored.join(QStringLiteral(", ")),
                          written.problems + written.messages);
        if (written.portClosed)
            return;

        // What the module holds now, at the rate it answers at now.
        const ReadOutcome readBack = m_session.readSettings();
        if (readBack.aborted) {
            ended();
            return;
        }
        if (!readBack.complete) {
            m_report.fail(QStringLiteral("the settings could not be read back"), {readBack.failure});
            return;
        }
        QStringList notSticking;
        for (const SettingTable::Setting &s : SettingTable::all()) {
            const auto stored = SettingTable::parseSettingString(m_in.settings.value(s.letter), nullptr);
            const SettingTable::Reading reading = readBack.readings.value(s.letter);
            if (stored && !stored->matches(reading))
                notSticking << QStringLiteral("%1 - '%2' (wrote '%3', reads '%4')")
                                   .arg(QString::fromLatin1(s.name), QString(QLatin1Char(s.letter)),
                                        stored->settingString(),
                                        SettingTable::storedFrom(s.letter, reading).settingString());
        }
        m_report.json.insert(QStringLiteral("notSticking"), QJsonArray::fromStringList(notSticking));
        m_report.json.insert(QStringLiteral("rate"), m_session.bitRate());
        if (!notSticking.isEmpty()) {
            m_report.fail(QStringLiteral("did not stick: ") + notSticking.join(QStringLiteral(", ")),
                          {QStringLiteral("Read back differs: ") + notSticking.join(QStringLiteral(", "))});
            return;
        }
        if (m_report.ok)
            m_report.detail(QStringLiteral("all nine settings written and read back at %1 bps").arg(m_session.bitRate()));
    }

    void play()
    {
        showProgress(TestFile::cardPath());
        const PlayOutcome outcome = m_session.playTest(TestFile::localPath(), [this](UploadOffer) { return m_in.upload; });
        m_report.json.insert(QStringLiteral("uploaded"), outcome.uploaded);
        m_report.json.insert(QStringLiteral("played"), outcome.result == PlayOutcome::Result::Played);
        using Result = PlayOutcome::Result;
        switch (outcome.result) {
        case Result::Played:
            m_report.detail(outcome.uploaded ? QStringLiteral("test file uploaded, playing %1").arg(TestFile::cardPath())
                                             : QStringLiteral("playing %1").arg(TestFile::cardPath()));
            break;
        case Result::Aborted:
            ended();
            break;
        case Result::NoCard:
            m_report.fail(QStringLiteral("no card"), outcome.messages);
            break;
        case Result::Declined:
            if (outcome.incomplete)
                m_report.fail(QStringLiteral("the test file on the card is incomplete"),
                              {QStringLiteral("The test file on the card is incomplete: an upload to this Kavo stopped "
                                              "before its end; --upload sends it again.")});
            else
                m_report.fail(QStringLiteral("the test file is not on the card"),
                              {QStringLiteral("The test file does not exist on the card; --upload sends it first.")});
            break;
        case Result::PlayRefused:
            m_report.fail(QStringLiteral("the Kavo did not play it"),
                          {QStringLiteral("Could not play %1: the Kavo answered '%2'")
                               .arg(TestFile::cardPath(), KavoSession::quoted(outcome.playReply))});
            break;
        case Result::Endless:
            m_report.fail(QStringLiteral("the device keeps sending"), outcome.messages);
            break;
        case Result::UploadFailed:
            m_report.fail(QStringLiteral("the upload failed"), outcome.messages);
            break;
        case Result::LookUpError:
            m_report.fail(QStringLiteral("card error %1").arg(QString::fromLatin1(outcome.lookUpReply)), outcome.messages);
            break;
        }
    }

    void upload()
    {
        showProgress(m_in.cardPath);
        const UploadOutcome outcome = m_session.upload(m_in.localFile, m_in.cardPath);
        m_report.json.insert(QStringLiteral("file"), m_in.cardPath);
        m_report.json.insert(QStringLiteral("bytes"), outcome.sent);
        using Result = UploadOutcome::Result;
        switch (outcome.result) {
        case Result::Done:
            m_report.detail(QStringLiteral("%1 bytes sent to %2").arg(outcome.sent).arg(m_in.cardPath));
            break;
        case Result::Aborted:
            ended();
            break;
        case Result::LocalFileProblem:
            m_report.fail(QStringLiteral("the local file cannot be sent"), outcome.messages);
            break;
        case Result::CardRefused:
            m_report.fail(QStringLiteral("the card refused the file"), outcome.messages);
            break;
        case Result::WriteFailed:
            m_report.fail(QStringLiteral("the upload failed"), outcome.messages);
            break;
        case Result::Endless:
            m_report.fail(QStringLiteral("the device keeps sending"), outcome.messages);
            break;
        }
    }

    // An upload's progress on standard error, when that is a terminal.
    void showProgress(const QString &cardPath)
    {
#ifdef Q_OS_UNIX
        if (!::isatty(STDERR_FILENO))
            return;
#else
        return;
#endif
        QObject::connect(&m_session, &KavoSession::uploadPrepared, [this](qint64 length) {
            m_length = length;
            m_shown.start();
        });
        QObject::connect(&m_session, &KavoSession::uploadProgress, [this, cardPath](qint64 sent) {
            if (m_shown.isValid() && m_shown.elapsed() < 100)
                return;
            m_shown.start();
            printTo(stderr, QStringLiteral("\r%1: %2 %3 %% (%4 of %5 bytes)")
                                .arg(m_port, cardPath)
                                .arg(m_length > 0 ? sent * 100 / m_length : 0)
                                .arg(sent)
                                .arg(m_length));
        });
        QObject::connect(&m_session, &KavoSession::uploadShown, [](bool visible) {
            if (!visible)
                printTo(stderr, QStringLiteral("\r\033[K"));
        });
    }

    const Invocation &m_in;
    const QString m_port;
    PortReport &m_report;
    KavoSession m_session;
    QString m_lost;
    qint64 m_length = 0;
    QElapsedTimer m_shown;
};

// --- the commands ----------------------------------------------------------------------

int listPorts(const Invocation &in)
{
    const PortListing::Listing listing = PortListing::list();
    if (!listing.folderMessage.isEmpty())
        printTo(stderr, QStringLiteral("kavoctl: %1\n").arg(Output::oneLine(listing.folderMessage)));
    for (const PortListing::Entry &port : listing.entries) {
        if (in.json) {
            QJsonObject object;
            object.insert(QStringLiteral("port"), port.name());
            object.insert(QStringLiteral("device"), port.device);
            object.insert(QStringLiteral("usable"), port.usable);
            if (!port.usable)
                object.insert(QStringLiteral("problem"), port.problem);
            printTo(stdout, QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) + QLatin1Char('\n'));
        } else {
            printTo(stdout, QStringLiteral("%1 %2 %3\n")
                                .arg(port.name(), port.device,
                                     port.usable ? QStringLiteral("available")
                                                 : QStringLiteral("not available: ") + Output::oneLine(port.problem)));
        }
    }
    return Success;
}

int runModules(const Invocation &in)
{
    InterruptWatch interrupts;
    // Settings files and the summary go to standard output; when the settings file itself
    // is the output, everything else goes to standard error.
    const bool fileOnStdout = in.command == QLatin1String("read") && in.output.isEmpty() && !in.json;
    Output output(in.json, fileOnStdout ? stderr : stdout);
    QList<PortReport> reports;
    for (const QString &port : in.ports) {
        if (InterruptWatch::requested())
            break;
        PortReport report;
        {
            ModuleJob job(in, port, report);
            QObject::connect(&interrupts, &InterruptWatch::interrupted, &job.session(), &KavoSession::interrupt);
            job.run();
        }   // the port is released here
        output.portDone(report);
        reports << report;
    }
    output.summary(reports);
    if (InterruptWatch::requested()) {
        printTo(stderr, QStringLiteral("kavoctl: interrupted\n"));
        return Interrupted;
    }
    for (const PortReport &r : std::as_const(reports))
        if (!r.ok)
            return ModuleFailed;
    return Success;
}

} // namespace

int run(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Sets up Kavo MP3 player modules on serial ports."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Shows this help."));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Shows the version."));
    parser.addOption(help);
    parser.addOption(version);
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("ports, info, read, write, play or upload."),
                                 QStringLiteral("<command>"));
    parser.parse(arguments);

    Invocation in;
    in.command = parser.positionalArguments().value(0);
    const CommandInfo *command = nullptr;
    for (const CommandInfo &c : Commands)
        if (in.command == QLatin1String(c.name))
            command = &c;

    if (!command) {
        if (parser.isSet(version) && in.command.isEmpty()) {
            printTo(stdout, QStringLiteral("kavoctl " KAVO_VERSION "\n"));
            return Success;
        }
        if (parser.isSet(help) && in.command.isEmpty()) {
            QString text = parser.helpText() + QStringLiteral("\nCommands:\n");
            for (const CommandInfo &c : Commands)
                text += QStringLiteral("  %1 %2\n").arg(QString::fromLatin1(c.name), -8).arg(QString::fromLatin1(c.summary));
            text += QStringLiteral("\n'kavoctl <command> --help' tells more of each.\n");
            printTo(stdout, text);
            return Success;
        }
        return usageError(in.command.isEmpty() ? QStringLiteral("no command given")
                                               : QStringLiteral("'%1' is not a command").arg(in.command));
    }

    // The command's own options.
    parser.clearPositionalArguments();
    parser.setApplicationDescription(QString::fromLatin1(command->summary));
    parser.addPositionalArgument(in.command, QString(), in.command);
    const bool onModules = in.command != QLatin1String("ports");
    const QCommandLineOption port({QStringLiteral("p"), QStringLiteral("port")},
                                  QStringLiteral("The module's COM port, COM1 to COM16; several ports as a comma list "
                                                 "or the option given again. They are handled one after another."),
                                  QStringLiteral("COMn"));
    const QCommandLineOption rate({QStringLiteral("r"), QStringLiteral("rate")},
                                  QStringLiteral("The module's bit rate: 9600, 19200, 38400, 57600, 115200, or auto "
                                                 "to try each in turn (the default)."),
                                  QStringLiteral("BPS|auto"), QStringLiteral("auto"));
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("One JSON object per port instead of text."));
    const QCommandLineOption verbose({QStringLiteral("v"), QStringLiteral("verbose")},
                                     QStringLiteral("Every status text on standard error as it comes."));
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("Write the settings file here instead of standard output; {port} "
                                                   "in the name stands for the port's name."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption upload(QStringLiteral("upload"),
                                    QStringLiteral("Send the test file first when the card lacks it."));
    const QCommandLineOption as(QStringLiteral("as"),
                                QStringLiteral("The file's name on the card (default: the local file's name in upper "
                                               "case, in the card's root)."),
                                QStringLiteral("/NAME.MP3"));
    parser.addOption(json);
    if (onModules) {
        parser.addOption(port);
        parser.addOption(rate);
        parser.addOption(verbose);
    }
    if (in.command == QLatin1String("read"))
        parser.addOption(output);
    if (in.command == QLatin1String("write"))
        parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The settings file to write."));
    if (in.command == QLatin1String("play"))
        parser.addOption(upload);
    if (in.command == QLatin1String("upload")) {
        parser.addPositionalArgument(QStringLiteral("LOCALFILE"), QStringLiteral("The file to send."));
        parser.addOption(as);
    }

    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (parser.isSet(help)) {
        printTo(stdout, parser.helpText());
        return Success;
    }

    const QStringList positional = parser.positionalArguments().mid(1);
    const qsizetype wanted = (in.command == QLatin1String("write") || in.command == QLatin1String("upload")) ? 1 : 0;
    if (positional.size() != wanted)
        return usageError(wanted ? QStringLiteral("%1 takes one file").arg(in.command)
                                 : QStringLiteral("%1 takes no file").arg(in.command));
    in.json = parser.isSet(json);
    if (!onModules)
        return listPorts(in);

    QString error;
    if (!takePorts(parser.values(port), &in.ports, &error))
        return usageError(error);
    const QString rateText = parser.value(rate);
    if (rateText != QLatin1String("auto")) {
        in.rate = rateText.toInt();
        if (SettingTable::bitRateIndex(in.rate) < 0)
            return usageError(QStringLiteral("'%1' is not a bit rate (9600, 19200, 38400, 57600, 115200 or auto)").arg(rateText));
    }
    in.verbose = parser.isSet(verbose);

    if (in.command == QLatin1String("read")) {
        in.output = parser.value(output);
        if (in.ports.size() > 1 && !in.output.isEmpty() && !in.output.contains(QStringLiteral("{port}")))
            return usageError(QStringLiteral("with several ports, -o needs {port} in the file name"));
    }
    if (in.command == QLatin1String("write")) {
        const SettingsFile::Parsed parsed = SettingsFile::load(positional.first());
        if (!parsed.ok()) {
            printTo(stderr, QStringLiteral("kavoctl: %1\nNothing was sent.\n").arg(parsed.error));
            return BadUsage;
        }
        in.settings = parsed.strings;
    }
    if (in.command == QLatin1String("play"))
        in.upload = parser.isSet(upload);
    if (in.command == QLatin1String("upload")) {
        in.localFile = positional.first();
        const QFileInfo local(in.localFile);
        if (!local.exists())
            return usageError(QStringLiteral("%1: no such file").arg(in.localFile));
        if (!local.isFile())
            return usageError(QStringLiteral("%1: not a regular file").arg(in.localFile));
        in.cardPath = parser.isSet(as) ? parser.value(as) : QLatin1Char('/') + local.fileName().toUpper();
        if (!validCardPath(in.cardPath))
            return usageError(QStringLiteral("'%1' is not a card path: '/' and up to 63 printable characters, no blanks")
                                  .arg(in.cardPath));
    }
    return runModules(in);
}

} // namespace Kavoctl
