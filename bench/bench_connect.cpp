// How long the window's Open click takes with automatic bit-rate detection:
//  - module at 115200 bps: four silent rates of 1000 ms each make a floor of 4 s; goal: the
//    click ends at most 30 ms after it. Measured on the simulators' ports alone, then as the
//    program runs outside the tests, with the system's serial ports looked up as well;
//  - module at 9600 bps with the simulator pacing at the line rate: the click against the
//    time the bytes of the exchange need on the line (goal: at most 50 ms over it), beside a
//    raw POSIX client sending the same commands on the same paced line.
//
//   bench_connect [rounds] (default 9); KAVO_BENCH_TRAFFIC=1 prints each traffic log.
//
// bench/README.md describes the method.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "benchkit.h"
#include "boxcatcher.h"
#include "link/comports.h"
#include "support/kavosim.h"
#include "support/testenv.h"
#include "support/windowdriver.h"
#include "support/windowfixture.h"

namespace {

struct Round {
    double clickMs = -1;   // -1: it did not connect cleanly
    double cpuMs = 0;
    double lineMs = 0;
    QString finalStatus;
    QString failure;
    QList<TrafficLine> log;
    bool ok() const { return clickMs >= 0; }
};

Round connectOnce(const QStringList &simOptions)
{
    Round round;
    KavoSim sim;
    if (!Bench::startSim(sim, simOptions)) {
        round.failure = QStringLiteral("kavo-sim did not start");
        return round;
    }
    const std::unique_ptr<frmSerialData> w = openWindow();
    WindowDriver window(w.get());
    if (!w || !window.pick(QStringLiteral("lstPCCOM"), sim.comName())) {
        round.failure = QStringLiteral("the window does not list %1").arg(sim.comName());
        return round;
    }
    window.find<QCheckBox>(QStringLiteral("chkAutoBitRate"))->setChecked(true);
    BoxCatcher boxes;
    // A user clicks a window that has been painted: its first paint is not part of the click.
    if (!QTest::qWaitForWindowExposed(w.get())) {
        round.failure = QStringLiteral("the window was not exposed");
        return round;
    }
    QApplication::processEvents();

    Bench::Measure measure;
    window.click(QStringLiteral("cmdOpenCOM"));
    measure.stop();
    const double ms = measure.ms();
    round.cpuMs = measure.cpu * 1000;

    round.finalStatus = window.status();
    round.log = sim.log();
    round.lineMs = KavoSim::lineSeconds(round.log) * 1000;
    if (qEnvironmentVariableIsSet("KAVO_BENCH_TRAFFIC"))
        for (const TrafficLine &l : round.log)
            std::printf("    %lld\t%d\t%s\t%s\n", l.ms, l.rate, qPrintable(l.command), qPrintable(l.answer));
    if (!window.connected())
        round.failure = QStringLiteral("not connected; status \"%1\"").arg(round.finalStatus);
    else if (!boxes.texts.isEmpty())
        round.failure = QStringLiteral("a message: %1").arg(boxes.texts.join(QStringLiteral(" | ")));
    else
        round.clickMs = ms;
    return round;
}

// What the tool sent in a connect, as the raw client sends it: each command line with the
// number of prompts its answer has; the probe (escape and carriage return, logged as two
// entries) in one write, as the tool sends it.
struct Command {
    QByteArray bytes;
    qsizetype prompts = 1;
};

QList<Command> commandsOf(const QList<TrafficLine> &log)
{
    QList<Command> commands;
    for (qsizetype i = 0; i < log.size(); ++i) {
        const TrafficLine &e = log[i];
        if (e.note.contains(QStringLiteral("rate-mismatch")))
            continue;
        Command c;
        if (e.command == QStringLiteral("\\e") && i + 1 < log.size() && log[i + 1].command.isEmpty()) {
            c.bytes = "\x1b\r";
            c.prompts = e.answer.count(QLatin1Char('>')) + log[i + 1].answer.count(QLatin1Char('>'));
            ++i;
        } else {
            c.bytes = KavoSim::unescape(e.command) + '\r';
            c.prompts = e.answer.count(QLatin1Char('>'));
        }
        commands << c;
    }
    return commands;
}

// The tool's commands of a connect at 9600 bps sent by the raw client on a paced simulator:
// what the line and the simulator cost without the tool. Milliseconds over the line time.
bool rawOverLineTime(const QList<Command> &commands, double *over)
{
    KavoSim sim;
    if (!Bench::startSim(sim, {QStringLiteral("--rate"), QStringLiteral("9600"), QStringLiteral("--pace")}))
        return false;
    Bench::RawLine line;
    if (!line.open(sim.device(), 9600))
        return false;
    QElapsedTimer clock;
    clock.start();
    for (const Command &command : commands) {
        if (!line.send(command.bytes))
            return false;
        QByteArray answer;
        while (answer.count('>') < command.prompts) {
            const QByteArray more = line.reply();
            if (more.isEmpty())
                return false;
            answer += more;
        }
    }
    const double ms = clock.nsecsElapsed() / 1e6;
    *over = ms - KavoSim::lineSeconds(sim.log()) * 1000;
    return true;
}

bool fastModule(int rounds, const QString &what)
{
    const double floorMs = 4 * 1000.0;
    if (const Round warm = connectOnce({QStringLiteral("--rate"), QStringLiteral("115200")}); !warm.ok()) {
        std::fprintf(stderr, "115200 bps, untimed round: %s\n", qPrintable(warm.failure));
        return false;
    }
    std::vector<double> over, cpu, perRate, answered, rest;
    QString status;
    for (int i = 0; i < rounds; ++i) {
        const Round r = connectOnce({QStringLiteral("--rate"), QStringLiteral("115200")});
        if (!r.ok()) {
            std::fprintf(stderr, "115200 bps: round %d: %s\n", i + 1, qPrintable(r.failure));
            return false;
        }
        over.push_back(r.clickMs - floorMs);
        cpu.push_back(r.cpuMs);
        status = r.finalStatus;
        // Where the time over the floor went, by the simulator's log: from the first probe to
        // the first at the module's rate (four time-outs and the changes of rate), and from
        // there to the last command; the rest is before the first probe and after the last
        // answer.
        const auto first = std::find_if(r.log.begin(), r.log.end(),
                                        [](const TrafficLine &l) { return l.command == QStringLiteral("\\e"); });
        const auto found = std::find_if(r.log.begin(), r.log.end(), [](const TrafficLine &l) {
            return l.rate == 115200 && !l.note.contains(QStringLiteral("rate-mismatch"));
        });
        if (first != r.log.end() && found != r.log.end()) {
            const double silentMs = double(found->ms - first->ms);
            perRate.push_back(silentMs / 4 - 1000);
            answered.push_back(double(r.log.last().ms - found->ms));
            rest.push_back(r.clickMs - silentMs - answered.back());
        }
    }
    const Bench::Spread s = Bench::spread(over);
    std::printf("\nmodule at 115200 bps, %s: click until \"%s\", over the floor of %.0f ms\n", qPrintable(what),
                qPrintable(status), floorMs);
    std::printf("  over the floor  %s ms; CPU of the click %s ms\n", qPrintable(Bench::show(s, "%.1f")),
                qPrintable(Bench::show(Bench::spread(cpu), "%.1f")));
    if (!perRate.empty())
        std::printf("  of it (the simulator's log, 1 ms steps): %s ms per silent rate over its 1000 ms, %s ms from "
                    "the first answered probe to the last command, %s ms before the first probe and after the last "
                    "answer\n",
                    qPrintable(Bench::show(Bench::spread(perRate), "%.1f")),
                    qPrintable(Bench::show(Bench::spread(answered), "%.1f")),
                    qPrintable(Bench::show(Bench::spread(rest), "%.1f")));
    Bench::verdict(s.median <= 30, QStringLiteral("detection at 115200 bps (%1) %2 ms over the 4 x 1000 ms floor "
                                                  "(goal <= 30 ms)")
                                       .arg(what, Bench::show(s, "%.1f")));
    return true;
}

bool pacedModule(int rounds)
{
    const QStringList options = {QStringLiteral("--rate"), QStringLiteral("9600"), QStringLiteral("--pace")};
    double rawOver = 0;
    const Round warm = connectOnce(options);
    const QList<Command> commands = commandsOf(warm.log);
    if (!warm.ok() || !rawOverLineTime(commands, &rawOver)) {
        std::fprintf(stderr, "9600 bps paced, untimed pair: %s\n",
                     qPrintable(warm.ok() ? QStringLiteral("the raw client failed") : warm.failure));
        return false;
    }
    std::vector<double> tool, raw, diff, line;
    for (int i = 0; i < rounds; ++i) {
        Round r;
        bool rawOk = true;
        if (i % 2 == 0) {
            r = connectOnce(options);
            rawOk = rawOverLineTime(commands, &rawOver);
        } else {
            rawOk = rawOverLineTime(commands, &rawOver);
            r = connectOnce(options);
        }
        if (!r.ok() || !rawOk) {
            std::fprintf(stderr, "9600 bps paced: pair %d: %s\n", i + 1,
                         qPrintable(r.ok() ? QStringLiteral("the raw client failed") : r.failure));
            return false;
        }
        tool.push_back(r.clickMs - r.lineMs);
        raw.push_back(rawOver);
        diff.push_back(tool.back() - rawOver);
        line.push_back(r.lineMs);
    }
    const Bench::Spread s = Bench::spread(tool);
    std::printf("\nmodule at 9600 bps paced at the line rate: the click against the line time (%.1f ms), beside a "
                "raw client sending the same commands\n",
                Bench::spread(line).median);
    std::printf("  over line time  tool %s ms, raw %s ms; tool less raw %s ms\n", qPrintable(Bench::show(s, "%.1f")),
                qPrintable(Bench::show(Bench::spread(raw), "%.1f")),
                qPrintable(Bench::show(Bench::spread(diff), "%.1f")));
    Bench::verdict(s.median <= 50, QStringLiteral("detection at 9600 bps paced %1 ms over the line time (goal <= 50 ms)")
                                       .arg(Bench::show(s, "%.1f")));
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TestEnv::isolate();
    Bench::pinClient();
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 9;

    Bench::header(QStringLiteral("bench_connect: the Open click with automatic bit-rate detection, against the floor "
                                 "no tool can beat"),
                  QStringLiteral("a fresh simulator and window each round; one untimed round, then %1 rounds; "
                                 "medians and IQR")
                      .arg(rounds));
    if (!fastModule(rounds, QStringLiteral("simulators' ports only")) || !pacedModule(rounds))
        return 1;
    // As the program runs outside the tests: the machine's own serial ports are looked up as
    // well whenever a COM number is mapped to its device.
    ComPorts::setSystemPortsSource({});
    if (!fastModule(rounds, QStringLiteral("with the system's serial ports")))
        return 1;
    Bench::footer();
    return 0;
}
