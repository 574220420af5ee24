#include "kavosim.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTest>

#include "link/comports.h"

namespace {
// Devices of the simulators this test process runs.
QSet<QString> &liveDevices()
{
    static QSet<QString> devices;
    return devices;
}

// A link left behind by one of this process's killed simulators may by now point at a
// pseudo-terminal number that another process got; the simulator would then refuse the
// number. In the test's own ports folder such a leftover can only be ours: drop it.
void dropLeftoverLink(const QStringList &args)
{
    const qsizetype at = args.indexOf(QStringLiteral("--com"));
    if (at < 0 || at + 1 >= args.size() || args.indexOf(QStringLiteral("--ports-dir")) >= 0)
        return;
    const QFileInfo link(ComPorts::portsFolder() + QStringLiteral("/COM") + args.at(at + 1));
    if (link.isSymLink() && !liveDevices().contains(link.symLinkTarget()))
        QFile::remove(link.filePath());
}
} // namespace

KavoSim::KavoSim()
{
    m_cardDir = m_dir.filePath(QStringLiteral("card"));
    m_logPath = m_dir.filePath(QStringLiteral("traffic.log"));
    QDir().mkpath(m_cardDir);
}

KavoSim::~KavoSim()
{
    terminate();
}

bool KavoSim::start(const QStringList &options)
{
    dropLeftoverLink(options);
    QStringList args = options;
    if (!args.contains(QStringLiteral("--ports-dir")))
        args << QStringLiteral("--ports-dir") << ComPorts::portsFolder();
    if (!args.contains(QStringLiteral("--log")))
        args << QStringLiteral("--log") << m_logPath;
    if (!args.contains(QStringLiteral("--card")) && !args.contains(QStringLiteral("--no-card")))
        args << QStringLiteral("--card") << m_cardDir;
    QDir().mkpath(ComPorts::portsFolder());

    m_process.setProgram(QStringLiteral(KAVO_SIM_PATH));
    m_process.setArguments(args);
    m_process.start();
    if (!m_process.waitForStarted(10000))
        return false;
    // The simulator prints "COM<n> <device>" once its port is published.
    QByteArray line;
    QElapsedTimer clock;
    clock.start();
    while (!line.endsWith('\n') && clock.elapsed() < 10000) {
        if (!m_process.waitForReadyRead(100) && m_process.state() != QProcess::Running)
            return false;
        line += m_process.readAllStandardOutput();
    }
    const QList<QByteArray> fields = line.trimmed().split(' ');
    if (fields.size() < 2 || !fields[0].startsWith("COM"))
        return false;
    m_com = fields[0].mid(3).toInt();
    m_device = QString::fromLocal8Bit(fields[1]);
    liveDevices().insert(m_device);
    return m_com > 0;
}

void KavoSim::terminate()
{
    liveDevices().remove(m_device);
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

void KavoSim::kill()
{
    liveDevices().remove(m_device);
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(5000);
}

bool KavoSim::running() const
{
    return m_process.state() == QProcess::Running;
}

QString KavoSim::errorOutput()
{
    return QString::fromLocal8Bit(m_process.readAllStandardError());
}

TrafficLine TrafficLine::parse(const QByteArray &raw)
{
    const QList<QByteArray> f = raw.split('\t');
    TrafficLine line;
    line.ms = f.value(0).toLongLong();
    line.rate = f.value(1).toInt();
    line.command = QString::fromLatin1(f.value(2));
    line.answer = QString::fromLatin1(f.value(3));
    line.note = QString::fromLatin1(f.value(4));
    return line;
}

QList<TrafficLine> KavoSim::log() const
{
    QList<TrafficLine> lines;
    QFile file(m_logPath);
    if (!file.open(QIODevice::ReadOnly))
        return lines;
    for (const QByteArray &raw : file.readAll().split('\n')) {
        if (raw.isEmpty())
            continue;
        lines << TrafficLine::parse(raw);
    }
    return lines;
}

QStringList KavoSim::commands() const
{
    QStringList list;
    for (const TrafficLine &line : log())
        list << line.command;
    return list;
}

QString KavoSim::escape(const QByteArray &bytes)
{
    QString out;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        switch (b) {
        case '\r': out += QStringLiteral("\\r"); break;
        case '\n': out += QStringLiteral("\\n"); break;
        case 0x1b: out += QStringLiteral("\\e"); break;
        case '\\': out += QStringLiteral("\\\\"); break;
        default:
            if (b < 0x20 || b >= 0x7f)
                out += QStringLiteral("\\x%1").arg(b, 2, 16, QLatin1Char('0'));
            else
                out += QLatin1Char(c);
        }
    }
    return out;
}

QByteArray KavoSim::unescape(const QString &text)
{
    QByteArray out;
    const QByteArray in = text.toLatin1();
    for (qsizetype i = 0; i < in.size(); ++i) {
        if (in[i] != '\\' || i + 1 >= in.size()) {
            out += in[i];
            continue;
        }
        const char c = in[++i];
        switch (c) {
        case 'r': out += '\r'; break;
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'e': out += '\x1b'; break;
        case 'x':
            out += char(in.mid(i + 1, 2).toInt(nullptr, 16));
            i += 2;
            break;
        default: out += c; break;
        }
    }
    return out;
}

namespace {
// The escape of the probe is logged on its own, without a line end; every other entry is
// a line that ended with a carriage return, and a piece's data follows its line.
qint64 entryBytes(const TrafficLine &line)
{
    qint64 bytes = KavoSim::unescape(line.command).size() + (line.command == QStringLiteral("\\e") ? 0 : 1);
    bytes += KavoSim::unescape(line.answer).size();
    const qsizetype data = line.note.indexOf(QStringLiteral("data="));
    if (data >= 0)
        bytes += line.note.mid(data + 5).section(QLatin1Char(' '), 0, 0).toLongLong();
    return bytes;
}

bool heard(const TrafficLine &line)
{
    return !line.note.contains(QStringLiteral("rate-mismatch"));
}
} // namespace

qint64 KavoSim::lineBytes(const QList<TrafficLine> &log)
{
    qint64 bytes = 0;
    for (const TrafficLine &line : log)
        if (heard(line))
            bytes += entryBytes(line);
    return bytes;
}

double KavoSim::lineSeconds(const QList<TrafficLine> &log)
{
    double seconds = 0;
    for (const TrafficLine &line : log)
        if (heard(line) && line.rate > 0)
            seconds += entryBytes(line) * 10.0 / line.rate;
    return seconds;
}
