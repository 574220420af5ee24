#include "link/serialcontrol.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "link/comports.h"

SerialControl::SerialControl(QObject *parent)
    : QObject(parent)
    , m_namedGeneration(ComPorts::listedGeneration())   // listings from before are not ours
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

namespace {

// "COM3 is /dev/ttyUSB0": how every description of a failure begins.
QString subject(const ComPorts::Port &port)
{
    return QStringLiteral("%1 is %2").arg(port.name(), port.device);
}

#ifdef Q_OS_UNIX
QString userName(uid_t uid)
{
    if (const passwd *pw = ::getpwuid(uid))
        return QString::fromLocal8Bit(pw->pw_name);
    return QString::number(uid);
}

QString groupName(gid_t gid)
{
    if (const group *gr = ::getgrgid(gid))
        return QString::fromLocal8Bit(gr->gr_name);
    return QString::number(gid);
}

// The permission bits as a listing shows them: "crw-rw----".
QString modeText(mode_t mode)
{
    QString text = S_ISCHR(mode) ? QStringLiteral("c") : QStringLiteral("-");
    const char *letters = "rwxrwxrwx";
    for (int bit = 0; bit < 9; ++bit)
        text += (mode & (0400 >> bit)) ? QLatin1Char(letters[bit]) : QLatin1Char('-');
    return text;
}

// Whether the user's account lists the group, though this process may not have it yet.
bool groupOnRecord(gid_t gid)
{
    const passwd *pw = ::getpwuid(::getuid());
    if (!pw)
        return false;
    if (pw->pw_gid == gid)
        return true;
    const QByteArray user(pw->pw_name);
    if (const group *gr = ::getgrgid(gid))
        for (char **member = gr->gr_mem; member && *member; ++member)
            if (user == *member)
                return true;
    return false;
}

QString kindOf(mode_t mode)
{
    if (S_ISREG(mode))
        return QStringLiteral("a plain file");
    if (S_ISFIFO(mode))
        return QStringLiteral("a named pipe");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    if (S_ISBLK(mode))
        return QStringLiteral("a block device (a disk)");
    return QStringLiteral("no device");
}

// What is wrong with the device before anything opens it: missing, a folder, not a device.
// Empty when it is a character device, which only opening tells more about.
QString deviceProblem(const ComPorts::Port &port, QSerialPort::SerialPortError *code)
{
    struct stat st {};
    if (::stat(QFile::encodeName(port.device).constData(), &st) != 0) {
        const int error = errno;
        *code = QSerialPort::DeviceNotFoundError;
        if (error == ENOENT || error == ENOTDIR) {
            if (port.viaLink)
                return QStringLiteral("%1, which is missing: the link %2 points at nothing. The module or adapter "
                                      "is gone, or the program that made the link ended without removing it (a "
                                      "simulator that was killed); remove the link (rm %2) if it is not coming back.")
                    .arg(subject(port), port.path);
            return QStringLiteral("%1, which is missing: the adapter was unplugged or the device removed.")
                .arg(subject(port));
        }
        if (error == EACCES) {
            *code = QSerialPort::PermissionError;
            return QStringLiteral("%1, which you may not reach (%2): a folder on its way is closed to you.")
                .arg(subject(port), QString::fromLocal8Bit(std::strerror(error)));
        }
        return QStringLiteral("%1, which cannot be examined (%2).")
            .arg(subject(port), QString::fromLocal8Bit(std::strerror(error)));
    }
    if (S_ISDIR(st.st_mode)) {
        *code = QSerialPort::UnsupportedOperationError;
        return QStringLiteral("%1, which is a folder, not a serial device.").arg(subject(port));
    }
    if (!S_ISCHR(st.st_mode)) {
        *code = QSerialPort::UnsupportedOperationError;
        return QStringLiteral("%1, which is not a serial device but %2.").arg(subject(port), kindOf(st.st_mode));
    }
    return QString();
}

// What to do when this user may not use the device.
QString permissionAdvice(const QString &device)
{
    struct stat st {};
    if (::stat(QFile::encodeName(device).constData(), &st) != 0)
        return QStringLiteral("Ask for membership of the 'dialout' group (sudo usermod -aG dialout $USER), then "
                              "log in again.");
    const bool groupMay = (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    if (!groupMay || st.st_gid == 0) {
        const QString owner = userName(st.st_uid);
        return QStringLiteral("It belongs to %1 alone (%2, group %3), so joining the 'dialout' group will not help: "
                              "ask the administrator to let the 'dialout' group read and write it, or use it as %1.")
            .arg(owner, modeText(st.st_mode), groupName(st.st_gid));
    }
    const QString group = groupName(st.st_gid);
    if (groupOnRecord(st.st_gid))
        return QStringLiteral("You are in the '%1' group that may use it, but this session started before you "
                              "joined: log out and log in again.")
            .arg(group);
    return QStringLiteral("Ask for membership of the '%1' group (sudo usermod -aG %1 $USER), then log in again.")
        .arg(group);
}
#endif

// Whether this user may read and write the device at all. The port layer reports a port
// held by another program and a device this user may not use with the same error code.
bool mayUse(const QString &device)
{
#ifdef Q_OS_UNIX
    return ::access(QFile::encodeName(device).constData(), R_OK | W_OK) == 0;
#else
    Q_UNUSED(device);
    return true;
#endif
}

// A character device the port layer could not open for another reason than permission.
QString otherProblem(const ComPorts::Port &port, const QString &why)
{
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(port.device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        const bool tty = ::isatty(fd);
        ::close(fd);
        if (!tty)
            return QStringLiteral("%1, which is not a serial device but a character device of another kind (%2).")
                .arg(subject(port), why);
    } else if (errno == ENXIO || errno == ENODEV || errno == EIO) {
        return QStringLiteral("%1, which does not answer: no hardware is behind it (%2).").arg(subject(port), why);
    }
#endif
    return QStringLiteral("%1, which could not be opened (%2).").arg(subject(port), why);
}

QString describeOpenFailure(const QSerialPort &serial, const ComPorts::Port &port)
{
    const QString why = serial.errorString();
    switch (serial.error()) {
    case QSerialPort::DeviceNotFoundError:
        return QStringLiteral("%1, which is missing (%2).").arg(subject(port), why);
    case QSerialPort::PermissionError:
        if (mayUse(port.device))
            return QStringLiteral("%1, which is in use by another program (%2). Close that program and try again.")
                .arg(subject(port), why);
#ifdef Q_OS_UNIX
        return QStringLiteral("%1, which you have no permission to use (%2). %3")
            .arg(subject(port), why, permissionAdvice(port.device));
#else
        return QStringLiteral("%1, which you have no permission to use (%2).").arg(subject(port), why);
#endif
    default:
        return otherProblem(port, why);
    }
}

} // namespace

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
    // A listing since the last open: the user chose from what it showed.
    if (m_namedGeneration != ComPorts::listedGeneration()) {
        m_named = ComPorts::listed();
        m_namedGeneration = ComPorts::listedGeneration();
    }
    const ComPorts::Port port = ComPorts::port(m_commPort);
    if (!port.valid()) {
        m_lastErrorCode = QSerialPort::DeviceNotFoundError;
        m_lastError = QStringLiteral("There is no device for COM%1.").arg(m_commPort);
        if (const QString problem = ComPorts::folder().problem; !problem.isEmpty())
            m_lastError += QLatin1Char(' ') + problem;
        return false;
    }
    if (const auto before = m_named.constFind(m_commPort); before != m_named.cend() && before->identity != port.identity) {
        m_lastErrorCode = QSerialPort::DeviceNotFoundError;
        m_lastError = QStringLiteral("%1 now names %2, not %3 as when it was chosen, so it was not opened. List the "
                                     "COM ports again and choose %1 to use %2.")
                          .arg(port.name(), port.device, before->device);
        return false;
    }
    if (!openDevice(port))
        return false;
    m_named.insert(m_commPort, port);
    return true;
}

bool SerialControl::openDevice(const ComPorts::Port &port)
{
    m_lastError.clear();
    m_lastErrorCode = QSerialPort::NoError;
#ifdef Q_OS_UNIX
    QSerialPort::SerialPortError code = QSerialPort::NoError;
    if (const QString problem = deviceProblem(port, &code); !problem.isEmpty()) {
        m_lastErrorCode = code;
        m_lastError = problem;
        return false;
    }
#endif
    m_port.setPortName(port.device);
    m_port.setBaudRate(m_rate);
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    if (!m_port.open(QIODevice::ReadWrite)) {
        m_lastErrorCode = m_port.error();
        m_lastError = describeOpenFailure(m_port, port);
        m_port.clearError();
        return false;
    }
    m_devicePath = port.device;
    // A pseudo-terminal has no modem lines; that is no reason to refuse the port.
    m_port.setRequestToSend(m_rts);
    m_port.setDataTerminalReady(m_dtr);
    m_port.clearError();
    // Whatever the port held before belongs to nobody.
    m_port.clear(QSerialPort::Input);
    m_port.readAll();
    return true;
}

bool SerialControl::probe(const ComPorts::Port &port, QString *problem)
{
    SerialControl control;
    const bool opened = control.openDevice(port);
    if (!opened && problem)
        *problem = control.LastError();
    control.setPortOpen(false);
    return opened;
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

bool SerialControl::waitForInput(int ms)
{
    return m_port.isOpen() && m_port.waitForReadyRead(ms);
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
    // The device the number named is gone, and the user is told: the number is free for
    // whatever it names next.
    m_named.remove(m_commPort);
    emit PortLost(why);
}
