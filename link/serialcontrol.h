#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QObject>
#include <QSerialPort>
#include <QString>

#include "link/comports.h"

class Waker;

// The serial-port control MSComm1: one port, chosen by the value a COM listing gave for it,
// opened with fixed line settings "<rate>,N,8,1". Received bytes are taken raw with
// Input(). A thread that owns the control may wait on it (waitForInput) without an event
// loop; on a thread that runs one, OnComm (CommEvent 2) announces bytes as they come.
class SerialControl : public QObject
{
    Q_OBJECT
public:
    enum { comEvReceive = 2 };

    explicit SerialControl(QObject *parent = nullptr);
    ~SerialControl() override;

    // The COM number of the port set last (0 before any).
    int CommPort() const { return m_port.number; }
    QString Settings() const { return m_settings; }
    // Takes "<rate>,N,8,1"; returns false (and records the error) when the text is not that.
    bool setSettings(const QString &settings);
    void setRTSEnable(bool on) { m_rts = on; }
    void setDTREnable(bool on) { m_dtr = on; }
    void setRThreshold(int n) { m_rthreshold = n; }

    bool PortOpen() const { return m_serial.isOpen(); }
    // Opens `port` with the settings. Its number must still name the device it named when
    // it was listed (the user chose it from that listing): a number that has come to name
    // another device meanwhile is not opened. On failure returns false with LastError() set.
    bool open(const ComPorts::Port &port);
    void close();
    // The port opened last (or being opened), as the listing gave it.
    const ComPorts::Port &port() const { return m_port; }

    // Writes every byte, in order; when the line cannot take them at once, waits for it
    // until `deadline` or until `wake` is woken (bytes not written then are dropped).
    void setOutput(const QByteArray &bytes, QDeadlineTimer deadline = QDeadlineTimer(5000), Waker *wake = nullptr);
    // Every byte received and not yet taken.
    QByteArray Input();
    int CommEvent() const { return m_commEvent; }

    enum class Wait { Input, Deadline, Woken, Closed };
    // Waits on the open port until bytes are there to take, `deadline` passes or `wake`
    // is woken (on a closed port, for the deadline or the wake-up). A port that fails
    // meanwhile is closed (PortLost) and gives Closed.
    Wait waitForInput(QDeadlineTimer deadline, Waker *wake);

    // The device path the open port uses (empty while closed).
    QString DevicePath() const { return m_serial.isOpen() ? m_port.device : QString(); }
    QString LastError() const { return m_lastError; }
    QSerialPort::SerialPortError LastErrorCode() const { return m_lastErrorCode; }

signals:
    void OnComm();
    // The open port failed underneath us (device removed, adapter unplugged); the port is
    // already closed when this is emitted. `description` is the system's word for what
    // failed, empty when the line simply hung up.
    void PortLost(const QString &description);

private:
    void handleError(QSerialPort::SerialPortError error);
    // The open port failed underneath: close it and tell.
    void lose(const QString &why);

    QSerialPort m_serial;
    ComPorts::Port m_port;
    QString m_settings = QStringLiteral("9600,N,8,1");
    qint32 m_rate = 9600;
    bool m_rts = false;
    bool m_dtr = false;
    int m_rthreshold = 0;
    int m_commEvent = 0;
    QString m_lastError;
    QSerialPort::SerialPortError m_lastErrorCode = QSerialPort::NoError;
};
