#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include "link/serialcontrol.h"

class QEventLoop;

// The line to the module: the port control MSComm1, the receive buffer BufferIn, the reply
// time-out clock tmrTimeOut and the command exchange. One exchange at a time: the window's
// operation guard sees to that.
class KavoLink : public QObject
{
    Q_OBJECT
public:
    explicit KavoLink(QObject *parent = nullptr);
    ~KavoLink() override;

    SerialControl *MSComm1;
    QTimer *tmrTimeOut;

    QByteArray BufferIn;       // received and not yet taken
    qint16 TimeOutTicks = 0;   // ticks of tmrTimeOut since the wait last took bytes

    // Opens COM `port` at `bitRate` with "<rate>,N,8,1", RTS and DTR off, and drops whatever
    // the port held before. On failure returns false with `error` set to the port layer's
    // description (already worded for the user where we know better).
    bool openPort(int port, qint32 bitRate, QString *error);
    void closePort();
    bool portOpen() const { return MSComm1->PortOpen(); }
    // True when COM n can be opened right now (it is opened and closed again).
    bool canOpen(int port);

    void SendText(const QByteArray &text);
    QByteArray WaitForPrompt();
    bool ProbeDevice();
    void SendAndWait(const QByteArray &text);

    // Whether the last WaitForPrompt ended by time-out (as opposed to a prompt).
    bool lastWaitTimedOut() const { return m_lastTimedOut; }

    // Ends the current operation: a wait in progress returns "" at once, and every further
    // send and wait of this operation does nothing, until beginOperation() starts the next.
    void abortOperation();
    bool operationAborted() const { return m_aborted; }
    void beginOperation() { m_aborted = m_shutdown; }

    // The window is going away: abort for good and close the port.
    void shutdown();

    static constexpr int TimeOutMs = 1000;

signals:
    // The open port failed underneath (device vanished); the port is closed already.
    void portLost(const QString &description);

private slots:
    void MSComm1_OnComm();
    void tmrTimeOut_Timer();

private:
    void wake();

    QEventLoop *m_waitLoop = nullptr;
    bool m_aborted = false;
    bool m_shutdown = false;
    bool m_lastTimedOut = false;
};
