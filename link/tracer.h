#pragma once

#include <QByteArray>
#include <QList>
#include <QLoggingCategory>
#include <QMutex>
#include <QString>
#include <deque>
#include <functional>

// The traffic on the line, as a log a user can read: every command line sent and every
// answer received, the bytes dropped while the line is drained, the probe, and the port
// opened, closed, moved to another rate or lost. Each entry has the time since its port was
// opened and the wall-clock time, its port and rate, and its bytes.
//
// Also the logging category "kavo.link": with QT_LOGGING_RULES="kavo.link.debug=true" every
// entry is logged wherever a line is, with or without a Tracer.
Q_DECLARE_LOGGING_CATEGORY(kavoLink)

struct TraceEntry {
    enum class Kind {
        Sent,       // a command line (a piece of a file: its command and how many bytes followed)
        Received,   // bytes from the module, as they came
        Dropped,    // bytes thrown away before a command (a late answer, what was left)
        Opened,     // the port opened, at `rate`
        Closed,
        Lost,       // the port failed underneath: `bytes` say why
    };
    Kind kind = Kind::Sent;
    qint64 sinceOpenNs = 0;   // monotonic, since the port was opened
    qint64 wallMs = 0;        // since the epoch
    QString port;             // "COM3"
    qint32 rate = 0;
    QByteArray bytes;         // as sent or received; for Lost, the reason
    qint64 followed = 0;      // Sent: bytes of data sent after the command line (an upload's piece)

    // "S" sent, "R" received, "D" dropped, "*" an event of the port.
    QString direction() const;
    // The bytes readable: printable text as is, \r \n \e \t \\ and \xNN for the others; a
    // piece as "FC W 1 512 + 512 bytes" (its command, without the carriage return, and the
    // count of the bytes that followed it); an event in words.
    QString text() const;
    // One line of a trace file: "12:34:56.789 +0.012345 COM3 9600 S V\r".
    QString line() const;
};

// Keeps the last entries (a ring: a device that never stops sending never makes it grow),
// and hands each one on as it comes to whoever listens. Any thread may record.
class Tracer
{
public:
    explicit Tracer(int capacity = 10000);

    void record(TraceEntry entry);
    // The entries kept, oldest first; and those after the `seen`-th recorded so far (for a
    // view that takes what is new now and then).
    QList<TraceEntry> entries() const;
    QList<TraceEntry> since(quint64 seen, quint64 *recorded) const;
    quint64 recorded() const;
    void clear();

    // Called for every entry as it is recorded, on the recording thread, in order.
    using Listener = std::function<void(const TraceEntry &)>;
    void setListener(Listener listener);

    int capacity() const { return m_capacity; }

private:
    const int m_capacity;
    mutable QMutex m_lock;
    std::deque<TraceEntry> m_ring;
    quint64 m_recorded = 0;
    Listener m_listener;
};
