#pragma once

#include <QObject>
#include <QString>
#include <functional>

#include "link/kavolink.h"
#include "session/outcomes.h"
#include "settings/settingtable.h"

// One module on one port: connecting and detecting its bit rate, its version and card, its
// nine settings, and files on its card. Outcomes come back as values; what happens along
// the way (status texts, each setting as it arrives, the upload's progress) comes as
// signals. One operation at a time: every operation runs between beginOperation() and
// endOperation().
class KavoSession : public QObject
{
    Q_OBJECT
public:
    explicit KavoSession(QObject *parent = nullptr);
    ~KavoSession() override;

    // --- the port -----------------------------------------------------------------
    PortOpening openPort(int port, qint32 bitRate);
    void closePort();
    bool portOpen() const;
    int commPort() const;
    QString lineSettings() const;   // "9600,N,8,1"
    qint32 bitRate() const;
    // The line itself, for listing ports and for tests that talk to a module raw.
    KavoLink &link() { return *m_link; }

    // "COM12" -> 12; 0 when the text is not such a name.
    static int portNumberOf(const QString &portName);
    // "The device on COM3 keeps sending without a prompt; it may not be a Kavo."
    QString endlessText() const;
    // A module's reply as messages quote it: printable, at most 200 characters.
    static QString quoted(const QByteArray &reply);

    // --- one operation at a time ----------------------------------------------------
    // False while another operation runs, and for good after shutdown().
    bool beginOperation();
    void endOperation();
    bool busy() const { return m_busy; }
    // The running operation was ended early (port lost, shut down, interrupted).
    bool aborted() const { return m_link->operationAborted(); }
    // Ends the running operation at once; an upload still closes its card file when the
    // port is open. The session stays usable.
    void interrupt();
    bool interrupted() const { return m_interrupted; }
    // Ends the running operation and closes the port for good (the window is closing).
    // A running upload still closes its card file first while the port is open; the port
    // closes when the operation has ended.
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
    // The play test: looks the test file up on the card; when it is missing, or the card's
    // copy has another size than `localPath`, asks `offerUpload` whether to send
    // `localPath` first; then tells the module to play it (the card's own copy when the
    // answer says so).
    PlayOutcome playTest(const QString &localPath, const std::function<OfferAnswer(const UploadOffer &)> &offerUpload);

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
    bool m_busy = false;
    bool m_interrupted = false;
    bool m_shutdown = false;
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
