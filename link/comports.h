#pragma once

#include <QMap>
#include <QString>
#include <QStringList>
#include <functional>

// How COM numbers 1..16 map to devices.
//
// On Linux, COM n is the link named "COMn" in the per-user ports folder
// (<runtime folder>/kavoconfig/ports) when such a link exists; the system's serial
// ports, in name order, take the numbers that no link claims, lowest first.
// On Windows COM n is the system's COMn.
namespace ComPorts {

constexpr int FirstPort = 1;
constexpr int LastPort = 16;

QString portsFolder();

// COM number -> device path, for every number that names a device right now.
QMap<int, QString> portMap();

// The device behind COM n, or an empty text when none.
QString devicePath(int n);

// The system's serial ports (device paths, in name order). Tests replace the source so
// that a machine's own ports do not take part.
using SystemPortsSource = std::function<QStringList()>;
void setSystemPortsSource(SystemPortsSource source);
QStringList systemPorts();

} // namespace ComPorts
