#pragma once

// What every benchmark shares: where the client and the simulator run (one CPU each), the
// statistics of the figures, CPU and system-call counts, a plain POSIX client for the
// pseudo-terminal, and the lines the benchmarks print.

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <sys/types.h>
#include <vector>

class KavoSim;
struct TrafficLine;

namespace Bench {

// --- where things run ----------------------------------------------------------------

// The client (this process, the tool in it, the raw client, a kavoctl it starts) runs on
// one CPU and every simulator on another, as a real module never shares the PC's CPU.
// KAVO_BENCH_CPUS=client,sim chooses them; KAVO_BENCH_PIN=0 leaves the scheduler free.
struct Cpus {
    int client = -1;
    int sim = -1;
    QString why;   // why nothing is pinned
    bool pinned() const { return client >= 0 && sim >= 0; }
};
// Decides the two CPUs and pins every thread of this process to the client's CPU (threads
// started later inherit it, and so do the programs this process starts).
const Cpus &pinClient();
const Cpus &cpus();
// Every thread of process `pid` onto one CPU.
bool pinProcess(pid_t pid, int cpu);
// The CPUs a process may run on, e.g. "1" or "0-1".
QString allowedCpus(pid_t pid);
// The process of this simulator (a child of this process), found by its log's path.
pid_t simPid(const KavoSim &sim);
// Starts the simulator and, when pinning, moves it to the simulator's CPU; says why not.
bool startSim(KavoSim &sim, const QStringList &options = {});

// --- statistics ------------------------------------------------------------------------

struct Spread {
    double median = 0, q1 = 0, q3 = 0, min = 0, max = 0;
    int n = 0;
};
// Quartiles by linear interpolation between the sorted values.
Spread spread(std::vector<double> values);
// "0.953 (IQR 0.941-0.962)" with the given printf format for each number.
QString show(const Spread &s, const char *format = "%.3f");

// --- cost -------------------------------------------------------------------------------

double processCpu();    // CPU seconds of this process, all threads
double childrenCpu();   // CPU seconds of the children that have ended and were waited for
double pidCpu(pid_t pid);   // CPU seconds of a running process (its threads' run time)

// Read and write system calls of a process so far (syscr and syscw of /proc/<pid>/io:
// every call of the read and write families, whatever the file).
struct IoCalls {
    qint64 reads = 0, writes = 0;
    qint64 total() const { return reads + writes; }
};
IoCalls ioCalls(pid_t pid = 0);
IoCalls operator-(const IoCalls &a, const IoCalls &b);

// System calls by name, counted by strace -c.
struct Syscalls {
    QMap<QString, qint64> calls;
    bool valid = false;
    qint64 total() const;
    qint64 of(const QStringList &names) const;
    // "6.02 (read 1.00, write 1.00, poll 2.01; ioctl 1.00, ...)", divided by `per`.
    QString describe(double per) const;
};
Syscalls operator-(const Syscalls &a, const Syscalls &b);

// Counts the system calls of this process (every thread) between attach() and detach(),
// with strace attached from outside; the counting run is never a timed one. strace is
// looked for in PATH; KAVO_BENCH_STRACE=0 turns the counting off.
class SyscallCounter
{
public:
    static bool available();
    static QString unavailableReason();
    ~SyscallCounter();
    bool attach();
    // The counts since attach(), less what attaching and detaching alone cost.
    Syscalls detach();
    // What attaching and detaching alone cost (measured once).
    static const Syscalls &baseline();
    // Runs a program under strace -f to its end; the counts of that whole run.
    static Syscalls run(const QString &program, const QStringList &args, int *exitCode = nullptr);

private:
    qint64 m_pid = 0;
    QString m_file;
    bool m_measuringBaseline = false;
};

// --- one timed part ------------------------------------------------------------------

// Measures one timed part the same way in every benchmark: strace attached first (with a
// counter), then the read and write calls, the process's CPU and the clocks are noted; stop()
// takes what each has added since, in the reverse order, and detaches strace. What the
// measuring costs itself falls outside the clock and the CPU figure.
class Measure
{
public:
    explicit Measure(SyscallCounter *counter = nullptr);
    // False when strace could not be attached: nothing is measured then.
    bool started() const { return m_started; }
    void stop();

    // After stop():
    double ms() const { return double(m_ns) / 1e6; }
    double seconds() const { return double(m_ns) / 1e9; }
    double cpu = 0;          // CPU seconds of this process, all threads
    IoCalls io;              // read and write calls
    Syscalls calls;          // with a counter: the system calls by name
    double startMs = 0;      // the monotonic clock at the start and the end, ms
    double endMs = 0;

private:
    SyscallCounter *m_counter = nullptr;
    bool m_started = false;
    IoCalls m_io;
    double m_cpu = 0;
    qint64 m_clockStart = 0;
    qint64 m_ns = 0;
};

// --- the raw client -------------------------------------------------------------------

// A plain POSIX client on the simulator's pseudo-terminal: raw 8N1 at a rate, blocking
// writes, reads that return with whatever has arrived (by default at most 2 s of waiting;
// no poll).
class RawLine
{
public:
    ~RawLine();
    // `waitDs`: how long a read waits for a first byte, in tenths of a second.
    bool open(const QString &device, int rate, int waitDs = 20);
    void close();
    bool send(const QByteArray &bytes);
    bool send(const char *bytes, qint64 size);
    // Everything up to a read that ends with the prompt; empty after the wait in silence.
    QByteArray reply();

private:
    int m_fd = -1;
};

// --- the simulator's traffic log ------------------------------------------------------

// The entries from `from` on (entries already there are skipped).
QList<TrafficLine> logFrom(const KavoSim &sim, qsizetype from);
// Milliseconds between the first and the last of these entries (the log's resolution).
double spanMs(const QList<TrafficLine> &entries);

// --- output -----------------------------------------------------------------------------

QString loadAverage();   // "1.02 0.98 0.75" from /proc/loadavg
// The benchmark's first lines: what it measures, then where it runs and the load.
void header(const QString &title, const QString &method);
// "  MET      what" or "  NOT MET  what"; scripts/bench.sh gathers these into its summary.
void verdict(bool met, const QString &what);
// The load once more at the end.
void footer();

} // namespace Bench
