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
}

QStringList systemPorts()
{
    return source() ? source()() : defaultSystemPorts();
}

QMap<int, QString> portMap()
{
    QMap<int, QString> map;
#ifdef Q_OS_WIN
    for (int n = FirstPort; n <= LastPort; ++n)
        map.insert(n, QStringLiteral("COM%1").arg(n));
#else
    const QDir folder(portsFolder());
    for (int n = FirstPort; n <= LastPort; ++n) {
        const QFileInfo link(folder.filePath(QStringLiteral("COM%1").arg(n)));
        if (link.isSymLink() || link.exists())
            map.insert(n, link.filePath());
    }
    // The system's own ports fill the numbers no link claims, lowest first.
    int n = FirstPort;
    for (const QString &path : systemPorts()) {
        while (n <= LastPort && map.contains(n))
            ++n;
        if (n > LastPort)
            break;
        map.insert(n++, path);
    }
#endif
    return map;
}

QString devicePath(int n)
{
    return portMap().value(n);
}

} // namespace ComPorts
