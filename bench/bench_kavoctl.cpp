// kavoctl write of one settings file to 8 simulated modules at mixed bit rates, in one call,
// with the simulators pacing at the line rate. Each module has a floor no tool can beat:
// 1000 ms of silence for every rate tried before its own, plus the time its bytes need on
// the line (both ways, at the rate of each exchange). The figure is the time over the sum
// of the floors, per module; goal: under 50 ms.
// Run by hand: build/bin/bench_kavoctl [rounds] (default 3); KAVO_BENCH_TRAFFIC=1 prints
// each module's floor.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "support/kavosim.h"
#include "support/testenv.h"

namespace {

const QList<int> ModuleRates = {9600, 115200, 19200, 57600, 38400, 115200, 9600, 57600};
const QList<int> DetectionOrder = {9600, 19200, 38400, 57600, 115200};
// Moves every module to 38400: each write also closes, reopens and probes at the new rate.
const QByteArray Settings = "ST D 2\nST T 30\nST S 2\nST N 100\nST H 0\nST V 10 20\nST O 3\nST B 37\nST U 1\n";

struct Round {
    double wallMs = 0;
    double floorMs = 0;
    bool ok = false;
};

Round writeOnce(const QString &file)
{
    Round round;
    std::vector<std::unique_ptr<KavoSim>> sims;
    QStringList ports;
    for (const int rate : ModuleRates) {
        auto sim = std::make_unique<KavoSim>();
        if (!sim->start({QStringLiteral("--pace"), QStringLiteral("--rate"), QString::number(rate)})) {
            std::fprintf(stderr, "kavo-sim did not start: %s\n", qPrintable(sim->errorOutput()));
            return round;
        }
        ports << sim->comName();
        sims.push_back(std::move(sim));
    }
    QProcess kavoctl;
    QElapsedTimer clock;
    clock.start();
    kavoctl.start(QStringLiteral(KAVOCTL_PATH), {QStringLiteral("write"), QStringLiteral("--port"),
                                                 ports.join(QLatin1Char(',')), file});
    if (!kavoctl.waitForFinished(120000))
        return round;
    round.wallMs = clock.nsecsElapsed() / 1e6;
    round.ok = kavoctl.exitCode() == 0;
    if (!round.ok)
        std::fprintf(stderr, "kavoctl failed:\n%s%s\n", kavoctl.readAllStandardOutput().constData(),
                     kavoctl.readAllStandardError().constData());
    for (size_t i = 0; i < sims.size(); ++i) {
        const double silent = 1000.0 * DetectionOrder.indexOf(ModuleRates[int(i)]);
        const double line = KavoSim::lineSeconds(sims[i]->log()) * 1000.0;
        round.floorMs += silent + line;
        if (qEnvironmentVariableIsSet("KAVO_BENCH_TRAFFIC"))
            std::printf("    %s at %6d bps: %5.0f ms silent + %7.2f ms of line time\n", qPrintable(ports[int(i)]),
                        ModuleRates[int(i)], silent, line);
    }
    return round;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    TestEnv::isolate();
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 3;
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("exhibition.kavo"));
    {
        QFile f(file);
        if (!f.open(QIODevice::WriteOnly) || f.write(Settings) != Settings.size())
            return 1;
    }
    std::printf("kavoctl write to %lld paced modules (", static_cast<long long>(ModuleRates.size()));
    for (qsizetype i = 0; i < ModuleRates.size(); ++i)
        std::printf("%s%d", i ? " " : "", ModuleRates[i]);
    std::printf(" bps), %d rounds\n", rounds);

    std::vector<double> overheads;
    for (int r = 0; r < rounds; ++r) {
        const Round round = writeOnce(file);
        if (!round.ok)
            return 1;
        const double perModule = (round.wallMs - round.floorMs) / ModuleRates.size();
        overheads.push_back(perModule);
        std::printf("  round %d: %8.1f ms in all, floor %8.1f ms, %+6.1f ms per module over the floor\n", r + 1,
                    round.wallMs, round.floorMs, perModule);
    }
    std::sort(overheads.begin(), overheads.end());
    const double median = overheads[overheads.size() / 2];
    std::printf("median over the floor: %+.1f ms per module (goal: under 50 ms) %s\n", median,
                median < 50 ? "MET" : "NOT MET");
    return 0;
}
