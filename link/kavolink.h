#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <atomic>

#include "link/comports.h"
#include "link/reply.h"
#include "link/tracer.h"
#include "link/waker.h"

class SerialControl;

// The line to the module: the port control MSComm1, the receive buffer BufferIn, the reply
// time-out clock (each wait's deadlines) and the command exchange. One exchange at a time:
// the session's operation guard sees to that.
//
// The link lives on one thread and is used from there. Its waits block that thread on the
// port with their deadlines; abortOperation() and wake() may be called from any thread and
// end a wait at once.
class KavoLink : public QObject
{
    Q_OBJECT
public:
    explicit KavoLink(QObject *parent = nullptr);
    ~KavoLink() override;

    // Where the traffic is recorded (nothing when none is set and the logging category
    // "kavo.link" is off). Set it before the link is used.
    void setTracer(Tracer *tracer) { m_tracer = tracer; }

    // Opens COM `port` (as a listing gave it) at `bitRate` with "<rate>,N,8,1", RTS and DTR
    // off, and drops whatever the port held before. On failure returns false with `error`
    // set to what is wrong, worded for the user.
    bool openPort(const ComPorts::Port &port, qint32 bitRate, QString *error);
    void closePort();
    bool portOpen() const;
    // The port opened last (or being opened) and its COM number, and the line settings
    // text ("9600,N,8,1") set last.
    const ComPorts::Port &port() const;
    int commPort() const;
    QString lineSettings() const;
    qint32 bitRate() const;
    // The device the open port uses (empty while closed), and the one opened last.
    QString devicePath() const;
    QString lastDevice() const { return m_lastDevice; }

    // --- the exchange --------------------------------------------------------------
    // Writes the bytes to the line as they are, when the port is open.
    void SendText(const QByteArray &bytes);
    // What a wait listens for: the prompt (an answer), or, for a probe, also noise.
    enum class Listen { Answer, Probe };
    // Collects the answer until the prompt ends a chunk, a whole period of silence, or
    // more bytes or time than any Kavo answer takes (a device that keeps sending). A probe
    // also ends at noise: bytes without a prompt followed by NoiseQuietMs of quiet.
    Reply WaitForPrompt(Listen listen = Listen::Answer);
    // The one exchange: empties BufferIn, sends the command with its carriage return and
    // waits for the answer.
    Reply SendAndWait(const QByteArray &command);
    // Escape and carriage return: true when a Kavo answers with its prompts. When the tail
    // of another answer comes first, the line is let fall quiet and the probe sent again.
    // `decided`, when given, receives the wait that decided: how it ended and what came
    // (a device that keeps sending, or one that answers at another rate, fails the probe
    // as silence does, but is worth telling apart).
    bool ProbeDevice(Reply *decided = nullptr);
    // Drops what has arrived; when anything had (or `always`), waits until the line has
    // been quiet for a while (an answer's pieces come closer together than that). False
    // when it kept sending for longer than a Kavo ever does, or the operation was ended.
    bool quietLine(bool always = false);
    // Empties BufferIn (an upload does this once before its first piece, then sends each
    // piece with SendText and collects its answer with WaitForPrompt).
    void discardInput();
    // What has arrived and was not taken yet.
    const QByteArray &pendingInput() const { return BufferIn; }

    // --- between operations -----------------------------------------------------
    // Waits until wake() is called (from any thread), `until` passes, or the port is lost;
    // what the line sends meanwhile is kept as between waits (its tail only).
    void idle(QDeadlineTimer until);
    void wake();

    // --- ending operations ---------------------------------------------------------
    // Ends the current operation: a wait in progress returns at once, and every further
    // send and wait of this operation does nothing, until beginOperation() starts the next.
    // Any thread may call it.
    void abortOperation();
    bool operationAborted() const { return m_aborted; }
    // The port was lost, and none opened since.
    bool lostAndNotReopened() const;
    void beginOperation() { m_aborted = m_shutdown.load(); }
    // After an abort, lets the operation send once more while the port is still open (to
    // close a file on the card); false when the port is gone or the line shut down.
    bool resume();
    // The line is going away: abort for good and close the port.
    void shutdown();

    static constexpr int TimeOutMs = 1000;
    // No Kavo answer comes near these: the longest, the version, is some 30 bytes and
    // arrives within a few tens of milliseconds even at 9600 bps. 4 KiB is over a hundred
    // times that and takes 4.3 s at 9600 bps; the time bound catches a device that trickles.
    static constexpr int LongestReply = 4096;
    static constexpr int LongestAnswerMs = 5000;
    // Between the pieces of one answer a module pauses far less than this.
    static constexpr int QuietMs = 150;
    // Noise ends a probe once the line has been quiet for four character times at the
    // port's rate (the garbled answer has ended: its bytes come back to back) plus this
    // margin: a USB adapter may hold received bytes for up to 16 ms before passing them on,
    // and the module and the system take some milliseconds to react. No Kavo answer pauses
    // that long before its prompt once it has begun.
    static constexpr int NoiseMarginMs = 30;
    int noiseQuietMs() const;

signals:
    // The open port failed underneath (device vanished); the port is closed already.
    void portLost(const QString &description);

private:
    // Bytes the port took in while the thread ran an event loop between waits.
    void MSComm1_OnComm();
    // Keeps only the tail that a talkative device leaves between waits.
    void trimBufferIn();
    Reply waitBlocking(Listen listen);
    bool quietBlocking();
    // Records an entry of the traffic, when anybody wants it.
    void trace(TraceEntry::Kind kind, const QByteArray &bytes = QByteArray(), qint64 followed = 0);
    bool tracing() const;
    // Takes what has arrived into BufferIn, and records it.
    void take(const QByteArray &bytes);
    // Empties BufferIn, recording what is dropped.
    void drop();

    SerialControl *MSComm1;
    QByteArray BufferIn;       // received and not yet taken
    Waker m_waker;

    Tracer *m_tracer = nullptr;
    QElapsedTimer m_openClock;       // since the port was opened, for the traffic's entries
    int m_tracedPortNumber = 0;      // the port the entries name, and its name
    QString m_tracedPort;
    QString m_lastDevice;
    std::atomic<bool> m_aborted = false;
    bool m_lost = false;   // the port was lost and not opened since (the link's own thread)
    std::atomic<bool> m_shutdown = false;
};
