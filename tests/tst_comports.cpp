// COM numbers and the ports folder: the folder's rule, the same for the tool and kavo-sim;
// numbers that stay with the system's ports; the listing's reasons for ports that cannot be
// opened, also for a user who may not use them (kavoctl ports as nobody); an open and a
// reopen that refuse a COM number that has come to name another device.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSerialPort>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <grp.h>
#include <pty.h>
#include <termios.h>
#include <sys/stat.h>
#include <unistd.h>

#include "link/comports.h"
#include "link/kavolink.h"
#include "link/portlisting.h"
#include "support/kavosim.h"
#include "support/testenv.h"

namespace {

constexpr uid_t Nobody = 65534;

struct Run {
    int code = -1;
    QString out;
    QString err;
};

QString describe(const Run &run)
{
    return QStringLiteral("exit %1\n--- stdout\n%2--- stderr\n%3").arg(run.code).arg(run.out, run.err);
}

// Runs a program to its end with this environment; as user nobody when `asNobody`.
Run runProgram(const QString &program, const QStringList &arguments, const QProcessEnvironment &env,
               bool asNobody = false)
{
    QProcess process;
    process.setProcessEnvironment(env);
    if (asNobody)
        process.setChildProcessModifier([] {
            if (::setgroups(0, nullptr) != 0 || ::setgid(Nobody) != 0 || ::setuid(Nobody) != 0)
                ::_exit(126);
        });
    process.start(program, arguments);
    Run run;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        run.err = QStringLiteral("(did not end)");
        return run;
    }
    run.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

// `kavoctl ports`: COM name -> the rest of its line.
QMap<QString, QString> portLines(const Run &run)
{
    QMap<QString, QString> lines;
    for (const QString &line : run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        lines.insert(line.section(QLatin1Char(' '), 0, 0), line.section(QLatin1Char(' '), 1));
    return lines;
}

// A kavo-sim started with an environment of its own and no --ports-dir: it publishes where
// the rule says.
class RuleSim
{
public:
    explicit RuleSim(const QProcessEnvironment &env) { m_process.setProcessEnvironment(env); }
    ~RuleSim()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(5000)) {
                m_process.kill();
                m_process.waitForFinished(5000);
            }
        }
    }

    // True once the port is published; false when the simulator ended instead.
    bool start()
    {
        m_process.setProgram(QStringLiteral(KAVO_SIM_PATH));
        m_process.setArguments({QStringLiteral("--card"), m_card.path(), QStringLiteral("--log"),
                                m_card.filePath(QStringLiteral("traffic.log"))});
        m_process.start();
        if (!m_process.waitForStarted(10000))
            return false;
        QByteArray line;
        while (!line.endsWith('\n')) {
            if (!m_process.waitForReadyRead(10000)) {
                m_process.waitForFinished(10000);
                return false;
            }
            line += m_process.readAllStandardOutput();
        }
        const QList<QByteArray> fields = line.trimmed().split(' ');
        m_com = QString::fromLatin1(fields.value(0));
        m_device = QString::fromLocal8Bit(fields.value(1));
        return m_com.startsWith(QStringLiteral("COM"));
    }
    QString com() const { return m_com; }
    QString device() const { return m_device; }
    // All the simulator wrote to its standard error so far.
    QString errorOutput()
    {
        m_error += QString::fromLocal8Bit(m_process.readAllStandardError());
        return m_error;
    }
    int exitCode() const { return m_process.exitCode(); }

private:
    QProcess m_process;
    QTemporaryDir m_card;
    QString m_com;
    QString m_device;
    QString m_error;
};

bool makeFolder(const QString &path, mode_t mode, uid_t owner = ::geteuid())
{
    QDir().mkpath(path);
    return ::chmod(QFile::encodeName(path).constData(), mode) == 0
           && ::chown(QFile::encodeName(path).constData(), owner, gid_t(-1)) == 0;
}

const QString NumbersGroup = QStringLiteral("ComNumbers");

void forgetNumbers()
{
    QSettings settings;
    settings.remove(NumbersGroup);
    settings.sync();
}

// COM number -> device, as the tool maps them now.
QMap<int, QString> numbers()
{
    QMap<int, QString> map;
    const auto ports = ComPorts::ports();
    for (const ComPorts::Port &port : ports)
        map.insert(port.number, port.device);
    return map;
}

QList<ComPorts::SystemPort> g_system;

} // namespace

class tst_ComPorts : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void folderRule_data();
    void folderRule();
    void noRuntimeWarning();

    void numbersStay();
    void linkClaimsFirst();
    void sameSerialTwice();
    void kavoctlShowsSameNumbers();

    void listingTellsWhy_data();
    void listingTellsWhy();
    void noPermission_data();
    void noPermission();

    void listingLeavesPortsAlone();
    void staleLockNamed();

    void openRefusesRepointedNumber();
    void reopenRefusesRepointedNumber();
    void lostPortFreesItsNumber();

private:
    QProcessEnvironment m_env;
};

void tst_ComPorts::initTestCase()
{
    TestEnv::isolate();
    m_env = QProcessEnvironment::systemEnvironment();
}

void tst_ComPorts::init()
{
    // Links a failed test left behind go first.
    const QDir ports(ComPorts::portsFolder());
    for (const QString &name : ports.entryList(QDir::System | QDir::AllEntries | QDir::NoDotAndDotDot))
        QFile::remove(ports.filePath(name));
    forgetNumbers();
    g_system.clear();
    ComPorts::setSystemPortsSource([] { return g_system; });
}

void tst_ComPorts::cleanup()
{
    qputenv("XDG_RUNTIME_DIR", TestEnv::runtimeFolder().toLocal8Bit());
    qputenv("HOME", m_env.value(QStringLiteral("HOME")).toLocal8Bit());
    if (m_env.contains(QStringLiteral("XDG_STATE_HOME")))
        qputenv("XDG_STATE_HOME", m_env.value(QStringLiteral("XDG_STATE_HOME")).toLocal8Bit());
    else
        qunsetenv("XDG_STATE_HOME");
    ComPorts::setSystemPortsSource([] { return QList<ComPorts::SystemPort>(); });
    forgetNumbers();
}

// Where the tool reads links and kavo-sim publishes them: the same folder in every case, or
// both refuse it with advice the user can follow. Without a private runtime folder the
// folder is in the user's own home, never in a folder shared with other users.
void tst_ComPorts::folderRule_data()
{
    QTest::addColumn<QString>("setup");   // what the runtime folder (or the home's) is like
    QTest::addColumn<QString>("where");   // "runtime", "home", "state" or "refused"
    QTest::addColumn<QString>("said");    // in the notice or the refusal
    QTest::addColumn<QString>("advice");  // in the refusal

    QTest::newRow("private runtime folder") << "private" << "runtime" << "" << "";
    QTest::newRow("variable unset") << "unset" << "home" << "" << "";
    QTest::newRow("variable empty") << "empty" << "home" << "" << "";
    QTest::newRow("variable unset, XDG_STATE_HOME set") << "unset state" << "state" << "" << "";
    QTest::newRow("variable unset, XDG_STATE_HOME relative") << "unset relative state" << "home" << "" << "";
    QTest::newRow("relative path") << "relative" << "home" << "is not an absolute path" << "";
    QTest::newRow("runtime folder missing") << "missing" << "home" << "does not exist" << "";
    QTest::newRow("runtime folder not private") << "open" << "home" << "is open to its group or others" << "";
    QTest::newRow("runtime folder owned by another user") << "nobody" << "home" << "belongs to user nobody" << "";
    QTest::newRow("ports folder not private") << "open ports" << "refused" << "is open to its group or others"
                                              << "chmod 700";
    QTest::newRow("ports folder shared") << "shared ports" << "refused" << "is a folder shared with others (mode 1777)"
                                         << "Leave it as it is, and set XDG_RUNTIME_DIR to a folder of your own";
    QTest::newRow("kavoconfig folder owned by another user") << "nobody kavoconfig" << "refused"
                                                             << "belongs to user nobody"
                                                             << "Only user nobody or the administrator can remove it";
    QTest::newRow("home's kavoconfig folder owned by another user")
        << "unset nobody kavoconfig" << "refused" << "belongs to user nobody"
        << "Only user nobody or the administrator can remove it";
    QTest::newRow("ports folder a link") << "linked ports" << "refused" << "is a symbolic link" << "Remove it";
    QTest::newRow("ports folder a file") << "file ports" << "refused" << "is not a folder" << "Remove it";
}

void tst_ComPorts::folderRule()
{
    QFETCH(QString, setup);
    QFETCH(QString, where);
    QFETCH(QString, said);
    QFETCH(QString, advice);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString runtime = dir.filePath(QStringLiteral("runtime"));
    // A home of the test's own (its .local/state is made by whoever needs it first), and a
    // folder for XDG_STATE_HOME.
    const QString home = dir.filePath(QStringLiteral("home"));
    const QString state = dir.filePath(QStringLiteral("state"));
    QVERIFY(makeFolder(home, 0700));
    const QString fallback = (setup.contains("state") && !setup.contains("relative") ? state : home + "/.local/state")
                             + "/kavoconfig/ports";
    QVERIFY(makeFolder(runtime, 0700));
    QString value = runtime;
    if (setup == "unset nobody kavoconfig")
        QVERIFY(makeFolder(home + "/.local/state/kavoconfig", 0700, Nobody));
    if (setup.startsWith("unset") || setup == "empty")
        value.clear();
    else if (setup == "relative")
        value = QStringLiteral("run/user");
    else if (setup == "missing")
        value = dir.filePath(QStringLiteral("no-such-folder"));
    else if (setup == "open")
        QVERIFY(makeFolder(runtime, 0755));
    else if (setup == "nobody")
        QVERIFY(makeFolder(runtime, 0700, Nobody));
    else if (setup == "open ports")
        QVERIFY(makeFolder(runtime + "/kavoconfig/ports", 0750) && makeFolder(runtime + "/kavoconfig", 0700));
    else if (setup == "shared ports")
        QVERIFY(makeFolder(runtime + "/kavoconfig/ports", 01777) && makeFolder(runtime + "/kavoconfig", 0700));
    else if (setup == "nobody kavoconfig")
        QVERIFY(makeFolder(runtime + "/kavoconfig", 0700, Nobody));
    else if (setup == "linked ports") {
        QVERIFY(makeFolder(runtime + "/kavoconfig", 0700));
        QVERIFY(makeFolder(dir.filePath("elsewhere"), 0700));
        QVERIFY(QFile::link(dir.filePath("elsewhere"), runtime + "/kavoconfig/ports"));
    } else if (setup == "file ports") {
        QVERIFY(makeFolder(runtime + "/kavoconfig", 0700));
        QFile file(runtime + "/kavoconfig/ports");
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    const QString refusedFolder = setup.startsWith("unset") ? fallback : runtime + "/kavoconfig/ports";

    // The tool in this process, and the programs it starts, see the same variables.
    QProcessEnvironment env = m_env;
    env.insert(QStringLiteral("HOME"), home);
    qputenv("HOME", home.toLocal8Bit());
    env.remove(QStringLiteral("XDG_STATE_HOME"));
    qunsetenv("XDG_STATE_HOME");
    if (setup.contains("state")) {
        const QString stateValue = setup.contains("relative") ? QStringLiteral("state") : state;
        env.insert(QStringLiteral("XDG_STATE_HOME"), stateValue);
        qputenv("XDG_STATE_HOME", stateValue.toLocal8Bit());
    }
    if (setup.startsWith("unset")) {
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        qunsetenv("XDG_RUNTIME_DIR");
    } else {
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), value);
        qputenv("XDG_RUNTIME_DIR", value.toLocal8Bit());
    }

    const ComPorts::Folder folder = ComPorts::folder();
    const QString expected = where == "runtime" ? runtime + "/kavoconfig/ports" : where == "refused" ? QString() : fallback;
    QCOMPARE(folder.path, expected);
    if (where == "refused") {
        QVERIFY2(folder.problem.contains(refusedFolder) && folder.problem.contains(said)
                     && folder.problem.contains(advice),
                 qPrintable(folder.problem));
    } else {
        QVERIFY2(folder.problem.isEmpty(), qPrintable(folder.problem));
        QVERIFY2(said.isEmpty() ? folder.notice.isEmpty() : folder.notice.contains(said) && folder.notice.contains(fallback),
                 qPrintable(folder.notice));
    }

    // kavo-sim publishes there, and kavoctl lists what it published.
    RuleSim sim(env);
    const bool published = sim.start();
    const Run listed = runProgram(QStringLiteral(KAVOCTL_PATH), {QStringLiteral("ports")}, env);
    QCOMPARE(listed.code, 0);
    if (where == "refused") {
        QVERIFY(!published);
        QVERIFY(sim.exitCode() != 0);
        const QString error = sim.errorOutput();
        QVERIFY2(error.contains(refusedFolder) && error.contains("is not used") && error.contains(said)
                     && error.contains(advice.section(QLatin1Char(','), 0, 0)),
                 qPrintable(error));
        QVERIFY2(listed.err.contains(refusedFolder) && listed.err.contains("is not used")
                     && listed.err.contains(said) && listed.err.contains(advice),
                 qPrintable(describe(listed)));
        // No advice the user cannot follow: nothing of another user's to remove, nothing
        // shared to close.
        for (const QString &text : {error, listed.err}) {
            if (said.contains("belongs to") || said.contains("shared"))
                QVERIFY2(!text.contains("Remove it") && !text.contains("chmod"), qPrintable(text));
        }
        return;
    }
    QVERIFY2(published, qPrintable(sim.errorOutput()));
    const QFileInfo link(expected + "/" + sim.com());
    QVERIFY2(link.isSymLink(), qPrintable(link.filePath()));
    QCOMPARE(link.symLinkTarget(), sim.device());
    QVERIFY2(portLines(listed).value(sim.com()) == sim.device() + " available", qPrintable(describe(listed)));
    // Both made what was missing closed to everyone but this user (in the home, also the
    // folders on the way).
    QStringList made = {expected, QFileInfo(expected).path()};
    if (where == "home")
        made << home + "/.local/state" << home + "/.local";
    for (const QString &folderMade : made)
        QVERIFY2((QFileInfo(folderMade).permissions() & 0x0077) == QFileDevice::Permissions(), qPrintable(folderMade));
    // Both say why they passed the runtime folder over.
    if (!said.isEmpty()) {
        QVERIFY2(listed.err.contains(said) && listed.err.contains(fallback), qPrintable(describe(listed)));
        QTRY_VERIFY2_WITH_TIMEOUT(sim.errorOutput().contains(said) && sim.errorOutput().contains(fallback),
                                  qPrintable(sim.errorOutput()), 10000);
    } else {
        QVERIFY2(listed.err.isEmpty(), qPrintable(describe(listed)));
    }
}

// The folder's rule never asks Qt for the runtime folder, so nothing warns that
// XDG_RUNTIME_DIR is not set.
namespace {
QStringList g_messages;
void keepMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    g_messages << message;
}
} // namespace

void tst_ComPorts::noRuntimeWarning()
{
    QTemporaryDir home;
    QVERIFY(home.isValid());
    qputenv("HOME", home.path().toLocal8Bit());
    qunsetenv("XDG_STATE_HOME");
    qunsetenv("XDG_RUNTIME_DIR");
    g_messages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(keepMessage);
    const ComPorts::Folder folder = ComPorts::folder();
    PortListing::list();
    qInstallMessageHandler(previous);
    QCOMPARE(folder.path, home.path() + QStringLiteral("/.local/state/kavoconfig/ports"));
    QVERIFY2(g_messages.filter("XDG_RUNTIME_DIR").isEmpty(), qPrintable(g_messages.join('\n')));

    QProcessEnvironment env = m_env;
    env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    env.remove(QStringLiteral("XDG_STATE_HOME"));
    env.insert(QStringLiteral("HOME"), home.path());
    const Run run = runProgram(QStringLiteral(KAVOCTL_PATH), {QStringLiteral("ports")}, env);
    QCOMPARE(run.code, 0);
    QVERIFY2(!run.err.contains("XDG_RUNTIME_DIR"), qPrintable(describe(run)));
}

// A system port keeps its first number across restarts and other ports coming and going,
// by its serial number where it has one, else by its device path.
void tst_ComPorts::numbersStay()
{
    g_system = {{"/dev/ttyS0", ""}, {"/dev/ttyUSB0", "A1"}};
    QCOMPARE(numbers(), (QMap<int, QString>{{1, "/dev/ttyS0"}, {2, "/dev/ttyUSB0"}}));

    // Remembered for this user, in the tool's configuration.
    {
        QSettings settings;
        QVERIFY2(settings.fileName().startsWith(TestEnv::configFolder()), qPrintable(settings.fileName()));
        QCOMPARE(settings.value(NumbersGroup + "/COM1").toString(), QString("device:/dev/ttyS0"));
        QCOMPARE(settings.value(NumbersGroup + "/COM2").toString(), QString("serial:A1"));
    }

    // An adapter that comes before the others by name gets a new number; the others keep theirs.
    g_system = {{"/dev/ttyACM0", "B2"}, {"/dev/ttyS0", ""}, {"/dev/ttyUSB0", "A1"}};
    QCOMPARE(numbers(), (QMap<int, QString>{{1, "/dev/ttyS0"}, {2, "/dev/ttyUSB0"}, {3, "/dev/ttyACM0"}}));

    // A1 unplugged: its number is kept for it, not given to a newcomer.
    g_system = {{"/dev/ttyACM0", "B2"}, {"/dev/ttyS0", ""}, {"/dev/ttyUSB1", "C3"}};
    QCOMPARE(numbers(), (QMap<int, QString>{{1, "/dev/ttyS0"}, {3, "/dev/ttyACM0"}, {4, "/dev/ttyUSB1"}}));

    // A1 plugged in again, under another device name: its own number again.
    g_system = {{"/dev/ttyS0", ""}, {"/dev/ttyUSB1", "C3"}, {"/dev/ttyUSB2", "A1"}};
    QCOMPARE(numbers(), (QMap<int, QString>{{1, "/dev/ttyS0"}, {2, "/dev/ttyUSB2"}, {4, "/dev/ttyUSB1"}}));

    // A restart: what the configuration holds is all that carries over.
    ComPorts::setSystemPortsSource([] { return g_system; });
    g_system = {{"/dev/ttyUSB7", "C3"}, {"/dev/ttyUSB8", "B2"}, {"/dev/ttyUSB9", "A1"}};
    QCOMPARE(numbers(), (QMap<int, QString>{{2, "/dev/ttyUSB9"}, {3, "/dev/ttyUSB8"}, {4, "/dev/ttyUSB7"}}));
    QCOMPARE(ComPorts::port(3).device, QString("/dev/ttyUSB8"));
    QCOMPARE(ComPorts::port(3).identity, QString("serial:B2"));
    QVERIFY(!ComPorts::port(1).valid());
}

// A link named COMn claims its number first; the system's port that has that number
// borrows another one meanwhile and gets its own back when the link goes.
void tst_ComPorts::linkClaimsFirst()
{
    g_system = {{"/dev/ttyS0", ""}, {"/dev/ttyS1", ""}};
    QCOMPARE(numbers(), (QMap<int, QString>{{1, "/dev/ttyS0"}, {2, "/dev/ttyS1"}}));
    {
        KavoSim sim;
        QVERIFY(sim.start({"--com", "1"}));
        QCOMPARE(numbers(), (QMap<int, QString>{{1, sim.device()}, {2, "/dev/ttyS1"}, {3, "/dev/ttyS0"}}));
        QVERIFY(ComPorts::port(1).viaLink);
        QCOMPARE(ComPorts::port(1).identity, "link:" + sim.device());
    }
    QCOMPARE(numbers(), (QMap<int, QString>{{1, "/dev/ttyS0"}, {2, "/dev/ttyS1"}}));
    // The borrowed number was not remembered: a newcomer may have it.
    g_system = {{"/dev/ttyS0", ""}, {"/dev/ttyS1", ""}, {"/dev/ttyS2", ""}};
    QCOMPARE(numbers(), (QMap<int, QString>{{1, "/dev/ttyS0"}, {2, "/dev/ttyS1"}, {3, "/dev/ttyS2"}}));
}

// Two adapters with one serial number are told apart by their device paths.
void tst_ComPorts::sameSerialTwice()
{
    g_system = {{"/dev/ttyUSB0", "SAME"}, {"/dev/ttyUSB1", "SAME"}};
    QCOMPARE(numbers(), (QMap<int, QString>{{1, "/dev/ttyUSB0"}, {2, "/dev/ttyUSB1"}}));
    QCOMPARE(ComPorts::port(2).identity, QString("device:/dev/ttyUSB1"));
    g_system = {{"/dev/ttyUSB1", "SAME"}, {"/dev/ttyUSB0", "SAME"}};
    QCOMPARE(numbers(), (QMap<int, QString>{{1, "/dev/ttyUSB0"}, {2, "/dev/ttyUSB1"}}));
}

// kavoctl, another process, finds the numbers this process gave the machine's own ports.
void tst_ComPorts::kavoctlShowsSameNumbers()
{
    ComPorts::setSystemPortsSource({});
    if (ComPorts::systemPorts().isEmpty())
        QSKIP("this machine has no serial port of its own");
    KavoSim sim;
    QVERIFY(sim.start({"--com", "1"}));
    // The first system port is remembered on a number of its own, high up.
    const QString first = ComPorts::systemPorts().first().path;
    const QString identity = ComPorts::systemPorts().first().serialNumber.isEmpty()
                                 ? "device:" + first : "serial:" + ComPorts::systemPorts().first().serialNumber;
    {
        QSettings settings;
        settings.setValue(NumbersGroup + "/COM12", identity);
    }
    const QMap<int, QString> here = numbers();
    QCOMPARE(here.value(12), first);
    QCOMPARE(here.value(1), sim.device());

    const Run run = runProgram(QStringLiteral(KAVOCTL_PATH), {QStringLiteral("ports")}, m_env);
    QCOMPARE(run.code, 0);
    QMap<int, QString> there;
    const QMap<QString, QString> lines = portLines(run);
    for (auto it = lines.cbegin(); it != lines.cend(); ++it)
        there.insert(it.key().mid(3).toInt(), it.value().section(QLatin1Char(' '), 0, 0));
    QCOMPARE(there, here);
}

// Ports that exist but cannot be opened are listed with the reason, naming the COM number
// and the device; kavoctl ports prints the same.
void tst_ComPorts::listingTellsWhy_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::newRow("in use") << "busy" << "which is in use by another program";
    QTest::newRow("plain file") << "file" << "which is not a serial device but a plain file";
    QTest::newRow("folder") << "folder" << "which is a folder, not a serial device";
    QTest::newRow("character device of another kind") << "null" << "which is not a serial device but a character device";
    QTest::newRow("missing") << "missing" << "which is missing: the link";
}

void tst_ComPorts::listingTellsWhy()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    KavoSim good, sim;
    QVERIFY(good.start({"--com", "2"}));   // first, so that it cannot get a device freed below
    QSerialPort holder;
    QString device;
    if (kind == "busy") {
        QVERIFY(sim.start({"--com", "5"}));
        holder.setPortName(sim.device());
        QVERIFY(holder.open(QIODevice::ReadWrite));
        device = sim.device();
    } else if (kind == "missing") {
        // As a killed simulator leaves it, but pointing at a path no other program can get
        // meanwhile (a freed pseudo-terminal number soon names someone else's device).
        device = dir.filePath("vanished-device");
        QVERIFY(QFile::link(device, ComPorts::portsFolder() + "/COM5"));
    } else {
        device = kind == "null" ? QStringLiteral("/dev/null") : dir.filePath(kind);
        if (kind == "file") {
            QFile file(device);
            QVERIFY(file.open(QIODevice::WriteOnly));
        } else if (kind == "folder") {
            QVERIFY(QDir().mkpath(device));
        }
        QVERIFY(QFile::link(device, ComPorts::portsFolder() + "/COM5"));
    }

    const PortListing::Listing listing = PortListing::list();
    QCOMPARE(listing.entries.size(), 2);
    QVERIFY(listing.anyUsable());
    QCOMPARE(listing.unusable().size(), 1);
    const PortListing::Entry entry = listing.unusable().first();
    QCOMPARE(entry.name(), QString("COM5"));
    QCOMPARE(entry.port.device, device);
    QVERIFY2(entry.problem.startsWith("COM5 is " + device + ", " + reason), qPrintable(entry.problem));
    QVERIFY(!entry.problem.contains('\n'));

    const Run run = runProgram(QStringLiteral(KAVOCTL_PATH), {QStringLiteral("ports")}, m_env);
    QCOMPARE(run.code, 0);
    const QMap<QString, QString> lines = portLines(run);
    QCOMPARE(lines.value("COM2"), good.device() + " available");
    QVERIFY2(lines.value("COM5").startsWith(device + " not available: COM5 is " + device + ", " + reason),
             qPrintable(describe(run)));
    QFile::remove(ComPorts::portsFolder() + "/COM5");
}

// A user who may not use a device learns what to do: join the group that may use it and log
// in again, or, for a device of root alone, that the group will not help.
void tst_ComPorts::noPermission_data()
{
    QTest::addColumn<QString>("groupName");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QStringList>("advice");
    QTest::newRow("dialout may use it") << "dialout" << 0660
                                        << QStringList{"no permission to use", "'dialout' group", "usermod -aG dialout",
                                                       "then log in again"};
    QTest::newRow("root alone") << "root" << 0600
                                << QStringList{"no permission to use", "belongs to root alone", "crw-------",
                                               "'dialout' group will not help"};
}

void tst_ComPorts::noPermission()
{
    QFETCH(QString, groupName);
    QFETCH(int, mode);
    QFETCH(QStringList, advice);
    const struct group *gr = ::getgrnam(groupName.toLatin1().constData());
    if (!gr)
        QSKIP("no such group on this machine");

    KavoSim sim;
    QVERIFY(sim.start({"--com", "3"}));
    QVERIFY(::chown(QFile::encodeName(sim.device()).constData(), 0, gr->gr_gid) == 0);
    QVERIFY(::chmod(QFile::encodeName(sim.device()).constData(), mode_t(mode)) == 0);

    // nobody's own runtime folder, publishing the same device as COM3.
    QTemporaryDir dir;
    const QString runtime = dir.filePath("runtime");
    QVERIFY(makeFolder(dir.path(), 0755));
    QVERIFY(makeFolder(runtime, 0700, Nobody));
    QVERIFY(makeFolder(runtime + "/kavoconfig", 0700, Nobody));
    QVERIFY(makeFolder(runtime + "/kavoconfig/ports", 0700, Nobody));
    QVERIFY(QFile::link(sim.device(), runtime + "/kavoconfig/ports/COM3"));
    QProcessEnvironment env = m_env;
    env.insert("XDG_RUNTIME_DIR", runtime);
    env.insert("XDG_CONFIG_HOME", runtime);
    env.insert("HOME", runtime);

    // A copy of kavoctl that nobody may run: the build folder may be closed to other users.
    const QString kavoctl = dir.filePath("kavoctl");
    QVERIFY(QFile::copy(QStringLiteral(KAVOCTL_PATH), kavoctl));
    QVERIFY(::chmod(QFile::encodeName(kavoctl).constData(), 0755) == 0);

    const Run run = runProgram(kavoctl, {QStringLiteral("ports")}, env, true);
    QVERIFY2(run.code == 0, qPrintable(describe(run)));
    const QString line = portLines(run).value("COM3");
    QVERIFY2(line.startsWith(sim.device() + " not available: COM3 is " + sim.device() + ", which you have"),
             qPrintable(describe(run)));
    for (const QString &words : advice)
        QVERIFY2(line.contains(words), qPrintable(words + "\n" + describe(run)));
}

// A listing opens no port: what another program's line holds and has not read yet is still
// there afterwards, and the line's settings are as that program set them.
void tst_ComPorts::listingLeavesPortsAlone()
{
    int master = -1, slave = -1;
    QVERIFY(::openpty(&master, &slave, nullptr, nullptr, nullptr) == 0);
    const QString device = QString::fromLocal8Bit(::ttyname(slave));
    termios settings {};
    QVERIFY(::tcgetattr(slave, &settings) == 0);
    ::cfmakeraw(&settings);
    ::cfsetspeed(&settings, B19200);
    QVERIFY(::tcsetattr(slave, TCSANOW, &settings) == 0);
    const QByteArray unread(33, 'u');
    QVERIFY(::write(master, unread.constData(), size_t(unread.size())) == unread.size());
    const QString link = ComPorts::portsFolder() + "/COM9";
    QVERIFY(QFile::link(device, link));

    // The listing of the window's COM list, and kavoctl ports.
    const PortListing::Listing listing = PortListing::list();
    QVERIFY(listing.entry(9).usable);
    const Run run = runProgram(QStringLiteral(KAVOCTL_PATH), {QStringLiteral("ports")}, m_env);
    QCOMPARE(run.code, 0);
    QCOMPARE(portLines(run).value("COM9"), device + " available");

    termios after {};
    QVERIFY(::tcgetattr(slave, &after) == 0);
    QCOMPARE(::cfgetispeed(&after), speed_t(B19200));
    QByteArray still(64, '\0');
    const ssize_t n = ::read(slave, still.data(), size_t(still.size()));
    QCOMPARE(QByteArray(still.constData(), int(n)), unread);
    QFile::remove(link);
    ::close(slave);
    ::close(master);
}

// A lock file that a process left when it ended, which this user may not remove, is named
// for what it is, with what to do; one of a living process names that process.
void tst_ComPorts::staleLockNamed()
{
    if (::geteuid() != 0)
        QSKIP("needs root to leave a lock file another user may not remove");
    const QString folder = QFileInfo("/var/lock").isDir() ? QStringLiteral("/var/lock") : QStringLiteral("/run/lock");
    KavoSim sim;
    QVERIFY(sim.start({"--com", "3"}));
    QVERIFY(::chmod(QFile::encodeName(sim.device()).constData(), 0666) == 0);
    const QString lock = folder + "/LCK.." + QString(sim.device()).remove("/dev/").replace('/', '_');
    QFile file(lock);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("2147483600\nkavoconfig\nsomehost\n");   // no such process
    file.close();

    QTemporaryDir dir;
    const QString runtime = dir.filePath("runtime");
    QVERIFY(makeFolder(dir.path(), 0755));
    QVERIFY(makeFolder(runtime, 0700, Nobody));
    QVERIFY(makeFolder(runtime + "/kavoconfig", 0700, Nobody));
    QVERIFY(makeFolder(runtime + "/kavoconfig/ports", 0700, Nobody));
    QVERIFY(QFile::link(sim.device(), runtime + "/kavoconfig/ports/COM3"));
    QProcessEnvironment env = m_env;
    env.insert("XDG_RUNTIME_DIR", runtime);
    env.insert("XDG_CONFIG_HOME", runtime);
    env.insert("HOME", runtime);
    const QString kavoctl = dir.filePath("kavoctl");
    QVERIFY(QFile::copy(QStringLiteral(KAVOCTL_PATH), kavoctl));
    QVERIFY(::chmod(QFile::encodeName(kavoctl).constData(), 0755) == 0);

    const Run run = runProgram(kavoctl, {QStringLiteral("ports")}, env, true);
    QFile::remove(lock);
    QVERIFY2(run.code == 0, qPrintable(describe(run)));
    const QString line = portLines(run).value("COM3");
    for (const QString &words : {QString("locked by " + lock), QString("process 2147483600 left when it ended"),
                                 QString("sudo rm " + lock)})
        QVERIFY2(line.contains(words), qPrintable(words + "\n" + describe(run)));
}

// Open uses the device the listing showed for the number when the user chose it.
void tst_ComPorts::openRefusesRepointedNumber()
{
    KavoSim first, second;
    QVERIFY(first.start({"--com", "3"}));
    QVERIFY(second.start({"--com", "4"}));
    KavoLink line;
    // The user sees COM3 as the first module and chooses it.
    const ComPorts::Port chosen = PortListing::list().entry(3).port;
    QCOMPARE(chosen.device, first.device());

    const QString link = ComPorts::portsFolder() + "/COM3";
    QVERIFY(QFile::remove(link));
    QVERIFY(QFile::link(second.device(), link));
    QString error;
    QVERIFY(!line.openPort(chosen, 9600, &error));
    QVERIFY2(error.startsWith("COM3 now names " + second.device() + ", not " + first.device()), qPrintable(error));
    QVERIFY2(error.contains("not opened"), qPrintable(error));
    QVERIFY(!line.portOpen());

    // Listed again and chosen again, the number stands for the second module.
    QVERIFY2(line.openPort(PortListing::list().entry(3).port, 9600, &error), qPrintable(error));
    QCOMPARE(line.devicePath(), second.device());
    QFile::remove(link);
}

// The reopen after a bit-rate change goes to the device that was open, or nowhere.
void tst_ComPorts::reopenRefusesRepointedNumber()
{
    KavoSim first, second;
    QVERIFY(first.start({"--com", "3"}));
    QVERIFY(second.start({"--com", "4"}));
    KavoLink line;
    QString error;
    QVERIFY2(line.openPort(ComPorts::port(3), 9600, &error), qPrintable(error));
    QCOMPARE(line.devicePath(), first.device());
    // The port that was open at another rate, as long as its number names the same device.
    const ComPorts::Port open = line.port();
    QVERIFY2(line.openPort(open, 19200, &error), qPrintable(error));

    const QString link = ComPorts::portsFolder() + "/COM3";
    QVERIFY(QFile::remove(link));
    QVERIFY(QFile::link(second.device(), link));
    QVERIFY(!line.openPort(open, 38400, &error));
    QVERIFY2(error.startsWith("COM3 now names " + second.device() + ", not " + first.device()), qPrintable(error));
    QVERIFY(!line.portOpen());
    // Nothing reached the other module.
    QVERIFY(second.log().isEmpty());
    QFile::remove(link);
}

// A port lost while open frees its number: a module plugged in again on it is opened.
void tst_ComPorts::lostPortFreesItsNumber()
{
    auto first = std::make_unique<KavoSim>();
    QVERIFY(first->start({"--com", "6"}));
    KavoLink line;
    QString error;
    QVERIFY2(line.openPort(ComPorts::port(6), 9600, &error), qPrintable(error));
    // Another device takes the freed number's old device meanwhile, so the next has another.
    KavoSim keeper;
    first->kill();
    QTRY_VERIFY_WITH_TIMEOUT(!line.portOpen(), 10000);
    QVERIFY(keeper.start({"--com", "7"}));
    QFile::remove(ComPorts::portsFolder() + "/COM6");   // the link the killed one left
    KavoSim again;
    QVERIFY(again.start({"--com", "6"}));
    QVERIFY2(line.openPort(ComPorts::port(6), 9600, &error), qPrintable(error));
    QCOMPARE(line.devicePath(), again.device());
}

QTEST_GUILESS_MAIN(tst_ComPorts)
#include "tst_comports.moc"
