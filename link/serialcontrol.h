#pragma once

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QSerialPort>
#include <QString>

#include "link/comports.h"

// The window's serial-port control: one port, chosen by its COM number, opened with
// fixed line settings "<rate>,N,8,1". Received bytes are announced through OnComm
// (CommEvent 2) and taken raw with Input().
class SerialControl : public QObject
{
    Q_OBJECT
public:
    enum { comEvReceive = 2 };

    explicit SerialControl(QObject *parent = nullptr);

    int CommPort() const { return m_commPort; }
    void setCommPort(int n) { m_commPort = n; }
    QString Settings() const { return m_settings; }
    // Takes "<rate>,N,8,1"; returns false (and records the error) when the text is not that.
    bool setSettings(const QString &settings);
    void setRTSEnable(bool on) { m_rts = on; }
    void setDTREnable(bool on) { m_dtr = on; }
    void setRThreshold(int n) { m_rthreshold = n; }

    bool PortOpen() const { return m_port.isOpen(); }
    // Opening maps CommPort to its device; on failure returns false with LastError() set.
    // The device must be the one the number named when it was last listed (the user chose
    // it from that list) or, when opened since, when it was last opened here: a number that
    // has come to name another device meanwhile is not opened. A port that was lost frees
    // its number for whatever it names next.
    bool setPortOpen(bool open);

    // Whether the device behind `port` can be opened right now (it is opened and closed
    // again); when it cannot, `problem` says why, naming the COM number and the device.
    static bool probe(const ComPorts::Port &port, QString *problem);

    void setOutput(const QByteArray &bytes);
    QByteArray Input();
    // Watches the open port alone for up to `ms` for bytes to come; they are announced
    // through OnComm as always. False when none came (or the port is closed).
    bool waitForInput(int ms);
    int CommEvent() const { return m_commEvent; }

    // The device path the open port uses (empty while closed).
    QString DevicePath() const { return m_devicePath; }
    QString LastError() const { return m_lastError; }
    QSerialPort::SerialPortError LastErrorCode() const { return m_lastErrorCode; }

signals:
    void OnComm();
    // The open port failed underneath us (device removed, adapter unplugged); the port is
    // already closed when this is emitted.
    void PortLost(const QString &description);

private:
    // Opens the device behind `port` with the line settings.
    bool openDevice(const ComPorts::Port &port);
    void handleError(QSerialPort::SerialPortError error);
    // The open port failed underneath: close it and tell.
    void lose(const QString &why);

    QSerialPort m_port;
    int m_commPort = 1;
    QString m_settings = QStringLiteral("9600,N,8,1");
    qint32 m_rate = 9600;
    bool m_rts = false;
    bool m_dtr = false;
    int m_rthreshold = 0;
    int m_commEvent = 0;
    QString m_devicePath;
    // What each COM number named when last listed or opened here.
    QMap<int, ComPorts::Port> m_named;
    quint64 m_namedGeneration = 0;
    QString m_lastError;
    QSerialPort::SerialPortError m_lastErrorCode = QSerialPort::NoError;
};
