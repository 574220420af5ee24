// A device that sends without end and never a prompt (a GPS receiver, a console on the
// wrong port), met by the window:
//  - memory: the tool's resident set, sampled every 100 ms for 10 s while a device babbles
//    at the full speed of the pseudo-terminal, in three cases: Open clicked again and again
//    at a chosen rate, the same with automatic detection, and the window connected and idle
//    while a module that answered the connect starts babbling. Goals: peak memory (VmHWM)
//    under 50 MiB, and flat: at most 1 MiB more at second 10 than at second 1;
//  - time: from the Open click to the message box, on a device babbling at full speed and
//    on kavo-sim --babble (a line every 20 ms), at a chosen rate and with automatic
//    detection, beside a raw client that opens the port, probes and reads until the wait's
//    bound (KavoLink::LongestReply bytes, or KavoLink::LongestAnswerMs). Goal: at most
//    100 ms over that bound (over five of them when all five rates are tried). Then Read on
//    a connected module that has started babbling, whose wait for a quiet line can only
//    end at KavoLink::LongestAnswerMs; goal: at most 100 ms over it. Where a wait ended at its
//    bound (Open at a chosen rate, Read), the box must say that the device keeps sending
//    without a prompt; detection takes such a device for silence and says no Kavo answered.
//
// The full-speed device is kavo-sim --babble-interval 0: it writes its lines as fast as the
// pseudo-terminal takes them. As a module that goes wrong (without --babble) it answers
// until it gets SIGUSR1, and babbles from then on. The memory runs are fresh processes of
// this program (--tool), sampled from outside through /proc/<pid>/status.
//
//   bench_babble [rounds] [--seconds S] [--memory-runs N]   (defaults 9, 10, 3)
//
// bench/README.md describes the method.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "benchkit.h"
#include "boxcatcher.h"
#include "link/comports.h"
#include "link/kavolink.h"
#include "support/kavosim.h"
#include "support/testenv.h"
#include "support/windowdriver.h"
#include "support/windowfixture.h"

namespace {

qint64 nowNs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// A "Name:   123 kB" line of /proc/<pid>/status, in KiB; -1 when it cannot be read.
long statusKiB(pid_t pid, const char *name)
{
    QFile file(pid > 0 ? QStringLiteral("/proc/%1/status").arg(pid) : QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key = QByteArray(name) + ':';
    for (const QByteArray &line : file.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLong();
    return -1;
}

// ====================================================================================
// The babbling device: kavo-sim, on the simulator's CPU.
// ====================================================================================

// The bytes of kavo-sim's line of babble.
constexpr int SentenceBytes = 67;

// kavo-sim babbling as fast as the line takes it (or a line every `intervalMs`); as a
// `module` it answers until told to babble (SIGUSR1).
class Babbler
{
public:
    bool start(int intervalMs = 0, bool module = false)
    {
        QStringList options = {QStringLiteral("--babble-interval"), QString::number(intervalMs)};
        if (!module)
            options << QStringLiteral("--babble");
        return Bench::startSim(m_sim, options);
    }
    // Ends it; the bytes it babbled.
    qint64 stop()
    {
        m_sim.terminate();
        static const QRegularExpression babbled(QStringLiteral("babbled (\\d+) bytes"));
        return babbled.match(m_sim.errorOutput()).captured(1).toLongLong();
    }
    bool startBabbling() { return ::kill(pid(), SIGUSR1) == 0; }
    pid_t pid() const { return Bench::simPid(m_sim); }
    QString comName() const { return m_sim.comName(); }
    QString device() const { return m_sim.device(); }

private:
    KavoSim m_sim;
};

// ====================================================================================
// The tool under memory watch (--tool), a fresh process for each run.
// ====================================================================================

// Notes when the first message box is shown (BoxCatcher answers it).
class BoxClock : public QObject
{
public:
    BoxClock() { qApp->installEventFilter(this); }
    ~BoxClock() override { qApp->removeEventFilter(this); }
    qint64 firstShownNs = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!firstShownNs && event->type() == QEvent::Show && qobject_cast<QMessageBox *>(watched))
            firstShownNs = nowNs();
        return false;
    }
};

enum class Mode { Open, Auto, Idle };

// The window as the program shows it, the babbler's port chosen; at 9600 bps, or with
// automatic detection.
std::unique_ptr<frmSerialData> readyWindow(const QString &com, bool automatic, QString *failure)
{
    std::unique_ptr<frmSerialData> w = openWindow();
    if (!w || !WindowDriver(w.get()).pick(QStringLiteral("lstPCCOM"), com)) {
        *failure = QStringLiteral("the window does not list %1").arg(com);
        return nullptr;
    }
    WindowDriver window(w.get());
    window.find<QCheckBox>(QStringLiteral("chkAutoBitRate"))->setChecked(automatic);
    window.pick(QStringLiteral("lstPCBPS"), QStringLiteral("9600"));
    // A user clicks a window that has been painted: its first paint is not part of a click.
    if (!QTest::qWaitForWindowExposed(w.get())) {
        *failure = QStringLiteral("the window was not exposed");
        return nullptr;
    }
    QApplication::processEvents();
    return w;
}

// --tool open|auto|idle COMn <babbler pid> <ms>: prints "start" when the babble begins to
// count, and at the end "clicks <n>", "boxes <n>", "box <text>" (each different text),
// "cpu <s>", "connected <0|1>", "peak <VmHWM KiB>".
int toolMain(int argc, char *argv[])
{
    if (argc < 6)
        return 1;
    const QByteArray modeName = argv[2];
    const Mode mode = modeName == "idle" ? Mode::Idle : modeName == "auto" ? Mode::Auto : Mode::Open;
    const QString com = QString::fromLatin1(argv[3]);
    const pid_t babbler = pid_t(QByteArray(argv[4]).toInt());
    const int ms = QByteArray(argv[5]).toInt();
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KavoConfig"));
    // As in the tests: the ports are the benchmark's links alone.
    ComPorts::setSystemPortsSource([] { return QList<ComPorts::SystemPort>(); });
    QString failure;
    const std::unique_ptr<frmSerialData> w = readyWindow(com, mode == Mode::Auto, &failure);
    if (!w) {
        std::fprintf(stderr, "bench_babble --tool: %s\n", qPrintable(failure));
        return 1;
    }
    BoxCatcher boxes;
    WindowDriver window(w.get());
    int clicks = 0;
    double cpu = 0;
    if (mode == Mode::Idle) {
        window.click(QStringLiteral("cmdOpenCOM"));
        if (!window.connected() || !boxes.texts.isEmpty()) {
            std::fprintf(stderr, "bench_babble --tool: the module did not connect (%s)\n",
                         qPrintable(boxes.texts.join(QStringLiteral(" | "))));
            return 1;
        }
        ::kill(babbler, SIGUSR1);
        std::printf("start\n");
        Bench::Measure measure;
        // The program's own event loop, connected and idle; one timer of ours ends it.
        QTimer::singleShot(ms, Qt::PreciseTimer, &app, &QCoreApplication::quit);
        app.exec();
        measure.stop();
        cpu = measure.cpu;
    } else {
        std::printf("start\n");
        Bench::Measure measure;
        QElapsedTimer clock;
        clock.start();
        // Open, the box answered, and 100 ms later Open again.
        while (clock.elapsed() < ms) {
            window.click(QStringLiteral("cmdOpenCOM"));
            ++clicks;
            if (window.connected()) {
                std::fprintf(stderr, "bench_babble --tool: the babbling device was taken for a module\n");
                return 1;
            }
            QTest::qWait(int(std::min<qint64>(100, std::max<qint64>(0, ms - clock.elapsed()))));
        }
        measure.stop();
        cpu = measure.cpu;
    }
    std::printf("clicks %d\nboxes %d\n", clicks, int(boxes.texts.size()));
    const QStringList kinds = QStringList(QSet<QString>(boxes.texts.begin(), boxes.texts.end()).values());
    for (const QString &text : kinds)
        std::printf("box %s\n", qPrintable(text));
    std::printf("cpu %.6f\nconnected %d\npeak %ld\n", cpu, window.connected() ? 1 : 0,
                statusKiB(0, "VmHWM"));
    return 0;
}

// ====================================================================================
// The benchmark.
// ====================================================================================

struct MemoryRun {
    std::vector<double> rssMiB;   // every 100 ms from the start of the babble
    double peakMiB = 0;           // VmHWM at the end: the whole process's peak
    double cpuS = 0;
    int clicks = 0;
    int boxes = 0;
    bool connected = false;
    QStringList boxTexts;
    double babbleMiB = 0;         // what the babbler wrote meanwhile
    double seconds = 0;           // how long it wrote
    double at(int second) const { return rssMiB.at(size_t(second) * 10); }
};

bool memoryRun(Mode mode, int seconds, MemoryRun &run)
{
    Babbler babbler;
    if (!babbler.start(0, mode == Mode::Idle)) {
        std::fprintf(stderr, "the babbler did not start\n");
        return false;
    }
    const char *name = mode == Mode::Idle ? "idle" : mode == Mode::Auto ? "auto" : "open";
    QProcess tool;
    tool.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // The tool runs a little longer than the samples are taken.
    const int toolMs = seconds * 1000 + 300;
    tool.start(QCoreApplication::applicationFilePath(),
               {QStringLiteral("--tool"), QString::fromLatin1(name), babbler.comName(),
                QString::number(babbler.pid()), QString::number(toolMs)});
    QByteArray out;
    QElapsedTimer wait;
    wait.start();
    while (!out.contains("start\n")) {
        if (!tool.waitForReadyRead(100) && tool.state() != QProcess::Running) {
            std::fprintf(stderr, "the tool (%s) ended before the babble\n", name);
            return false;
        }
        out += tool.readAllStandardOutput();
        if (wait.elapsed() > 60000)
            return false;
    }
    const pid_t pid = pid_t(tool.processId());
    const qint64 start = nowNs();
    // Sampled from outside, so that nothing of ours runs in the tool's process.
    for (int i = 0; i <= seconds * 10; ++i) {
        const qint64 due = start + qint64(i) * 100000000;
        const timespec at{time_t(due / 1000000000), long(due % 1000000000)};
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr);
        const long kib = statusKiB(pid, "VmRSS");
        if (kib < 0) {
            std::fprintf(stderr, "the tool (%s) ended after %.1f s of the babble\n", name, i / 10.0);
            return false;
        }
        run.rssMiB.push_back(kib / 1024.0);
    }
    if (!tool.waitForFinished(60000) || tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0) {
        std::fprintf(stderr, "the tool (%s) did not end cleanly\n", name);
        return false;
    }
    run.seconds = (nowNs() - start) / 1e9;
    run.babbleMiB = babbler.stop() / 1048576.0;
    out += tool.readAllStandardOutput();
    for (const QByteArray &line : out.split('\n')) {
        const QByteArray value = line.mid(line.indexOf(' ') + 1);
        if (line.startsWith("clicks "))
            run.clicks = value.toInt();
        else if (line.startsWith("boxes "))
            run.boxes = value.toInt();
        else if (line.startsWith("box "))
            run.boxTexts << QString::fromLocal8Bit(value);
        else if (line.startsWith("cpu "))
            run.cpuS = value.toDouble();
        else if (line.startsWith("connected "))
            run.connected = value.toInt() == 1;
        else if (line.startsWith("peak "))
            run.peakMiB = value.toLong() / 1024.0;
    }
    return run.peakMiB > 0;
}

bool memory(Mode mode, int seconds, int runs)
{
    const char *what = mode == Mode::Idle ? "the window connected and idle, the module babbling since"
                       : mode == Mode::Auto ? "Open with automatic detection, again 100 ms after each box"
                                            : "Open at 9600 bps, again 100 ms after each box";
    std::printf("\nmemory, %s (device at full speed, %d s):\n", what, seconds);
    std::printf("  RSS MiB at second   ");
    for (int s = 0; s <= seconds; ++s)
        std::printf("%6d", s);
    std::printf("    peak  growth 1 to %d s\n", seconds);
    std::vector<double> peaks, growths;
    QStringList texts;
    for (int r = 0; r < runs; ++r) {
        MemoryRun run;
        if (!memoryRun(mode, seconds, run))
            return false;
        if (mode == Mode::Idle && (!run.connected || run.boxes)) {
            std::fprintf(stderr, "the idle window lost its connection or showed a box\n");
            return false;
        }
        const double growth = run.at(seconds) - run.at(1);
        std::printf("  run %d               ", r + 1);
        for (int s = 0; s <= seconds; ++s)
            std::printf("%6.1f", run.at(s));
        std::printf("  %6.1f  %+.2f\n", run.peakMiB, growth);
        const double most = *std::max_element(run.rssMiB.begin(), run.rssMiB.end());
        const double least = *std::min_element(run.rssMiB.begin() + 10, run.rssMiB.end());
        std::printf("    every 100 ms from second 1: %.1f to %.1f MiB; tool CPU %.2f s of %d s; the device wrote "
                    "%.1f MiB (%.1f MiB/s)",
                    least, most, run.cpuS, seconds, run.babbleMiB, run.babbleMiB / run.seconds);
        if (mode != Mode::Idle)
            std::printf("; %d clicks, %d boxes", run.clicks, run.boxes);
        std::printf("\n");
        peaks.push_back(run.peakMiB);
        growths.push_back(growth);
        for (const QString &t : run.boxTexts)
            if (!texts.contains(t))
                texts << t;
    }
    for (const QString &t : texts)
        std::printf("  the box said: \"%s\"\n", qPrintable(t));
    const Bench::Spread peak = Bench::spread(peaks);
    const Bench::Spread growth = Bench::spread(growths);
    Bench::verdict(peak.median < 50 && growth.median <= 1.0,
                   QStringLiteral("memory, %1: peak %2 MiB (goal under 50 MiB), growth from second 1 to %3 %4 MiB "
                                  "(goal at most +1 MiB)")
                       .arg(QString::fromLatin1(mode == Mode::Idle ? "connected and idle" : mode == Mode::Auto ? "Open, automatic" : "Open at 9600"),
                            Bench::show(peak, "%.1f"))
                       .arg(seconds)
                       .arg(Bench::show(growth, "%+.2f")));
    return true;
}

// --- time to the box -------------------------------------------------------------------

// The floor of one wait: a raw client opens the port as the tool does (raw, 9600 bps, what
// the line held dropped), sends the probe and reads until the wait's bound: LongestReply
// bytes, or LongestAnswerMs. Milliseconds from before the open; -1 on failure.
double rawUntilBound(const QString &device)
{
    const qint64 start = nowNs();
    const int fd = ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY);
    if (fd < 0)
        return -1;
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 20;
    tcsetattr(fd, TCSANOW, &t);
    tcflush(fd, TCIOFLUSH);
    qint64 got = 0;
    bool ok = ::write(fd, "\x1b\r", 2) == 2;
    char buffer[4096];
    while (ok && got < KavoLink::LongestReply && nowNs() - start < qint64(KavoLink::LongestAnswerMs) * 1000000) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        got += std::max<ssize_t>(n, 0);
    }
    const double ms = (nowNs() - start) / 1e6;
    ::close(fd);
    return ok ? ms : -1;
}

struct BoxRound {
    double ms = -1;      // click to the first box shown; -1: failed
    double cpuMs = 0;
    QString text;
    QString com;
    QString failure;
};

// Clicks `button` and times it to the first message box.
BoxRound clickToBox(frmSerialData *w, const QString &button)
{
    BoxRound round;
    BoxCatcher boxes;
    BoxClock shown;
    WindowDriver window(w);
    Bench::Measure measure;
    const qint64 start = nowNs();
    window.click(button, 60000);
    measure.stop();
    round.cpuMs = measure.cpu * 1000;
    if (boxes.texts.isEmpty() || !shown.firstShownNs) {
        round.failure = QStringLiteral("no message box");
        return round;
    }
    round.text = boxes.texts.constFirst();
    round.ms = (shown.firstShownNs - start) / 1e6;
    return round;
}

// A device that babbles from the start: Open clicked on it. `slow`: kavo-sim --babble (a
// line every 20 ms), else kavo-sim babbling at full speed. With `raw` the raw client's time to the
// bound is measured on the same device too, before or after the click.
BoxRound openRound(bool slow, bool automatic, int rawOrder, double *rawMs)
{
    BoxRound round;
    KavoSim sim;
    Babbler babbler;
    QString com, device;
    if (slow) {
        if (!Bench::startSim(sim, {QStringLiteral("--babble")})) {
            round.failure = QStringLiteral("kavo-sim did not start");
            return round;
        }
        com = sim.comName();
        device = sim.device();
    } else {
        if (!babbler.start()) {
            round.failure = QStringLiteral("the babbler did not start");
            return round;
        }
        com = babbler.comName();
        device = babbler.device();
    }
    const std::unique_ptr<frmSerialData> w = readyWindow(com, automatic, &round.failure);
    if (!w)
        return round;
    if (rawOrder < 0 && (*rawMs = rawUntilBound(device)) < 0) {
        round.failure = QStringLiteral("the raw client failed");
        return round;
    }
    round = clickToBox(w.get(), QStringLiteral("cmdOpenCOM"));
    round.com = com;
    if (round.ms >= 0 && WindowDriver(w.get()).connected()) {
        round.ms = -1;
        round.failure = QStringLiteral("the babbling device was taken for a module");
    }
    if (rawOrder > 0 && (*rawMs = rawUntilBound(device)) < 0)
        round.failure = QStringLiteral("the raw client failed");
    return round;
}

QString quotedTexts(const QStringList &texts)
{
    QStringList distinct;
    for (const QString &t : texts)
        if (!distinct.contains(t))
            distinct << t;
    for (QString &t : distinct)
        t = QLatin1Char('"') + t + QLatin1Char('"');
    return distinct.join(QStringLiteral(", "));
}

// What the README promises when a wait ends at its bound: the operation ends with this box.
QString endlessText(const QString &com)
{
    return QStringLiteral("The device on %1 keeps sending without a prompt; it may not be a Kavo.").arg(com);
}

// Whether every box named the device that keeps sending.
bool allEndless(const QStringList &texts, const QStringList &coms)
{
    for (qsizetype i = 0; i < texts.size(); ++i)
        if (texts[i] != endlessText(coms.value(i)))
            return false;
    return !texts.isEmpty();
}

// The wait's bound measured with a chosen rate, per device (full speed, kavo-sim): what
// detection's five waits are set against.
double g_waitBound[2] = {0, 0};

bool openToBox(bool slow, bool automatic, int rounds)
{
    const QString device = slow ? QStringLiteral("kavo-sim --babble (a %1-byte line every 20 ms)")
                                      .arg(SentenceBytes)
                                : QStringLiteral("a device at full speed");
    const QString how = automatic ? QStringLiteral("automatic detection") : QStringLiteral("9600 bps chosen");
    const int waits = automatic ? 5 : 1;
    double raw = 0;
    // Untimed: the first click of a process costs more than the others.
    if (const BoxRound warm = openRound(slow, automatic, automatic ? 0 : 1, &raw); warm.ms < 0) {
        std::fprintf(stderr, "%s, %s, untimed round: %s\n", qPrintable(device), qPrintable(how),
                     qPrintable(warm.failure));
        return false;
    }
    std::vector<double> tool, cpu, raws;
    QStringList texts, coms;
    for (int i = 0; i < rounds; ++i) {
        // With a chosen rate the raw client makes a pair with the click, first or second
        // in turn; detection's five waits are set against five of its median.
        const int order = automatic ? 0 : (i % 2 == 0 ? 1 : -1);
        const BoxRound r = openRound(slow, automatic, order, &raw);
        if (r.ms < 0) {
            std::fprintf(stderr, "%s, %s, round %d: %s\n", qPrintable(device), qPrintable(how), i + 1,
                         qPrintable(r.failure));
            return false;
        }
        tool.push_back(r.ms);
        cpu.push_back(r.cpuMs);
        texts << r.text;
        coms << r.com;
        if (order)
            raws.push_back(raw);
    }
    const Bench::Spread t = Bench::spread(tool);
    std::printf("\nOpen on %s, %s: click to the box shown\n", qPrintable(device), qPrintable(how));
    std::printf("  click to box %s ms; CPU of the click %s ms\n", qPrintable(Bench::show(t, "%.1f")),
                qPrintable(Bench::show(Bench::spread(cpu), "%.1f")));
    std::printf("  the box said: %s%s\n", qPrintable(quotedTexts(texts)),
                automatic ? " (detection takes such a device for silence and tries the next rate)" : "");
    if (!automatic) {
        const Bench::Spread r = Bench::spread(raws);
        std::printf("  raw client, open to %d bytes (the wait's bound): %s ms\n", KavoLink::LongestReply,
                    qPrintable(Bench::show(r, "%.2f")));
        // What bounds the wait: its bytes, unless the device is slower than LongestReply in
        // LongestAnswerMs.
        const bool byBytes = r.median < KavoLink::LongestAnswerMs;
        std::printf("  the bound that ends the wait: %s\n",
                    byBytes ? qPrintable(QStringLiteral("%1 bytes without a prompt (%2 ms at this device's pace), "
                                                        "before the %3 ms")
                                             .arg(KavoLink::LongestReply)
                                             .arg(r.median, 0, 'f', 1)
                                             .arg(KavoLink::LongestAnswerMs))
                            : qPrintable(QStringLiteral("%1 ms").arg(KavoLink::LongestAnswerMs)));
        const double bound = std::min<double>(r.median, KavoLink::LongestAnswerMs);
        g_waitBound[slow] = bound;
    }
    const double bound = g_waitBound[slow] * waits;
    Bench::verdict(t.median <= bound + 100, QStringLiteral("Open on %1, %2: box %3 ms after the click, %4 ms over %5 "
                                                           "(goal at most 100 ms over)")
                                                .arg(slow ? QStringLiteral("kavo-sim --babble") : QStringLiteral("full-speed babble"),
                                                     how, Bench::show(t, "%.1f"))
                                                .arg(t.median - bound, 0, 'f', 1)
                                                .arg(waits > 1 ? QStringLiteral("five waits' bound (%1 ms)").arg(bound, 0, 'f', 1)
                                                               : QStringLiteral("the wait's bound (%1 ms)").arg(bound, 0, 'f', 1)));
    // A chosen rate has no other rate to try: the wait that ended at its bound ends the
    // click, which should say why, as every other operation does.
    if (!automatic)
        Bench::verdict(allEndless(texts, coms),
                       QStringLiteral("Open on %1, %2: the box says the device keeps sending without a prompt")
                           .arg(slow ? QStringLiteral("kavo-sim --babble") : QStringLiteral("full-speed babble"), how));
    return true;
}

// A module that answered the connect and then started babbling: Read clicked on it. Its
// wait for a quiet line can only end at LongestAnswerMs.
BoxRound readRound(int intervalMs)
{
    BoxRound round;
    Babbler babbler;
    if (!babbler.start(intervalMs, true)) {
        round.failure = QStringLiteral("the babbler did not start");
        return round;
    }
    const std::unique_ptr<frmSerialData> w = readyWindow(babbler.comName(), false, &round.failure);
    if (!w)
        return round;
    {
        BoxCatcher boxes;
        WindowDriver window(w.get());
        window.click(QStringLiteral("cmdOpenCOM"));
        if (!window.connected() || !boxes.texts.isEmpty()) {
            round.failure = QStringLiteral("the module did not connect (%1)").arg(boxes.texts.join(QStringLiteral(" | ")));
            return round;
        }
    }
    babbler.startBabbling();
    // The babble under way, as when the user comes back to the window.
    QTest::qWait(200);
    round = clickToBox(w.get(), QStringLiteral("cmdReadSettings"));
    round.com = babbler.comName();
    return round;
}

bool readToBox(int intervalMs, int rounds)
{
    const QString device = intervalMs ? QStringLiteral("a %1-byte line every %2 ms").arg(SentenceBytes).arg(intervalMs)
                                      : QStringLiteral("full speed");
    if (const BoxRound warm = readRound(intervalMs); warm.ms < 0) {
        std::fprintf(stderr, "Read, %s, untimed round: %s\n", qPrintable(device), qPrintable(warm.failure));
        return false;
    }
    std::vector<double> tool, cpu;
    QStringList texts, coms;
    for (int i = 0; i < rounds; ++i) {
        const BoxRound r = readRound(intervalMs);
        if (r.ms < 0) {
            std::fprintf(stderr, "Read, %s, round %d: %s\n", qPrintable(device), i + 1, qPrintable(r.failure));
            return false;
        }
        tool.push_back(r.ms);
        cpu.push_back(r.cpuMs);
        texts << r.text;
        coms << r.com;
    }
    const Bench::Spread t = Bench::spread(tool);
    std::printf("\nRead on a connected module that has started babbling (%s): click to the box shown\n",
                qPrintable(device));
    std::printf("  click to box %s ms; CPU of the click %s ms\n", qPrintable(Bench::show(t, "%.1f")),
                qPrintable(Bench::show(Bench::spread(cpu), "%.1f")));
    std::printf("  the box said: %s\n", qPrintable(quotedTexts(texts)));
    std::printf("  the bound that ends the wait: %d ms (the line is never quiet for %d ms, and the wait for quiet "
                "counts no bytes)\n",
                KavoLink::LongestAnswerMs, KavoLink::QuietMs);
    Bench::verdict(t.median <= KavoLink::LongestAnswerMs + 100,
                   QStringLiteral("Read on a module babbling at %1: box %2 ms after the click, %3 ms over the %4 ms "
                                  "bound (goal at most 100 ms over)")
                       .arg(device, Bench::show(t, "%.1f"))
                       .arg(t.median - KavoLink::LongestAnswerMs, 0, 'f', 1)
                       .arg(KavoLink::LongestAnswerMs));
    Bench::verdict(allEndless(texts, coms),
                   QStringLiteral("Read on a module babbling at %1: the box says the device keeps sending without a "
                                  "prompt")
                       .arg(device));
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc >= 2 && qstrcmp(argv[1], "--tool") == 0)
        return toolMain(argc, argv);

    // The display's platform when there is one (Xvfb from scripts/bench.sh), else offscreen.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TestEnv::isolate();
    Bench::pinClient();
    int rounds = 9, seconds = 10, runs = 3;
    for (int i = 1; i < argc; ++i) {
        if (!qstrcmp(argv[i], "--seconds") && i + 1 < argc)
            seconds = std::max(2, atoi(argv[++i]));
        else if (!qstrcmp(argv[i], "--memory-runs") && i + 1 < argc)
            runs = std::max(1, atoi(argv[++i]));
        else
            rounds = std::max(1, atoi(argv[i]));
    }

    Bench::header(QStringLiteral("bench_babble: a device that sends without end and never a prompt: the tool's "
                                 "memory while it babbles, and the time from a click to the box that says so"),
                  QStringLiteral("on the %1 platform; the full-speed device is kavo-sim --babble-interval 0 "
                                 "on its own CPU; memory: %2 fresh tool processes per case, sampled from outside; "
                                 "time: a fresh device and window each round, one untimed round, then %3 rounds; "
                                 "medians and IQR")
                      .arg(QGuiApplication::platformName())
                      .arg(runs)
                      .arg(rounds));

    for (const Mode mode : {Mode::Open, Mode::Auto, Mode::Idle})
        if (!memory(mode, seconds, runs))
            return 1;
    for (const bool slow : {false, true})
        for (const bool automatic : {false, true})
            if (!openToBox(slow, automatic, rounds))
                return 1;
    for (const int interval : {0, 20})
        if (!readToBox(interval, rounds))
            return 1;
    Bench::footer();
    return 0;
}
