#include "link/comports.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QSerialPortInfo>
#include <QSettings>
#include <algorithm>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace ComPorts {

namespace {

// --- the ports folder ------------------------------------------------------------------

#ifdef Q_OS_UNIX
QString userName(uid_t uid)
{
    if (const passwd *pw = ::getpwuid(uid))
        return QString::fromLocal8Bit(pw->pw_name);
    return QString::number(uid);
}

QString modeText(mode_t mode)
{
    return QStringLiteral("%1").arg(mode & 07777, 4, 8, QLatin1Char('0'));
}

// Why `path` may not serve as a private folder of this user, and what to do about it; empty
// when it may. A missing folder is no problem unless it must exist. A link is followed only
// where `followLink`. The advice is one the user can follow: what another user owns only
// that user or the administrator can remove, and a folder shared with others stays shared.
QString privacyProblem(const QString &path, bool mustExist, bool followLink, QString *fix = nullptr)
{
    QString ignored;
    if (!fix)
        fix = &ignored;
    *fix = QString();
    struct stat st {};
    const QByteArray name = QFile::encodeName(path);
    if ((followLink ? ::stat(name.constData(), &st) : ::lstat(name.constData(), &st)) != 0) {
        if (errno == ENOENT && !mustExist)
            return QString();
        if (errno == ENOENT)
            return QStringLiteral("does not exist");
        return QStringLiteral("cannot be examined (%1)").arg(QString::fromLocal8Bit(std::strerror(errno)));
    }
    const bool own = st.st_uid == ::geteuid();
    const QString elsewhere = QStringLiteral("set XDG_RUNTIME_DIR to a folder of your own that is closed to "
                                             "everyone else (mode 0700)");
    if (!own)
        *fix = QStringLiteral("Only user %1 or the administrator can remove it; or %2.")
                   .arg(userName(st.st_uid), elsewhere);
    else
        *fix = QStringLiteral("Remove it, then try again.");
    if (S_ISLNK(st.st_mode))
        return QStringLiteral("is a symbolic link, not a folder");
    if (!S_ISDIR(st.st_mode))
        return QStringLiteral("is not a folder");
    // Shared: a folder everyone may add to that keeps each one's entries apart (sticky, as
    // /tmp), or another user's that everyone may write to.
    if ((st.st_mode & S_ISVTX) || (!own && (st.st_mode & S_IWOTH))) {
        *fix = QStringLiteral("Leave it as it is, and %1.").arg(elsewhere);
        return QStringLiteral("is a folder shared with others (mode %1)").arg(modeText(st.st_mode));
    }
    if (!own)
        return QStringLiteral("belongs to user %1, not to you (%2)").arg(userName(st.st_uid), userName(::geteuid()));
    if (st.st_mode & 077) {
        *fix = QStringLiteral("Close it to everyone but you (chmod 700 %1), then try again.").arg(path);
        return QStringLiteral("is open to its group or others (mode %1, should be 0700)").arg(modeText(st.st_mode));
    }
    return QString();
}
#endif

// The folder kavoconfig/ports lies in, and why $XDG_RUNTIME_DIR was passed over. Without a
// private runtime folder it is one in the user's own home, never a shared one:
// $XDG_STATE_HOME/kavoconfig (when that is an absolute path), else ~/.local/state/kavoconfig.
// Empty when there is no home folder to put it in.
QString baseFolder(QString *notice)
{
#ifdef Q_OS_UNIX
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (!QDir::isAbsolutePath(state)) {
        QString home = qEnvironmentVariable("HOME");
        if (home.isEmpty())
            if (const passwd *pw = ::getpwuid(::geteuid()))
                home = QFile::decodeName(pw->pw_dir);
        state = home.isEmpty() ? QString() : home + QStringLiteral("/.local/state");
    }
    const QString fallback = state.isEmpty() ? QString() : QDir::cleanPath(state) + QStringLiteral("/kavoconfig");
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.isEmpty())
        return fallback;
    QString why;
    if (!QDir::isAbsolutePath(runtime))
        why = QStringLiteral("is not an absolute path");
    else
        why = privacyProblem(runtime, true, true);
    if (why.isEmpty())
        return runtime + QStringLiteral("/kavoconfig");
    *notice = QStringLiteral("XDG_RUNTIME_DIR (%1) %2, so the ports folder is %3/ports instead.")
                  .arg(runtime, why, fallback);
    return fallback;
#else
    Q_UNUSED(notice);
    return QDir::tempPath() + QStringLiteral("/kavoconfig");
#endif
}

// --- the system's serial ports ---------------------------------------------------------

// What every thread shares: where the system's ports come from, and what they were when
// last looked up (the look-up is slow, tens of milliseconds, and the set changes only when
// hardware comes or goes). Only under the lock.
struct SystemPortsState {
    QMutex lock;
    SystemPortsSource source;
    QList<SystemPort> known;
    bool looked = false;
};

SystemPortsState &systemState()
{
    static SystemPortsState state;
    return state;
}

// The remembered numbers in the user's configuration are read and written under this lock.
QMutex &numbersLock()
{
    static QMutex lock;
    return lock;
}

QList<SystemPort> defaultSystemPorts()
{
    QList<SystemPort> found;
    const auto infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos)
        found << SystemPort{info.systemLocation(), info.serialNumber()};
    std::sort(found.begin(), found.end(), [](const SystemPort &a, const SystemPort &b) { return a.path < b.path; });
    return found;
}

// --- COM numbers -----------------------------------------------------------------------

QString linkPath(const QString &folder, int n)
{
    return QDir(folder).filePath(QStringLiteral("COM%1").arg(n));
}

// The link COMn in the ports folder, when there is one (also when it points at nothing).
Port linkPort(const QString &folder, int n)
{
    Port port;
    if (folder.isEmpty())
        return port;
    const QFileInfo link(linkPath(folder, n));
    if (!link.isSymLink() && !link.exists())
        return port;
    port.number = n;
    port.path = link.filePath();
    port.viaLink = true;
    if (link.isSymLink())
        port.device = link.exists() ? link.canonicalFilePath() : link.symLinkTarget();
    else
        port.device = link.filePath();
    port.identity = QStringLiteral("link:") + port.device;
    return port;
}

// The remembered numbers, in the per-user configuration: COMn = what the number stands for.
const QString NumbersGroup = QStringLiteral("ComNumbers");

// Each program's main() names the organisation and the application (both "KavoConfig").
QSettings userSettings()
{
    return QSettings();
}

// COM n for every number that names a device. A system's port seen for the first time is
// remembered under the number it gets only where `remember` (a listing the user sees).
QMap<int, Port> buildMap(const QList<SystemPort> &system, bool remember)
{
    QMap<int, Port> map;
#ifdef Q_OS_WIN
    Q_UNUSED(system);
    for (int n = FirstPort; n <= LastPort; ++n) {
        Port port;
        port.number = n;
        port.path = port.device = QStringLiteral("COM%1").arg(n);
        port.identity = QStringLiteral("device:") + port.path;
        map.insert(n, port);
    }
#else
    const QString folder = portsFolder();
    for (int n = FirstPort; n <= LastPort; ++n)
        if (const Port link = linkPort(folder, n); link.valid())
            map.insert(n, link);
    if (system.isEmpty())
        return map;

    // An adapter is known by its serial number, unless another present port has the same.
    QHash<QString, int> serialCount;
    for (const SystemPort &sp : system)
        if (!sp.serialNumber.isEmpty())
            ++serialCount[sp.serialNumber];
    auto identityOf = [&](const SystemPort &sp) {
        return !sp.serialNumber.isEmpty() && serialCount.value(sp.serialNumber) == 1
                   ? QStringLiteral("serial:") + sp.serialNumber
                   : QStringLiteral("device:") + sp.path;
    };
    auto systemPort = [&](int n, const SystemPort &sp) {
        Port port;
        port.number = n;
        port.path = port.device = sp.path;
        port.identity = identityOf(sp);
        return port;
    };

    const QMutexLocker numbers(&numbersLock());
    QSettings settings = userSettings();
    settings.beginGroup(NumbersGroup);
    QMap<int, QString> remembered;
    for (int n = FirstPort; n <= LastPort; ++n) {
        const QString id = settings.value(QStringLiteral("COM%1").arg(n)).toString();
        if (!id.isEmpty())
            remembered.insert(n, id);
    }

    // First every port that has its number and may have it now (a link claims it first).
    struct Waiting {
        SystemPort port;
        bool hasNumber;
    };
    QList<Waiting> waiting;
    for (const SystemPort &sp : system) {
        const int n = remembered.key(identityOf(sp), 0);
        if (n && !map.contains(n))
            map.insert(n, systemPort(n, sp));
        else
            waiting << Waiting{sp, n != 0};
    }
    // Then the others, in name order, on the lowest number nobody claims; only when every
    // free number is remembered for an absent port does one of those go.
    auto freeNumber = [&](bool takeRemembered) {
        for (int n = FirstPort; n <= LastPort; ++n)
            if (!map.contains(n) && (takeRemembered || !remembered.contains(n)))
                return n;
        return 0;
    };
    for (const Waiting &w : std::as_const(waiting)) {
        int n = freeNumber(false);
        if (!n)
            n = freeNumber(true);
        if (!n)
            break;
        map.insert(n, systemPort(n, w.port));
        // A port whose own number a link holds borrows this one for now.
        if (!w.hasNumber && remember) {
            settings.setValue(QStringLiteral("COM%1").arg(n), identityOf(w.port));
            remembered.insert(n, identityOf(w.port));
        }
    }
    settings.endGroup();
#endif
    return map;
}

} // namespace

Folder folder()
{
    Folder f;
    const QString base = baseFolder(&f.notice);
    if (base.isEmpty()) {
        f.problem = QStringLiteral("There is no ports folder: neither XDG_RUNTIME_DIR nor a home folder (HOME) names "
                                   "a place for it. Set XDG_RUNTIME_DIR to a folder of your own that is closed to "
                                   "everyone else (mode 0700).");
        return f;
    }
    const QString ports = base + QStringLiteral("/ports");
#ifdef Q_OS_UNIX
    for (const QString &dir : {base, ports}) {
        QString fix;
        const QString why = privacyProblem(dir, false, false, &fix);
        if (!why.isEmpty()) {
            f.problem = QStringLiteral("The ports folder %1 is not used, so no COM link is read from it: %2 %3. %4")
                            .arg(ports, dir, why, fix);
            return f;
        }
    }
#endif
    f.path = ports;
    return f;
}

QString portsFolder()
{
    return folder().path;
}

bool ensurePortsFolder(QString *error)
{
    const Folder f = folder();
    QString why = f.problem;
#ifdef Q_OS_UNIX
    // mkdir -p: what is missing on the way (~/.local/state too) is made closed to everyone but
    // this user; what is there is left as it is, and the rule then judges the two last.
    if (why.isEmpty()) {
        const QStringList parts = f.path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
        QString dir;
        for (const QString &part : parts) {
            dir += QLatin1Char('/') + part;
            if (::mkdir(QFile::encodeName(dir).constData(), 0700) != 0 && errno != EEXIST) {
                why = QStringLiteral("Cannot create the ports folder %1: %2")
                          .arg(dir, QString::fromLocal8Bit(std::strerror(errno)));
                break;
            }
        }
        if (why.isEmpty())
            why = folder().problem;
    }
#else
    if (why.isEmpty() && !QDir().mkpath(f.path))
        why = QStringLiteral("Cannot create the ports folder %1").arg(f.path);
#endif
    if (error)
        *error = why;
    return why.isEmpty();
}

void setSystemPortsSource(SystemPortsSource s)
{
    SystemPortsState &state = systemState();
    const QMutexLocker locked(&state.lock);
    state.source = std::move(s);
    state.looked = false;
}

QList<SystemPort> systemPorts()
{
    SystemPortsState &state = systemState();
    const QMutexLocker locked(&state.lock);
    state.known = state.source ? state.source() : defaultSystemPorts();
    state.looked = true;
    return state.known;
}

namespace {
// The system's ports as last looked up, or looked up now when they never were.
QList<SystemPort> knownSystemPorts()
{
    {
        SystemPortsState &state = systemState();
        const QMutexLocker locked(&state.lock);
        if (state.looked)
            return state.known;
    }
    return systemPorts();
}
} // namespace

QMap<int, Port> ports()
{
    return buildMap(systemPorts(), true);
}

Port port(int n)
{
    if (n < FirstPort || n > LastPort)
        return Port();
#ifndef Q_OS_WIN
    // A link names its device at once; only other numbers need the system's ports.
    if (const Port link = linkPort(portsFolder(), n); link.valid())
        return link;
#endif
    return buildMap(knownSystemPorts(), false).value(n);
}

QString devicePath(int n)
{
    return port(n).path;
}

} // namespace ComPorts
