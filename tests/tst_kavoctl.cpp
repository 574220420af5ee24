// kavoctl as a script runs it, against kavo-sim: each command's output and exit status,
// several ports in one call, JSON, settings files refused before anything is sent, a write
// at a new bit rate read back, uploads, and Ctrl+C in the middle of one.
#include <QFile>
#include <QJsonDocument>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/stat.h>

#include "settings/settingsfile.h"
#include "support/kavosim.h"
#include "support/testenv.h"

namespace {

struct Run {
    int code = -1;
    QString out;
    QString err;
};

Run kavoctl(const QStringList &arguments, int timeoutMs = 60000)
{
    QProcess process;
    process.start(QStringLiteral(KAVOCTL_PATH), arguments);
    Run run;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        run.err = QStringLiteral("(kavoctl did not end)");
        return run;
    }
    run.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

QString describe(const Run &run)
{
    return QStringLiteral("exit %1\n--- stdout\n%2--- stderr\n%3").arg(run.code).arg(run.out, run.err);
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

const QByteArray Written = "ST D 0\nST T 30\nST S 2\nST N 100\nST H 0\nST V 10 20\nST O 3\nST B 37\nST U 1\n";

} // namespace

class tst_Kavoctl : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void usage_data();
    void usage();
    void ports();
    void info();
    void severalPortsOneFailing();
    void json();
    void read();
    void badSettingsFileSendsNothing_data();
    void badSettingsFileSendsNothing();
    void writeAtNewRateThenRead();
    void writeReportsWhatDidNotStick_data();
    void writeReportsWhatDidNotStick();
    void play();
    void upload();
    void help();
    void localProblemsSendNothing_data();
    void localProblemsSendNothing();
    void outputsThatAreNoRegularFile();
    void moduleTextIsSafe_data();
    void moduleTextIsSafe();
    void settingsFromStandardInput();
    void interruptedWriteTellsWhatWasStored();
    void interruptedUpload_data();
    void interruptedUpload();
    void nextRunAfterKill();
    void severalPortsInOrder();
    void writeFilePerPort();
    void trace_data();
    void trace();

private:
    QTemporaryDir m_dir;
};

void tst_Kavoctl::initTestCase()
{
    TestEnv::isolate();
    QVERIFY(m_dir.isValid());
}

void tst_Kavoctl::usage_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("error");

    QTest::newRow("no command") << QStringList() << "no command given";
    QTest::newRow("unknown command") << QStringList{"flash"} << "'flash' is not a command";
    QTest::newRow("no port") << QStringList{"info"} << "no port given (--port COMn)";
    QTest::newRow("bad port") << QStringList{"info", "--port", "COM17"} << "'COM17' is not a COM port (COM1 to COM16)";
    QTest::newRow("bad rate") << QStringList{"info", "--port", "COM1", "--rate", "4800"} << "'4800' is not a bit rate";
    QTest::newRow("unknown option") << QStringList{"info", "--port", "COM1", "--fast"} << "Unknown option 'fast'.";
    QTest::newRow("write without file") << QStringList{"write", "--port", "COM1"} << "write takes one file";
    QTest::newRow("no such local file") << QStringList{"upload", "--port", "COM1", "/no/such.mp3"} << "Could not find '/no/such.mp3'";
    QTest::newRow("card path with a blank") << QStringList{"upload", "--port", "COM1", KAVOCTL_PATH, "--as", "/A B.MP3"}
                                            << "'/A B.MP3' is not a card path";
    // Numbers are plain decimal digits, and an option that takes one value takes it once.
    QTest::newRow("rate with a sign") << QStringList{"info", "--port", "COM1", "--rate", "+9600"} << "'+9600' is not a bit rate";
    QTest::newRow("rate with a leading zero") << QStringList{"info", "--port", "COM1", "--rate", "09600"}
                                              << "'09600' is not a bit rate";
    QTest::newRow("rate twice") << QStringList{"info", "--port", "COM1", "--rate", "9600", "--rate", "19200"}
                                << "--rate is given more than once";
    QTest::newRow("jobs zero") << QStringList{"info", "--port", "COM1", "--jobs", "0"} << "'0' is not a number of ports at once";
    QTest::newRow("empty output") << QStringList{"read", "--port", "COM1", "-o", ""} << "-o needs a file name";
    QTest::newRow("option of another command") << QStringList{"info", "--port", "COM1", "--upload"} << "info takes no --upload";
    QTest::newRow("version with a command") << QStringList{"--version", "info"} << "--version goes alone";
    QTest::newRow("help of no command") << QStringList{"help", "flash"} << "'flash' is not a command";
    // A long value is quoted cut short.
    QTest::newRow("a page of digits") << QStringList{"info", "--port", "COM1", "--rate", QString(60000, '9')}
                                      << "'" + QString(40, '9') + "...' is not a bit rate";
}

void tst_Kavoctl::usage()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, error);
    const Run run = kavoctl(arguments);
    QCOMPARE(run.code, 2);
    QVERIFY2(run.err.contains(error), qPrintable(describe(run)));
    QVERIFY(run.out.isEmpty());
    QVERIFY2(run.err.size() < 1000, qPrintable(QString::number(run.err.size())));
}

void tst_Kavoctl::ports()
{
    KavoSim sim;
    QVERIFY(sim.start({"--com", "7"}));
    const Run text = kavoctl({"ports"});
    QCOMPARE(text.code, 0);
    QVERIFY2(text.out.contains(QStringLiteral("COM7 %1 available\n").arg(sim.device())), qPrintable(describe(text)));

    const Run json = kavoctl({"ports", "--json"});
    QCOMPARE(json.code, 0);
    bool found = false;
    for (const QString &line : json.out.split('\n', Qt::SkipEmptyParts)) {
        const QJsonObject port = QJsonDocument::fromJson(line.toUtf8()).object();
        QVERIFY2(port.contains("port"), qPrintable(line));
        if (port.value("port").toString() == "COM7") {
            found = true;
            QCOMPARE(port.value("device").toString(), sim.device());
            QVERIFY(port.value("usable").toBool());
        }
    }
    QVERIFY(found);
}

void tst_Kavoctl::info()
{
    KavoSim sim;
    QVERIFY(sim.start({"--rate", "19200"}));
    const Run run = kavoctl({"info", "--port", sim.comName()});
    QCOMPARE(run.code, 0);
    const QString port = sim.comName();
    QCOMPARE(run.out, QStringLiteral("%1: version Kavo v2.07KAV1 SN 00012345\n"
                                     "%1: bit rate 19200 bps\n"
                                     "%1: card capacity 1998848 KiB, free space 1998848 KiB\n"
                                     "%1: ok\n").arg(port));
    // Detection tried 9600 first, then found it at 19200.
    QCOMPARE(sim.log().first().rate, 9600);
}

void tst_Kavoctl::severalPortsOneFailing()
{
    KavoSim good, silent;
    QVERIFY(good.start());
    QVERIFY(silent.start({"--silent"}));
    const Run run = kavoctl({"info", "--rate", "9600", "--port", silent.comName() + "," + good.comName()});
    QCOMPARE(run.code, 1);
    QVERIFY2(run.out.endsWith(QStringLiteral("%1: failed: no Kavo answered\n%2: ok\n").arg(silent.comName(), good.comName())),
             qPrintable(describe(run)));
    QVERIFY2(run.err.contains(QStringLiteral("kavoctl: %1: %1 is not connected to a Kavo or there was a time-out trying to "
                                             "connect to the Kavo").arg(silent.comName())),
             qPrintable(describe(run)));
}

void tst_Kavoctl::json()
{
    KavoSim one, other;
    QVERIFY(one.start());
    QVERIFY(other.start({"--identity", "KAV9"}));
    const Run run = kavoctl({"info", "--json", "--rate", "9600", "--port", one.comName(), "--port", other.comName()});
    QCOMPARE(run.code, 1);
    const QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    const QJsonObject first = QJsonDocument::fromJson(lines[0].toUtf8()).object();
    QCOMPARE(first.value("port").toString(), one.comName());
    QVERIFY(first.value("ok").toBool());
    QCOMPARE(first.value("version").toString(), QString("Kavo v2.07KAV1 SN 00012345"));
    QCOMPARE(first.value("rate").toInt(), 9600);
    // Numbers as numbers.
    QCOMPARE(first.value("card").toObject().value("capacity").toDouble(), 1998848.0);
    QCOMPARE(first.value("card").toObject().value("freeSpace").toDouble(), 1998848.0);
    QCOMPARE(first.value("status").toString(), QString("ok"));
    const QJsonObject second = QJsonDocument::fromJson(lines[1].toUtf8()).object();
    QVERIFY(!second.value("ok").toBool());
    QCOMPARE(second.value("failure").toString(), QString("not a Kavo (identity 'KAV9')"));
}

void tst_Kavoctl::read()
{
    KavoSim sim;
    const QString state = m_dir.filePath("state");
    QVERIFY(writeFile(state, "T=77\nV=3 9\nB=37\n"));
    QVERIFY(sim.start({"--state", state}));
    const Run run = kavoctl({"read", "--port", sim.comName()});
    QCOMPARE(run.code, 0);
    // Standard output is the settings file alone; the summary goes to standard error.
    const SettingsFile::Parsed parsed = SettingsFile::parse(run.out.toLatin1());
    QVERIFY2(parsed.ok(), qPrintable(parsed.error + "\n" + describe(run)));
    QCOMPARE(parsed.strings.value('T'), QString("ST T 77"));
    QCOMPARE(parsed.strings.value('V'), QString("ST V 3 9"));
    QCOMPARE(parsed.strings.value('B'), QString("ST B 37"));
    QVERIFY(run.err.contains(sim.comName() + ": ok"));

    const QString file = m_dir.filePath("read-{port}.kavo");
    const Run toFile = kavoctl({"read", "--port", sim.comName(), "-o", file});
    QCOMPARE(toFile.code, 0);
    QCOMPARE(readFile(QString(file).replace("{port}", sim.comName())), run.out.toLatin1());
}

void tst_Kavoctl::badSettingsFileSendsNothing_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("error");
    QByteArray missing = Written;
    missing.replace("ST O 3\n", "");
    QTest::newRow("a setting missing") << missing << ": no value for Loop Count ('O')";
    QByteArray range = Written;
    range.replace("ST B 37", "ST B 256");
    QTest::newRow("out of range") << range << ": line 8: 'ST B 256': Bass Boost 256 is out of range (0 to 255)";
}

void tst_Kavoctl::badSettingsFileSendsNothing()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, error);
    KavoSim sim;
    QVERIFY(sim.start());
    const QString file = m_dir.filePath("bad.kavo");
    QVERIFY(writeFile(file, content));
    const Run run = kavoctl({"write", "--port", sim.comName(), file});
    QCOMPARE(run.code, 2);
    QVERIFY2(run.err.contains(file + error), qPrintable(describe(run)));
    QVERIFY(sim.log().isEmpty());
}

// Written at 9600 with the module moved to 115200, then read there.
void tst_Kavoctl::writeAtNewRateThenRead()
{
    KavoSim sim;
    QVERIFY(sim.start());
    const QString file = m_dir.filePath("fast.kavo");
    QByteArray content = Written;
    content.replace("ST D 0", "ST D 4");
    QVERIFY(writeFile(file, content));
    const Run run = kavoctl({"write", "--port", sim.comName(), file});
    QCOMPARE(run.code, 0);
    QVERIFY2(run.out.contains(sim.comName() + ": all nine settings written and read back at 115200 bps"),
             qPrintable(describe(run)));

    const Run back = kavoctl({"read", "--rate", "115200", "--port", sim.comName()});
    QCOMPARE(back.code, 0);
    const SettingsFile::Parsed parsed = SettingsFile::parse(back.out.toLatin1());
    QVERIFY2(parsed.ok(), qPrintable(describe(back)));
    QCOMPARE(parsed.strings, SettingsFile::parse(content).strings);
}

void tst_Kavoctl::writeReportsWhatDidNotStick_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QString>("error");

    QTest::newRow("refused") << QStringList{"--reply", "ST V 10 20=E05>"} << "failed: not stored: Volume - 'V' (reply 'E05')"
                             << "Not stored: Volume - 'V' (reply 'E05')";
    // Taken with a bare prompt, but the module keeps its old value.
    QTest::newRow("taken, not kept") << QStringList{"--reply", "ST O 3=>"}
                                     << "failed: did not stick: Loop Count - 'O' (wrote 'ST O 3', reads 'ST O 1')"
                                     << "Read back differs: Loop Count - 'O' (wrote 'ST O 3', reads 'ST O 1')";
}

void tst_Kavoctl::writeReportsWhatDidNotStick()
{
    QFETCH(QStringList, options);
    QFETCH(QString, failure);
    QFETCH(QString, error);
    KavoSim sim;
    QVERIFY(sim.start(options));
    const QString file = m_dir.filePath("write.kavo");
    QVERIFY(writeFile(file, Written));
    const Run run = kavoctl({"write", "--port", sim.comName(), file});
    QCOMPARE(run.code, 1);
    QVERIFY2(run.out.contains(sim.comName() + ": " + failure), qPrintable(describe(run)));
    QVERIFY2(run.err.contains(error), qPrintable(describe(run)));
}

void tst_Kavoctl::play()
{
    KavoSim sim;
    QVERIFY(sim.start());
    const Run without = kavoctl({"play", "--port", sim.comName()});
    QCOMPARE(without.code, 1);
    QVERIFY2(without.err.contains("The test file does not exist on the card; --upload sends it first."),
             qPrintable(describe(without)));

    const Run with = kavoctl({"play", "--upload", "--port", sim.comName()});
    QCOMPARE(with.code, 0);
    QVERIFY2(with.out.contains(sim.comName() + ": test file uploaded, playing /KAVOTEST.MP3"), qPrintable(describe(with)));
    QTRY_VERIFY_WITH_TIMEOUT(!sim.log().isEmpty() && sim.log().last().note == "played /KAVOTEST.MP3", 10000);
    const QByteArray shipped = readFile(QFileInfo(KAVOCTL_PATH).path() + "/KAVOTEST.MP3");
    QCOMPARE(readFile(sim.cardDir() + "/KAVOTEST.MP3"), shipped);

    // A copy of another size (an upload that stopped) is no test: a failure that says so,
    // until --upload replaces it.
    QVERIFY(writeFile(sim.cardDir() + "/KAVOTEST.MP3", shipped.left(512)));
    const Run shorter = kavoctl({"play", "--port", sim.comName()});
    QCOMPARE(shorter.code, 1);
    QVERIFY2(shorter.err.contains(QString("The test file on the card has 512 bytes, the one beside the program %1: the "
                                          "card's copy may be incomplete; --upload sends it again.")
                                      .arg(shipped.size())),
             qPrintable(describe(shorter)));
    const Run replaced = kavoctl({"play", "--upload", "--port", sim.comName()});
    QCOMPARE(replaced.code, 0);
    QCOMPARE(readFile(sim.cardDir() + "/KAVOTEST.MP3"), shipped);
}

void tst_Kavoctl::upload()
{
    KavoSim sim;
    QVERIFY(sim.start());
    const QString local = m_dir.filePath("chime.mp3");
    QByteArray content(1300, 'x');
    content[700] = '>';
    QVERIFY(writeFile(local, content));
    const Run run = kavoctl({"upload", "--port", sim.comName(), local});
    QCOMPARE(run.code, 0);
    QVERIFY2(run.out.contains(sim.comName() + ": 1300 bytes sent to /CHIME.MP3"), qPrintable(describe(run)));
    QCOMPARE(readFile(sim.cardDir() + "/CHIME.MP3"), content);

    const Run named = kavoctl({"upload", "--port", sim.comName(), local, "--as", "/BELL.MP3"});
    QCOMPARE(named.code, 0);
    QCOMPARE(readFile(sim.cardDir() + "/BELL.MP3"), content);
}

void tst_Kavoctl::help()
{
    const Run all = kavoctl({"--help"});
    QCOMPARE(all.code, 0);
    for (const char *part : {"Examples:", "Exit status:", "ST V 16", "kavoctl help [COMMAND]", "--jobs"})
        QVERIFY2(all.out.contains(part), part);
    const Run one = kavoctl({"help", "write"});
    QCOMPARE(one.code, 0);
    QVERIFY2(one.out.startsWith("Usage: kavoctl write --port COMn[,COMn...] [options] FILE"), qPrintable(one.out));
    QCOMPARE(kavoctl({"write", "--help"}).out, one.out);
}

// What is wrong locally is found before any port is touched: status 2, nothing sent.
void tst_Kavoctl::localProblemsSendNothing_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("error");
    QTest::newRow("output folder missing") << "read-missing-folder" << "does not exist";
    QTest::newRow("output is a folder") << "read-folder" << "is a folder";
    QTest::newRow("upload file empty") << "upload-empty" << "is empty; there is nothing to send";
    QTest::newRow("upload file is a folder") << "upload-folder" << "It is a folder, not a file that can be sent.";
    QTest::newRow("upload file is a named pipe") << "upload-fifo" << "It is a named pipe, not a file that can be sent.";
    QTest::newRow("settings file is a named pipe") << "write-fifo" << "not a regular file";
    QTest::newRow("settings file with a page of digits") << "write-long" << "is not a plain decimal number";
    QTest::newRow("trace folder missing") << "trace-missing-folder" << "--trace";
    QTest::newRow("trace is a folder") << "trace-folder" << "--trace";
}

void tst_Kavoctl::localProblemsSendNothing()
{
    QFETCH(QString, kind);
    QFETCH(QString, error);
    KavoSim sim;
    QVERIFY(sim.start());
    QTemporaryDir dir;
    const QString path = dir.filePath("x");
    QStringList args;
    if (kind == "read-missing-folder") {
        args = {"read", "-o", dir.filePath("no/such/folder/x.kavo")};
    } else if (kind == "read-folder") {
        args = {"read", "-o", dir.path()};
    } else if (kind == "upload-empty") {
        QVERIFY(writeFile(path, QByteArray()));
        args = {"upload", path};
    } else if (kind == "upload-folder") {
        args = {"upload", dir.path()};
    } else if (kind == "upload-fifo" || kind == "write-fifo") {
        QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        args = kind == "write-fifo" ? QStringList{"write", path} : QStringList{"upload", path};
    } else if (kind == "write-long") {
        QByteArray content = Written;
        content.replace("ST N 100", "ST N " + QByteArray(60000, '7'));
        QVERIFY(writeFile(path, content));
        args = {"write", path};
    } else if (kind == "trace-missing-folder") {
        args = {"info", "--trace", dir.filePath("no/such/folder/trace.log")};
    } else if (kind == "trace-folder") {
        args = {"info", "--trace", dir.path()};
    }
    const Run run = kavoctl(args + QStringList{"--port", sim.comName()}, 20000);
    QCOMPARE(run.code, 2);
    QVERIFY2(run.err.contains(error) && run.err.contains("Nothing was sent"), qPrintable(describe(run)));
    QVERIFY2(run.err.size() < 2000, qPrintable(QString::number(run.err.size())));
    QVERIFY(sim.log().isEmpty());
}

// An output that is not a regular file is written where it stands, never replaced.
void tst_Kavoctl::outputsThatAreNoRegularFile()
{
    KavoSim sim;
    QVERIFY(sim.start());
    // /dev/null stays the device it is.
    const Run toNull = kavoctl({"read", "--port", sim.comName(), "-o", "/dev/null"});
    QCOMPARE(toNull.code, 0);
    QVERIFY(QFileInfo("/dev/null").isFile() == false);
    // Standard output named as a file, appended to a log: the log keeps what it had.
    const QString log = m_dir.filePath("all.log");
    QVERIFY(writeFile(log, "before\n"));
    QProcess shell;
    shell.start("/bin/sh", {"-c", QString("'%1' read --port %2 -o /dev/stdout >> '%3'").arg(KAVOCTL_PATH, sim.comName(), log)});
    QVERIFY(shell.waitForFinished(60000));
    QCOMPARE(shell.exitCode(), 0);
    const QByteArray content = readFile(log);
    QVERIFY2(content.startsWith("before\n") && content.contains("ST N "), content.constData());
    // A named pipe a program reads from is written into, and stays a pipe.
    const QString fifo = m_dir.filePath("settings.fifo");
    QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
    QProcess reader;
    reader.start("/bin/cat", {fifo});
    QVERIFY(reader.waitForStarted());
    const Run toFifo = kavoctl({"read", "--port", sim.comName(), "-o", fifo});
    QCOMPARE(toFifo.code, 0);
    QVERIFY(reader.waitForFinished(10000));
    QVERIFY(reader.readAllStandardOutput().contains("ST N "));
    QVERIFY(QFileInfo(fifo).isFile() == false);
    // Standard output that cannot be written fails the run.
    QProcess full;
    full.setStandardOutputFile("/dev/full");
    full.start(QStringLiteral(KAVOCTL_PATH), {"read", "--port", sim.comName()});
    QVERIFY(full.waitForFinished(60000));
    QCOMPARE(full.exitCode(), 1);
    QVERIFY(full.readAllStandardError().contains("cannot write to standard output"));
}

// Text from the module never reaches the terminal as control codes, and a number from the
// module that is no number is an error that quotes it.
void tst_Kavoctl::moduleTextIsSafe_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("shown");
    // The texts the simulator is given and what the output must show both hold the escapes
    // as text: a backslash, then e or x07.
    QTest::newRow("version with escape sequences") << "V=Kavo v2.07KAV1 \\e]0;owned\\x07\\e[2J\\rFAKE: ok>" << 0
                                                   << "Kavo v2.07KAV1 \\e]0;owned\\x07\\e[2J\\rFAKE: ok";
    QTest::newRow("free space that is no number") << "FC Q=1998848 \\e[2J1997312>" << 1 << "\\e[2J1997312";
}

void tst_Kavoctl::moduleTextIsSafe()
{
    QFETCH(QString, reply);
    QFETCH(int, code);
    QFETCH(QString, shown);
    KavoSim sim;
    QVERIFY(sim.start({"--reply", reply}));
    const Run run = kavoctl({"info", "--port", sim.comName()});
    QCOMPARE(run.code, code);
    QVERIFY2(!run.out.contains(QChar(0x1b)) && !run.err.contains(QChar(0x1b)) && !run.out.contains('\a'),
             qPrintable(describe(run)));
    QVERIFY2((run.out + run.err).contains(shown), qPrintable(describe(run)));
    const Run json = kavoctl({"info", "--json", "--port", sim.comName()});
    QVERIFY(!json.out.contains(QChar(0x1b)));
}

void tst_Kavoctl::settingsFromStandardInput()
{
    KavoSim sim;
    QVERIFY(sim.start());
    QProcess process;
    process.start(QStringLiteral(KAVOCTL_PATH), {"write", "--port", sim.comName(), "-"});
    QVERIFY(process.waitForStarted());
    // As a text editor saves it: a byte order mark first.
    process.write("\xEF\xBB\xBF" + Written);
    process.closeWriteChannel();
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.exitCode(), 0);
    QVERIFY(sim.commands().contains("ST N 100"));
}

// An interrupted write says what the module took and what not.
void tst_Kavoctl::interruptedWriteTellsWhatWasStored()
{
    KavoSim sim;
    // The answer comes 800 ms late: after the interruption, during the next run's probe.
    QVERIFY(sim.start({"--delay", "ST H 0=800"}));
    const QString file = m_dir.filePath("slow.kavo");
    QVERIFY(writeFile(file, Written));
    QProcess process;
    process.start(QStringLiteral(KAVOCTL_PATH), {"write", "--json", "--port", sim.comName(), file});
    QVERIFY(process.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(sim.commands().contains("ST H 0"), 20000);
    ::kill(pid_t(process.processId()), SIGINT);
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitCode(), 130);
    const QJsonObject object = QJsonDocument::fromJson(process.readAllStandardOutput()).object();
    QCOMPARE(object.value("status").toString(), QString("interrupted"));
    QCOMPARE(object.value("stored").toArray().size(), 3);   // T, S, N
    QVERIFY2(process.readAllStandardError().contains("interrupted while writing: stored: Write Time-out, Input Style, "
                                                     "Input File Number Offset; not stored: Hardware Busy Indicator"),
             "the interruption says what was stored");
    // Interrupted while the answer was late: the next run finds the module at once.
    const Run next = kavoctl({"info", "--port", sim.comName()});
    QVERIFY2(next.code == 0, qPrintable(describe(next)));
}

// A signal ends every port at once: the card files are closed, the ports released, and the
// summary says which ports were interrupted and which were not reached.
void tst_Kavoctl::interruptedUpload_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("Ctrl+C") << int(SIGINT);
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("terminal closed") << int(SIGHUP);
}

void tst_Kavoctl::interruptedUpload()
{
    QFETCH(int, signal);
    KavoSim first, second, third;
    QVERIFY(first.start({"--pace"}));
    QVERIFY(second.start({"--pace"}));
    QVERIFY(third.start());
    const QString local = m_dir.filePath("long.mp3");
    QVERIFY(writeFile(local, QByteArray(64 * 1024, 'y')));   // about 70 s at 9600 bps
    QProcess process;
    process.start(QStringLiteral(KAVOCTL_PATH), {"upload", "--rate", "9600", "--jobs", "2", "--port",
                                                 first.comName() + "," + second.comName() + "," + third.comName(), local});
    QVERIFY(process.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(first.commands().count("FC W 1 512") >= 2 && second.commands().count("FC W 1 512") >= 2,
                             20000);
    ::kill(pid_t(process.processId()), signal);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(process.waitForFinished(10000));
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(process.exitCode(), 128 + signal);
    const QString out = QString::fromLocal8Bit(process.readAllStandardOutput());
    QVERIFY(QString::fromLocal8Bit(process.readAllStandardError()).contains("kavoctl: interrupted"));
    QVERIFY2(out.endsWith(first.comName() + ": interrupted\n" + second.comName() + ": interrupted\n" + third.comName()
                          + ": not reached\n"),
             qPrintable(out));
    for (const KavoSim *sim : {&first, &second})
        QTRY_COMPARE_WITH_TIMEOUT(sim->commands().last(), QString("FC C 1"), 10000);
    QVERIFY(third.log().isEmpty());
}

// A run killed in the middle of an upload leaves the module busy with its last piece and a
// prompt on the way: the next run still finds the module at once.
void tst_Kavoctl::nextRunAfterKill()
{
    KavoSim sim;
    QVERIFY(sim.start({"--pace"}));
    const QString local = m_dir.filePath("long.mp3");
    QVERIFY(writeFile(local, QByteArray(64 * 1024, 'z')));
    for (int round = 1; round <= 3; ++round) {
        QProcess process;
        process.start(QStringLiteral(KAVOCTL_PATH), {"upload", "--rate", "9600", "--port", sim.comName(), local});
        QVERIFY(process.waitForStarted());
        const qsizetype before = sim.commands().count("FC W 1 512");
        QTRY_VERIFY_WITH_TIMEOUT(sim.commands().count("FC W 1 512") >= before + round, 20000);
        ::kill(pid_t(process.processId()), SIGKILL);
        QVERIFY(process.waitForFinished(10000));
        const Run next = kavoctl({"info", "--port", sim.comName()});
        QVERIFY2(next.code == 0, qPrintable(QString("round %1: %2").arg(round).arg(describe(next))));
    }
}

// Several ports at once: whatever finishes first, each port's lines come together and in
// the order of --port, and so does the summary.
void tst_Kavoctl::severalPortsInOrder()
{
    KavoSim slow, fast, failing;
    QVERIFY(slow.start({"--delay", "V=800"}));
    QVERIFY(fast.start());
    QVERIFY(failing.start({"--identity", "KAV9"}));
    const Run run = kavoctl({"info", "--port", slow.comName() + "," + fast.comName() + "," + failing.comName()});
    QCOMPARE(run.code, 1);
    QStringList ports;
    for (const QString &line : run.out.split('\n', Qt::SkipEmptyParts)) {
        const QString port = line.section(':', 0, 0);
        if (ports.isEmpty() || ports.last() != port)
            ports << port;
    }
    // Details of each port together (the failing one has none), then the summary in the same
    // order.
    QCOMPARE(ports, (QStringList{slow.comName(), fast.comName(), slow.comName(), fast.comName(), failing.comName()}));
    QVERIFY2(run.out.endsWith(slow.comName() + ": ok\n" + fast.comName() + ": ok\n" + failing.comName()
                              + ": failed: not a Kavo (identity 'KAV9')\n"),
             qPrintable(describe(run)));

    // One after another with --jobs 1: every status text of the first port before the second's.
    const Run serial = kavoctl({"info", "-v", "--jobs", "1", "--port", fast.comName() + "," + slow.comName()});
    QCOMPARE(serial.code, 0);
    const QStringList statuses = serial.err.split('\n', Qt::SkipEmptyParts);
    const qsizetype lastOfFirst = statuses.lastIndexOf(QRegularExpression(fast.comName() + ": .*"));
    const qsizetype firstOfSecond = statuses.indexOf(QRegularExpression(slow.comName() + ": .*"));
    QVERIFY2(lastOfFirst >= 0 && firstOfSecond > lastOfFirst, qPrintable(describe(serial)));
}

// A file per port: each module gets its own settings.
void tst_Kavoctl::writeFilePerPort()
{
    KavoSim one, two;
    QVERIFY(one.start());
    QVERIFY(two.start());
    QByteArray forTwo = Written;
    forTwo.replace("ST N 100", "ST N 200");
    QVERIFY(writeFile(m_dir.filePath("set-" + one.comName() + ".kavo"), Written));
    QVERIFY(writeFile(m_dir.filePath("set-" + two.comName() + ".kavo"), forTwo));
    const Run run = kavoctl({"write", "--port", one.comName() + "," + two.comName(), m_dir.filePath("set-{port}.kavo")});
    QVERIFY2(run.code == 0, qPrintable(describe(run)));
    QVERIFY(one.commands().contains("ST N 100"));
    QVERIFY(two.commands().contains("ST N 200"));
    QVERIFY(!one.commands().contains("ST N 200"));
}

void tst_Kavoctl::trace_data()
{
    QTest::addColumn<bool>("toFile");   // otherwise standard error
    QTest::newRow("to a file") << true;
    QTest::newRow("to standard error") << false;
}

// --trace: every line on every port, one a line in a fixed form, the port's own commands in
// the order the module heard them; the JSON on standard output stays as it is.
void tst_Kavoctl::trace()
{
    QFETCH(bool, toFile);
    KavoSim one, two;
    QVERIFY(one.start());
    QVERIFY(two.start({"--rate", "19200"}));
    QTemporaryDir dir;
    const QString path = dir.filePath("trace.log");
    const Run run = kavoctl({"info", "--json", "--port", one.comName() + "," + two.comName(), "--trace",
                             toFile ? path : QStringLiteral("-")});
    QCOMPARE(run.code, 0);
    const QStringList objects = run.out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(objects.size(), 2);
    for (const QString &object : objects)
        QVERIFY2(QJsonDocument::fromJson(object.toUtf8()).isObject(), qPrintable(object));

    const QStringList lines = (toFile ? QString::fromUtf8(readFile(path)) : run.err).split('\n', Qt::SkipEmptyParts);
    static const QRegularExpression form(
        QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} \\+\\d+\\.\\d{6} (COM\\d+) (\\d+) ([SRD*]) (.*)$"));
    for (const KavoSim *sim : {&one, &two}) {
        QStringList sent, events;
        for (const QString &line : lines) {
            const QRegularExpressionMatch match = form.match(line);
            QVERIFY2(match.hasMatch(), qPrintable(line));
            if (match.captured(1) != sim->comName())
                continue;
            if (match.captured(3) == QStringLiteral("S"))
                sent << match.captured(4).chopped(2);   // less the "\r" shown
            else if (match.captured(3) == QStringLiteral("*"))
                events << match.captured(2) + QLatin1Char(' ') + match.captured(4);
        }
        QStringList heard = sim->commands();
        heard.removeAll(QString());   // the simulator logs the probe's escape and its CR apart
        QCOMPARE(sent, heard);
        // Opened at each rate tried until the module answered, closed at the end.
        QVERIFY2(!events.isEmpty() && events.last().endsWith(QStringLiteral(" closed")), qPrintable(events.join('|')));
        QVERIFY2(events.contains(QStringLiteral("%1 opened at %1 bps").arg(sim == &one ? 9600 : 19200)),
                 qPrintable(events.join('|')));
        QVERIFY(lines.filter(sim->comName() + QStringLiteral(" ") + QString::number(sim == &one ? 9600 : 19200)
                             + QStringLiteral(" R Kavo v2.07KAV1 SN 00012345>"))
                    .size()
                == 1);
    }
}

QTEST_GUILESS_MAIN(tst_Kavoctl)
#include "tst_kavoctl.moc"
