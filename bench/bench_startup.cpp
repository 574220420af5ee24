// Start-up and idle cost of the window program:
//  - start-up: the time from starting the program to its window shown, split into its
//    steps, on the display's platform (xcb under Xvfb from scripts/bench.sh, offscreen
//    without a display);
//  - idle: on the offscreen platform, the CPU from process start to the window shown, the
//    CPU of the 2 s after it with nothing to do, and the peak memory (maximum resident set
//    size). Goals: start-up and 2 s of idle together about 26 ms of CPU at most, peak
//    memory under 32 MiB.
//
// Each run is a fresh process of this program (--child) that does what kavoconfig's main()
// does: QApplication, the window, Form_Load (which lists the COM ports; a kavo-sim
// publishes one), show, until the window system reports the window exposed; with --idle it
// then runs the event loop, as the program does, for that long. The parent notes the
// monotonic clock just before it starts the child; the child reads the same clock at each
// step, so "start" includes creating the process, loading the libraries and static set-up.
//
//   bench_startup [runs] (default 10; one more untimed start first)
//
// bench/README.md describes the method.
#include <QApplication>
#include <QCoreApplication>
#include <QProcess>
#include <QEventLoop>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <sys/resource.h>
#include <vector>

#include "app/frmserialdata.h"
#include "benchkit.h"
#include "support/kavosim.h"
#include "support/testenv.h"

namespace {

qint64 nowNs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

double selfCpu()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

const char *const PhaseNames[] = {
    "process start to main()",
    "QApplication",
    "window built",
    "Form_Load (port list)",
    "show until exposed",
    "start to window shown",
};
constexpr int PhaseCount = int(std::size(PhaseNames));
constexpr int IdleMs = 2000;

// Runs the event loop until the window system reports the window exposed (no polling: an
// event filter on the window's surface ends the loop), at most 10 s.
class ExposeWatch : public QObject
{
public:
    explicit ExposeWatch(QEventLoop *loop) : m_loop(loop) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Expose && static_cast<QWindow *>(watched)->isExposed())
            QTimer::singleShot(0, m_loop, &QEventLoop::quit);
        return false;
    }

private:
    QEventLoop *m_loop;
};

bool waitExposed(QWidget *widget)
{
    QWindow *surface = widget->windowHandle();
    if (!surface)
        return false;
    if (surface->isExposed())
        return true;
    QEventLoop loop;
    ExposeWatch watch(&loop);
    surface->installEventFilter(&watch);
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    limit.start(10000);
    loop.exec();
    surface->removeEventFilter(&watch);
    return surface->isExposed();
}

// One start of the program; prints "<ns per phase...> <start-up CPU us> <idle CPU us>
// <idle wake-ups> <peak RSS KiB> <platform>".
int child(qint64 startNs, int idleMs, int argc, char *argv[])
{
    const qint64 tMain = nowNs();
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("KavoConfig"));
    QApplication::setApplicationName(QStringLiteral("KavoConfig"));
    const qint64 tApp = nowNs();
    frmSerialData window;
    const qint64 tWindow = nowNs();
    if (!window.Form_Load()) {
        std::fprintf(stderr, "bench_startup: no COM port was listed\n");
        return 1;
    }
    const qint64 tLoad = nowNs();
    window.show();
    if (!waitExposed(&window)) {
        std::fprintf(stderr, "bench_startup: the window was not exposed within 10 s\n");
        return 1;
    }
    const qint64 tShown = nowNs();
    const double startCpu = selfCpu();
    double idleCpu = 0;
    long wakeUps = 0;
    if (idleMs > 0) {
        rusage before{};
        getrusage(RUSAGE_SELF, &before);
        // The program's own event loop with nothing to do; one timer of ours ends it.
        QTimer::singleShot(idleMs, Qt::PreciseTimer, &app, &QCoreApplication::quit);
        app.exec();
        idleCpu = selfCpu() - startCpu;
        rusage after{};
        getrusage(RUSAGE_SELF, &after);
        // Each time the process gave up the CPU to wait: one wake-up (the last one ours).
        wakeUps = after.ru_nvcsw - before.ru_nvcsw - 1;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%lld %lld %lld %lld %lld %lld %lld %lld %ld %ld %s\n", (long long)(tMain - startNs),
                (long long)(tApp - tMain), (long long)(tWindow - tApp), (long long)(tLoad - tWindow),
                (long long)(tShown - tLoad), (long long)(tShown - startNs), (long long)(startCpu * 1e6),
                (long long)(idleCpu * 1e6), wakeUps, usage.ru_maxrss, qPrintable(QGuiApplication::platformName()));
    std::fflush(stdout);
    return 0;
}

struct Run {
    qint64 ns[PhaseCount] = {};
    double startCpuMs = 0;
    double idleCpuMs = 0;
    long wakeUps = 0;
    long maxRssKiB = 0;
    QString platform;
};

bool runChild(Run &run, bool offscreenIdle)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    if (offscreenIdle) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process.setProcessEnvironment(env);
    }
    QStringList args = {QStringLiteral("--child"), QString()};
    if (offscreenIdle)
        args << QStringLiteral("--idle") << QString::number(IdleMs);
    const qint64 start = nowNs();
    args[1] = QString::number(start);
    process.start(QCoreApplication::applicationFilePath(), args);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return false;
    const QStringList fields = QString::fromLocal8Bit(process.readAllStandardOutput()).simplified().split(QLatin1Char(' '));
    if (fields.size() != PhaseCount + 5)
        return false;
    for (int i = 0; i < PhaseCount; ++i)
        run.ns[i] = fields[i].toLongLong();
    run.startCpuMs = fields[PhaseCount].toLongLong() / 1000.0;
    run.idleCpuMs = fields[PhaseCount + 1].toLongLong() / 1000.0;
    run.wakeUps = fields[PhaseCount + 2].toLong();
    run.maxRssKiB = fields[PhaseCount + 3].toLong();
    run.platform = fields[PhaseCount + 4];
    return true;
}

bool runMany(int runs, bool offscreenIdle, std::vector<Run> &results)
{
    // A first start warms the file cache; it is not counted.
    Run warmUp;
    if (!runChild(warmUp, offscreenIdle)) {
        std::fprintf(stderr, "bench_startup: the program did not start\n");
        return false;
    }
    for (int i = 0; i < runs; ++i) {
        Run run;
        if (!runChild(run, offscreenIdle)) {
            std::fprintf(stderr, "bench_startup: run %d failed\n", i + 1);
            return false;
        }
        results.push_back(run);
    }
    return true;
}

void row(const char *name, const std::vector<double> &values)
{
    const Bench::Spread s = Bench::spread(values);
    std::printf("  %-28s %9.1f %9.1f %9.1f %9.1f %9.1f\n", name, s.median, s.q1, s.q3, s.min, s.max);
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc >= 3 && qstrcmp(argv[1], "--child") == 0) {
        const int idle = argc >= 5 && qstrcmp(argv[3], "--idle") == 0 ? QByteArray(argv[4]).toInt() : 0;
        return child(QByteArray(argv[2]).toLongLong(), idle, argc, argv);
    }

    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 10;

    // A runtime folder of our own with one simulator in it, so the window has a port to list.
    TestEnv::isolate();
    Bench::pinClient();
    KavoSim sim;
    if (!Bench::startSim(sim))
        return 1;

    Bench::header(QStringLiteral("bench_startup: start-up time of the window program, then its CPU for start-up and "
                                 "%1 s idle offscreen and its peak memory")
                      .arg(IdleMs / 1000),
                  QStringLiteral("%1 fresh processes each (one untimed start first); medians, IQR, min and max").arg(runs));

    std::vector<Run> shown;
    if (!runMany(runs, false, shown))
        return 1;
    std::printf("\nstart-up on the %s platform:\n", qPrintable(shown.front().platform));
    std::printf("  %-28s %9s %9s %9s %9s %9s\n", "ms", "median", "q1", "q3", "min", "max");
    for (int p = 0; p < PhaseCount; ++p) {
        std::vector<double> ms;
        for (const Run &r : shown)
            ms.push_back(r.ns[p] / 1e6);
        row(PhaseNames[p], ms);
    }

    std::vector<Run> idle;
    if (!runMany(runs, true, idle))
        return 1;
    std::vector<double> startCpu, idleCpu, total, mib, wakeUps;
    for (const Run &r : idle) {
        startCpu.push_back(r.startCpuMs);
        idleCpu.push_back(r.idleCpuMs);
        total.push_back(r.startCpuMs + r.idleCpuMs);
        mib.push_back(r.maxRssKiB / 1024.0);
        wakeUps.push_back(double(r.wakeUps));
    }
    std::printf("\nstart-up and %d s idle on the %s platform:\n", IdleMs / 1000, qPrintable(idle.front().platform));
    std::printf("  %-28s %9s %9s %9s %9s %9s\n", "", "median", "q1", "q3", "min", "max");
    row("CPU ms, start to shown", startCpu);
    row("CPU ms, 2 s idle", idleCpu);
    row("CPU ms, both", total);
    row("wake-ups in 2 s idle", wakeUps);
    row("peak memory (MiB RSS)", mib);
    const Bench::Spread cpu = Bench::spread(total);
    const Bench::Spread peak = Bench::spread(mib);
    Bench::verdict(cpu.median <= 26, QStringLiteral("start-up and %1 s idle offscreen take %2 ms of CPU (goal about "
                                                    "26 ms at most; of it %3 ms idle)")
                                         .arg(IdleMs / 1000)
                                         .arg(Bench::show(cpu, "%.1f"))
                                         .arg(Bench::spread(idleCpu).median, 0, 'f', 2));
    Bench::verdict(peak.median < 32, QStringLiteral("peak memory offscreen %1 MiB (goal under 32 MiB)")
                                         .arg(Bench::show(peak, "%.1f")));
    Bench::footer();
    return 0;
}
