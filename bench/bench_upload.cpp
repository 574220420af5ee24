// Upload speed of the test file: the tool's UploadTestFile against kavo-sim, beside a
// minimal client that writes the same pieces straight to the pseudo-terminal with POSIX
// calls; then the tool against a simulator that paces the line at 115200 bps, compared
// with the time the bytes themselves need on such a line.
//
//   bench_upload [--size BYTES] [--runs N] [--no-paced]
//
// Goals: the tool's throughput at least 0.85 of the raw client's; paced, the tool within
// 3 % of the line time.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <time.h>
#include <termios.h>
#include <unistd.h>

#include "playtest/testfile.h"
#include "support/kavosim.h"
#include "support/messageboxes.h"
#include "support/testenv.h"
#include "support/windowfixture.h"

namespace {

constexpr int Rate = 115200;

// CPU seconds this thread has used.
double threadCpu()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

struct Timing {
    double wall = -1;   // seconds; -1 when the upload failed
    double cpu = 0;     // CPU seconds of the uploading thread
};
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

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Bytes that cross the line until the last piece is answered: the open command and its
// prompt, every write command with its data and its prompt.
qint64 lineBytes(qint64 size, const QByteArray &cardPath)
{
    qint64 bytes = QByteArray("FC O 1 W ").size() + cardPath.size() + 1 + 1;
    for (qint64 rest = size; rest > 0; rest -= Piece) {
        const qint64 n = std::min<qint64>(rest, Piece);
        bytes += QByteArray("FC W 1 ").size() + QByteArray::number(n).size() + 1 + n + 1;
    }
    return bytes;
}

// --- the raw client -------------------------------------------------------------------

class RawLine
{
public:
    bool open(const QString &device)
    {
        m_fd = ::open(device.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
        if (m_fd < 0)
            return false;
        termios t{};
        tcgetattr(m_fd, &t);
        cfmakeraw(&t);
        cfsetspeed(&t, B115200);
        t.c_cflag |= CLOCAL | CREAD;
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
        tcsetattr(m_fd, TCSANOW, &t);
        tcflush(m_fd, TCIOFLUSH);
        return true;
    }
    ~RawLine()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    bool send(const QByteArray &bytes)
    {
        qint64 done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(m_fd, bytes.constData() + done, size_t(bytes.size() - done));
            if (n <= 0)
                return false;
            done += n;
        }
        return true;
    }

    // Everything up to a read that ends with the prompt; empty after 2 s of silence.
    QByteArray reply()
    {
        QByteArray got;
        char buffer[256];
        while (got.isEmpty() || got.back() != '>') {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 2000) <= 0)
                return {};
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n <= 0)
                return {};
            got.append(buffer, n);
        }
        return got;
    }

private:
    int m_fd = -1;
};

// The same traffic as the tool: open, pieces each answered before the next, close
// without waiting.
Timing rawUpload(const QString &device, const QByteArray &cardPath, const QByteArray &data)
{
    Timing timing;
    RawLine line;
    if (!line.open(device))
        return timing;
    QElapsedTimer clock;
    clock.start();
    const double cpu = threadCpu();
    if (!line.send("FC O 1 W " + cardPath + '\r') || line.reply() != ">")
        return timing;
    for (qint64 at = 0; at < data.size(); at += Piece) {
        const qint64 n = std::min<qint64>(Piece, data.size() - at);
        if (!line.send("FC W 1 " + QByteArray::number(n) + '\r' + data.mid(at, n)) || line.reply() != ">")
            return timing;
    }
    if (!line.send("FC C 1\r"))
        return timing;
    timing.wall = clock.nsecsElapsed() / 1e9;
    timing.cpu = threadCpu() - cpu;
    line.reply();   // the close's prompt, so the next user finds a quiet line
    return timing;
}

// --- the tool -------------------------------------------------------------------------

std::unique_ptr<frmSerialData> connectTool(const KavoSim &sim)
{
    auto w = openWindow();
    if (!w || !selectEntry(w->lstPCCOM, sim.comName()) || !selectEntry(w->lstPCBPS, QString::number(Rate)))
        return nullptr;
    w->chkAutoBitRate->setChecked(false);
    QTest::mouseClick(w->cmdOpenCOM, Qt::LeftButton);
    if (w->cmdOpenCOM->text() != QStringLiteral("Close"))
        return nullptr;
    return w;
}

// One UploadTestFile inside an operation, as the Play button runs it.
Timing toolUpload(frmSerialData *w)
{
    Timing timing;
    OperationGuard operation(w);
    if (!operation.acquired())
        return timing;
    QElapsedTimer clock;
    clock.start();
    const double cpu = threadCpu();
    const bool ok = w->UploadTestFile();
    if (ok) {
        timing.wall = clock.nsecsElapsed() / 1e9;
        timing.cpu = threadCpu() - cpu;
    }
    // The answer to the close command, which the upload does not await: taken here so
    // that the next user of the line finds it quiet.
    w->session->link().WaitForPrompt();
    return timing;
}

double best(const QList<Timing> &timings, double Timing::*field)
{
    double m = timings.first().*field;
    for (const Timing &t : timings)
        m = std::min(m, t.*field);
    return m;
}

double median(const QList<Timing> &timings, double Timing::*field)
{
    QList<double> values;
    for (const Timing &t : timings)
        values << t.*field;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

int fail(const char *what)
{
    std::fprintf(stderr, "bench_upload: %s\n", what);
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TestEnv::isolate();

    qint64 size = 1 << 20;
    int runs = 5;
    bool paced = true;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QStringLiteral("--size") && i + 1 < args.size())
            size = args[++i].toLongLong();
        else if (args[i] == QStringLiteral("--runs") && i + 1 < args.size())
            runs = std::max(1, args[++i].toInt());
        else if (args[i] == QStringLiteral("--no-paced"))
            paced = false;
        else
            return fail("usage: bench_upload [--size BYTES] [--runs N] [--no-paced]");
    }
    if (size <= 0)
        return fail("--size must be at least 1");

    QTemporaryDir folder;
    const QByteArray data = content(size);
    {
        QFile file(folder.filePath(TestFile::name()));
        if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
            return fail("cannot write the local test file");
    }
    TestFile::setFolderForTesting(folder.path());
    const QByteArray toolCard = TestFile::cardPath().toLatin1();
    const QByteArray rawCard = QByteArrayLiteral("/RAWTEST.MP3");
    MessageBoxes boxes;

    std::printf("upload of %lld bytes in %lld pieces of up to %d bytes\n", size, (size + Piece - 1) / Piece, Piece);

    // --- unpaced: the tool beside the raw client, turn about on one simulator ---
    {
        KavoSim sim;
        if (!sim.start({QStringLiteral("--rate"), QString::number(Rate)}))
            return fail("kavo-sim did not start");
        auto w = connectTool(sim);
        if (!w)
            return fail("the tool did not connect");
        QList<Timing> tool;
        QList<Timing> raw;
        for (int run = 0; run < runs; ++run) {
            const Timing t = toolUpload(w.get());
            if (t.wall < 0 || readFile(sim.cardDir() + QLatin1Char('/') + TestFile::name()) != data)
                return fail("the tool's upload failed");
            tool << t;
            w->CloseComPort();
            const Timing r = rawUpload(sim.device(), rawCard, data);
            if (r.wall < 0 || readFile(sim.cardDir() + QString::fromLatin1(rawCard)) != data)
                return fail("the raw client's upload failed");
            raw << r;
            if (!w->OpenComPort(sim.com(), Rate))
                return fail("the tool could not open the port again");
        }
        const double pieces = double((size + Piece - 1) / Piece);
        const double toolBest = best(tool, &Timing::wall);
        const double rawBest = best(raw, &Timing::wall);
        std::printf("\nunpaced pseudo-terminal, %d runs each; wall time best / median, then CPU time of the\n"
                    "uploading thread per piece (median):\n", runs);
        std::printf("  tool (UploadTestFile)  %8.3f s / %8.3f s   %8.0f KiB/s   %6.1f us CPU/piece\n", toolBest,
                    median(tool, &Timing::wall), size / 1024.0 / toolBest, median(tool, &Timing::cpu) / pieces * 1e6);
        std::printf("  raw POSIX client       %8.3f s / %8.3f s   %8.0f KiB/s   %6.1f us CPU/piece\n", rawBest,
                    median(raw, &Timing::wall), size / 1024.0 / rawBest, median(raw, &Timing::cpu) / pieces * 1e6);
        std::printf("  throughput ratio tool/raw: best %.3f, median %.3f (goal >= 0.85)\n", rawBest / toolBest,
                    median(raw, &Timing::wall) / median(tool, &Timing::wall));
    }

    // --- paced at 115200 bps: the tool against the line's own time ---
    if (paced) {
        KavoSim sim;
        if (!sim.start({QStringLiteral("--rate"), QString::number(Rate), QStringLiteral("--pace")}))
            return fail("kavo-sim did not start");
        auto w = connectTool(sim);
        if (!w)
            return fail("the tool did not connect");
        const qint64 bytes = lineBytes(size, toolCard);
        const double lineTime = bytes * 10.0 / Rate;
        const double t = toolUpload(w.get()).wall;
        if (t < 0 || readFile(sim.cardDir() + QLatin1Char('/') + TestFile::name()) != data)
            return fail("the tool's paced upload failed");
        w->CloseComPort();
        const double r = rawUpload(sim.device(), rawCard, data).wall;
        if (r < 0)
            return fail("the raw client's paced upload failed");
        std::printf("\npaced by kavo-sim at %d bps (%lld bytes on the line, 10 bit times each):\n", Rate, bytes);
        std::printf("  line time              %8.3f s\n", lineTime);
        std::printf("  tool (UploadTestFile)  %8.3f s   %+.2f %% over the line time (goal within 3 %%)\n", t,
                    (t / lineTime - 1) * 100);
        std::printf("  raw POSIX client       %8.3f s   %+.2f %% over the line time (the simulator's own share)\n", r,
                    (r / lineTime - 1) * 100);
        std::printf("  tool over raw client   %+.2f %%\n", (t / r - 1) * 100);
    }

    if (!boxes.seen.isEmpty())
        std::printf("\nmessages shown: %s\n", qPrintable(boxes.texts().join(QStringLiteral(" | "))));
    return 0;
}
