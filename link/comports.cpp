#include "link/comports.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QStandardPaths>
#include <algorithm>

namespace ComPorts {

namespace {

SystemPortsSource &source()
{
    static SystemPortsSource s;
    return s;
}

// The system's ports as last looked up: the look-up is slow (tens of milliseconds), and
// the set changes only when hardware comes or goes.
QStringList &knownSystemPorts()
{
    static QStringList ports;
    return ports;
}

bool &systemPortsKnown()
{
    static bool known = false;
    return known;
}

QString linkPath(int n)
{
    return QDir(portsFolder()).filePath(QStringLiteral("COM%1").arg(n));
}

QStringList defaultSystemPorts()
{
    QStringList paths;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports)
        paths << info.systemLocation();
    std::sort(paths.begin(), paths.end());
    return paths;
}

} // namespace

QString portsFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation)
           + QStringLiteral("/kavoconfig/ports");
}

void setSystemPortsSource(SystemPortsSource s)
{
    source() = std::move(s);
    systemPortsKnown() = false;
}

QStringList systemPorts()
{
    knownSystemPorts() = source() ? source()() : defaultSystemPorts();
    systemPortsKnown() = true;
    return knownSystemPorts();
}

static QMap<int, QString> buildMap(bool fresh)
{
    QMap<int, QString> map;
#ifdef Q_OS_WIN
    for (int n = FirstPort; n <= LastPort; ++n)
        map.insert(n, QStringLiteral("COM%1").arg(n));
#else
    for (int n = FirstPort; n <= LastPort; ++n) {
        const QFileInfo link(linkPath(n));
        if (link.isSymLink() || link.exists())
            map.insert(n, link.filePath());
    }
    // The system's own ports fill the numbers no link claims, lowest first.
    int n = FirstPort;
    for (const QString &path : (fresh ? systemPorts() : knownSystemPorts())) {
        while (n <= LastPort && map.contains(n))
            ++n;
        if (n > LastPort)
            break;
        map.insert(n++, path);
    }
#endif
    return map;
}

QMap<int, QString> portMap()
{
    return buildMap(true);
}

QString devicePath(int n)
{
#ifndef Q_OS_WIN
    // A link names its device at once; only other numbers need the system's ports.
    const QFileInfo link(linkPath(n));
    if (link.isSymLink() || link.exists())
        return link.filePath();
#endif
    return buildMap(!systemPortsKnown()).value(n);
}

} // namespace ComPorts
