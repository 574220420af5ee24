#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <functional>

#include "link/kavolink.h"
#include "session/outcomes.h"
#include "settings/settingtable.h"

class QFile;

// One module on one port: connecting and detecting its bit rate, its version and card, its
// nine settings, and files on its card. Outcomes come back as values; what happens along
// the way (status texts, each setting as it arrives, the upload's progress) comes as
// signals. One operation at a time: every operation runs between beginOperation() and
// endOperation().
//
// A session lives on one thread and its operations run there; its waits block that thread.
// interrupt(), shutdown() and wake() may be called from any thread; signals reach receivers
// on other threads queued, in the order they were emitted.
class KavoSession : public QObject
{
    Q_OBJECT
public:
    explicit KavoSession(QObject *parent = nullptr);
    // Where the traffic is recorded; set it before the session is used.
    void setTracer(Tracer *tracer);
    ~KavoSession() override;

    // --- the port -----------------------------------------------------------------
    PortOpening openPort(const ComPorts::Port &port, qint32 bitRate);
    void closePort();
    bool portOpen() const;
    int commPort() const;
    QString lineSettings() const;   // "9600,N,8,1"
    qint32 bitRate() const;
    // The device of the open port (empty while closed).
    QString devicePath() const;

    // "The device on COM3 keeps sending without a prompt; it may not be a Kavo."
    QString endlessText() const;
    // A module's reply as messages quote it: printable, at most 200 characters.
    static QString quoted(const QByteArray &reply);

    // --- one operation at a time ----------------------------------------------------
    // False while another operation runs, and for good after shutdown().
    bool beginOperation();
    void endOperation();
    bool busy() const { return m_busy; }   // any thread
    // The running operation was ended early (port lost, shut down, interrupted).
    bool aborted() const { return m_link->operationAborted(); }
    // Ends the running operation at once; an upload still closes its card file when the
    // port is open. The session stays usable. Any thread may call it.
    void interrupt();
    bool interrupted() const { return m_interrupted; }
    // Ends the running operation and closes the port for good (the window is closing).
    // A running upload still closes its card file first while the port is open; the port
    // closes when the operation has ended. Any thread may call it.
    void shutdown();
    bool isShutDown() const { return m_shutdown; }

    // --- between operations -----------------------------------------------------------
    // Waits on the session's thread until wake() is called (from any thread) or the port
    // is lost; what the line sends meanwhile is dropped but for a tail.
    void idle();
    void wake();

    // --- operations ------------------------------------------------------------------
    // Opens the port and finds the module on it; checks its identity and reads its version.
    ConnectOutcome connectModule(const ConnectRequest &request);
    VersionOutcome readVersion();
    // Capacity and free space, or the card's status.
    CardOutcome readCardInfo();
    // All nine settings in order; each as it arrives through settingRead().
    ReadOutcome readSettings();
    // Sends the nine setting strings, the bit rate last; `settingString` is asked for each
    // one at the moment its row is sent. The PC port follows the module to a new rate.
    WriteOutcome writeSettings(const std::function<QString(char letter)> &settingString);
    // Sends a local file to the card in 512-byte pieces. `testFile` words the texts for
    // the play test's own file.
    UploadOutcome upload(const QString &localPath, const QString &cardPath, bool testFile = false);
    // The same from a file opened (and checked) already, read from where it stands.
    UploadOutcome upload(QFile &file, const QString &cardPath, bool testFile = false);
    // The play test: looks the test file up on the card; when it is missing, or the card's
    // copy has another size than `localPath`, asks `offerUpload` whether to send
    // `localPath` first; then tells the module to play it (the card's own copy when the
    // answer says so). `local`, when given, is the local test file opened already.
    PlayOutcome playTest(const QString &localPath, const std::function<OfferAnswer(const UploadOffer &)> &offerUpload,
                         QFile *local = nullptr);

    // The upload's progress comes at most this often (and always at its end): no eye tells
    // it from every piece, and each costs its receiver a repaint.
    static constexpr int ProgressEveryMs = 40;

signals:
    void status(const QString &text);
    // The PC port now runs at this bit rate: the one a search found, or the one Write moved
    // the port to.
    void bitRateChanged(qint32 rate);
    // The port opened ("COM3", "9600,N,8,1") or closed (both empty).
    void lineChanged(const QString &portName, const QString &lineSettings);
    // The module's version reply; empty as a version read begins.
    void versionRead(const QString &text);
    void settingRead(char letter, const SettingTable::Reading &reading);
    // The card's status ("E08", the reply to "FC F"), empty when all is well.
    void cardStatusChanged(const QString &text);
    // The card's capacity and free space as read (also after an upload).
    void cardInfoRead(const Replies::CardInfo &info);
    // The card file is open and the pieces begin; then the bytes the module has taken (the
    // whole length at the end); then the upload has ended, however it ended.
    void uploadStarted(qint64 length);
    void uploadProgress(qint64 bytesTaken);
    void uploadEnded();
    // "COM3 (/dev/pts/4) was disconnected"; the port is closed already.
    void portLost(const QString &what);
    void busyChanged(bool busy);

private:
    // The card file opened for writing: the reply to the open command.
    Reply openCardFile(const QString &cardPath);
    // Closes the card file and awaits the answer; an error reply is told (silence is not
    // an error). An empty text when it went well.
    QString closeCardFile(const QString &cardPath);
    // Emits the status text; false when the operation was ended meanwhile.
    bool say(const QString &text);
    // The port was lost before this operation began (the loss is told already): the
    // operation ends at once, before it says or sends anything.
    bool portGone();
    void onPortLost(const QString &description);
    void tellLine();

    KavoLink *m_link;
    std::atomic<bool> m_busy = false;
    std::atomic<bool> m_interrupted = false;
    std::atomic<bool> m_shutdown = false;
};

// Holds an operation of the session for the length of a scope.
class SessionOperation
{
public:
    explicit SessionOperation(KavoSession &session) : m_session(session), m_acquired(session.beginOperation()) {}
    ~SessionOperation()
    {
        if (m_acquired)
            m_session.endOperation();
    }
    SessionOperation(const SessionOperation &) = delete;
    SessionOperation &operator=(const SessionOperation &) = delete;
    bool acquired() const { return m_acquired; }

private:
    KavoSession &m_session;
    bool m_acquired;
};
