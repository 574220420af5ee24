#include "link/serialcontrol.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <unistd.h>
#endif

#include "link/comports.h"

SerialControl::SerialControl(QObject *parent)
    : QObject(parent)
{
    connect(&m_port, &QSerialPort::readyRead, this, [this] {
        if (m_rthreshold < 1)
            return;
        m_commEvent = comEvReceive;
        emit OnComm();
    });
    connect(&m_port, &QSerialPort::errorOccurred, this, &SerialControl::handleError);
}

bool SerialControl::setSettings(const QString &settings)
{
    static const QRegularExpression form(QStringLiteral("^(\\d{1,9}),N,8,1$"));
    const auto match = form.match(settings);
    if (!match.hasMatch()) {
        m_lastError = QStringLiteral("Invalid port settings \"%1\".").arg(settings);
        m_lastErrorCode = QSerialPort::UnsupportedOperationError;
        return false;
    }
    m_settings = settings;
    m_rate = match.captured(1).toInt();
    return true;
}

// Whether this user may read and write the device at all. The port layer reports a port
// held by another program and a device this user may not use with the same error code.
static bool mayUse(const QString &device)
{
#ifdef Q_OS_UNIX
    return ::access(QFile::encodeName(device).constData(), R_OK | W_OK) == 0;
#else
    Q_UNUSED(device);
    return true;
#endif
}

static QString describeOpenFailure(const QSerialPort &port, const QString &device)
{
    const QString why = port.errorString();
    switch (port.error()) {
    case QSerialPort::DeviceNotFoundError:
        return QStringLiteral("The device %1 does not exist (%2).").arg(device, why);
    case QSerialPort::PermissionError:
        if (mayUse(device))
            return QStringLiteral("The port %1 is in use by another program (%2). Close that program and try again.")
                .arg(device, why);
#ifdef Q_OS_LINUX
        return QStringLiteral("No permission to use %1 (%2). Ask for membership of the 'dialout' group "
                              "(sudo usermod -aG dialout $USER), then log in again.")
            .arg(device, why);
#else
        return QStringLiteral("No permission to use %1 (%2).").arg(device, why);
#endif
    default:
        return why;
    }
}

bool SerialControl::setPortOpen(bool open)
{
    if (!open) {
        if (m_port.isOpen())
            m_port.flush();   // what was sent last still goes out
        if (m_port.isOpen())
            m_port.close();
        m_devicePath.clear();
        return true;
    }
    if (m_port.isOpen())
        return true;

    m_lastError.clear();
    m_lastErrorCode = QSerialPort::NoError;
    const QString link = ComPorts::devicePath(m_commPort);
#ifdef Q_OS_WIN
    const QString device = link;   // the system's own name, "COMn"
#else
    const QString device = link.isEmpty() ? QString() : QFileInfo(link).canonicalFilePath();
#endif
    if (device.isEmpty()) {
        m_lastErrorCode = QSerialPort::DeviceNotFoundError;
        m_lastError = link.isEmpty()
            ? QStringLiteral("There is no device for COM%1.").arg(m_commPort)
            : QStringLiteral("The device behind %1 is gone.").arg(link);
        return false;
    }

    m_port.setPortName(device);
    m_port.setBaudRate(m_rate);
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    if (!m_port.open(QIODevice::ReadWrite)) {
        m_lastErrorCode = m_port.error();
        m_lastError = describeOpenFailure(m_port, device);
        m_port.clearError();
        return false;
    }
    m_devicePath = device;
    // A pseudo-terminal has no modem lines; that is no reason to refuse the port.
    m_port.setRequestToSend(m_rts);
    m_port.setDataTerminalReady(m_dtr);
    m_port.clearError();
    // Whatever the port held before belongs to nobody.
    m_port.clear(QSerialPort::Input);
    m_port.readAll();
    return true;
}

void SerialControl::setOutput(const QByteArray &bytes)
{
    if (!m_port.isOpen() || bytes.isEmpty())
        return;
    qsizetype sent = 0;
#ifdef Q_OS_UNIX
    // With nothing queued before them, the bytes go straight to the line: one system call,
    // where the port's own buffer would take another pass of the event loop and two changes
    // of its write notifier per command.
    if (m_port.bytesToWrite() == 0) {
        const int fd = int(m_port.handle());
        while (sent < bytes.size()) {
            const ssize_t n = ::write(fd, bytes.constData() + sent, size_t(bytes.size() - sent));
            if (n > 0) {
                sent += n;
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                lose(QString::fromLocal8Bit(std::strerror(errno)));
                return;
            } else {
                break;   // the line is full: the rest waits in the port's buffer
            }
        }
    }
#endif
    if (sent < bytes.size()) {
        m_port.write(bytes.constData() + sent, bytes.size() - sent);
        // Hand them over now rather than on the next pass of the event loop; what the line
        // cannot take at once goes out as the event loop runs.
        if (m_port.isOpen())
            m_port.flush();
    }
}

QByteArray SerialControl::Input()
{
    return m_port.isOpen() ? m_port.readAll() : QByteArray();
}

void SerialControl::handleError(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
        if (m_port.isOpen())
            lose(m_port.errorString());
        break;
    default:
        break;
    }
}

void SerialControl::lose(const QString &why)
{
    // Close at once: a vanished device keeps reporting the error otherwise.
    m_port.close();
    m_port.clearError();
    m_devicePath.clear();
    emit PortLost(why);
}
