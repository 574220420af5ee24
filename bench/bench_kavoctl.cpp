// kavoctl write of one settings file to 8 simulated modules at mixed bit rates, in one call,
// with the simulators pacing at the line rate. Each module has a floor no tool can beat:
// 1000 ms of silence for every rate tried before its own, plus the time its bytes need on
// the line (both ways, at the rate of each exchange). The figure is the time over the sum
// of the floors, per module; goal: under 50 ms.
// Run by hand: build/bin/bench_kavoctl [rounds] (default 3); KAVO_BENCH_TRAFFIC=1 prints
// each module's floor. One untimed round comes first. bench/README.md describes the method.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "benchkit.h"
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
        if (!Bench::startSim(*sim, {QStringLiteral("--pace"), QStringLiteral("--rate"), QString::number(rate)}))
            return round;
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
    Bench::pinClient();
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 3;
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("exhibition.kavo"));
    {
        QFile f(file);
        if (!f.open(QIODevice::WriteOnly) || f.write(Settings) != Settings.size())
            return 1;
    }
    QString rates;
    for (qsizetype i = 0; i < ModuleRates.size(); ++i)
        rates += (i ? QStringLiteral(" ") : QString()) + QString::number(ModuleRates[i]);
    Bench::header(QStringLiteral("bench_kavoctl: one kavoctl write to %1 paced modules (%2 bps), the time per module "
                                 "over the floor (1000 ms per silent rate tried plus the bytes' line time)")
                      .arg(ModuleRates.size())
                      .arg(rates),
                  QStringLiteral("one untimed round, then %1 round(s); medians and IQR").arg(rounds));

    if (!writeOnce(file).ok)
        return 1;
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
    const Bench::Spread s = Bench::spread(overheads);
    Bench::verdict(s.median < 50, QStringLiteral("kavoctl write %1 ms per module over the floor (goal under 50 ms)")
                                      .arg(Bench::show(s, "%+.1f")));
    Bench::footer();
    return 0;
}
