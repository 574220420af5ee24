// How long the Open click takes with automatic detection:
//  - module at 115200 bps: four silent rates of 1000 ms each set a floor of 4 s; the
//    click should end within 100 ms of it;
//  - module at 9600 bps with the simulator pacing at the line rate: the click should
//    take at most 50 ms more than the bytes of the exchange need on the line.
// Run by hand: build/bin/bench_connect [rounds]; KAVO_BENCH_TRAFFIC=1 prints each traffic log.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QFile>
#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "link/comports.h"
#include "support/kavosim.h"
#include "support/messageboxes.h"
#include "support/testenv.h"
#include "support/windowfixture.h"

namespace {

struct Round {
    double clickMs = 0;
    QString finalStatus;
    bool connected = false;
    qint64 bytes = 0;
    int boxes = 0;
};

Round connectOnce(const QStringList &simOptions)
{
    Round round;
    KavoSim sim;
    if (!sim.start(simOptions)) {
        std::fprintf(stderr, "kavo-sim did not start: %s\n", qPrintable(sim.errorOutput()));
        return round;
    }
    const std::unique_ptr<frmSerialData> w = openWindow();
    if (!w || !selectEntry(w->lstPCCOM, sim.comName()))
        return round;
    w->chkAutoBitRate->setChecked(true);
    MessageBoxes boxes;
    // A user clicks a window that has been painted: its first paint is not part of the click.
    if (!QTest::qWaitForWindowExposed(w.get()))
        return round;
    QApplication::processEvents();

    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(w->cmdOpenCOM, Qt::LeftButton);
    round.clickMs = clock.nsecsElapsed() / 1e6;

    round.finalStatus = w->StatusPanel[2]->text();
    round.connected = w->cmdOpenCOM->text() == QStringLiteral("Close");
    round.boxes = boxes.seen.size();
    round.bytes = KavoSim::lineBytes(sim.log());
    if (qEnvironmentVariableIsSet("KAVO_BENCH_TRAFFIC"))
        for (const TrafficLine &l : sim.log())
            std::printf("%lld\t%d\t%s\t%s\n", l.ms, l.rate, qPrintable(l.command), qPrintable(l.answer));
    return round;
}

// The same command sequence as a connect at 9600 bps, sent by a plain POSIX client
// straight on the simulator's pty: what the line, the simulator and the system cost
// without the tool. Returns the time over the line time, or a negative value on failure.
double rawClientOverLineTime()
{
    KavoSim sim;
    if (!sim.start({QStringLiteral("--rate"), QStringLiteral("9600"), QStringLiteral("--pace")}))
        return -1;
    const int fd = ::open(QFile::encodeName(sim.device()).constData(), O_RDWR | O_NOCTTY);
    if (fd < 0)
        return -1;
    termios tio {};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B9600);
    ::cfsetospeed(&tio, B9600);
    ::tcsetattr(fd, TCSANOW, &tio);

    QList<QByteArray> commands = {"\x1b\r", "\x1b\r", "V\r", "FC Q\r"};
    for (const char letter : QByteArray("DTSNHVOBU"))
        commands << QByteArray("ST ") + letter + '\r';
    qint64 bytes = 0;
    QElapsedTimer clock;
    clock.start();
    for (const QByteArray &command : commands) {
        if (::write(fd, command.constData(), command.size()) != command.size())
            break;
        bytes += command.size();
        // An answer ends with the prompt; the probe's ends with the second of two.
        QByteArray answer;
        const int prompts = command.startsWith('\x1b') ? 2 : 1;
        while (answer.count('>') < prompts || !answer.endsWith('>')) {
            pollfd p {fd, POLLIN, 0};
            if (::poll(&p, 1, 2000) <= 0)
                break;
            char buffer[256];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            answer.append(buffer, n);
        }
        bytes += answer.size();
    }
    const double ms = clock.nsecsElapsed() / 1e6;
    ::close(fd);
    return ms - bytes * 10 * 1000.0 / 9600;
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values[values.size() / 2];
}

void report(const QList<double> &over, const QList<double> &click, double goal, const Round &last)
{
    const auto [lo, hi] = std::minmax_element(over.begin(), over.end());
    std::printf("  click: median %.1f ms (%s)\n", median(click),
                last.finalStatus == QStringLiteral("All Settings Received")
                    ? "until \"All Settings Received\""
                    : qPrintable(QStringLiteral("until the end of the click; last status \"%1\"").arg(last.finalStatus)));
    std::printf("  over the floor: median %.1f ms, min %.1f, max %.1f; goal <= %.0f ms: %s\n", median(over), *lo, *hi,
                goal, median(over) <= goal ? "met" : "MISSED");
}

// Auto detection with the module at 115200 bps, against the floor of four silent rates.
bool benchFastModule(int rounds, const char *what)
{
    const double floorMs = 4 * 1000.0;
    QList<double> over, click;
    Round last;
    for (int i = 0; i < rounds; ++i) {
        last = connectOnce({QStringLiteral("--rate"), QStringLiteral("115200")});
        if (!last.connected || last.boxes) {
            std::printf("115200 bps: round %d did not connect cleanly\n", i + 1);
            return false;
        }
        click << last.clickMs;
        over << last.clickMs - floorMs;
    }
    std::printf("Module at 115200 bps, automatic detection, %s, %d rounds; floor %.0f ms (4 silent rates)\n", what,
                rounds, floorMs);
    report(over, click, 100, last);
    return true;
}

// Auto detection with the module at 9600 bps pacing at the line rate, against the time
// the bytes need on the line.
bool benchPacedModule(int rounds)
{
    QList<double> over, click;
    Round last;
    double lineMs = 0;
    for (int i = 0; i < rounds; ++i) {
        last = connectOnce({QStringLiteral("--rate"), QStringLiteral("9600"), QStringLiteral("--pace")});
        if (!last.connected || last.boxes) {
            std::printf("9600 bps: round %d did not connect cleanly\n", i + 1);
            return false;
        }
        lineMs = last.bytes * 10 * 1000.0 / 9600;
        click << last.clickMs;
        over << last.clickMs - lineMs;
    }
    std::printf("Module at 9600 bps paced at the line rate, automatic detection, %d rounds; "
                "%lld bytes both ways = %.1f ms of line time\n",
                rounds, static_cast<long long>(last.bytes), lineMs);
    report(over, click, 50, last);

    // For comparison: the same exchange without pacing, i.e. what the tool and the
    // simulator add on top of the line.
    click.clear();
    for (int i = 0; i < rounds; ++i)
        click << connectOnce({QStringLiteral("--rate"), QStringLiteral("9600")}).clickMs;
    std::printf("Module at 9600 bps without pacing (tool and simulator alone): click median %.1f ms\n", median(click));

    QList<double> raw;
    for (int i = 0; i < rounds; ++i)
        raw << rawClientOverLineTime();
    const auto [lo, hi] = std::minmax_element(raw.begin(), raw.end());
    std::printf("The same commands from a plain client on the paced simulator, no tool: over the line time "
                "median %.1f ms, min %.1f, max %.1f\n",
                median(raw), *lo, *hi);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TestEnv::isolate();
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 5;

    if (!benchFastModule(rounds, "simulators only") || !benchPacedModule(rounds))
        return 1;
    // As the program runs outside the tests: the machine's own serial ports are looked up
    // as well whenever a COM number is mapped to its device.
    ComPorts::setSystemPortsSource({});
    if (!benchFastModule(rounds, "with the system's serial ports"))
        return 1;
    return 0;
}
