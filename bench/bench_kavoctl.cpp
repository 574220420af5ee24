// kavoctl and many modules at once, and detection that moves on from a garbled rate.
//  - one kavoctl write to six paced modules at mixed bit rates, in one call, against the
//    slowest of them alone, in alternating pairs: the ratio of the times. Goal: at most
//    1.3x (aim 1.1x).
//  - how it grows: 1, 6 and 16 modules in one call, each over the slowest module alone.
//  - detection of a paced module at 115200 bps through a session, its four wrong rates
//    answered with garbled bytes (goal: under 1.0 s, aim 0.3 s) and kept silent (the floor of
//    4 x 1000 ms of silence; goal: at most 30 ms over it).
// Run by hand: build/bin/bench_kavoctl [pairs] (default 7). One untimed round comes first.
// bench/README.md describes the method.
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
#include "link/comports.h"
#include "session/kavosession.h"
#include "support/kavosim.h"
#include "support/testenv.h"

namespace {

const QList<int> SixRates = {9600, 115200, 19200, 57600, 38400, 115200};
// Moves every module to 38400: each write also closes, reopens and probes at the new rate.
const QByteArray Settings = "ST D 2\nST T 30\nST S 2\nST N 100\nST H 0\nST V 10 20\nST O 3\nST B 37\nST U 1\n";

// One kavoctl write to paced modules at these rates; the wall time in ms, or -1.
double writeTo(const QList<int> &rates, const QString &file)
{
    std::vector<std::unique_ptr<KavoSim>> sims;
    QStringList ports;
    for (const int rate : rates) {
        auto sim = std::make_unique<KavoSim>();
        if (!Bench::startSim(*sim, {QStringLiteral("--pace"), QStringLiteral("--rate"), QString::number(rate)}))
            return -1;
        ports << sim->comName();
        sims.push_back(std::move(sim));
    }
    QProcess kavoctl;
    QElapsedTimer clock;
    clock.start();
    kavoctl.start(QStringLiteral(KAVOCTL_PATH), {QStringLiteral("write"), QStringLiteral("--port"),
                                                 ports.join(QLatin1Char(',')), file});
    if (!kavoctl.waitForFinished(300000))
        return -1;
    const double ms = clock.nsecsElapsed() / 1e6;
    if (kavoctl.exitCode() != 0) {
        std::fprintf(stderr, "kavoctl failed:\n%s%s\n", kavoctl.readAllStandardOutput().constData(),
                     kavoctl.readAllStandardError().constData());
        return -1;
    }
    return ms;
}

// The rate among `rates` whose module alone takes longest.
int slowestOf(const QList<int> &rates, const QString &file)
{
    int slowest = rates.first();
    double longest = -1;
    QList<int> distinct;
    for (const int rate : rates)
        if (!distinct.contains(rate))
            distinct << rate;
    for (const int rate : std::as_const(distinct)) {
        const double ms = writeTo({rate}, file);
        if (ms > longest) {
            longest = ms;
            slowest = rate;
        }
    }
    return slowest;
}

// Detection through a session of a module at 115200 bps: ms from the start to connected.
double detect(bool garbled)
{
    KavoSim sim;
    QStringList options{QStringLiteral("--pace"), QStringLiteral("--rate"), QStringLiteral("115200")};
    if (!garbled)
        options << QStringLiteral("--mismatch-silent");
    if (!Bench::startSim(sim, options))
        return -1;
    KavoSession session;
    SessionOperation operation(session);
    ConnectRequest request;
    request.port = std::make_shared<PortChoice>(ComPorts::port(sim.com()));
    request.rates = SettingTable::bitRates();
    QElapsedTimer clock;
    clock.start();
    const bool connected = session.connectModule(request).connected();
    const double ms = clock.nsecsElapsed() / 1e6;
    return connected ? ms : -1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    TestEnv::isolate();
    Bench::pinClient();
    const int pairs = argc > 1 ? std::max(1, atoi(argv[1])) : 7;
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("exhibition.kavo"));
    {
        QFile f(file);
        if (!f.open(QIODevice::WriteOnly) || f.write(Settings) != Settings.size())
            return 1;
    }
    Bench::header(QStringLiteral("bench_kavoctl: kavoctl write to six paced modules at once against the slowest alone; "
                                 "how it grows to 16; detection at 115200 bps with garbled and with silent wrong rates"),
                  QStringLiteral("one untimed round, then %1 alternating pairs; medians and IQR").arg(pairs));

    if (writeTo(SixRates, file) < 0)
        return 1;
    const int slowest = slowestOf(SixRates, file);
    std::vector<double> ratios, alone, together;
    for (int p = 0; p < pairs; ++p) {
        const double one = writeTo({slowest}, file);
        const double six = writeTo(SixRates, file);
        if (one < 0 || six < 0)
            return 1;
        alone.push_back(one);
        together.push_back(six);
        ratios.push_back(six / one);
        std::printf("  pair %d: slowest (%d bps) alone %8.1f ms, six at once %8.1f ms, %.3fx\n", p + 1, slowest, one,
                    six, six / one);
    }
    const Bench::Spread r = Bench::spread(ratios);
    std::printf("  slowest alone %s ms; six at once %s ms\n", qPrintable(Bench::show(Bench::spread(alone), "%.1f")),
                qPrintable(Bench::show(Bench::spread(together), "%.1f")));
    Bench::verdict(r.median <= 1.3, QStringLiteral("six modules at once %1 the slowest alone (goal at most 1.3x, aim 1.1x)")
                                        .arg(Bench::show(r, "%.3fx")));

    // How it grows: the same sixteen-module mix's slowest alone, six of them, all sixteen.
    QList<int> sixteen;
    for (int i = 0; i < 16; ++i)
        sixteen << SixRates.at(i % SixRates.size());
    const int slowest16 = slowestOf(sixteen, file);
    std::vector<double> grow1, grow16;
    for (int p = 0; p < std::max(3, pairs / 2); ++p) {
        grow1.push_back(writeTo({slowest16}, file));
        grow16.push_back(writeTo(sixteen, file));
    }
    const Bench::Spread g1 = Bench::spread(grow1);
    const Bench::Spread g16 = Bench::spread(grow16);
    std::printf("  growth: one module %s ms, sixteen at once %s ms (%.3fx the slowest alone)\n",
                qPrintable(Bench::show(g1, "%.1f")), qPrintable(Bench::show(g16, "%.1f")), g16.median / g1.median);

    std::vector<double> garbled, silent;
    for (int p = 0; p < pairs; ++p) {
        garbled.push_back(detect(true));
        silent.push_back(detect(false));
    }
    const Bench::Spread dg = Bench::spread(garbled);
    const Bench::Spread ds = Bench::spread(silent);
    Bench::verdict(dg.median >= 0 && dg.median < 1000,
                   QStringLiteral("detection at 115200 bps, wrong rates garbled: %1 ms (goal under 1000 ms, aim 300 ms)")
                       .arg(Bench::show(dg, "%.1f")));
    Bench::verdict(ds.median >= 4000 && ds.median <= 4030,
                   QStringLiteral("detection at 115200 bps, wrong rates silent: %1 ms, %2 ms over the 4000 ms floor "
                                  "(goal at most 30 ms over)")
                       .arg(Bench::show(ds, "%.1f"))
                       .arg(ds.median - 4000, 0, 'f', 1));
    Bench::footer();
    return 0;
}
