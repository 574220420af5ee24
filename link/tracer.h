#pragma once

#include <QByteArray>
#include <QList>
#include <QLoggingCategory>
#include <QMutex>
#include <QString>
#include <vector>
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
        Missed,     // `followed` entries recorded, but gone before a reader took them
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
    char directionLetter() const;
    // The bytes readable: printable text as is, \r \n \e \t \\ and \xNN for the others; a
    // piece as "FC W 1 512 + 512 bytes" (its command, without the carriage return, and the
    // count of the bytes that followed it); an event in words.
    QString text() const;
    // One line of a trace file: "12:34:56.789 +0.012345 COM3 9600 S V\r" (the seconds since
    // the port opened cut to the microsecond).
    QString line() const;
    // The same in ASCII, appended to `out` (for many lines at once).
    void appendText(QByteArray &out) const;
    void appendLine(QByteArray &out) const;
};

// Keeps the last entries (a ring: a device that never stops sending never makes it grow).
// Recording costs no memory of its own once the ring is full: an entry's bytes are kept in
// its slot when they are few (a command, an answer), so that nothing the link works with is
// held on to. Readers (the Traffic window, a trace file) take what is new now and then. Any
// thread may record and read.
class Tracer
{
public:
    explicit Tracer(int capacity = 10000);

    void record(const TraceEntry &entry);
    // The entries kept, oldest first; and those after the `seen`-th recorded so far (for a
    // reader that takes what is new now and then). `lost`: how many of those were recorded
    // but have already left the ring.
    QList<TraceEntry> entries() const;
    QList<TraceEntry> since(quint64 seen, quint64 *recorded, quint64 *lost = nullptr) const;
    quint64 recorded() const;
    void clear();

    // Called (on the recording thread, outside the lock) when half the ring has filled
    // since a reader last took what was new: time to take it.
    void setFillingUp(std::function<void()> notice);

    int capacity() const { return m_capacity; }
    // Bytes up to this many stay in the entry's slot.
    static constexpr int InlineBytes = 56;

private:
    struct Slot {
        TraceEntry::Kind kind = TraceEntry::Kind::Sent;
        quint8 inlineSize = 0;
        char inlineBytes[InlineBytes];
        QByteArray longBytes;   // when there were more
        qint64 sinceOpenNs = 0;
        qint64 wallMs = 0;
        QString port;
        qint32 rate = 0;
        qint64 followed = 0;
    };
    static TraceEntry entryOf(const Slot &slot);
    // The slot of the `n`-th entry recorded (it must still be kept).
    const Slot &slotOf(quint64 n) const { return m_ring[size_t(n % quint64(m_capacity))]; }

    const int m_capacity;
    mutable QMutex m_lock;
    std::vector<Slot> m_ring;       // grows to the capacity, then each entry takes the oldest's slot
    quint64 m_recorded = 0;         // entries recorded since the start
    quint64 m_cleared = 0;          // entries recorded before the last clear()
    mutable quint64 m_taken = 0;    // what a reader last took, up to there
    std::function<void()> m_fillingUp;
};
