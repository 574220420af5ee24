#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <functional>

// How COM numbers 1..16 map to devices.
//
// On Linux, COM n is the link named "COMn" in the per-user ports folder when such a link
// exists. The system's serial ports take the numbers no link claims: each keeps the number
// it first got, for this user, across restarts and other ports coming and going (the
// numbers are remembered in the per-user configuration, by the adapter's serial number
// where it has one, else by its device path); a port seen for the first time takes the
// lowest number that is neither claimed nor remembered for another port.
// On Windows COM n is the system's COMn.
namespace ComPorts {

constexpr int FirstPort = 1;
constexpr int LastPort = 16;

// --- the ports folder ------------------------------------------------------------------
// $XDG_RUNTIME_DIR/kavoconfig/ports when that variable names a folder of this user that is
// closed to group and others; otherwise a folder in the user's own home:
// $XDG_STATE_HOME/kavoconfig/ports (XDG_STATE_HOME only when absolute), else
// ~/.local/state/kavoconfig/ports. A folder on the way (kavoconfig, ports) that belongs to
// another user, is shared with or open to others, or is no folder at all is refused: no
// link is read from it. kavo-sim follows the same rule.
struct Folder {
    QString path;      // where COMn links are looked for; empty when the folder was refused
    QString problem;   // why it was refused, in words for the user
    QString notice;    // why $XDG_RUNTIME_DIR was passed over for the folder in the home
};
Folder folder();
// folder().path
QString portsFolder();
// Creates the ports folder (and the folder it lies in) where missing, closed to everyone
// but this user. False, with `error` set, when the folder is refused or cannot be made.
bool ensurePortsFolder(QString *error = nullptr);

// --- the system's serial ports ---------------------------------------------------------
struct SystemPort {
    QString path;           // the device, e.g. /dev/ttyUSB0
    QString serialNumber;   // the adapter's serial number; empty when it has none
};
// In name order. Tests replace the source so that a machine's own ports do not take part.
// Any thread may call these.
using SystemPortsSource = std::function<QList<SystemPort>()>;
void setSystemPortsSource(SystemPortsSource source);
QList<SystemPort> systemPorts();

// --- COM numbers -----------------------------------------------------------------------
struct Port {
    int number = 0;
    QString path;       // what COM n names: the link in the ports folder, or the system's device
    QString device;     // the device behind it (a link's target; on Windows the system's name)
    QString identity;   // what the number stands for: "link:<device>", "serial:<number>" or "device:<path>"
    bool viaLink = false;

    bool valid() const { return number > 0; }
    QString name() const { return QStringLiteral("COM%1").arg(number); }
};

// Every COM number that names a device right now (the system's ports looked up afresh), as
// a listing shows them to the user: a system's port seen for the first time is remembered
// under the number it got.
QMap<int, Port> ports();
// COM n; invalid when the number names nothing. A link is looked at directly; the system's
// ports come from their last look-up (the look-up is slow). Nothing is remembered.
Port port(int n);
// port(n).path
QString devicePath(int n);

} // namespace ComPorts
