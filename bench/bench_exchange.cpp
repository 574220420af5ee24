// The cost of the command exchange, against kavo-sim unpaced at 9600 bps:
//  - exchanges: 1000 "V" exchanges through KavoLink::SendAndWait beside a raw POSIX client
//    doing the same exchanges on the same pseudo-terminal; goal: the tool's time at most
//    1.05x the raw client's; with CPU, read and write calls per exchange, and system calls
//    per exchange by name from separate counting runs under strace;
//  - silent waits: the CPU the tool's process uses during 10 s of waits on a module that
//    never answers (ten one-second time-outs); goal: under 2 ms;
//  - the trace: the same exchanges with no tracer, with the window's ring of entries, and
//    with every entry written to a file as kavoctl --trace writes it; goal: at most 1.03x
//    the time with no tracer.
//
//   bench_exchange [--exchanges N] [--pairs N] [--no-silent] [--no-trace]
//
// bench/README.md describes the method.
#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <vector>

#include "benchkit.h"
#include "cli/output.h"
#include "cli/tracefile.h"
#include "link/kavolink.h"
#include "link/tracer.h"
#include "support/kavosim.h"
#include "support/testenv.h"

namespace {

constexpr int Rate = 9600;
const QByteArray Version = "Kavo v2.07KAV1 SN 00012345";

struct Run {
    double ms = -1;   // -1: a wrong reply
    double cpu = 0;   // CPU seconds of this process
    Bench::IoCalls io;
    Bench::Syscalls calls;   // when counted
    bool ok() const { return ms >= 0; }
};

// The tool: `count` exchanges through the link; the port is opened before and closed
// after the timed part.
// With a counter, the timed part is a counting run instead (strace attached just before it
// and detached just after it).
Run toolExchanges(KavoLink &link, const KavoSim &sim, int count, Bench::SyscallCounter *counter = nullptr)
{
    Run run;
    QString error;
    if (!link.openPort(ComPorts::port(sim.com()), Rate, &error)) {
        std::fprintf(stderr, "cannot open %s: %s\n", qPrintable(sim.comName()), qPrintable(error));
        return run;
    }
    link.beginOperation();
    bool ok = true;
    Bench::Measure measure(counter);
    if (!measure.started())
        return run;
    for (int i = 0; i < count && ok; ++i)
        ok = link.SendAndWait("V").text == Version;
    measure.stop();
    run.cpu = measure.cpu;
    run.io = measure.io;
    run.calls = measure.calls;
    link.closePort();
    if (ok)
        run.ms = measure.ms();
    return run;
}

// The raw client: the same exchanges with plain system calls, reading until a read ends
// with the prompt.
Run rawExchanges(const KavoSim &sim, int count, Bench::SyscallCounter *counter = nullptr)
{
    Run run;
    Bench::RawLine line;
    if (!line.open(sim.device(), Rate))
        return run;
    const QByteArray expected = Version + '>';
    bool ok = true;
    Bench::Measure measure(counter);
    if (!measure.started())
        return run;
    for (int i = 0; i < count && ok; ++i)
        ok = line.send("V\r", 2) && line.reply() == expected;
    measure.stop();
    run.cpu = measure.cpu;
    run.io = measure.io;
    run.calls = measure.calls;
    if (ok)
        run.ms = measure.ms();
    return run;
}

using Bench::show;
using Bench::spread;

// The trace written to a file by kavoctl's own trace writer.
class TraceToFile
{
public:
    explicit TraceToFile(const QString &path)
        : m_output(false, false)
    {
        QString error;
        m_file = TraceFile::open(path, m_output, &error);
        if (m_file)
            m_tracer = m_file->tracerForPort();
    }
    Tracer *tracer() { return m_tracer; }
    bool ok()
    {
        if (!m_file)
            return false;
        m_file->finish();
        return m_file->failure().isEmpty();
    }

private:
    Output m_output;
    std::unique_ptr<TraceFile> m_file;
    Tracer *m_tracer = nullptr;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    TestEnv::isolate();
    Bench::pinClient();

    int count = 1000, pairCount = 9;
    bool silent = true, traced = true;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QStringLiteral("--exchanges") && i + 1 < args.size())
            count = args[++i].toInt();
        else if (args[i] == QStringLiteral("--pairs") && i + 1 < args.size())
            pairCount = args[++i].toInt();
        else if (args[i] == QStringLiteral("--no-silent"))
            silent = false;
        else if (args[i] == QStringLiteral("--no-trace"))
            traced = false;
        else
            count = 0;
    }
    if (count < 1 || pairCount < 1) {
        std::fprintf(stderr, "usage: bench_exchange [--exchanges N] [--pairs N] [--no-silent] [--no-trace]\n");
        return 2;
    }

    Bench::header(QStringLiteral("bench_exchange: %1 \"V\" exchanges with kavo-sim (unpaced, %2 bps), the tool "
                                 "(KavoLink::SendAndWait) beside a raw POSIX client; then 10 s of silent waits")
                      .arg(count)
                      .arg(Rate),
                  QStringLiteral("%1 pairs of %2 exchanges each, the order alternating, after one untimed pair; "
                                 "medians and IQR of the per-pair figures")
                      .arg(pairCount)
                      .arg(count));

    KavoSim sim;
    if (!Bench::startSim(sim))
        return 1;
    KavoLink link;
    if (!toolExchanges(link, sim, count).ok() || !rawExchanges(sim, count).ok()) {
        std::fprintf(stderr, "bench_exchange: a wrong reply in the untimed pair\n");
        return 1;
    }
    std::vector<double> toolMs, rawMs, ratio, toolCpu, rawCpu, toolReads, toolWrites, rawReads, rawWrites;
    for (int i = 0; i < pairCount; ++i) {
        Run t, r;
        if (i % 2 == 0) {
            t = toolExchanges(link, sim, count);
            r = rawExchanges(sim, count);
        } else {
            r = rawExchanges(sim, count);
            t = toolExchanges(link, sim, count);
        }
        if (!t.ok() || !r.ok()) {
            std::fprintf(stderr, "bench_exchange: pair %d: a wrong reply\n", i + 1);
            return 1;
        }
        toolMs.push_back(t.ms);
        rawMs.push_back(r.ms);
        ratio.push_back(t.ms / r.ms);
        toolCpu.push_back(t.cpu * 1e6 / count);
        rawCpu.push_back(r.cpu * 1e6 / count);
        toolReads.push_back(double(t.io.reads) / count);
        toolWrites.push_back(double(t.io.writes) / count);
        rawReads.push_back(double(r.io.reads) / count);
        rawWrites.push_back(double(r.io.writes) / count);
    }

    std::printf("\n%d exchanges:\n", count);
    std::printf("  time              tool %s ms, raw %s ms\n", qPrintable(show(spread(toolMs), "%.1f")),
                qPrintable(show(spread(rawMs), "%.1f")));
    std::printf("  CPU per exchange  tool %s us, raw %s us (the whole process)\n",
                qPrintable(show(spread(toolCpu), "%.1f")), qPrintable(show(spread(rawCpu), "%.1f")));
    std::printf("  calls per exchange (/proc/self/io)  tool %.2f read + %.2f write, raw %.2f read + %.2f write\n",
                spread(toolReads).median, spread(toolWrites).median, spread(rawReads).median,
                spread(rawWrites).median);
    if (Bench::SyscallCounter::available()) {
        Bench::SyscallCounter toolCounter, rawCounter;
        Run t = toolExchanges(link, sim, count, &toolCounter);
        Run w = rawExchanges(sim, count, &rawCounter);
        Bench::Syscalls tool = t.calls, raw = w.calls;
        tool.valid = tool.valid && t.ok();
        raw.valid = raw.valid && w.ok();
        std::printf("  system calls per exchange (strace -c, one separate untimed run each)\n"
                    "    tool %s\n    raw  %s\n",
                    qPrintable(tool.describe(count)), qPrintable(raw.describe(count)));
    } else {
        std::printf("  system calls per exchange: not counted (%s)\n",
                    qPrintable(Bench::SyscallCounter::unavailableReason()));
    }
    const Bench::Spread r = spread(ratio);
    Bench::verdict(r.median <= 1.05,
                   QStringLiteral("exchanges take %1x the raw client's time (goal <= 1.05x)").arg(show(r)));

    if (traced) {
        // Four runs a round, their order turning from round to round: no tracer twice (what
        // two runs alike differ by), the window's ring, and the file.
        QTemporaryDir dir;
        Tracer ring;
        TraceToFile file(dir.filePath(QStringLiteral("trace.log")));
        enum Kind { Off, Ring, File, OffAgain };
        const auto exchanges = [&](Kind kind) {
            link.setTracer(kind == Ring ? &ring : kind == File ? file.tracer() : nullptr);
            const Run run = toolExchanges(link, sim, count);
            link.setTracer(nullptr);
            return run;
        };
        for (int kind = Off; kind <= OffAgain; ++kind)   // untimed
            exchanges(Kind(kind));
        std::vector<double> ms[4], cpu[4], ringRatio, fileRatio, offRatio;
        for (int i = 0; i < pairCount; ++i) {
            Run runs[4];
            for (int k = 0; k < 4; ++k) {
                const Kind kind = Kind((i + k) % 4);
                runs[kind] = exchanges(kind);
                if (!runs[kind].ok()) {
                    std::fprintf(stderr, "bench_exchange: round %d: a wrong reply\n", i + 1);
                    return 1;
                }
            }
            for (int k = 0; k < 4; ++k) {
                ms[k].push_back(runs[k].ms);
                cpu[k].push_back(runs[k].cpu * 1e6 / count);
            }
            ringRatio.push_back(runs[Ring].ms / runs[Off].ms);
            fileRatio.push_back(runs[File].ms / runs[Off].ms);
            offRatio.push_back(runs[OffAgain].ms / runs[Off].ms);
        }
        if (!file.ok()) {
            std::fprintf(stderr, "bench_exchange: the trace file could not be written\n");
            return 1;
        }
        std::printf("\n%d exchanges with the trace (%d rounds of four runs, the order turning):\n", count, pairCount);
        const char *names[4] = {"no tracer", "ring (window)", "file (--trace)", "no tracer again"};
        for (int k = 0; k < 4; ++k)
            std::printf("  %-16s %s ms, CPU %s us per exchange\n", names[k], qPrintable(show(spread(ms[k]), "%.1f")),
                        qPrintable(show(spread(cpu[k]), "%.1f")));
        const Bench::Spread off = spread(offRatio), inRing = spread(ringRatio), toFile = spread(fileRatio);
        std::printf("  against no tracer: again %sx, ring %sx, file %sx\n", qPrintable(show(off)),
                    qPrintable(show(inRing)), qPrintable(show(toFile)));
        Bench::verdict(toFile.median <= 1.03,
                       QStringLiteral("exchanges traced to a file take %1x the time untraced (goal <= 1.03x)")
                           .arg(show(toFile)));
        Bench::verdict(inRing.median <= 1.03,
                       QStringLiteral("exchanges kept in the window's ring take %1x the time untraced (goal <= 1.03x)")
                           .arg(show(inRing)));
    }

    if (silent) {
        KavoSim quiet;
        if (!Bench::startSim(quiet, {QStringLiteral("--silent")}))
            return 1;
        KavoLink silentLink;
        QString error;
        if (!silentLink.openPort(ComPorts::port(quiet.com()), Rate, &error)) {
            std::fprintf(stderr, "cannot open %s: %s\n", qPrintable(quiet.comName()), qPrintable(error));
            return 1;
        }
        silentLink.beginOperation();
        // The first wait is the untimed one.
        if (!silentLink.SendAndWait("V").timedOut())
            return 1;
        Bench::Measure silentWaits;
        for (int i = 0; i < 10; ++i) {
            if (!silentLink.SendAndWait("V").timedOut()) {
                std::fprintf(stderr, "bench_exchange: the silent module answered\n");
                return 1;
            }
        }
        silentWaits.stop();
        const double cpuMs = silentWaits.cpu * 1000;
        std::printf("\nsilent waits: 10 time-outs in %.3f s\n", silentWaits.seconds());
        {
            // For comparison, what ten 1 s waits cost a raw client on the same silent line: a
            // write and a read that returns empty after a second.
            silentLink.closePort();
            Bench::RawLine line;
            bool timedOut = line.open(quiet.device(), Rate, 10);
            Bench::Measure rawWaits;
            for (int i = 0; i < 10 && timedOut; ++i)
                timedOut = line.send("V\r", 2) && line.reply().isEmpty();
            rawWaits.stop();
            const double rawMs = rawWaits.cpu * 1000;
            line.close();
            if (timedOut)
                std::printf("  raw client's 10 waits of 1 s on the same line: %.3f ms of CPU\n", rawMs);
            if (!silentLink.openPort(ComPorts::port(quiet.com()), Rate, &error))
                return 1;
            silentLink.beginOperation();
        }
        if (Bench::SyscallCounter::available()) {
            Bench::SyscallCounter counter;
            if (counter.attach()) {
                bool done = true;
                for (int i = 0; i < 10; ++i)
                    done = silentLink.SendAndWait("V").timedOut() && done;
                Bench::Syscalls calls = counter.detach();
                calls.valid = calls.valid && done;
                std::printf("  system calls per time-out (strace -c, a separate run of 10): %s\n",
                            qPrintable(calls.describe(10)));
            }
        }
        Bench::verdict(cpuMs < 2, QStringLiteral("10 s of silent waits cost %1 ms of CPU (goal < 2 ms)")
                                      .arg(cpuMs, 0, 'f', 3));
    }
    Bench::footer();
    return 0;
}
