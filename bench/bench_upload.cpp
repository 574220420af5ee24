// Upload of a file to kavo-sim at 115200 bps, by the tool beside a raw client that sends the
// very same bytes in the same order with plain POSIX calls (it replays the commands the
// simulator logged for the tool's upload of the same file):
//  - unpaced, 1 MiB: the window's UploadTestFile and `kavoctl upload`, each against the raw
//    client: throughput, CPU per piece, read and write calls per piece; system calls per
//    piece by name from separate counting runs under strace;
//  - paced by the simulator at 115200 bps: the window against the time the bytes need on
//    the line, and against the raw client on the same paced line.
// Goals: throughput at least 0.92x the raw client's (aim 0.95x), in the window and in
// kavoctl; CPU per piece at most 1.6x the raw client's; paced, within 0.5 % of the line time
// and within 0.1 points of the raw client.
// The trace, unpaced: the window with its Traffic window shown beside closed, and kavoctl
// with --trace to a file beside none; goal: at most 1.03x the time without.
//
//   bench_upload [--size BYTES] [--pairs N] [--paced-size BYTES] [--no-paced] [--no-kavoctl]
//                [--no-trace]
//
// Defaults: 1 MiB, 9 pairs, paced 1 MiB. A paced upload of 1 MiB takes some 93 s on the
// line, so the paced pairs take half an hour; --paced-size 131072 gives a first look in
// four minutes (the costs once per upload then weigh eight times as much).
//
// bench/README.md describes the method.
#include <QApplication>
#include <QMessageBox>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "benchkit.h"
#include "boxcatcher.h"
#include "playtest/testfile.h"
#include "support/kavosim.h"
#include "support/testenv.h"
#include "support/windowdriver.h"
#include "support/windowfixture.h"

namespace {

constexpr int Rate = 115200;
constexpr int Piece = 512;

QByteArray content(qint64 size)
{
    QByteArray bytes(size, '\0');
    quint32 x = 2463534242u;
    for (qint64 i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[i] = char(x);
    }
    return bytes;
}

qint64 piecesOf(qint64 size)
{
    return (size + Piece - 1) / Piece;
}

QString sizeText(qint64 size)
{
    if (size % (1 << 20) == 0)
        return QStringLiteral("%1 MiB").arg(size >> 20);
    if (size % 1024 == 0)
        return QStringLiteral("%1 KiB").arg(size >> 10);
    return QStringLiteral("%1 bytes").arg(size);
}

// A local file for the tool to send: the test file's name in a folder of its own.
struct LocalFile {
    QTemporaryDir dir;
    QByteArray data;
    qint64 pieces = 0;
    bool create(qint64 size)
    {
        data = content(size);
        pieces = piecesOf(size);
        QFile file(path());
        return dir.isValid() && file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
    }
    QString path() const { return dir.filePath(TestFile::name()); }
    void use() const { TestFile::setFolderForTesting(dir.path()); }
};

QString cardFile(const KavoSim &sim)
{
    return sim.cardDir() + TestFile::cardPath();
}

bool cardHolds(const KavoSim &sim, const QByteArray &data)
{
    QFile file(cardFile(sim));
    return file.open(QIODevice::ReadOnly) && file.readAll() == data;
}

// The log entries of one upload: from the card file's opening to its closing.
QList<TrafficLine> uploadEntries(const KavoSim &sim, qsizetype from)
{
    QList<TrafficLine> entries = Bench::logFrom(sim, from);
    while (!entries.isEmpty() && !entries.first().command.startsWith(QStringLiteral("FC O ")))
        entries.removeFirst();
    qsizetype end = 0;
    while (end < entries.size() && entries[end].command != QStringLiteral("FC C 1"))
        ++end;
    return entries.mid(0, end < entries.size() ? end + 1 : entries.size());
}

// --- the raw client: a replay of the tool's traffic -------------------------------------

struct Step {
    QString command;     // as logged
    QByteArray line;     // the command line with its carriage return
    qint64 data = 0;     // bytes of the file that follow it
    bool answered = true;
};
using Script = std::vector<Step>;

Script scriptOf(const QList<TrafficLine> &entries)
{
    Script script;
    for (const TrafficLine &e : entries) {
        if (e.note.contains(QStringLiteral("rate-mismatch")))
            continue;
        Step step;
        step.command = e.command;
        step.line = KavoSim::unescape(e.command);
        if (e.command != QStringLiteral("\\e"))
            step.line += '\r';
        const qsizetype at = e.note.indexOf(QStringLiteral("data="));
        if (at >= 0)
            step.data = e.note.mid(at + 5).section(QLatin1Char(' '), 0, 0).toLongLong();
        step.answered = !e.answer.isEmpty();
        script.push_back(step);
    }
    return script;
}

// The raw client's log shows the same commands as the tool's.
bool sameCommands(const QList<TrafficLine> &entries, const Script &script)
{
    if (size_t(entries.size()) != script.size())
        return false;
    for (size_t i = 0; i < script.size(); ++i)
        if (entries[qsizetype(i)].command != script[i].command)
            return false;
    return true;
}

struct Run {
    double wall = -1;   // seconds; -1 when it failed
    double cpu = 0;     // CPU seconds of the client
    Bench::IoCalls io;  // its read and write calls
    double lineSeconds = 0;
    double logSpanMs = 0;
    double startMs = 0, endMs = 0;   // the monotonic clock at the start and end of the timed part
    Bench::Syscalls calls;           // when counted: the system calls of the timed part
    QList<TrafficLine> entries;
    bool ok() const { return wall >= 0; }
};

// With a counter, the timed part is a counting run instead: strace is attached just before
// it and detached just after it.
Run rawUpload(const KavoSim &sim, int rate, const Script &script, const QByteArray &data,
              Bench::SyscallCounter *counter = nullptr)
{
    Run run;
    QFile::remove(cardFile(sim));
    const qsizetype before = sim.log().size();
    Bench::RawLine line;
    if (!line.open(sim.device(), rate))
        return run;
    std::vector<char> buffer(size_t(Piece) + 256);
    bool ok = true;
    Bench::Measure measure(counter);
    if (!measure.started())
        return run;
    qint64 at = 0;
    for (const Step &step : script) {
        const size_t size = size_t(step.line.size() + step.data);
        if (buffer.size() < size)
            buffer.resize(size);
        std::memcpy(buffer.data(), step.line.constData(), size_t(step.line.size()));
        if (step.data > 0 && at + step.data <= data.size())
            std::memcpy(buffer.data() + step.line.size(), data.constData() + at, size_t(step.data));
        at += step.data;
        if (!line.send(buffer.data(), qint64(size)) || (step.answered && line.reply().isEmpty())) {
            ok = false;
            break;
        }
    }
    measure.stop();
    const double wall = measure.seconds();
    run.startMs = measure.startMs;
    run.endMs = measure.endMs;
    run.cpu = measure.cpu;
    run.io = measure.io;
    run.calls = measure.calls;
    line.close();

    run.entries = uploadEntries(sim, before);
    if (!ok || at != data.size() || !cardHolds(sim, data) || !sameCommands(run.entries, script))
        return run;
    run.wall = wall;
    run.lineSeconds = KavoSim::lineSeconds(run.entries);
    run.logSpanMs = Bench::spanMs(run.entries);
    return run;
}

// --- the window ---------------------------------------------------------------------------

std::unique_ptr<frmSerialData> connectWindow(const KavoSim &sim)
{
    auto w = openWindow();
    if (!w)
        return nullptr;
    WindowDriver window(w.get());
    window.find<QCheckBox>(QStringLiteral("chkAutoBitRate"))->setChecked(false);
    if (!window.pick(QStringLiteral("lstPCCOM"), sim.comName()) || !window.pick(QStringLiteral("lstPCBPS"), QString::number(Rate))
        || !window.click(QStringLiteral("cmdOpenCOM")) || !window.connected())
        return nullptr;
    return w;
}

// The window's port closed (for the raw client), and open again.
void closeWindowPort(frmSerialData *w)
{
    WindowDriver window(w);
    if (window.connected())
        window.click(QStringLiteral("cmdOpenCOM"));
}

bool openWindowPort(frmSerialData *w)
{
    WindowDriver window(w);
    return window.connected() || (window.click(QStringLiteral("cmdOpenCOM")) && window.connected());
}

// The part of the Play click that the pieces take: from the moment the progress bar shows
// (the card file is open) to the moment it hides (the file closed), with the process's CPU
// and read and write calls over the same span.
class BarSpan : public QObject
{
public:
    explicit BarSpan(QWidget *bar) : m_bar(bar) { bar->installEventFilter(this); }
    ~BarSpan() override { m_bar->removeEventFilter(this); }

    bool done() const { return m_endNs > 0; }
    double seconds() const { return double(m_endNs - m_startNs) / 1e9; }
    // The monotonic clock when the bar showed and when it hid, ms.
    double startMs() const { return double(m_startNs) / 1e6; }
    double endMs() const { return double(m_endNs) / 1e6; }
    double cpu = 0;
    Bench::IoCalls io;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_bar && event->type() == QEvent::Show && m_startNs == 0) {
            m_io = Bench::ioCalls();
            m_cpu = Bench::processCpu();
            m_startNs = now();
        } else if (watched == m_bar && event->type() == QEvent::Hide && m_startNs > 0 && m_endNs == 0) {
            m_endNs = now();
            cpu = Bench::processCpu() - m_cpu;
            io = Bench::ioCalls() - m_io;
        }
        return false;
    }

private:
    static qint64 now()
    {
        timespec t {};
        ::clock_gettime(CLOCK_MONOTONIC, &t);
        return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
    }
    QWidget *m_bar;
    qint64 m_startNs = 0, m_endNs = 0;
    double m_cpu = 0;
    Bench::IoCalls m_io;
};

// One upload as the Play button runs it, the card lacking the test file (the question is
// answered Yes); the figures are those of its pieces. The port is opened first when the raw
// client had it.
Run windowUpload(frmSerialData *w, const KavoSim &sim, const LocalFile &file, Bench::SyscallCounter *counter = nullptr)
{
    Run run;
    if (!openWindowPort(w))
        return run;
    file.use();
    QFile::remove(cardFile(sim));
    const qsizetype before = sim.log().size();
    WindowDriver window(w);
    BarSpan span(window.widget(QStringLiteral("pbUploadFile")));
    Bench::Measure measure(counter);
    if (!measure.started())
        return run;
    const bool idle = window.click(QStringLiteral("cmdPlayTest"));
    measure.stop();
    run.calls = measure.calls;
    run.cpu = span.cpu;
    run.io = span.io;
    run.entries = uploadEntries(sim, before);
    if (!idle || !span.done() || !cardHolds(sim, file.data) || run.entries.isEmpty())
        return run;
    run.wall = span.seconds();
    run.startMs = span.startMs();
    run.endMs = span.endMs();
    run.lineSeconds = KavoSim::lineSeconds(run.entries);
    run.logSpanMs = Bench::spanMs(run.entries);
    return run;
}

// --- kavoctl ------------------------------------------------------------------------------

QStringList kavoctlArgs(const KavoSim &sim, const LocalFile &file)
{
    return {QStringLiteral("upload"), QStringLiteral("--port"), sim.comName(), QStringLiteral("--rate"),
            QString::number(Rate), file.path(), QStringLiteral("--as"), TestFile::cardPath()};
}

// A whole `kavoctl upload`: its CPU (the process ended, was waited for and counted as a
// child), and the upload's span in the simulator's log.
Run kavoctlUpload(const KavoSim &sim, const LocalFile &file, const QStringList &more = {})
{
    Run run;
    QFile::remove(cardFile(sim));
    const qsizetype before = sim.log().size();
    QProcess kavoctl;
    const double cpu = Bench::childrenCpu();
    QElapsedTimer clock;
    clock.start();
    kavoctl.start(QStringLiteral(KAVOCTL_PATH), kavoctlArgs(sim, file) + more);
    const bool finished = kavoctl.waitForFinished(120000);
    const double wall = clock.nsecsElapsed() / 1e9;
    run.cpu = Bench::childrenCpu() - cpu;
    if (!finished || kavoctl.exitStatus() != QProcess::NormalExit || kavoctl.exitCode() != 0) {
        std::fprintf(stderr, "kavoctl upload failed:\n%s%s\n", kavoctl.readAllStandardOutput().constData(),
                     kavoctl.readAllStandardError().constData());
        return run;
    }
    run.entries = uploadEntries(sim, before);
    if (!cardHolds(sim, file.data) || run.entries.isEmpty())
        return run;
    run.wall = wall;
    run.lineSeconds = KavoSim::lineSeconds(run.entries);
    run.logSpanMs = Bench::spanMs(run.entries);
    return run;
}

// Milliseconds from one piece to the next: the slope of a straight line through the log
// times of the pieces (fitted by least squares, so the log's 1 ms steps average out).
double pieceMs(const QList<TrafficLine> &entries)
{
    std::vector<double> t;
    for (const TrafficLine &e : entries)
        if (e.command.startsWith(QStringLiteral("FC W ")))
            t.push_back(double(e.ms));
    const double n = double(t.size());
    if (t.size() < 2)
        return 0;
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (size_t i = 0; i < t.size(); ++i) {
        sx += double(i);
        sy += t[i];
        sxx += double(i) * double(i);
        sxy += double(i) * t[i];
    }
    return (n * sxy - sx * sy) / (n * sxx - sx * sx);
}

// The client's own time before its first command reached the line and after the last
// answer had left it. The simulator's log counts from its own start on the same monotonic
// clock; the raw client of the same pair, which does nothing before and after, gives the
// offset between the two.
struct Edges {
    double beforeMs = 0, afterMs = 0;
};

double commandLineMs(const TrafficLine &e, int rate)
{
    return double(KavoSim::unescape(e.command).size() + 1) * 10.0 * 1000 / rate;
}

double answerLineMs(const TrafficLine &e, int rate)
{
    return double(KavoSim::unescape(e.answer).size()) * 10.0 * 1000 / rate;
}

Edges edges(const Run &tool, const Run &raw, int rate, bool paced)
{
    if (tool.entries.isEmpty() || raw.entries.isEmpty())
        return {};
    const auto sent = [&](const Run &r) {
        return double(r.entries.first().ms) - (paced ? commandLineMs(r.entries.first(), rate) : 0);
    };
    const auto answered = [&](const Run &r) {
        return double(r.entries.last().ms) + (paced ? answerLineMs(r.entries.last(), rate) : 0);
    };
    const double offset = sent(raw) - raw.startMs;
    return {sent(tool) - offset - tool.startMs, tool.endMs - (answered(tool) - offset)};
}

void printEdges(const std::vector<Run> &tool, const std::vector<Run> &raw, bool paced)
{
    std::vector<double> before, after;
    for (size_t i = 0; i < tool.size() && i < raw.size(); ++i) {
        const Edges e = edges(tool[i], raw[i], Rate, paced);
        before.push_back(e.beforeMs);
        after.push_back(e.afterMs);
    }
    std::printf("  the tool's own  %s ms before its first command, %s ms after the last answer (the simulator's log "
                "against the raw client's clock, about 1 ms steps)\n",
                qPrintable(Bench::show(Bench::spread(before), "%.1f")),
                qPrintable(Bench::show(Bench::spread(after), "%.1f")));
}

int fail(const QString &what)
{
    std::fprintf(stderr, "bench_upload: %s\n", qPrintable(what));
    return 1;
}

// Pairs in alternating order (tool first, then raw client first, ...); false when a run failed.
bool pairs(int n, const std::function<bool(int)> &tool, const std::function<bool(int)> &raw)
{
    for (int i = 0; i < n; ++i) {
        const bool ok = i % 2 == 0 ? tool(i) && raw(i) : raw(i) && tool(i);
        if (!ok)
            return false;
    }
    return true;
}

std::vector<double> ratios(const std::vector<double> &a, const std::vector<double> &b)
{
    std::vector<double> r;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        r.push_back(b[i] > 0 ? a[i] / b[i] : 0);
    return r;
}

using Bench::show;
using Bench::spread;

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TestEnv::isolate();
    Bench::pinClient();

    qint64 size = 1 << 20;
    qint64 pacedSize = 1 << 20;
    int pairCount = 9;
    bool paced = true;
    bool kavoctl = true;
    bool traced = true;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QStringLiteral("--size") && i + 1 < args.size())
            size = args[++i].toLongLong();
        else if (args[i] == QStringLiteral("--paced-size") && i + 1 < args.size())
            pacedSize = args[++i].toLongLong();
        else if (args[i] == QStringLiteral("--pairs") && i + 1 < args.size())
            pairCount = args[++i].toInt();
        else if (args[i] == QStringLiteral("--no-paced"))
            paced = false;
        else if (args[i] == QStringLiteral("--no-kavoctl"))
            kavoctl = false;
        else if (args[i] == QStringLiteral("--no-trace"))
            traced = false;
        else
            return fail(QStringLiteral("usage: bench_upload [--size BYTES] [--pairs N] [--paced-size BYTES] "
                                       "[--no-paced] [--no-kavoctl] [--no-trace]"));
    }
    if (size < 2 || pacedSize < 1 || pairCount < 1)
        return fail(QStringLiteral("--size must be at least 2, --paced-size and --pairs at least 1"));

    // The files: the unpaced one, the paced one, and a short one for the paced warm-up and
    // for kavoctl's fixed cost (start, connect) that is taken off its CPU per piece.
    LocalFile full, pacedFile, small;
    const qint64 smallSize = std::min<qint64>(16 << 10, std::max<qint64>(1, size / 4));
    if (!full.create(size) || !pacedFile.create(pacedSize) || !small.create(smallSize))
        return fail(QStringLiteral("cannot write the local files"));
    // The window asks whether to send the test file the card lacks: yes.
    BoxCatcher boxes(QMessageBox::Yes);

    Bench::header(QStringLiteral("bench_upload: upload to kavo-sim at %1 bps in pieces of %2 bytes, the tool beside a "
                                 "raw POSIX client sending the same bytes")
                      .arg(Rate)
                      .arg(Piece),
                  QStringLiteral("%1 pairs, the order alternating, after one untimed pair; medians and IQR of the "
                                 "per-pair figures")
                      .arg(pairCount));

    KavoSim sim;
    if (!Bench::startSim(sim, {QStringLiteral("--rate"), QString::number(Rate)}))
        return 1;
    auto w = connectWindow(sim);
    if (!w)
        return fail(QStringLiteral("the window did not connect"));

    // What the tool sends for each file, taken from its own (untimed) uploads: the raw
    // client sends exactly that. The first is the unpaced warm-up.
    std::map<const LocalFile *, Script> scripts;
    for (const LocalFile *file : {&full, &pacedFile, &small}) {
        const Run run = windowUpload(w.get(), sim, *file);
        if (!run.ok())
            return fail(QStringLiteral("the window's upload failed: %1").arg(boxes.texts.join(QStringLiteral(" | "))));
        scripts[file] = scriptOf(run.entries);
    }
    {
        closeWindowPort(w.get());
        if (!rawUpload(sim, Rate, scripts[&full], full.data).ok())
            return fail(QStringLiteral("the raw client's upload failed"));
    }

    // --- unpaced: the window ---
    std::vector<double> toolWall, rawWall, toolCpu, rawCpu, toolSpan, rawSpan;
    std::vector<double> toolReads, toolWrites, rawReads, rawWrites;
    std::vector<Run> toolRuns, rawRuns;
    const double pieces = double(full.pieces);
    bool ok = pairs(
        pairCount,
        [&](int) {
            const Run r = windowUpload(w.get(), sim, full);
            toolRuns.push_back(r);
            toolWall.push_back(r.wall);
            toolSpan.push_back(r.logSpanMs);
            toolCpu.push_back(r.cpu / pieces * 1e6);
            toolReads.push_back(double(r.io.reads) / pieces);
            toolWrites.push_back(double(r.io.writes) / pieces);
            return r.ok();
        },
        [&](int) {
            closeWindowPort(w.get());
            const Run r = rawUpload(sim, Rate, scripts[&full], full.data);
            rawRuns.push_back(r);
            rawWall.push_back(r.wall);
            rawSpan.push_back(r.logSpanMs);
            rawCpu.push_back(r.cpu / pieces * 1e6);
            rawReads.push_back(double(r.io.reads) / pieces);
            rawWrites.push_back(double(r.io.writes) / pieces);
            return r.ok();
        });
    if (!ok)
        return fail(QStringLiteral("an unpaced upload failed: %1").arg(boxes.texts.join(QStringLiteral(" | "))));

    std::printf("\nunpaced, %s (%lld pieces): the window (its Play button, the pieces from the bar shown to the bar "
                "hidden) beside the raw client\n",
                qPrintable(sizeText(size)), static_cast<long long>(full.pieces));
    {
        const Bench::Spread tput = spread(ratios(rawWall, toolWall));
        const Bench::Spread cpu = spread(ratios(toolCpu, rawCpu));
        std::printf("  time            tool %s s, raw %s s\n", qPrintable(show(spread(toolWall), "%.4f")),
                    qPrintable(show(spread(rawWall), "%.4f")));
        std::printf("  CPU per piece   tool %s us, raw %s us (the whole process)\n",
                    qPrintable(show(spread(toolCpu), "%.1f")), qPrintable(show(spread(rawCpu), "%.1f")));
        std::printf("  calls per piece (/proc/self/io)  tool %.2f read + %.2f write, raw %.2f read + %.2f write\n",
                    spread(toolReads).median, spread(toolWrites).median, spread(rawReads).median,
                    spread(rawWrites).median);
        printEdges(toolRuns, rawRuns, false);
        // The same upload measured as kavoctl's is below: from its first piece to its last
        // answer in the simulator's log, without the window's own moments around it.
        std::printf("  log span        tool %s ms, raw %s ms: throughput %sx the raw client's\n",
                    qPrintable(show(spread(toolSpan), "%.0f")), qPrintable(show(spread(rawSpan), "%.0f")),
                    qPrintable(show(spread(ratios(rawSpan, toolSpan)))));
        Bench::verdict(tput.median >= 0.92,
                       QStringLiteral("window upload throughput %1x the raw client's (goal >= 0.92x, aim 0.95x%2)")
                           .arg(show(tput), tput.median >= 0.95 ? QStringLiteral(": reached") : QString()));
        Bench::verdict(cpu.median <= 1.6,
                       QStringLiteral("window CPU per piece %1x the raw client's (goal <= 1.6x)").arg(show(cpu, "%.2f")));
    }

    // --- unpaced: kavoctl ---
    if (kavoctl) {
        closeWindowPort(w.get());
        // The untimed pair, and kavoctl's fixed cost once.
        if (!kavoctlUpload(sim, full).ok() || !rawUpload(sim, Rate, scripts[&full], full.data).ok())
            return fail(QStringLiteral("the kavoctl warm-up failed"));
        std::vector<double> ctlSpan, rawSpan, ctlCpu, rawPieceCpu, ctlWall;
        const double extra = double(full.pieces - small.pieces);
        ok = pairs(
            pairCount,
            [&](int) {
                const Run r = kavoctlUpload(sim, full);
                const Run s = kavoctlUpload(sim, small);
                ctlSpan.push_back(r.logSpanMs);
                ctlWall.push_back(r.wall * 1000);
                ctlCpu.push_back((r.cpu - s.cpu) / extra * 1e6);
                return r.ok() && s.ok();
            },
            [&](int) {
                const Run r = rawUpload(sim, Rate, scripts[&full], full.data);
                rawSpan.push_back(r.logSpanMs);
                rawPieceCpu.push_back(r.cpu / pieces * 1e6);
                return r.ok();
            });
        if (!ok)
            return fail(QStringLiteral("a kavoctl upload failed"));
        std::printf("\nunpaced, %s: kavoctl upload beside the raw client (the upload's span in the simulator's "
                    "log, 1 ms steps)\n",
                    qPrintable(sizeText(size)));
        const Bench::Spread tput = spread(ratios(rawSpan, ctlSpan));
        const Bench::Spread cpu = spread(ratios(ctlCpu, rawPieceCpu));
        std::printf("  upload span     kavoctl %s ms, raw %s ms; kavoctl's whole run %s ms\n",
                    qPrintable(show(spread(ctlSpan), "%.0f")), qPrintable(show(spread(rawSpan), "%.0f")),
                    qPrintable(show(spread(ctlWall), "%.1f")));
        std::printf("  CPU per piece   kavoctl %s us (its run with %s less its run with %s), raw %s us\n",
                    qPrintable(show(spread(ctlCpu), "%.1f")), qPrintable(sizeText(size)),
                    qPrintable(sizeText(small.data.size())), qPrintable(show(spread(rawPieceCpu), "%.1f")));
        Bench::verdict(tput.median >= 0.92,
                       QStringLiteral("kavoctl upload throughput %1x the raw client's (goal >= 0.92x, aim 0.95x%2)")
                           .arg(show(tput), tput.median >= 0.95 ? QStringLiteral(": reached") : QString()));
        Bench::verdict(cpu.median <= 1.6,
                       QStringLiteral("kavoctl CPU per piece %1x the raw client's (goal <= 1.6x)").arg(show(cpu, "%.2f")));
    }

    // --- the trace ---
    if (traced) {
        // The window keeps its ring of entries always; its Traffic window shown adds the
        // lines to a view ten times a second.
        WindowDriver window(w.get());
        const auto traffic = [&](bool shown) {
            if (shown)
                return window.trigger(QStringLiteral("mnuFileTraffic"));
            if (QWidget *t = window.widget(QStringLiteral("frmTraffic")))
                t->hide();
            return true;
        };
        std::vector<double> shownWall, hiddenWall, shownCpu, hiddenCpu;
        ok = pairs(
            pairCount,
            [&](int) {
                const Run r = traffic(true) ? windowUpload(w.get(), sim, full) : Run();
                shownWall.push_back(r.wall);
                shownCpu.push_back(r.cpu / pieces * 1e6);
                return r.ok();
            },
            [&](int) {
                traffic(false);
                const Run r = windowUpload(w.get(), sim, full);
                hiddenWall.push_back(r.wall);
                hiddenCpu.push_back(r.cpu / pieces * 1e6);
                return r.ok();
            });
        traffic(false);
        if (!ok)
            return fail(QStringLiteral("an upload with the Traffic window failed"));
        const Bench::Spread windowRatio = spread(ratios(shownWall, hiddenWall));
        std::printf("\nunpaced, %s, the trace: the window with its Traffic window shown beside closed\n",
                    qPrintable(sizeText(size)));
        std::printf("  time            shown %s s, closed %s s\n", qPrintable(show(spread(shownWall), "%.4f")),
                    qPrintable(show(spread(hiddenWall), "%.4f")));
        std::printf("  CPU per piece   shown %s us, closed %s us\n", qPrintable(show(spread(shownCpu), "%.1f")),
                    qPrintable(show(spread(hiddenCpu), "%.1f")));
        Bench::verdict(windowRatio.median <= 1.03,
                       QStringLiteral("window upload with the Traffic window shown takes %1x the time (goal <= 1.03x)")
                           .arg(show(windowRatio)));
        if (kavoctl) {
            closeWindowPort(w.get());
            QTemporaryDir dir;
            const QStringList trace{QStringLiteral("--trace"), dir.filePath(QStringLiteral("trace.log"))};
            std::vector<double> tracedSpan, plainSpan, tracedWall, plainWall;
            ok = pairs(
                pairCount,
                [&](int) {
                    const Run r = kavoctlUpload(sim, full, trace);
                    tracedSpan.push_back(r.logSpanMs);
                    tracedWall.push_back(r.wall * 1000);
                    return r.ok();
                },
                [&](int) {
                    const Run r = kavoctlUpload(sim, full);
                    plainSpan.push_back(r.logSpanMs);
                    plainWall.push_back(r.wall * 1000);
                    return r.ok();
                });
            if (!ok)
                return fail(QStringLiteral("a kavoctl upload with --trace failed"));
            const Bench::Spread ctlRatio = spread(ratios(tracedSpan, plainSpan));
            std::printf("  kavoctl upload span  --trace FILE %s ms, none %s ms; whole run %s ms beside %s ms\n",
                        qPrintable(show(spread(tracedSpan), "%.0f")), qPrintable(show(spread(plainSpan), "%.0f")),
                        qPrintable(show(spread(tracedWall), "%.1f")), qPrintable(show(spread(plainWall), "%.1f")));
            Bench::verdict(ctlRatio.median <= 1.03,
                           QStringLiteral("kavoctl upload with --trace to a file takes %1x the time (goal <= 1.03x)")
                               .arg(show(ctlRatio)));
        }
    }

    // --- system calls per piece, in runs of their own ---
    std::printf("\nsystem calls per piece, counted by strace -c in one separate untimed run each:\n");
    if (!Bench::SyscallCounter::available()) {
        std::printf("  not counted: %s\n", qPrintable(Bench::SyscallCounter::unavailableReason()));
    } else {
        Bench::Syscalls tool, raw, ctl;
        if (!openWindowPort(w.get()))
            return fail(QStringLiteral("the window could not open the port again"));
        {
            Bench::SyscallCounter counter;
            const Run run = windowUpload(w.get(), sim, full, &counter);
            tool = run.calls;
            tool.valid = tool.valid && run.ok();
        }
        closeWindowPort(w.get());
        {
            Bench::SyscallCounter counter;
            const Run run = rawUpload(sim, Rate, scripts[&full], full.data, &counter);
            raw = run.calls;
            raw.valid = raw.valid && run.ok();
        }
        if (kavoctl) {
            int a = -1, b = -1;
            const Bench::Syscalls whole = Bench::SyscallCounter::run(QStringLiteral(KAVOCTL_PATH),
                                                                     kavoctlArgs(sim, full), &a);
            const Bench::Syscalls few = Bench::SyscallCounter::run(QStringLiteral(KAVOCTL_PATH),
                                                                   kavoctlArgs(sim, small), &b);
            ctl = whole - few;
            ctl.valid = ctl.valid && a == 0 && b == 0;
        }
        std::printf("  window   %s\n", qPrintable(tool.describe(pieces)));
        if (kavoctl)
            std::printf("  kavoctl  %s (its run with %s less its run with %s)\n",
                        qPrintable(ctl.describe(double(full.pieces - small.pieces))), qPrintable(sizeText(size)),
                        qPrintable(sizeText(small.data.size())));
        std::printf("  raw      %s\n", qPrintable(raw.describe(pieces)));
    }
    w.reset();

    // --- paced at 115200 bps ---
    if (paced) {
        KavoSim pacedSim;
        if (!Bench::startSim(pacedSim, {QStringLiteral("--rate"), QString::number(Rate), QStringLiteral("--pace")}))
            return 1;
        auto pw = connectWindow(pacedSim);
        if (!pw)
            return fail(QStringLiteral("the window did not connect to the paced simulator"));
        // The untimed pair, with the short file.
        if (!windowUpload(pw.get(), pacedSim, small).ok())
            return fail(QStringLiteral("the paced warm-up failed"));
        closeWindowPort(pw.get());
        if (!rawUpload(pacedSim, Rate, scripts[&small], small.data).ok())
            return fail(QStringLiteral("the raw client's paced warm-up failed"));

        std::vector<double> toolOver, rawOver, line, toolWallMs, rawWallMs, toolPiece, rawPiece;
        std::vector<Run> pacedTool, pacedRaw;
        ok = pairs(
            pairCount,
            [&](int) {
                const Run r = windowUpload(pw.get(), pacedSim, pacedFile);
                pacedTool.push_back(r);
                toolOver.push_back((r.wall / r.lineSeconds - 1) * 100);
                line.push_back(r.lineSeconds);
                toolWallMs.push_back(r.wall * 1000);
                toolPiece.push_back(pieceMs(r.entries));
                return r.ok();
            },
            [&](int) {
                closeWindowPort(pw.get());
                const Run r = rawUpload(pacedSim, Rate, scripts[&pacedFile], pacedFile.data);
                pacedRaw.push_back(r);
                rawOver.push_back((r.wall / r.lineSeconds - 1) * 100);
                rawWallMs.push_back(r.wall * 1000);
                rawPiece.push_back(pieceMs(r.entries));
                return r.ok();
            });
        if (!ok)
            return fail(QStringLiteral("a paced upload failed: %1").arg(boxes.texts.join(QStringLiteral(" | "))));
        // Per pair: the tool's share over the raw client's, split into what each piece adds
        // (from the pieces' period in the log) and what is left over once per upload.
        std::vector<double> diff, perPieceUs, onceMs;
        for (size_t i = 0; i < toolOver.size(); ++i) {
            diff.push_back(toolOver[i] - rawOver[i]);
            const double piece = toolPiece[i] - rawPiece[i];
            perPieceUs.push_back(piece * 1000);
            onceMs.push_back(toolWallMs[i] - rawWallMs[i] - piece * double(pacedFile.pieces - 1));
        }
        const Bench::Spread over = spread(toolOver);
        const Bench::Spread points = spread(diff);
        const double linePiece = (Piece + QByteArray("FC W 1 512\r>").size()) * 10.0 / Rate * 1000;
        std::printf("\npaced by kavo-sim at %d bps, %s (%lld pieces; the untimed pair sent %s): the window beside "
                    "the raw client\n",
                    Rate, qPrintable(sizeText(pacedSize)), static_cast<long long>(pacedFile.pieces),
                    qPrintable(sizeText(small.data.size())));
        std::printf("  line time       %.3f s (the bytes both ways, 10 bit times each; %.3f ms a piece)\n",
                    spread(line).median, linePiece);
        std::printf("  over line time  tool %s %%, raw %s %%\n", qPrintable(show(over, "%+.3f")),
                    qPrintable(show(spread(rawOver), "%+.3f")));
        std::printf("  piece period    tool %s ms, raw %s ms (fitted to the log)\n",
                    qPrintable(show(spread(toolPiece), "%.4f")), qPrintable(show(spread(rawPiece), "%.4f")));
        std::printf("  tool less raw   %s us a piece, and %s ms once per upload\n",
                    qPrintable(show(spread(perPieceUs), "%+.0f")), qPrintable(show(spread(onceMs), "%+.1f")));
        printEdges(pacedTool, pacedRaw, true);
        Bench::verdict(std::abs(over.median) <= 0.5,
                       QStringLiteral("paced window upload %1 % off the line time (goal within 0.5 %)")
                           .arg(show(over, "%+.3f")));
        Bench::verdict(std::abs(points.median) <= 0.1,
                       QStringLiteral("paced window upload %1 points off the raw client (goal within 0.1 points)")
                           .arg(show(points, "%+.3f")));
    }

    if (!boxes.texts.isEmpty())
        std::printf("\nmessages shown: %s\n", qPrintable(boxes.texts.join(QStringLiteral(" | "))));
    Bench::footer();
    return 0;
}
