#include "link/devicecheck.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

namespace DeviceCheck {

QString subject(const ComPorts::Port &port)
{
    return QStringLiteral("%1 is %2").arg(port.name(), port.device);
}

namespace {

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

// Whether the system has a terminal driver for the character device: serial ports and
// pseudo-terminals are terminals, /dev/null and its kind are not. Known without opening the
// device from the drivers' list; true when that list cannot be read.
bool terminalDevice(dev_t device)
{
    QFile drivers(QStringLiteral("/proc/tty/drivers"));
    if (!drivers.open(QIODevice::ReadOnly))
        return true;
    const unsigned major = ::major(device);
    const unsigned minor = ::minor(device);
    bool any = false;
    for (const QByteArray &line : drivers.readAll().split('\n')) {
        // "<driver> <device name> <major> <minor or first-last> <kind>"
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 4)
            continue;
        any = true;
        if (fields[2].toUInt() != major)
            continue;
        const QList<QByteArray> range = fields[3].split('-');
        bool fromOk = false, toOk = false;
        const unsigned from = range.value(0).toUInt(&fromOk);
        const unsigned to = range.size() > 1 ? range.value(1).toUInt(&toOk) : from;
        if (fromOk && (range.size() == 1 || toOk) && minor >= from && minor <= to)
            return true;
    }
    return !any;
}

// What is wrong with the device by its kind alone: missing, a folder, not a device. Empty
// when it is a character device.
QString kindProblem(const ComPorts::Port &port, QSerialPort::SerialPortError *code)
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
    if (!terminalDevice(st.st_rdev)) {
        *code = QSerialPort::UnsupportedOperationError;
        return QStringLiteral("%1, which is not a serial device but a character device of another kind.").arg(subject(port));
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

// Whether this user may read and write the device at all.
bool mayUse(const QString &device)
{
    return ::access(QFile::encodeName(device).constData(), R_OK | W_OK) == 0;
}

QString permissionProblem(const ComPorts::Port &port, const QString &why)
{
    const QString reason = why.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(why);
    return QStringLiteral("%1, which you have no permission to use%2. %3")
        .arg(subject(port), reason, permissionAdvice(port.device));
}

// The lock file a serial port takes for the device ("LCK..ttyUSB0", "LCK..pts_3"), where
// one of the usual lock folders holds it; empty when none does.
QString lockFileOf(const QString &device)
{
    QString name = device;
    if (name.startsWith(QStringLiteral("/dev/")))
        name = name.mid(5);
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    name.prepend(QStringLiteral("LCK.."));
    for (const char *folder : {"/var/lock", "/run/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp", "/tmp"}) {
        const QString path = QDir(QLatin1String(folder)).filePath(name);
        if (QFileInfo(path).isFile())
            return path;
    }
    return QString();
}

// Who holds the device by its lock file: a living process (its number and name), or one
// that ended and left a lock file this user cannot remove. Empty when no lock stands.
QString lockProblem(const ComPorts::Port &port, QSerialPort::SerialPortError *code)
{
    const QString lock = lockFileOf(port.device);
    if (lock.isEmpty())
        return QString();
    QFile file(lock);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    bool numeric = false;
    const qint64 pid = file.readLine(64).trimmed().toLongLong(&numeric);
    if (!numeric || pid <= 0 || pid > 0x7fffffff)
        return QString();
    const bool living = ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
    if (living) {
        QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
        QString name = comm.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(comm.readAll().trimmed()) : QString();
        name = name.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(name);
        *code = QSerialPort::PermissionError;
        return QStringLiteral("%1, which is in use by another program: process %2%3 holds it. Close that program and "
                              "try again.")
            .arg(subject(port))
            .arg(pid)
            .arg(name);
    }
    // A lock of an ended process is taken over, where this user may remove it.
    const QFileInfo folder(QFileInfo(lock).path());
    struct stat st {};
    const bool removable = ::access(QFile::encodeName(folder.filePath()).constData(), W_OK) == 0
                           && ::stat(QFile::encodeName(folder.filePath()).constData(), &st) == 0
                           && (!(st.st_mode & S_ISVTX) || QFileInfo(lock).ownerId() == ::getuid() || ::getuid() == 0);
    if (removable)
        return QString();
    *code = QSerialPort::PermissionError;
    return QStringLiteral("%1, which is locked by %2, a lock file that process %3 left when it ended; it belongs to "
                          "%4, so you cannot remove it. Ask the administrator to remove it (sudo rm %2).")
        .arg(subject(port), lock)
        .arg(pid)
        .arg(userName(QFileInfo(lock).ownerId()));
}
#endif

} // namespace

QString problemWithoutOpening(const ComPorts::Port &port, QSerialPort::SerialPortError *code)
{
    QSerialPort::SerialPortError unused = QSerialPort::NoError;
    if (!code)
        code = &unused;
    *code = QSerialPort::NoError;
#ifdef Q_OS_UNIX
    if (QString problem = kindProblem(port, code); !problem.isEmpty())
        return problem;
    if (!mayUse(port.device)) {
        *code = QSerialPort::PermissionError;
        return permissionProblem(port, QString());
    }
    return lockProblem(port, code);
#else
    Q_UNUSED(port);
    return QString();
#endif
}

QString problemOpening(const ComPorts::Port &port)
{
    if (QString problem = problemWithoutOpening(port); !problem.isEmpty())
        return problem;
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(port.device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const QString why = QString::fromLocal8Bit(std::strerror(errno));
        if (errno == EBUSY)
            return QStringLiteral("%1, which is in use by another program (%2). Close that program and try again.")
                .arg(subject(port), why);
        if (errno == EACCES || errno == EPERM)
            return permissionProblem(port, why);
        if (errno == ENXIO || errno == ENODEV || errno == EIO)
            return QStringLiteral("%1, which does not answer: no hardware is behind it (%2).").arg(subject(port), why);
        return QStringLiteral("%1, which could not be opened (%2).").arg(subject(port), why);
    }
    const bool tty = ::isatty(fd);
    ::close(fd);
    if (!tty)
        return QStringLiteral("%1, which is not a serial device but a character device of another kind.").arg(subject(port));
#endif
    return QString();
}

QString openFailure(const QSerialPort &serial, const ComPorts::Port &port)
{
    const QString why = serial.errorString();
#ifdef Q_OS_UNIX
    // A lock file or a permission tells more than the port layer's words.
    QSerialPort::SerialPortError code = QSerialPort::NoError;
    if (const QString problem = problemWithoutOpening(port, &code); !problem.isEmpty())
        return problem;
#endif
    switch (serial.error()) {
    case QSerialPort::DeviceNotFoundError:
        return QStringLiteral("%1, which is missing (%2).").arg(subject(port), why);
    case QSerialPort::PermissionError:
        return QStringLiteral("%1, which is in use by another program (%2). Close that program and try again; a "
                              "program that was killed may leave a serial device locked until it is unplugged, or a "
                              "simulator's until it is started again.")
            .arg(subject(port), why);
    default:
        break;
    }
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

} // namespace DeviceCheck
