// The cost of the command exchange:
//  (a) CPU seconds the tool's process uses during 10 s of waits on a silent module
//      (ten WaitForPrompt time-outs); goal: under 0.1 s;
//  (b) 1000 exchanges ("V") through WaitForPrompt against kavo-sim, beside a minimal raw
//      POSIX client doing the same exchanges on the same pseudo-terminal; goal: the tool
//      within 1.5 times the raw client.
// Run by hand: build/bin/bench_exchange [exchanges] [rounds]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include "link/kavolink.h"
#include "support/kavosim.h"
#include "support/testenv.h"

namespace {

const QByteArray Version = "Kavo v2.07KAV1 SN 00012345";

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

bool openLink(KavoLink &link, const KavoSim &sim)
{
    QString error;
    if (!link.openPort(sim.com(), 9600, &error)) {
        std::fprintf(stderr, "cannot open %s: %s\n", qPrintable(sim.comName()), qPrintable(error));
        return false;
    }
    link.beginOperation();
    return true;
}

// (a) Ten time-outs on a silent module: wall seconds and CPU seconds.
bool silentWaits(double *wall, double *cpu)
{
    KavoSim sim;
    if (!sim.start({"--silent"}))
        return false;
    KavoLink link;
    if (!openLink(link, sim))
        return false;
    QElapsedTimer clock;
    clock.start();
    const double before = cpuSeconds();
    for (int i = 0; i < 10; ++i) {
        if (!link.SendAndWait("V").timedOut())
            return false;
    }
    *cpu = cpuSeconds() - before;
    *wall = clock.elapsed() / 1000.0;
    return true;
}

// (b) The tool: `count` exchanges through the link; milliseconds, or -1 on a wrong reply.
double toolExchanges(const KavoSim &sim, int count)
{
    KavoLink link;
    if (!openLink(link, sim))
        return -1;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < count; ++i) {
        if (link.SendAndWait("V").text != Version)
            return -1;
    }
    const double ms = clock.nsecsElapsed() / 1e6;
    link.closePort();
    return ms;
}

// (b) The raw client: the same exchanges with plain system calls, reading until a read ends
// with the prompt; milliseconds, or -1.
double rawExchanges(const KavoSim &sim, int count)
{
    const int fd = ::open(QFile::encodeName(sim.device()).constData(), O_RDWR | O_NOCTTY);
    if (fd < 0)
        return -1;
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &tio);
    tcflush(fd, TCIOFLUSH);

    QElapsedTimer clock;
    clock.start();
    char buffer[256];
    for (int i = 0; i < count; ++i) {
        if (::write(fd, "V\r", 2) != 2) {
            ::close(fd);
            return -1;
        }
        QByteArray reply;
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0) {
                ::close(fd);
                return -1;
            }
            reply.append(buffer, n);
            if (buffer[n - 1] == '>')
                break;
        }
        reply.chop(1);
        if (reply != Version) {
            ::close(fd);
            return -1;
        }
    }
    const double ms = clock.nsecsElapsed() / 1e6;
    ::close(fd);
    return ms;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    TestEnv::isolate();
    const QStringList args = app.arguments();
    const int count = args.size() > 1 ? args[1].toInt() : 1000;
    const int rounds = args.size() > 2 ? args[2].toInt() : 3;
    if (count < 1 || rounds < 1) {
        std::fprintf(stderr, "usage: bench_exchange [exchanges] [rounds]\n");
        return 2;
    }

    double wall = 0, cpu = 0;
    if (!silentWaits(&wall, &cpu)) {
        std::fprintf(stderr, "the silent waits did not time out as they should\n");
        return 1;
    }
    std::printf("silent waits: 10 time-outs in %.2f s, CPU %.4f s (goal < 0.1 s) %s\n", wall, cpu,
                cpu < 0.1 ? "OK" : "MISSED");

    KavoSim sim;
    if (!sim.start()) {
        std::fprintf(stderr, "kavo-sim did not start: %s\n", qPrintable(sim.errorOutput()));
        return 1;
    }
    // The machine's load changes from second to second: the two clients take turns in
    // blocks of 100 exchanges, so that both see the same conditions.
    const int block = std::min(count, 100);
    std::vector<double> tool, raw, toolCpu;
    for (int r = 0; r < rounds; ++r) {
        double t = 0, w = 0, c = 0;
        for (int done = 0; done < count; done += block) {
            const int n = std::min(block, count - done);
            const double cpuBefore = cpuSeconds();
            const double tb = toolExchanges(sim, n);
            c += cpuSeconds() - cpuBefore;
            const double wb = rawExchanges(sim, n);
            if (tb < 0 || wb < 0) {
                std::fprintf(stderr, "round %d: a wrong reply\n", r + 1);
                return 1;
            }
            t += tb;
            w += wb;
        }
        tool.push_back(t);
        raw.push_back(w);
        toolCpu.push_back(c);
        std::printf("round %d: %d exchanges, tool %.1f ms (CPU %.1f ms), raw client %.1f ms, ratio %.2f\n", r + 1,
                    count, t, c * 1000, w, t / w);
    }
    const double ratio = median(tool) / median(raw);
    std::printf("median: tool %.1f ms (%.0f us per exchange, of it %.0f us CPU), raw client %.1f ms (%.0f us), "
                "ratio %.2f (goal <= 1.5) %s\n",
                median(tool), median(tool) * 1000 / count, median(toolCpu) * 1e6 / count, median(raw),
                median(raw) * 1000 / count, ratio, ratio <= 1.5 ? "OK" : "MISSED");
    return 0;
}
