#include "link/serialcontrol.h"

#include <QRegularExpression>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <unistd.h>
#endif

#include "link/devicecheck.h"
#include "link/waker.h"

SerialControl::SerialControl(QObject *parent)
    : QObject(parent)
    , m_serial(this)   // a child, so that it moves with the control to the thread that uses it
{
    connect(&m_serial, &QSerialPort::readyRead, this, [this] {
        if (m_rthreshold < 1)
            return;
        m_commEvent = comEvReceive;
        emit OnComm();
    });
    connect(&m_serial, &QSerialPort::errorOccurred, this, &SerialControl::handleError);
}

SerialControl::~SerialControl() = default;

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

bool SerialControl::open(const ComPorts::Port &port)
{
    m_lastError.clear();
    m_lastErrorCode = QSerialPort::NoError;
    if (m_serial.isOpen())
        close();
    m_port = port;
    if (!port.valid() || port.device.isEmpty()) {
        m_lastErrorCode = QSerialPort::DeviceNotFoundError;
        m_lastError = QStringLiteral("There is no device for %1.").arg(port.name());
        if (const QString problem = ComPorts::folder().problem; !problem.isEmpty())
            m_lastError += QLatin1Char(' ') + problem;
        return false;
    }
    // The number names what it named when the user chose it, or nothing is opened.
    if (const ComPorts::Port now = ComPorts::port(port.number); now.identity != port.identity) {
        m_lastErrorCode = QSerialPort::DeviceNotFoundError;
        m_lastError = now.valid()
            ? QStringLiteral("%1 now names %2, not %3 as when it was chosen, so it was not opened. List the COM ports "
                             "again and choose %1 to use %2.")
                  .arg(port.name(), now.device, port.device)
            : QStringLiteral("%1 no longer names a device (it named %2 when it was chosen). List the COM ports "
                             "again.")
                  .arg(port.name(), port.device);
        return false;
    }
#ifdef Q_OS_UNIX
    QSerialPort::SerialPortError code = QSerialPort::NoError;
    if (const QString problem = DeviceCheck::problemWithoutOpening(port, &code); !problem.isEmpty()) {
        m_lastErrorCode = code;
        m_lastError = problem;
        return false;
    }
#endif
    m_serial.setPortName(port.device);
    m_serial.setBaudRate(m_rate);
    m_serial.setDataBits(QSerialPort::Data8);
    m_serial.setParity(QSerialPort::NoParity);
    m_serial.setStopBits(QSerialPort::OneStop);
    m_serial.setFlowControl(QSerialPort::NoFlowControl);
    if (!m_serial.open(QIODevice::ReadWrite)) {
        m_lastErrorCode = m_serial.error();
        m_lastError = DeviceCheck::openFailure(m_serial, port);
        m_serial.clearError();
        return false;
    }
    // A pseudo-terminal has no modem lines; that is no reason to refuse the port.
    m_serial.setRequestToSend(m_rts);
    m_serial.setDataTerminalReady(m_dtr);
    m_serial.clearError();
    // Whatever the port held before belongs to nobody.
    m_serial.clear(QSerialPort::Input);
    m_serial.readAll();
    return true;
}

void SerialControl::close()
{
    // The serial port gives up its exclusive hold and its lock file as it closes.
    if (m_serial.isOpen())
        m_serial.close();
    m_serial.clearError();
}

void SerialControl::setOutput(const QByteArray &bytes, QDeadlineTimer deadline, Waker *wake)
{
    if (!m_serial.isOpen() || bytes.isEmpty())
        return;
#ifdef Q_OS_UNIX
    // Straight to the line, with no buffer of the serial port's between: one system call
    // per command when the line takes it, and no event loop needed to finish the write.
    const int fd = int(m_serial.handle());
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + sent, size_t(bytes.size() - sent));
        if (n > 0) {
            sent += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            lose(QString::fromLocal8Bit(std::strerror(errno)));
            return;
        }
        // The line is full: wait until it takes more.
        pollfd fds[2] = {{fd, POLLOUT, 0}, {wake ? wake->fd() : -1, POLLIN, 0}};
        const qint64 ms = deadline.remainingTime();
        if (ms == 0)
            return;
        const int ready = ::poll(fds, 2, int(qMin<qint64>(ms < 0 ? 1000 : ms, 1000)));
        if (ready < 0 && errno != EINTR)
            return;
        if (fds[1].revents & POLLIN)
            return;
        if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
            lose(QString());   // hung up: "disconnected" says it all
            return;
        }
    }
#else
    Q_UNUSED(wake);
    m_serial.write(bytes);
    while (m_serial.isOpen() && m_serial.bytesToWrite() > 0 && !deadline.hasExpired())
        m_serial.waitForBytesWritten(int(qMin<qint64>(deadline.remainingTime(), 20)));
#endif
}

QByteArray SerialControl::Input()
{
    if (!m_serial.isOpen())
        return {};
    // What the port's own reading took in (on a thread that runs an event loop) is older
    // than what still waits on the line. (Asked first: reading it all costs a large buffer
    // made and freed even when there is nothing.)
    QByteArray bytes;
    if (m_serial.bytesAvailable() > 0)
        bytes = m_serial.readAll();
#ifdef Q_OS_UNIX
    const int fd = int(m_serial.handle());
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n > 0) {
            bytes.append(chunk, n);
            if (size_t(n) < sizeof chunk)
                break;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0) {
            // Nothing more now (a terminal that waits for no byte reads none instead of
            // saying it would wait), or the end of the line: a terminal whose other end has
            // hung up reads nothing for ever while it reports input to a wait.
            pollfd hungUp = {fd, POLLIN, 0};
            if (::poll(&hungUp, 1, 0) > 0 && (hungUp.revents & (POLLERR | POLLHUP | POLLNVAL)))
                lose(QString());   // hung up: "disconnected" says it all
            break;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            break;
        // A read error: the device is gone. What came before it still counts.
        lose(QString::fromLocal8Bit(std::strerror(errno)));
        break;
    }
#endif
    return bytes;
}

SerialControl::Wait SerialControl::waitForInput(QDeadlineTimer deadline, Waker *wake)
{
    if (m_serial.isOpen() && m_serial.bytesAvailable() > 0)
        return Wait::Input;
#ifdef Q_OS_UNIX
    // A closed port has nothing to tell: the wait lasts until its deadline or a wake-up.
    const int fd = m_serial.isOpen() ? int(m_serial.handle()) : -1;
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {wake ? wake->fd() : -1, POLLIN, 0}};
        const qint64 ms = deadline.remainingTime();   // -1: for ever
        const int ready = ::poll(fds, 2, ms < 0 ? -1 : int(qMin<qint64>(ms, 1 << 30)));
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return Wait::Deadline;
        }
        if (fds[1].revents & POLLIN)
            return Wait::Woken;
        // A hung-up line may still hold the last bytes it received: they are taken first,
        // and taking them finds the line's end (Input).
        if (fds[0].revents & POLLIN)
            return Wait::Input;
        if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
            lose(QString());   // hung up: "disconnected" says it all
            return Wait::Closed;
        }
        if (ready == 0)
            return Wait::Deadline;
    }
#else
    Q_UNUSED(wake);
    if (!m_serial.isOpen())
        return Wait::Closed;
    const qint64 ms = deadline.remainingTime();
    if (m_serial.waitForReadyRead(int(ms < 0 ? 20 : qMin<qint64>(ms, 20))))
        return Wait::Input;
    return m_serial.isOpen() ? (deadline.hasExpired() ? Wait::Deadline : Wait::Woken) : Wait::Closed;
#endif
}

void SerialControl::handleError(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
        if (m_serial.isOpen())
            lose(m_serial.errorString());
        break;
    default:
        break;
    }
}

void SerialControl::lose(const QString &why)
{
    // Close at once: a vanished device keeps reporting the error otherwise.
    if (!m_serial.isOpen())
        return;
    m_serial.close();
    m_serial.clearError();
    emit PortLost(why);
}
