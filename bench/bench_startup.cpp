// Start-up cost: the time from starting the program to its window shown, and the peak
// memory it takes to get there.
//
// Each run is a fresh process of this program (--child) that does what kavoconfig's main()
// does: QApplication, the window, Form_Load (which lists the COM ports; a kavo-sim publishes
// one), show, until the window system reports the window exposed. The parent notes the
// monotonic clock just before it starts the child; the child reads the same clock at each
// step, so "start" includes creating the process, loading the libraries and static set-up.
// Peak memory is the child's maximum resident set size.
//
// Run by hand: build/bin/bench_startup [runs] (default 10). On a display the window is
// really shown (xcb); without one the offscreen platform is used. scripts/bench.sh runs it
// under Xvfb.
#include <QApplication>
#include <QCoreApplication>
#include <QProcess>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <sys/resource.h>
#include <vector>

#include "app/frmserialdata.h"
#include "support/kavosim.h"
#include "support/testenv.h"

namespace {

qint64 nowNs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
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

// One start of the program; prints "<ns per phase...> <peak RSS KiB> <platform>".
int child(qint64 startNs, int argc, char *argv[])
{
    const qint64 tMain = nowNs();
    QApplication app(argc, argv);
    const qint64 tApp = nowNs();
    frmSerialData window;
    const qint64 tWindow = nowNs();
    if (!window.Form_Load()) {
        std::fprintf(stderr, "bench_startup: no COM port was listed\n");
        return 1;
    }
    const qint64 tLoad = nowNs();
    window.show();
    if (!QTest::qWaitForWindowExposed(&window, 10000)) {
        std::fprintf(stderr, "bench_startup: the window was not exposed within 10 s\n");
        return 1;
    }
    const qint64 tShown = nowNs();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%lld %lld %lld %lld %lld %lld %ld %s\n", (long long)(tMain - startNs), (long long)(tApp - tMain),
                (long long)(tWindow - tApp), (long long)(tLoad - tWindow), (long long)(tShown - tLoad),
                (long long)(tShown - startNs), usage.ru_maxrss, qPrintable(QGuiApplication::platformName()));
    std::fflush(stdout);
    return 0;
}

struct Run {
    qint64 ns[PhaseCount] = {};
    long maxRssKiB = 0;
    QString platform;
};

bool runChild(Run &run)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const qint64 start = nowNs();
    process.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child"), QString::number(start)});
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return false;
    const QStringList fields = QString::fromLocal8Bit(process.readAllStandardOutput()).simplified().split(QLatin1Char(' '));
    if (fields.size() != PhaseCount + 2)
        return false;
    for (int i = 0; i < PhaseCount; ++i)
        run.ns[i] = fields[i].toLongLong();
    run.maxRssKiB = fields[PhaseCount].toLong();
    run.platform = fields[PhaseCount + 1];
    return true;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 3 && qstrcmp(argv[1], "--child") == 0)
        return child(QByteArray(argv[2]).toLongLong(), argc, argv);

    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 10;

    // A runtime folder of our own with one simulator in it, so the window has a port to list.
    TestEnv::isolate();
    KavoSim sim;
    if (!sim.start()) {
        std::fprintf(stderr, "bench_startup: kavo-sim did not start\n");
        return 1;
    }

    // A first start warms the file cache; it is not counted.
    Run warmUp;
    if (!runChild(warmUp)) {
        std::fprintf(stderr, "bench_startup: the program did not start\n");
        return 1;
    }

    std::vector<Run> results;
    for (int i = 0; i < runs; ++i) {
        Run run;
        if (!runChild(run)) {
            std::fprintf(stderr, "bench_startup: run %d failed\n", i + 1);
            return 1;
        }
        results.push_back(run);
    }

    std::printf("bench_startup: %d starts on the %s platform (one warm-up start not counted)\n", runs,
                qPrintable(results.front().platform));
    std::printf("  %-26s %9s %9s %9s\n", "ms", "median", "min", "max");
    for (int p = 0; p < PhaseCount; ++p) {
        std::vector<double> ms;
        for (const Run &r : results)
            ms.push_back(r.ns[p] / 1e6);
        std::printf("  %-26s %9.1f %9.1f %9.1f\n", PhaseNames[p], median(ms), *std::min_element(ms.begin(), ms.end()),
                    *std::max_element(ms.begin(), ms.end()));
    }
    std::vector<double> mib;
    for (const Run &r : results)
        mib.push_back(r.maxRssKiB / 1024.0);
    std::printf("  %-26s %9.1f %9.1f %9.1f\n", "peak memory (MiB RSS)", median(mib),
                *std::min_element(mib.begin(), mib.end()), *std::max_element(mib.begin(), mib.end()));
    return 0;
}
