#pragma once

#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// One line of the simulator's traffic log.
struct TrafficLine {
    qint64 ms = 0;
    int rate = 0;       // the tool's bit rate when the command came
    QString command;    // escaped: \r \n \e \\ \xNN
    QString answer;     // escaped likewise; empty when nothing was sent
    QString note;       // "rate-mismatch", "played /NAME", "data=<n>", "hangup" or empty

    // One line of the log file, without its line end.
    static TrafficLine parse(const QByteArray &raw);
};

// A kavo-sim process publishing one COM port in the test's ports folder, with its own
// card folder and traffic log.
class KavoSim
{
public:
    KavoSim();
    ~KavoSim();
    KavoSim(const KavoSim &) = delete;
    KavoSim &operator=(const KavoSim &) = delete;

    // Starts the simulator with these extra options and waits until its port is published.
    // --ports-dir, --log and --card are added unless given.
    bool start(const QStringList &options = {});
    void terminate();   // SIGTERM, waits for it to end
    void kill();        // SIGKILL: the device vanishes without the link being removed
    bool running() const;
    qint64 pid() const { return m_process.processId(); }

    int com() const { return m_com; }
    QString comName() const { return QStringLiteral("COM%1").arg(m_com); }
    QString device() const { return m_device; }
    QString cardDir() const { return m_cardDir; }
    QString logPath() const { return m_logPath; }

    QList<TrafficLine> log() const;
    QStringList commands() const;   // the command field of every log line
    QString errorOutput();

    static QString escape(const QByteArray &bytes);
    static QByteArray unescape(const QString &text);
    // Bytes on the line in both directions for these log entries (a piece's data included),
    // and the time the line needs to carry them at each entry's rate (10 bits a byte).
    // Bytes the module heard at another rate than its own are not counted.
    static qint64 lineBytes(const QList<TrafficLine> &log);
    static double lineSeconds(const QList<TrafficLine> &log);

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    int m_com = 0;
    QString m_device;
    QString m_cardDir;
    QString m_logPath;
};
