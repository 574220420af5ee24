#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <functional>

#include "link/kavolink.h"
#include "session/outcomes.h"
#include "settings/settingtable.h"

// One module on one port: connecting and detecting its bit rate, its version and card, its
// nine settings, and files on its card. Outcomes come back as values; what happens along
// the way (status texts, each setting as it arrives, the upload's progress) comes as
// signals. One operation at a time: every operation runs between beginOperation() and
// endOperation().
//
// A session lives on one thread and its operations run there; its waits block that thread
// (or, in KavoLink::Mode::EventLoop, run its event loop). interrupt() and shutdown() may be
// called from any thread and end a wait at once; signals reach receivers on other threads
// queued, as Qt delivers them.
class QFile;

class KavoSession : public QObject
{
    Q_OBJECT
public:
    explicit KavoSession(QObject *parent = nullptr, KavoLink::Mode mode = KavoLink::Mode::Blocking);
    ~KavoSession() override;

    // --- the port -----------------------------------------------------------------
    PortOpening openPort(const ComPorts::Port &port, qint32 bitRate);
    void closePort();
    bool portOpen() const;
    int commPort() const;
    QString lineSettings() const;   // "9600,N,8,1"
    qint32 bitRate() const;
    // The line itself, for listing ports and for tests that talk to a module raw.
    KavoLink &link() { return *m_link; }

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

    // --- operations ------------------------------------------------------------------
    // Opens the port and finds the module on it; checks its identity and reads its version.
    ConnectOutcome connectModule(const ConnectRequest &request);
    // The version reply of the module found last ("" before any).
    QString moduleVersion() const { return m_version; }
    VersionOutcome readVersion();
    // Capacity and free space, or the card's status.
    CardOutcome readCardInfo();
    QByteArray querySetting(char letter);
    // All nine settings in order; each as it arrives through settingRead().
    ReadOutcome readSettings();
    // Sends the nine setting strings, the bit rate last; `settingString` is asked for each
    // one at the moment its row is sent. When "ST D n" was taken and names another rate,
    // the PC port follows to it.
    WriteOutcome writeSettings(const std::function<QString(char letter)> &settingString);
    // Sends a local file to the card in 512-byte pieces. `testFile` words the texts for
    // the play test's own file.
    UploadOutcome upload(const QString &localPath, const QString &cardPath, bool testFile = false);
    // The same from a file opened (and checked) already, read from where it stands.
    UploadOutcome upload(QFile &file, const QString &cardPath, bool testFile = false);
    // The play test: looks the test file up on the card; when it is missing, or the card's
    // copy has another size than `localPath`, asks `offerUpload` whether to send
    // `localPath` first; then tells the module to play it (the card's own copy when the
    // answer says so).
    // `local`, when given, is the local test file opened (and checked) already.
    PlayOutcome playTest(const QString &localPath, const std::function<OfferAnswer(const UploadOffer &)> &offerUpload,
                         QFile *local = nullptr);

signals:
    void status(const QString &text);
    // The PC port's bit rate is now the one at this index of the rate list.
    void rateSelected(int index);
    // The version box's text (emptied when a version read begins).
    void versionShown(const QString &text);
    void settingRead(char letter, const SettingTable::Reading &reading);
    // The card status box's text.
    void cardStatus(const QString &text);
    // The card's capacity and free space as read (also after an upload).
    void cardInfoRead(const Replies::CardInfo &info);
    // An upload of `length` bytes is about to start; then shown, its progress (the bytes
    // the module has taken, the whole length at the end), hidden.
    void uploadPrepared(qint64 length);
    void uploadShown(bool visible);
    void uploadProgress(qint64 bytesTaken);
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
    void onPortLost(const QString &description);

    KavoLink *m_link;
    QString m_version;
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
