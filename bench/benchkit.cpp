#include "benchkit.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <ctime>

#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "support/kavosim.h"

extern char **environ;

namespace Bench {

// --- where things run ----------------------------------------------------------------

namespace {

Cpus g_cpus;
bool g_decided = false;

QList<int> allowedList()
{
    QList<int> list;
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0)
        return list;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &set))
            list << cpu;
    return list;
}

QList<pid_t> tasksOf(pid_t pid)
{
    QList<pid_t> tasks;
    const QDir dir(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString &entry : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool ok = false;
        const pid_t tid = entry.toInt(&ok);
        if (ok)
            tasks << tid;
    }
    return tasks;
}

QByteArray readProcFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The value of a "Name:\tvalue" line of a /proc status-like file.
QByteArray field(const QByteArray &text, const QByteArray &name)
{
    for (const QByteArray &line : text.split('\n'))
        if (line.startsWith(name + ':'))
            return line.mid(name.size() + 1).trimmed();
    return {};
}

} // namespace

bool pinProcess(pid_t pid, int cpu)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    const QList<pid_t> tasks = tasksOf(pid);
    bool all = !tasks.isEmpty();
    for (const pid_t tid : tasks)
        if (sched_setaffinity(tid, sizeof set, &set) != 0 && errno != ESRCH)
            all = false;
    return all;
}

QString allowedCpus(pid_t pid)
{
    return QString::fromLatin1(field(readProcFile(QStringLiteral("/proc/%1/status").arg(pid)), "Cpus_allowed_list"));
}

const Cpus &cpus()
{
    return g_cpus;
}

const Cpus &pinClient()
{
    if (g_decided)
        return g_cpus;
    g_decided = true;
    const QList<int> allowed = allowedList();
    if (qgetenv("KAVO_BENCH_PIN") == "0") {
        g_cpus.why = QStringLiteral("KAVO_BENCH_PIN=0");
    } else if (qEnvironmentVariableIsSet("KAVO_BENCH_CPUS")) {
        const QList<QByteArray> two = qgetenv("KAVO_BENCH_CPUS").split(',');
        bool a = false, b = false;
        const int client = two.value(0).toInt(&a), sim = two.value(1).toInt(&b);
        if (two.size() != 2 || !a || !b || client == sim || !allowed.contains(client) || !allowed.contains(sim))
            g_cpus.why = QStringLiteral("KAVO_BENCH_CPUS=%1 does not name two CPUs this process may use")
                             .arg(QString::fromLocal8Bit(qgetenv("KAVO_BENCH_CPUS")));
        else
            g_cpus.client = client, g_cpus.sim = sim;
    } else if (allowed.size() < 2) {
        g_cpus.why = QStringLiteral("this process may use one CPU only");
    } else {
        g_cpus.client = allowed[0];
        g_cpus.sim = allowed[1];
    }
    if (g_cpus.pinned() && !pinProcess(::getpid(), g_cpus.client)) {
        g_cpus.why = QStringLiteral("sched_setaffinity failed");
        g_cpus.client = g_cpus.sim = -1;
    }
    return g_cpus;
}

pid_t simPid(const KavoSim &sim)
{
    const QByteArray log = QFile::encodeName(sim.logPath());
    const pid_t self = ::getpid();
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool ok = false;
        const pid_t pid = entry.toInt(&ok);
        if (!ok)
            continue;
        const QByteArray stat = readProcFile(QStringLiteral("/proc/%1/stat").arg(pid));
        const qsizetype paren = stat.lastIndexOf(')');
        if (paren < 0)
            continue;
        // After the name: state, parent.
        const QList<QByteArray> rest = stat.mid(paren + 2).split(' ');
        if (rest.value(1).toInt() != self)
            continue;
        if (readProcFile(QStringLiteral("/proc/%1/cmdline").arg(pid)).split('\0').contains(log))
            return pid;
    }
    return 0;
}

bool startSim(KavoSim &sim, const QStringList &options)
{
    if (!sim.start(options)) {
        std::fprintf(stderr, "kavo-sim did not start: %s\n", qPrintable(sim.errorOutput()));
        return false;
    }
    if (!g_cpus.pinned())
        return true;
    const pid_t pid = simPid(sim);
    if (pid <= 0 || !pinProcess(pid, g_cpus.sim) || allowedCpus(pid) != QString::number(g_cpus.sim)) {
        std::fprintf(stderr, "kavo-sim (process %d) could not be moved to CPU %d\n", int(pid), g_cpus.sim);
        return false;
    }
    return true;
}

// --- statistics ------------------------------------------------------------------------

Spread spread(std::vector<double> v)
{
    Spread s;
    s.n = int(v.size());
    if (v.empty())
        return s;
    std::sort(v.begin(), v.end());
    const auto at = [&](double p) {
        const double x = p * double(v.size() - 1);
        const size_t i = size_t(std::floor(x));
        const double f = x - double(i);
        return i + 1 < v.size() ? v[i] * (1 - f) + v[i + 1] * f : v[i];
    };
    s.median = at(0.5);
    s.q1 = at(0.25);
    s.q3 = at(0.75);
    s.min = v.front();
    s.max = v.back();
    return s;
}

QString show(const Spread &s, const char *format)
{
    const auto num = [format](double x) { return QString::asprintf(format, x); };
    return QStringLiteral("%1 (IQR %2 to %3)").arg(num(s.median), num(s.q1), num(s.q3));
}

// --- cost -------------------------------------------------------------------------------

double processCpu()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double childrenCpu()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double pidCpu(pid_t pid)
{
    double seconds = 0;
    for (const pid_t tid : tasksOf(pid)) {
        const QByteArray stat = readProcFile(QStringLiteral("/proc/%1/task/%2/schedstat").arg(pid).arg(tid));
        seconds += stat.split(' ').value(0).toLongLong() / 1e9;
    }
    return seconds;
}

IoCalls ioCalls(pid_t pid)
{
    const QByteArray io = readProcFile(pid > 0 ? QStringLiteral("/proc/%1/io").arg(pid) : QStringLiteral("/proc/self/io"));
    return {field(io, "syscr").toLongLong(), field(io, "syscw").toLongLong()};
}

namespace {
qint64 monotonicNs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}
} // namespace

Measure::Measure(SyscallCounter *counter)
    : m_counter(counter)
{
    if (m_counter && !m_counter->attach())
        return;
    m_started = true;
    m_io = ioCalls();
    m_cpu = processCpu();
    m_clockStart = monotonicNs();
    startMs = double(m_clockStart) / 1e6;
}

void Measure::stop()
{
    if (!m_started)
        return;
    const qint64 end = monotonicNs();
    m_ns = end - m_clockStart;
    endMs = double(end) / 1e6;
    cpu = processCpu() - m_cpu;
    io = ioCalls() - m_io;
    if (m_counter)
        calls = m_counter->detach();
    m_started = false;
}

IoCalls operator-(const IoCalls &a, const IoCalls &b)
{
    return {a.reads - b.reads, a.writes - b.writes};
}

namespace {
const QStringList ReadCalls = {"read", "readv", "pread64", "preadv", "preadv2", "recvfrom", "recvmsg"};
const QStringList WriteCalls = {"write", "writev", "pwrite64", "pwritev", "pwritev2", "sendto", "sendmsg"};
const QStringList PollCalls = {"poll", "ppoll", "select", "pselect6", "epoll_wait", "epoll_pwait", "epoll_pwait2"};
} // namespace

qint64 Syscalls::total() const
{
    qint64 sum = 0;
    for (const qint64 n : calls)
        sum += n;
    return sum;
}

qint64 Syscalls::of(const QStringList &names) const
{
    qint64 sum = 0;
    for (const QString &name : names)
        sum += calls.value(name);
    return sum;
}

QString Syscalls::describe(double per) const
{
    if (!valid)
        return QStringLiteral("not counted");
    const auto num = [per](qint64 n) { return QString::number(double(n) / per, 'f', 2); };
    QString text = QStringLiteral("%1 (read %2, write %3, poll %4")
                       .arg(num(total()), num(of(ReadCalls)), num(of(WriteCalls)), num(of(PollCalls)));
    QList<QPair<qint64, QString>> others;
    for (auto it = calls.begin(); it != calls.end(); ++it)
        if (!ReadCalls.contains(it.key()) && !WriteCalls.contains(it.key()) && !PollCalls.contains(it.key()))
            others << qMakePair(it.value(), it.key());
    std::sort(others.begin(), others.end(), [](const auto &a, const auto &b) { return a.first > b.first; });
    QStringList named;
    for (const auto &[n, name] : others)
        if (named.size() < 4 && double(n) / per >= 0.05)
            named << name + QLatin1Char(' ') + num(n);
    if (!named.isEmpty())
        text += QStringLiteral("; ") + named.join(QStringLiteral(", "));
    return text + QLatin1Char(')');
}

Syscalls operator-(const Syscalls &a, const Syscalls &b)
{
    Syscalls d;
    d.valid = a.valid && b.valid;
    d.calls = a.calls;
    for (auto it = b.calls.begin(); it != b.calls.end(); ++it)
        d.calls[it.key()] = std::max<qint64>(0, d.calls.value(it.key()) - it.value());
    return d;
}

namespace {

QString straceProgram()
{
    if (qgetenv("KAVO_BENCH_STRACE") == "0")
        return {};
    return QStandardPaths::findExecutable(QStringLiteral("strace"));
}

QString countFile()
{
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/kavobench-XXXXXX"));
    static int n = 0;
    return dir.filePath(QStringLiteral("strace-%1.txt").arg(++n));
}

// strace -c's table: "% time  seconds  usecs/call  calls  [errors]  syscall".
Syscalls parseCounts(const QString &path)
{
    Syscalls counts;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return counts;
    for (const QByteArray &raw : file.readAll().split('\n')) {
        const QList<QByteArray> t = raw.simplified().split(' ');
        bool number = false;
        t.value(0).toDouble(&number);
        if (!number || t.size() < 5 || t.last() == "total")
            continue;
        counts.calls[QString::fromLatin1(t.last())] += t[3].toLongLong();
    }
    counts.valid = true;
    file.remove();
    return counts;
}

bool tracedBy(pid_t tracer)
{
    const QList<pid_t> tasks = tasksOf(::getpid());
    for (const pid_t tid : tasks)
        if (field(readProcFile(QStringLiteral("/proc/self/task/%1/status").arg(tid)), "TracerPid").toInt() != tracer)
            return false;
    return !tasks.isEmpty();
}

} // namespace

bool SyscallCounter::available()
{
    return !straceProgram().isEmpty();
}

QString SyscallCounter::unavailableReason()
{
    return qgetenv("KAVO_BENCH_STRACE") == "0" ? QStringLiteral("KAVO_BENCH_STRACE=0")
                                                : QStringLiteral("strace is not installed");
}

SyscallCounter::~SyscallCounter()
{
    if (m_pid > 0)
        detach();
}

bool SyscallCounter::attach()
{
    const QString strace = straceProgram();
    if (strace.isEmpty())
        return false;
    if (!m_measuringBaseline)
        baseline();
    m_file = countFile();
    // With -f, strace attaches every thread of the process (and follows new ones).
    QList<QByteArray> args = {QFile::encodeName(strace), "-c", "-f", "-qq", "-o", QFile::encodeName(m_file), "-p",
                              QByteArray::number(::getpid())};
    std::vector<char *> argv;
    for (QByteArray &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return false;
    m_pid = pid;
    // Attached once every thread names strace as its tracer.
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        if (tracedBy(pid))
            return true;
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            m_pid = 0;
            return false;
        }
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (now.tv_sec - start.tv_sec > 10) {
            detach();
            return false;
        }
        const timespec pause{0, 1000000};
        nanosleep(&pause, nullptr);
    }
}

Syscalls SyscallCounter::detach()
{
    if (m_pid <= 0)
        return {};
    ::kill(pid_t(m_pid), SIGINT);
    int status = 0;
    while (waitpid(pid_t(m_pid), &status, 0) < 0 && errno == EINTR) {
    }
    m_pid = 0;
    Syscalls counts = parseCounts(m_file);
    if (!m_measuringBaseline)
        counts = counts - baseline();
    // The signal that ends the count, and a wait restarted after strace stopped it to
    // attach: the counting's own, and only sometimes caught.
    counts.calls.remove(QStringLiteral("kill"));
    counts.calls.remove(QStringLiteral("restart_syscall"));
    return counts;
}

const Syscalls &SyscallCounter::baseline()
{
    static Syscalls counts = [] {
        SyscallCounter counter;
        counter.m_measuringBaseline = true;
        return counter.attach() ? counter.detach() : Syscalls();
    }();
    return counts;
}

Syscalls SyscallCounter::run(const QString &program, const QStringList &args, int *exitCode)
{
    const QString strace = straceProgram();
    if (strace.isEmpty())
        return {};
    const QString file = countFile();
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(strace, QStringList{QStringLiteral("-c"), QStringLiteral("-f"), QStringLiteral("-qq"),
                                      QStringLiteral("-o"), file, program}
                              + args);
    if (!process.waitForFinished(120000))
        return {};
    if (exitCode)
        *exitCode = process.exitCode();
    return parseCounts(file);
}

// --- the raw client -------------------------------------------------------------------

RawLine::~RawLine()
{
    close();
}

bool RawLine::open(const QString &device, int rate, int waitDs)
{
    close();
    speed_t speed = B9600;
    switch (rate) {
    case 9600: speed = B9600; break;
    case 19200: speed = B19200; break;
    case 38400: speed = B38400; break;
    case 57600: speed = B57600; break;
    case 115200: speed = B115200; break;
    default: return false;
    }
    m_fd = ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY);
    if (m_fd < 0)
        return false;
    termios t{};
    tcgetattr(m_fd, &t);
    cfmakeraw(&t);
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = cc_t(std::clamp(waitDs, 1, 255));   // a read returns with what has come, or after the wait
    tcsetattr(m_fd, TCSANOW, &t);
    tcflush(m_fd, TCIOFLUSH);
    return true;
}

void RawLine::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool RawLine::send(const char *bytes, qint64 size)
{
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::write(m_fd, bytes + done, size_t(size - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

bool RawLine::send(const QByteArray &bytes)
{
    return send(bytes.constData(), bytes.size());
}

QByteArray RawLine::reply()
{
    QByteArray got;
    char buffer[4096];
    while (got.isEmpty() || got.back() != '>') {
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return {};
        got.append(buffer, n);
    }
    return got;
}

// --- the simulator's traffic log ------------------------------------------------------

QList<TrafficLine> logFrom(const KavoSim &sim, qsizetype from)
{
    return sim.log().mid(from);
}

double spanMs(const QList<TrafficLine> &entries)
{
    return entries.isEmpty() ? 0 : double(entries.last().ms - entries.first().ms);
}

// --- output -----------------------------------------------------------------------------

QString loadAverage()
{
    const QList<QByteArray> f = readProcFile(QStringLiteral("/proc/loadavg")).split(' ');
    return QString::fromLatin1(f.mid(0, 3).join(' '));
}

void header(const QString &title, const QString &method)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const Cpus &c = cpus();
    std::printf("%s\n", qPrintable(title));
    if (!method.isEmpty())
        std::printf("  method: %s\n", qPrintable(method));
    if (c.pinned())
        std::printf("  CPUs: this process (the tool, the raw client, kavoctl) on CPU %d, kavo-sim on CPU %d\n", c.client,
                    c.sim);
    else
        std::printf("  CPUs: NOT pinned (%s): the figures depend on where the scheduler puts client and simulator\n",
                    qPrintable(c.why));
    std::printf("  load average at start: %s\n", qPrintable(loadAverage()));
}

void verdict(bool met, const QString &what)
{
    std::printf("  %-8s %s\n", met ? "MET" : "NOT MET", qPrintable(what));
}

void footer()
{
    std::printf("  load average at end: %s\n", qPrintable(loadAverage()));
}

} // namespace Bench
