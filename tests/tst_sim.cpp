// End-to-end checks of kavo-sim over its pseudo-terminal, driven with plain POSIX calls.
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "support/kavosim.h"
#include "support/testenv.h"

namespace {

const QByteArray kVersion = "Kavo v2.07KAV1 SN 00012345>";

speed_t speedOf(int bps)
{
    switch (bps) {
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B9600;
    }
}

// The tool's end of the line, opened like a serial port.
class Line
{
public:
    ~Line() { close(); }

    bool open(const QString &device, int bps)
    {
        close();
        m_fd = ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        return m_fd >= 0 && setRate(bps);
    }

    void close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

    // Raw, 8N1 without flow control, then the control and input flags given changed.
    bool setRate(int bps, tcflag_t cflagOff = 0, tcflag_t cflagOn = 0, tcflag_t iflagOn = 0)
    {
        termios tio {};
        if (::tcgetattr(m_fd, &tio) != 0)
            return false;
        ::cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        tio.c_cflag &= ~(CSTOPB | CRTSCTS);
        tio.c_iflag &= ~(IXON | IXOFF);
        tio.c_cflag = (tio.c_cflag & ~cflagOff) | cflagOn;
        tio.c_iflag |= iflagOn;
        ::cfsetispeed(&tio, speedOf(bps));
        ::cfsetospeed(&tio, speedOf(bps));
        return ::tcsetattr(m_fd, TCSANOW, &tio) == 0;
    }

    bool send(const QByteArray &bytes)
    {
        qsizetype done = 0;
        QDeadlineTimer deadline(10000);
        while (done < bytes.size() && !deadline.hasExpired()) {
            const ssize_t n = ::write(m_fd, bytes.constData() + done, size_t(bytes.size() - done));
            if (n > 0) {
                done += n;
            } else if (n < 0 && errno == EAGAIN) {
                pollfd p {m_fd, POLLOUT, 0};
                ::poll(&p, 1, int(deadline.remainingTime()));
            } else if (n < 0 && errno != EINTR) {
                return false;
            }
        }
        return done == bytes.size();
    }

    // Reads until count bytes have come, or 10 s have passed.
    QByteArray read(qsizetype count)
    {
        QByteArray got;
        QDeadlineTimer deadline(10000);
        while (got.size() < count && !deadline.hasExpired()) {
            pollfd p {m_fd, POLLIN, 0};
            if (::poll(&p, 1, int(deadline.remainingTime())) <= 0)
                continue;
            char buffer[4096];
            const ssize_t n = ::read(m_fd, buffer, size_t(std::min<qsizetype>(count - got.size(), sizeof buffer)));
            if (n > 0)
                got.append(buffer, n);
            else if (n == 0 || (errno != EAGAIN && errno != EINTR))
                break;
        }
        return got;
    }

    // True when bytes are waiting to be read.
    bool pending()
    {
        pollfd p {m_fd, POLLIN, 0};
        return ::poll(&p, 1, 0) > 0;
    }

    QByteArray ask(const QByteArray &command, qsizetype answerSize)
    {
        return send(command) ? read(answerSize) : QByteArray("<send failed>");
    }

private:
    int m_fd = -1;
};

using Steps = QList<std::pair<QByteArray, QByteArray>>;

// CPU seconds used by the children of this process that have ended and been waited for.
double childrenCpu()
{
    rusage usage {};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

class TestSim : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void exchange_data();
    void exchange();
    void refusedLines_data();
    void refusedLines();
    void rateSwitchAfterPrompt();
    void mismatch_data();
    void mismatch();
    void halfTakenForgotten_data();
    void halfTakenForgotten();
    void writeTimeOut_data();
    void writeTimeOut();
    void babble_data();
    void babble();
    void delay_data();
    void delay();
    void delayedCommandTakesEffect();
    void upload();
    void pacedLineTime_data();
    void pacedLineTime();
    void logLines();
    void portLink();
    void refusals_data();
    void refusals();
    void cardLinksNotFollowed();
    void hangupAfter();

private:
    struct PacedRun {
        QList<double> arrived;   // seconds from the first byte written until each answer was in
        double cpu = 0;          // CPU seconds the simulator used from start to end
    };
    void pacedRun(int rate, const QStringList &options, bool ahead, const QByteArrayList &commands,
                  const QByteArrayList &answers, PacedRun &run);
    bool start(KavoSim &sim, QStringList options = {});
    QString linkPath(int com) const { return m_ports.filePath(QStringLiteral("COM%1").arg(com)); }

    QTemporaryDir m_dir;
    QDir m_ports;
    QString m_stateFile;
};

void TestSim::initTestCase()
{
    TestEnv::isolate();
    QVERIFY(m_dir.isValid());
    m_ports = QDir(m_dir.filePath(QStringLiteral("ports")));
    m_stateFile = m_dir.filePath(QStringLiteral("state.txt"));
    QFile state(m_stateFile);
    QVERIFY(state.open(QIODevice::WriteOnly));
    state.write("# saved by hand\nV=10 20\nB=37\nD=1\n");
}

bool TestSim::start(KavoSim &sim, QStringList options)
{
    options << QStringLiteral("--ports-dir") << m_ports.path();
    return sim.start(options);
}

void TestSim::exchange_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("rate");
    QTest::addColumn<QByteArrayList>("commands");
    QTest::addColumn<QByteArrayList>("answers");

    auto row = [](const char *name, const QStringList &options, int rate, const Steps &steps) {
        QByteArrayList commands;
        QByteArrayList answers;
        for (const auto &[command, answer] : steps) {
            commands << command;
            answers << answer;
        }
        QTest::newRow(name) << options << rate << commands << answers;
    };

    row("probe and empty line", {}, 9600, {{"\x1b\r", ">>"}, {"\r", ">"}, {"ST B 9\x1b", ">"}, {"ST B\r", "0>"}});
    row("version", {}, 9600, {{"V\r", kVersion}});
    row("other identity", {"--identity", "XY9Z"}, 9600, {{"V\r", "Kavo v2.07XY9Z SN 00012345>"}});
    row("card facts", {"--capacity", "1000"}, 9600, {{"FC Q\r", "1000 1000>"}, {"FC F\r", "FAT32>"}});
    row("setting defaults", {}, 9600,
        {{"ST D\r", "0>"}, {"ST T\r", "20>"}, {"ST S\r", "1>"}, {"ST N\r", "0>"}, {"ST H\r", "1>"},
         {"ST V\r", "16 16>"}, {"ST O\r", "1>"}, {"ST B\r", "0>"}, {"ST U\r", "0>"}});
    row("settings in range", {}, 9600,
        {{"ST B 255\r", ">"}, {"ST B\r", "255>"}, {"ST N 32767\r", ">"}, {"ST N\r", "32767>"},
         {"ST V 10 20\r", ">"}, {"ST V\r", "10 20>"}, {"ST V 7\r", ">"}, {"ST V\r", "7 7>"},
         {"ST T 0\r", ">"}, {"ST T\r", "0>"}});
    row("settings out of range", {}, 9600,
        {{"ST B 256\r", "E05>"}, {"ST H 2\r", "E05>"}, {"ST T -1\r", "E05>"}, {"ST S x\r", "E05>"},
         {"ST O 1 2\r", "E05>"}, {"ST V 255\r", "E05>"}, {"ST V 1 2 3\r", "E05>"}, {"ST Q\r", "E05>"},
         {"ST b\r", "E05>"}, {"ST B\r", "0>"}, {"ST V\r", "16 16>"}, {"ST O\r", "1>"}});
    row("unknown commands", {}, 9600, {{"XY\r", "E01>"}, {"FC Z\r", "E01>"}, {"v\r", "E01>"}});
    // Every line the tool sends, as it sends them; the rate switch last.
    QByteArray piece(512, '\0');
    for (int i = 0; i < piece.size(); ++i)
        piece[i] = char((i * 7) & 0xff);
    row("the tool's lines", {"--capacity", "1000"}, 9600,
        {{"\x1b\r", ">>"}, {"\x1b", ">"}, {"\r", ">"}, {"V\r", kVersion}, {"FC Q\r", "1000 1000>"},
         {"FC F\r", "FAT32>"}, {"FC O 1 W /KAVOTEST.MP3\r", ">"}, {"FC W 1 512\r" + piece, ">"}, {"FC C 1\r", ">"},
         {"FC L /KAVOTEST.MP3\r", "512>"}, {"PC F /KAVOTEST.MP3\r", ">"}, {"ST V 10\r", ">"}, {"ST V\r", "10 10>"},
         {"ST V 10 20\r", ">"}, {"ST V\r", "10 20>"}, {"ST B 37\r", ">"}, {"ST B\r", "37>"}, {"ST D\r", "0>"},
         {"ST D 4\r", ">"}});
    row("echo", {"--echo"}, 9600,
        {{"V\r", "V\r" + kVersion}, {"\x1b\r", "\x1b>\r>"}, {"FC O 1 W /E.MP3\r", "FC O 1 W /E.MP3\r>"},
         {"FC W 1 3\ra>\r", "FC W 1 3\ra>\r>"}, {"FC L /E.MP3\r", "FC L /E.MP3\r3>"}});
    row("start rate", {"--rate", "38400"}, 38400, {{"V\r", kVersion}, {"ST D\r", "2>"}});
    row("state file", {"--state", m_stateFile}, 19200, {{"ST V\r", "10 20>"}, {"ST B\r", "37>"}, {"ST D\r", "1>"}});
    row("no card", {"--no-card"}, 9600,
        {{"FC Q\r", "E08>"}, {"FC F\r", "E08>"}, {"FC L /A.MP3\r", "E08>"}, {"PC F /A.MP3\r", "E08>"},
         {"FC O 1 W /A.MP3\r", "E08>"}, {"FC W 1 2\rab", "E08>"}, {"V\r", kVersion}});
    row("missing file and bad paths", {}, 9600,
        {{"FC L /NOPE.MP3\r", "EF2>"}, {"PC F /NOPE.MP3\r", "EF2>"}, {"FC O 1 W /a/b\r", "E05>"},
         {"FC L /..\r", "E05>"}, {"FC O 1 W /\r", "E05>"}});
    row("write without open file", {}, 9600,
        {{"FC W 1 3\rV\r>", "EF9>"}, {"FC W 1 0\r", "E05>"}, {"FC W 1 65536\r", "E05>"}, {"V\r", kVersion}});
    row("canned replies", {"--reply", "V=ab\\|cd>", "--reply", "ST B 5=>", "--reply", "FC F="}, 9600,
        {{"V\r", "abcd>"}, {"ST B 5\r", ">"}, {"ST B\r", "0>"}, {"FC F\r", ""}, {"\r", ">"}});
    row("probe reply", {"--probe-reply", "X\\|>>"}, 9600, {{"\x1b\r", "X>>"}, {"\r", ">"}});
    row("prefix and suffix", {"--prefix", "~", "--suffix", "\\r\\n"}, 9600,
        {{"V\r", "~" + kVersion + "\r\n"}, {"\x1b\r", "~>\r\n~>\r\n"}});
    row("byte by byte", {"--split-bytes", "2"}, 9600, {{"V\r", kVersion}, {"ST V\r", "16 16>"}});
    row("paced", {"--pace"}, 9600, {{"V\r", kVersion}, {"ST D 5\r", "E05>"}});
    row("paced at line rate", {"--pace", "--rate", "57600"}, 57600, {{"V\r", kVersion}, {"FC F\r", "FAT32>"}});
    row("write error", {"--write-error", "1"}, 9600,
        {{"FC O 1 W /A.MP3\r", ">"}, {"FC W 1 2\rab", "EF9>"}, {"FC W 1 2\rcd", ">"}, {"FC C 1\r", ">"},
         {"FC L /A.MP3\r", "2>"}});
    row("write error text", {"--write-error", "2=E77>"}, 9600,
        {{"FC O 1 W /A.MP3\r", ">"}, {"FC W 1 2\rab", ">"}, {"FC W 1 2\rcd", "E77>"}, {"FC C 1\r", ">"},
         {"FC L /A.MP3\r", "2>"}});
    row("write silent", {"--write-silent", "1"}, 9600,
        {{"FC O 1 W /A.MP3\r", ">"}, {"FC W 1 3\rabc", ""}, {"FC W 1 2\rcd", ">"}, {"FC C 1\r", ">"},
         {"FC L /A.MP3\r", "2>"}});
}

void TestSim::exchange()
{
    QFETCH(QStringList, options);
    QFETCH(int, rate);
    QFETCH(QByteArrayList, commands);
    QFETCH(QByteArrayList, answers);

    KavoSim sim;
    QVERIFY2(start(sim, options), qPrintable(sim.errorOutput()));
    Line line;
    QVERIFY(line.open(sim.device(), rate));
    for (qsizetype i = 0; i < commands.size(); ++i)
        QCOMPARE(line.ask(commands[i], answers[i].size()), answers[i]);
}

void TestSim::rateSwitchAfterPrompt()
{
    KavoSim sim;
    QVERIFY(start(sim, {"--pace"}));
    Line line;
    QVERIFY(line.open(sim.device(), 9600));
    // Answered at the old rate, prompt included.
    QCOMPARE(line.ask("ST D 1\r", 1), QByteArray(">"));

    // At the old rate the module no longer makes out a thing, nor the tool its answer.
    QVERIFY(line.send("V\r"));
    QTRY_VERIFY_WITH_TIMEOUT(!sim.log().isEmpty() && sim.log().last().note == "rate-mismatch", 10000);
    QCOMPARE(sim.log().last().rate, 9600);
    QCOMPARE(sim.log().last().command, QString("V"));
    const QByteArray garbled = KavoSim::unescape(sim.log().last().answer);
    QVERIFY(!garbled.isEmpty() && !garbled.contains('>'));
    QCOMPARE(line.read(garbled.size()), garbled);

    QVERIFY(line.setRate(19200));
    QCOMPARE(line.ask("V\r", kVersion.size()), kVersion);
    QCOMPARE(line.ask("ST D\r", 2), QByteArray("1>"));

    // The tool closing and reopening the port changes nothing.
    QVERIFY(line.open(sim.device(), 19200));
    QCOMPARE(line.ask("ST D\r", 2), QByteArray("1>"));
}

// Lines a module refuses, each answered with its error code; the line after it is taken as
// usual, and nothing was stored.
void TestSim::refusedLines_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("answer");

    QTest::newRow("two blanks") << QByteArray("ST  T 5\r") << QByteArray("E01>");
    QTest::newRow("two blanks before a value") << QByteArray("ST T  5\r") << QByteArray("E01>");
    QTest::newRow("leading blank") << QByteArray(" ST T 5\r") << QByteArray("E01>");
    QTest::newRow("trailing blank") << QByteArray("ST T 5 \r") << QByteArray("E01>");
    QTest::newRow("trailing blank after a query") << QByteArray("V \r") << QByteArray("E01>");
    QTest::newRow("blanks only") << QByteArray(" \r") << QByteArray("E01>");
    QTest::newRow("leading zero") << QByteArray("ST T 020\r") << QByteArray("E05>");
    QTest::newRow("leading zero, second value") << QByteArray("ST V 10 020\r") << QByteArray("E05>");
    QTest::newRow("two zeros") << QByteArray("ST T 00\r") << QByteArray("E05>");
    QTest::newRow("plus sign") << QByteArray("ST T +5\r") << QByteArray("E05>");
    QTest::newRow("minus sign") << QByteArray("ST V -1\r") << QByteArray("E05>");
    QTest::newRow("handle with a zero") << QByteArray("FC C 01\r") << QByteArray("E05>");
    QTest::newRow("unknown word") << QByteArray("SET T 5\r") << QByteArray("E01>");
    QTest::newRow("unknown card sub-command") << QByteArray("FC T\r") << QByteArray("E01>");
    QTest::newRow("unknown play sub-command") << QByteArray("PC P /A.MP3\r") << QByteArray("E01>");
    // Not a write: what would have been its data is command text.
    QTest::newRow("write count with a zero") << QByteArray("FC W 1 0512\r") << QByteArray("E05>");
    QTest::newRow("write with two blanks") << QByteArray("FC W 1  2\r") << QByteArray("E01>");
    QTest::newRow("write with a trailing blank") << QByteArray("FC W 1 2 \r") << QByteArray("E01>");
}

void TestSim::refusedLines()
{
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, answer);

    KavoSim sim;
    QVERIFY(start(sim));
    Line line;
    QVERIFY(line.open(sim.device(), 9600));
    QCOMPARE(line.ask("FC O 1 W /R.MP3\r", 1), QByteArray(">"));
    QCOMPARE(line.ask(command + "V\r", answer.size() + kVersion.size()), answer + kVersion);
    QCOMPARE(line.ask("ST T\r", 3), QByteArray("20>"));
    QCOMPARE(line.ask("ST V\r", 6), QByteArray("16 16>"));
    QCOMPARE(line.ask("FC L /R.MP3\r", 2), QByteArray("0>"));
}

// At a rate or in a frame other than the module's, what the tool sends is garbage to the
// module, and the module's answer (to a line it does not know) garbage to the tool: bytes a
// receiver makes of characters it cannot frame, never a prompt or a line end, the same for
// the same line. A faster receiver cuts each character into several, a slower one merges
// them. A Linux pseudo-terminal keeps 8 data bits and no parity whatever the tool sets, so
// the frames a tool can get wrong here are the stop bits and flow control. With
// --mismatch-silent the module says nothing.
void TestSim::mismatch_data()
{
    QTest::addColumn<int>("moduleRate");
    QTest::addColumn<int>("toolRate");
    QTest::addColumn<uint>("cflagOff");
    QTest::addColumn<uint>("cflagOn");
    QTest::addColumn<uint>("iflagOn");
    QTest::addColumn<bool>("silent");
    QTest::addColumn<QString>("note");
    QTest::addColumn<int>("size");   // against the 4 bytes of "E01>": -1 fewer, 0 as many, 1 more

    QTest::newRow("slower tool") << 57600 << 9600 << 0u << 0u << 0u << false << "rate-mismatch" << -1;
    QTest::newRow("faster tool") << 9600 << 115200 << 0u << 0u << 0u << false << "rate-mismatch" << 1;
    QTest::newRow("two stop bits") << 19200 << 19200 << 0u << uint(CSTOPB) << 0u << false << "format-mismatch" << 0;
    QTest::newRow("RTS/CTS") << 9600 << 9600 << 0u << uint(CRTSCTS) << 0u << false << "format-mismatch" << 0;
    QTest::newRow("XON/XOFF") << 9600 << 9600 << 0u << 0u << uint(IXON | IXOFF) << false << "format-mismatch" << 0;
    QTest::newRow("slower tool, RTS/CTS") << 38400 << 9600 << 0u << uint(CRTSCTS) << 0u << false
                                          << "rate-mismatch format-mismatch" << -1;
    QTest::newRow("silent, wrong rate") << 57600 << 9600 << 0u << 0u << 0u << true << "rate-mismatch" << 0;
    QTest::newRow("silent, RTS/CTS") << 9600 << 9600 << 0u << uint(CRTSCTS) << 0u << true << "format-mismatch" << 0;
}

void TestSim::mismatch()
{
    QFETCH(int, moduleRate);
    QFETCH(int, toolRate);
    QFETCH(uint, cflagOff);
    QFETCH(uint, cflagOn);
    QFETCH(uint, iflagOn);
    QFETCH(bool, silent);
    QFETCH(QString, note);
    QFETCH(int, size);

    KavoSim sim;
    QStringList options {"--rate", QString::number(moduleRate)};
    if (silent)
        options << "--mismatch-silent";
    QVERIFY(start(sim, options));
    Line line;
    QVERIFY(line.open(sim.device(), toolRate));
    QVERIFY(line.setRate(toolRate, cflagOff, cflagOn, iflagOn));

    QByteArray first;
    for (int round = 0; round < 2; ++round) {
        QVERIFY(line.send("\x1b\r"));
        QTRY_COMPARE_WITH_TIMEOUT(sim.log().size(), round + 1, 10000);
        const TrafficLine entry = sim.log().last();
        QCOMPARE(entry.rate, toolRate);
        QCOMPARE(entry.command, QString("\\e"));
        QCOMPARE(entry.note, note);
        const QByteArray garbled = KavoSim::unescape(entry.answer);
        if (silent) {
            QCOMPARE(garbled, QByteArray());
            continue;
        }
        QCOMPARE(line.read(garbled.size()), garbled);
        // Low bits first, then only high ones: what a receiver reads from a start bit stretched
        // over some of its data bits, then a line at rest.
        static const QByteArray framingErrors("\x00\x80\xc0\xe0\xf0\xf8\xfc\xfe\xff", 9);
        for (const char c : garbled)
            QVERIFY2(framingErrors.contains(c), qPrintable(entry.answer));
        QVERIFY2(size < 0 ? garbled.size() < 4 : size > 0 ? garbled.size() > 4 : garbled.size() == 4,
                 qPrintable(entry.answer));
        if (round == 0)
            first = garbled;
        else
            QCOMPARE(garbled, first);
    }

    // Back at the module's rate and frame: the first bytes are the probe's answer.
    QVERIFY(line.setRate(moduleRate));
    QCOMPARE(line.ask("\x1b\r", 2), QByteArray(">>"));
}

// What the module had taken of a line or of a write's data before bytes came at another rate
// is forgotten. The echo tells when the module has taken the bytes sent at its own rate.
void TestSim::halfTakenForgotten_data()
{
    QTest::addColumn<QByteArray>("half");
    QTest::addColumn<QByteArray>("after");
    QTest::addColumn<QByteArray>("answer");

    QTest::newRow("line") << QByteArray("ST B 7") << QByteArray("\r") << QByteArray("\r>");
    QTest::newRow("write") << QByteArray("FC W 1 4\rab") << QByteArray("cd\r") << QByteArray("cd\rE01>");
}

void TestSim::halfTakenForgotten()
{
    QFETCH(QByteArray, half);
    QFETCH(QByteArray, after);
    QFETCH(QByteArray, answer);

    KavoSim sim;
    QVERIFY(start(sim, {"--echo", "--mismatch-silent"}));
    Line line;
    QVERIFY(line.open(sim.device(), 9600));
    QCOMPARE(line.ask("FC O 1 W /H.MP3\r", 17), QByteArray("FC O 1 W /H.MP3\r>"));
    QCOMPARE(line.ask(half, half.size()), half);
    QVERIFY(line.setRate(19200));
    QVERIFY(line.send("x\r"));
    QTRY_VERIFY_WITH_TIMEOUT(!sim.log().isEmpty() && sim.log().last().note == "rate-mismatch", 10000);
    QVERIFY(line.setRate(9600));
    QCOMPARE(line.ask(after, answer.size()), answer);
    QCOMPARE(line.ask("ST B\r", 7), QByteArray("ST B\r0>"));
    QCOMPARE(line.ask("FC L /H.MP3\r", 14), QByteArray("FC L /H.MP3\r0>"));
}

// Setting T: when the data of an "FC W" stops for longer than T x 10 ms, the module gives up.
// What came of it is dropped, the file stays as it was, what follows is command text again,
// and the module answers E07. Paced, the pause is one of line time: a line and its data sent
// in one write never make one, however long the line needs to carry them.
void TestSim::writeTimeOut_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("t");          // -1: left at its default
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QByteArray>("headAnswer");
    QTest::addColumn<QByteArray>("tail");  // sent once headAnswer came, or after a pause of 300 ms
    QTest::addColumn<QByteArray>("tailAnswer");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("note");   // of the head's log entry

    QByteArray piece(512, '\0');
    for (int i = 0; i < piece.size(); ++i)
        piece[i] = char((i * 7) & 0xff);

    QTest::newRow("no data") << QStringList() << 5 << QByteArray("FC W 1 4\r") << QByteArray("E07>")
                             << QByteArray("V\r") << kVersion << QByteArray("xy") << "write-timeout=0";
    QTest::newRow("short data") << QStringList() << 5 << QByteArray("FC W 1 4\rab") << QByteArray("E07>")
                                << QByteArray("cd\r") << QByteArray("E01>") << QByteArray("xy")
                                << "write-timeout=2";
    QTest::newRow("short data, default T") << QStringList() << -1 << QByteArray("FC W 1 4\rabc") << QByteArray("E07>")
                                           << QByteArray("d\r") << QByteArray("E01>") << QByteArray("xy")
                                           << "write-timeout=3";
    QTest::newRow("short data, paced") << QStringList {"--pace"} << 5 << QByteArray("FC W 1 4\rab") << QByteArray("E07>")
                                       << QByteArray("cd\r") << QByteArray("E01>") << QByteArray("xy")
                                       << "write-timeout=2";
    QTest::newRow("one write, paced at 9600") << QStringList {"--pace"} << 1 << "FC W 1 512\r" + piece << QByteArray(">")
                                              << QByteArray("ST T\r") << QByteArray("1>") << "xy" + piece << "data=512";
    QTest::newRow("T 0 waits") << QStringList() << 0 << QByteArray("FC W 1 4\rab") << QByteArray()
                               << QByteArray("cd") << QByteArray(">") << QByteArray("xyabcd") << "data=4";
}

void TestSim::writeTimeOut()
{
    QFETCH(QStringList, options);
    QFETCH(int, t);
    QFETCH(QByteArray, head);
    QFETCH(QByteArray, headAnswer);
    QFETCH(QByteArray, tail);
    QFETCH(QByteArray, tailAnswer);
    QFETCH(QByteArray, file);
    QFETCH(QString, note);

    KavoSim sim;
    QVERIFY(start(sim, options));
    Line line;
    QVERIFY(line.open(sim.device(), 9600));
    if (t >= 0)
        QCOMPARE(line.ask("ST T " + QByteArray::number(t) + "\r", 1), QByteArray(">"));
    QCOMPARE(line.ask("FC O 1 W /T.MP3\r", 1), QByteArray(">"));
    QCOMPARE(line.ask("FC W 1 2\rxy", 1), QByteArray(">"));
    const qsizetype before = sim.log().size();

    QCOMPARE(line.ask(head, headAnswer.size()), headAnswer);
    if (headAnswer.isEmpty()) {
        // The pause the module must sit through: longer than the default T.
        QTest::qSleep(300);
    }
    QCOMPARE(line.ask(tail, tailAnswer.size()), tailAnswer);
    QCOMPARE(line.ask("FC C 1\r", 1), QByteArray(">"));

    QFile card(QDir(sim.cardDir()).filePath("T.MP3"));
    QVERIFY(card.open(QIODevice::ReadOnly));
    QCOMPARE(card.readAll(), file);
    const QList<TrafficLine> log = sim.log();
    QVERIFY(log.size() > before);
    QCOMPARE(log[before].command, QString::fromLatin1(head.left(head.indexOf('\r'))));
    QCOMPARE(log[before].answer, KavoSim::escape(headAnswer.isEmpty() ? tailAnswer : headAnswer));
    QCOMPARE(log[before].note, note);
}

// A module that goes wrong: after N command lines (--babble-after N; the probe and empty
// lines do not count) or at SIGUSR1 it sends lines of text without end, never a prompt, a
// line every 20 ms or as fast as the line takes them; commands still take effect.
void TestSim::babble_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("signal");   // babbling starts at SIGUSR1
    QTest::addColumn<int>("bytes");     // read once it babbles (within 10 s)

    QTest::newRow("after two lines") << QStringList{"--babble-after", "2"} << false << 1000;
    QTest::newRow("after two lines, as fast as the line takes it")
        << QStringList{"--babble-after", "2", "--babble-interval", "0"} << false << (1 << 20);
    QTest::newRow("at SIGUSR1") << QStringList{} << true << 1000;
}

void TestSim::babble()
{
    QFETCH(QStringList, options);
    QFETCH(bool, signal);
    QFETCH(int, bytes);

    KavoSim sim;
    QVERIFY(start(sim, options));
    Line line;
    QVERIFY(line.open(sim.device(), 9600));
    QCOMPARE(line.ask("\x1b\r", 2), QByteArray(">>"));
    QCOMPARE(line.ask("V\r", kVersion.size()), kVersion);
    QCOMPARE(line.ask("ST B 9\r", 1), QByteArray(">"));
    if (signal) {
        QCOMPARE(::kill(pid_t(sim.pid()), SIGUSR1), 0);
        QVERIFY(!line.read(100).contains('>'));
    }
    const QByteArray babble = line.ask("ST B\r", bytes);
    QCOMPARE(babble.size(), bytes);
    QVERIFY(!babble.contains('>'));
    QVERIFY(babble.count("$GPGGA,") >= 10);
    QTRY_VERIFY_WITH_TIMEOUT(sim.commands().contains("ST B"), 10000);
    const TrafficLine last = sim.log().last();
    QCOMPARE(last.command, QString("ST B"));
    QCOMPARE(last.answer, QString());
}

// --delay 'CMD=MS': the answer to CMD starts MS ms late; the next command, sent without
// waiting, is taken once that answer is out, and every other command answered as usual.
void TestSim::delay_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("late");

    const QStringList delays {"--delay", "PC F /D.MP3=300", "--delay", "FC C 1=300"};
    QTest::newRow("play") << delays << QByteArray("PC F /D.MP3\r") << QByteArray(">") << true;
    QTest::newRow("close") << delays << QByteArray("FC C 1\r") << QByteArray(">") << true;
    QTest::newRow("close, paced") << delays + QStringList {"--pace"} << QByteArray("FC C 1\r") << QByteArray(">") << true;
    QTest::newRow("error reply") << QStringList {"--delay", "PC F /NONE.MP3=300"} << QByteArray("PC F /NONE.MP3\r")
                                 << QByteArray("EF2>") << true;
    QTest::newRow("another command") << delays << QByteArray("FC L /D.MP3\r") << QByteArray("0>") << false;
}

void TestSim::delay()
{
    QFETCH(QStringList, options);
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, answer);
    QFETCH(bool, late);

    KavoSim sim;
    QVERIFY(start(sim, options));
    Line line;
    QVERIFY(line.open(sim.device(), 9600));
    QCOMPARE(line.ask("FC O 1 W /D.MP3\r", 1), QByteArray(">"));

    QElapsedTimer clock;
    clock.start();
    QCOMPARE(line.ask(command + "ST B\r", answer.size() + 2), answer + "0>");
    if (late)
        QVERIFY2(clock.elapsed() >= 300, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(sim.commands().mid(1), QStringList({QString::fromLatin1(command.chopped(1)), "ST B"}));
}

// The command behind a delayed answer has done its work before the answer comes.
void TestSim::delayedCommandTakesEffect()
{
    KavoSim sim;
    QVERIFY(start(sim, {"--delay", "FC O 1 W /N.MP3=3000"}));
    Line line;
    QVERIFY(line.open(sim.device(), 9600));
    QElapsedTimer clock;
    clock.start();
    QVERIFY(line.send("FC O 1 W /N.MP3\r"));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(QDir(sim.cardDir()).filePath("N.MP3")), 2500);
    QVERIFY(clock.elapsed() < 3000);
    QVERIFY(!line.pending());
    QCOMPARE(line.read(1), QByteArray(">"));
    QVERIFY(clock.elapsed() >= 3000);
}

void TestSim::upload()
{
    KavoSim sim;
    QVERIFY(start(sim, {"--capacity", "5000"}));
    Line line;
    QVERIFY(line.open(sim.device(), 9600));

    QByteArray data;
    for (int i = 0; i < 3000; ++i)
        data += char((i * 7) & 0xff);   // every byte value, CR, '>' and ESC among them
    QVERIFY(data.contains('\r') && data.contains('>') && data.contains('\x1b'));

    QCOMPARE(line.ask("FC O 1 W /UP.MP3\r", 1), QByteArray(">"));
    QCOMPARE(line.ask("FC W 1 2000\r" + data.left(2000), 1), QByteArray(">"));
    QCOMPARE(line.ask("FC W 1 1000\r" + data.mid(2000), 1), QByteArray(">"));
    QCOMPARE(line.ask("FC C 1\r", 1), QByteArray(">"));

    QFile file(QDir(sim.cardDir()).filePath("UP.MP3"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), data);

    QCOMPARE(line.ask("FC L /UP.MP3\r", 5), QByteArray("3000>"));
    QCOMPARE(line.ask("FC Q\r", 10), QByteArray("5000 4997>"));
    QCOMPARE(line.ask("PC F /UP.MP3\r", 1), QByteArray(">"));

    const QList<TrafficLine> log = sim.log();
    QCOMPARE(log.size(), 7);
    QCOMPARE(log[1].command, QString("FC W 1 2000"));
    QCOMPARE(log[1].note, QString("data=2000"));
    QCOMPARE(log[2].note, QString("data=1000"));
    QCOMPARE(log[6].command, QString("PC F /UP.MP3"));
    QCOMPARE(log[6].note, QString("played /UP.MP3"));
}

void TestSim::pacedLineTime_data()
{
    QTest::addColumn<int>("rate");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("ahead");
    QTest::addColumn<QByteArrayList>("commands");
    QTest::addColumn<QByteArrayList>("answers");

    auto row = [](const char *name, int rate, const QStringList &options, bool ahead, const Steps &steps) {
        QByteArrayList commands;
        QByteArrayList answers;
        for (const auto &[command, answer] : steps) {
            commands << command;
            answers << answer;
        }
        QTest::newRow(name) << rate << options << ahead << commands << answers;
    };
    // An upload as the tool makes it, one piece at a time, each sent once the one before
    // was answered. The pieces hold every byte value, CR, '>' and ESC among them.
    auto upload = [](int pieces, int size) {
        QByteArray data(size, '\0');
        for (int i = 0; i < size; ++i)
            data[i] = char((i * 7) & 0xff);
        Steps steps {{"FC O 1 W /X.MP3\r", ">"}};
        for (int i = 0; i < pieces; ++i)
            steps.append(std::pair {"FC W 1 " + QByteArray::number(size) + "\r" + data, QByteArray(">")});
        steps.append(std::pair {QByteArray("FC C 1\r"), QByteArray(">")});
        return steps;
    };
    auto repeated = [](const QByteArray &command, const QByteArray &answer, int times) {
        return Steps(times, std::pair {command, answer});
    };
    row("upload in 10 KiB pieces at 115200", 115200, {}, false, upload(2, 10240));
    // Sent all at once: the line carries the commands while the answers go back. Short
    // answers come as the commands do; long ones follow each other without a gap.
    row("upload sent ahead in 512-byte pieces at 115200", 115200, {}, true, upload(40, 512));
    row("short answers to commands sent ahead at 9600", 9600, {}, true, repeated("ST B\r", "0>", 350));
    row("long answers to commands sent ahead at 115200", 115200, {}, true, repeated("V\r", kVersion, 770));
}

// One paced transfer: a fresh simulator, the steps one after the other (or every command at
// once), each answer's arrival timed from the first byte written; the simulator's CPU is
// counted once it has ended.
void TestSim::pacedRun(int rate, const QStringList &options, bool ahead, const QByteArrayList &commands,
                       const QByteArrayList &answers, PacedRun &run)
{
    const double cpuBefore = childrenCpu();
    KavoSim sim;
    QVERIFY2(start(sim, QStringList {"--pace", "--rate", QString::number(rate)} + options),
             qPrintable(sim.errorOutput()));
    Line line;
    QVERIFY(line.open(sim.device(), rate));

    run.arrived.clear();
    const auto begin = std::chrono::steady_clock::now();
    auto since = [&begin] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count(); };
    if (ahead)
        QVERIFY(line.send(commands.join()));
    for (qsizetype i = 0; i < commands.size(); ++i) {
        QCOMPARE(ahead ? line.read(answers[i].size()) : line.ask(commands[i], answers[i].size()), answers[i]);
        run.arrived << since();
    }

    sim.terminate();
    QVERIFY(!sim.running());
    run.cpu = childrenCpu() - cpuBefore;
}

// Paced, every answer arrives when the line would have carried it: ten bit times per byte,
// the tool's bytes taken one command at a time while the answers go back on the other wire;
// a command sent once the answer before it came starts then (so a transfer made that way
// takes its bytes both ways). No answer comes sooner; the last one, and the answers'
// median, no later than 0.5 % of the transfer's line time (about 9 ms): the schedule is
// absolute and the simulator makes up its own late wake-ups, so of those only the last one
// shows. What it cannot make up is the time the test itself, or the kernel
// between the two ends, is kept from running on a busy machine; such a run is made again,
// up to five times. A run with an answer too soon fails at once, as does one that costs the
// simulator more than a small share of a core.
void TestSim::pacedLineTime()
{
    QFETCH(int, rate);
    QFETCH(QStringList, options);
    QFETCH(bool, ahead);
    QFETCH(QByteArrayList, commands);
    QFETCH(QByteArrayList, answers);

    // When each answer is complete on an ideal line, the tool answering at once.
    const double byteTime = 10.0 / rate;
    QList<double> due;
    double toModule = 0;
    double toTool = 0;
    for (qsizetype i = 0; i < commands.size(); ++i) {
        toModule = std::max(toModule, ahead ? 0.0 : toTool) + double(commands[i].size()) * byteTime;
        toTool = std::max(toTool, toModule) + double(answers[i].size()) * byteTime;
        due << toTool;
    }
    const double lineTime = due.last();
    const double slack = lineTime * 0.005;

    QStringList runs;
    for (int attempt = 1; attempt <= 5; ++attempt) {
        PacedRun run;
        pacedRun(rate, options, ahead, commands, answers, run);
        if (QTest::currentTestFailed())
            return;
        QList<double> late;
        for (qsizetype i = 0; i < due.size(); ++i) {
            // Clocks and byte times are rounded to the microsecond at worst.
            QVERIFY2(run.arrived[i] >= due[i] - 1e-4,
                     qPrintable(QStringLiteral("answer %1 came %2 ms before its time")
                                    .arg(i + 1)
                                    .arg((due[i] - run.arrived[i]) * 1000, 0, 'f', 3)));
            late << run.arrived[i] - due[i];
        }
        const double lastLate = late.last();
        std::nth_element(late.begin(), late.begin() + late.size() / 2, late.end());
        const double medianLate = late[late.size() / 2];
        const QString figures = QStringLiteral("%1 answers at %2 bps: line time %3 s, took %4 s (%5 %), "
                                               "answers late by %6 ms (median), simulator CPU %7 s")
                                    .arg(due.size())
                                    .arg(rate)
                                    .arg(lineTime, 0, 'f', 4)
                                    .arg(run.arrived.last(), 0, 'f', 4)
                                    .arg(lastLate / lineTime * 100, 0, 'f', 3)
                                    .arg(medianLate * 1000, 0, 'f', 2)
                                    .arg(run.cpu, 0, 'f', 3);
        qInfo("%s", qPrintable(figures));
        QVERIFY2(run.cpu < run.arrived.last() * 0.25, qPrintable(figures));
        if (lastLate <= slack && medianLate <= slack)
            return;
        runs << figures;
    }
    QFAIL(qPrintable("later than 0.5 % of the line time in every run: " + runs.join(QStringLiteral("; "))));
}

void TestSim::logLines()
{
    KavoSim sim;
    QVERIFY(start(sim));
    Line line;
    QVERIFY(line.open(sim.device(), 9600));
    QCOMPARE(line.ask("\x1b\r", 2), QByteArray(">>"));
    QCOMPARE(line.ask("V\r", kVersion.size()), kVersion);
    QCOMPARE(line.ask("ST \x01\t\\\xff\r", 4), QByteArray("E05>"));

    QFile file(sim.logPath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> raw = file.readAll().split('\n');
    QCOMPARE(raw.size(), 5);   // four lines, each ended by a newline
    for (int i = 0; i < 4; ++i)
        QCOMPARE(raw[i].count('\t'), 4);

    const QList<TrafficLine> log = sim.log();
    QCOMPARE(log[0].command, QString("\\e"));
    QCOMPARE(log[0].answer, QString(">"));
    QCOMPARE(log[1].command, QString());
    QCOMPARE(log[1].answer, QString(">"));
    QCOMPARE(log[2].rate, 9600);
    QCOMPARE(log[2].command, QString("V"));
    QCOMPARE(log[2].answer, KavoSim::escape(kVersion));
    QCOMPARE(log[2].note, QString());
    QCOMPARE(log[3].command, KavoSim::escape("ST \x01\t\\\xff"));
    QVERIFY(log[0].ms >= 0 && log[0].ms <= log[3].ms);
}

void TestSim::portLink()
{
    QVERIFY(m_ports.mkpath("."));

    // Published under the number asked for, removed on SIGTERM.
    {
        KavoSim sim;
        QVERIFY(start(sim, {"--com", "3"}));
        QCOMPARE(sim.com(), 3);
        QCOMPARE(QFileInfo(linkPath(3)).symLinkTarget(), sim.device());
        sim.terminate();
        QVERIFY(!QFileInfo(linkPath(3)).isSymLink());
    }
    // A stale link is replaced.
    {
        QVERIFY(QFile::link(m_dir.filePath("gone"), linkPath(4)));
        KavoSim sim;
        QVERIFY(start(sim, {"--com", "4"}));
        QCOMPARE(QFileInfo(linkPath(4)).symLinkTarget(), sim.device());
    }
    // A live device of someone else is left alone.
    QVERIFY(QFile::link("/dev/null", linkPath(5)));
    QProcess process;
    process.start(KAVO_SIM_PATH, {"--ports-dir", m_ports.path(), "--com", "5"});
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitCode(), 2);
    QVERIFY(process.readAllStandardError().contains("COM5"));
    QCOMPARE(QFileInfo(linkPath(5)).symLinkTarget(), QString("/dev/null"));
    QFile::remove(linkPath(5));
}

// What kavo-sim is given must be the user's own and of the right kind: a state file a
// regular file, the card a folder (not a link to one), the ports folder not one shared with
// others. Each is refused at once with what is wrong, in words a terminal shows as they are.
void TestSim::refusals_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("given");   // what the option names; the test makes it
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("said");

    QTest::newRow("state: a device") << "--state" << "/dev/zero" << 2 << "is not a regular file (a device)";
    QTest::newRow("state: a named pipe") << "--state" << "fifo" << 2 << "is not a regular file (a named pipe)";
    QTest::newRow("state: a folder") << "--state" << "folder" << 2 << "is not a regular file (a folder)";
    QTest::newRow("state: another user's") << "--state" << "nobody's file" << 2 << "belongs to user nobody";
    QTest::newRow("state: bytes that are no text") << "--state" << "binary file" << 2
                                                   << "got \"B=\\x00\\x01\\xff\\e\"";
    QTest::newRow("state: too large") << "--state" << "large file" << 2 << "is larger than 64 KiB";
    QTest::newRow("card: a file") << "--card" << "file" << 1 << "is a regular file, not a folder";
    QTest::newRow("card: a link to a folder") << "--card" << "link to folder" << 1 << "is a symbolic link, not a folder";
    QTest::newRow("card: another user's folder") << "--card" << "nobody's folder" << 1 << "belongs to user nobody";
    QTest::newRow("ports: the shared temporary folder") << "--ports-dir" << "/tmp" << 1
                                                        << "is a folder shared with others (mode 1777)";
}

void TestSim::refusals()
{
    QFETCH(QString, option);
    QFETCH(QString, given);
    QFETCH(int, code);
    QFETCH(QString, said);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString path = given.startsWith(QLatin1Char('/')) ? given : dir.filePath(QStringLiteral("given"));
    auto write = [&](const QByteArray &bytes) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    };
    if (given == "fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else if (given == "folder" || given == "nobody's folder")
        QVERIFY(QDir().mkpath(path));
    else if (given == "file" || given == "nobody's file")
        QVERIFY(write("B=37\n"));
    else if (given == "binary file")
        QVERIFY(write(QByteArray("# saved\nB=\x00\x01\xff\x1b\n", 15)));
    else if (given == "large file")
        QVERIFY(write(QByteArray("B=37\n").repeated(16 * 1024)));
    else if (given == "link to folder")
        QVERIFY(QDir().mkpath(dir.filePath("folder")) && QFile::link(dir.filePath("folder"), path));
    if (given.startsWith("nobody"))
        QCOMPARE(::chown(QFile::encodeName(path).constData(), 65534, gid_t(-1)), 0);

    QStringList arguments{option, path};
    if (option != "--ports-dir")
        arguments << QStringLiteral("--ports-dir") << m_ports.path();
    if (option != "--card")
        arguments << QStringLiteral("--card") << dir.filePath(QStringLiteral("card"));
    QProcess process;
    process.start(KAVO_SIM_PATH, arguments);
    // A state file that blocks or never ends would keep the simulator from ever getting here.
    QVERIFY2(process.waitForFinished(10000), "kavo-sim did not end");
    const QString error = QString::fromLocal8Bit(process.readAllStandardError());
    QCOMPARE(process.exitCode(), code);
    QVERIFY2(error.startsWith("kavo-sim: ") && error.contains(path) && error.contains(said), qPrintable(error));
    QVERIFY2(!error.contains(QLatin1Char('\x01')) && !error.contains("chmod"), qPrintable(error));
    QVERIFY(process.readAllStandardOutput().isEmpty());
}

// A link planted in the card folder is never followed: the file it points at is neither
// written nor found nor played, and its size is not counted.
void TestSim::cardLinksNotFollowed()
{
    QTemporaryDir outside;
    QVERIFY(outside.isValid());
    const QString victim = outside.filePath(QStringLiteral("victim"));
    QFile file(victim);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(4096, 'v')) == 4096);
    file.close();

    KavoSim sim;
    QVERIFY(start(sim, {"--capacity", "1000"}));
    QVERIFY(QFile::link(victim, QDir(sim.cardDir()).filePath(QStringLiteral("LINK.MP3"))));
    Line line;
    QVERIFY(line.open(sim.device(), 9600));
    const Steps steps = {{"FC L /LINK.MP3\r", "EF2>"},
                         {"PC F /LINK.MP3\r", "EF2>"},
                         {"FC Q\r", "1000 1000>"},
                         {"FC O 1 W /LINK.MP3\r", "EF9>"},
                         {"FC W 1 3\rabc", "EF9>"}};
    for (const auto &[command, answer] : steps)
        QCOMPARE(line.ask(command, answer.size()), answer);
    QCOMPARE(QFileInfo(victim).size(), 4096);
}

void TestSim::hangupAfter()
{
    KavoSim sim;
    QVERIFY(start(sim, {"--hangup-after", "3"}));
    const QString link = linkPath(sim.com());
    Line line;
    QVERIFY(line.open(sim.device(), 9600));
    QCOMPARE(line.ask("V\r", kVersion.size()), kVersion);
    QVERIFY(line.send("V"));
    QTRY_VERIFY_WITH_TIMEOUT(!sim.running(), 10000);
    QVERIFY(!QFileInfo(link).isSymLink());
    QCOMPARE(sim.log().last().note, QString("hangup"));
}

QTEST_GUILESS_MAIN(TestSim)
#include "tst_sim.moc"
