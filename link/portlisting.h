#pragma once

#include <QList>
#include <QString>

// The COM numbers that name a device right now, and whether each can be opened.
namespace PortListing {

struct Entry {
    int number = 0;
    QString path;      // what the number names: a link in the ports folder, or a device
    QString device;    // the device behind it (on Windows the system's own name)
    bool viaLink = false;
    bool usable = false;
    QString problem;   // when not usable: why, naming the COM number and the device, and what to do

    QString name() const { return QStringLiteral("COM%1").arg(number); }
};

struct Listing {
    QList<Entry> entries;   // in ascending COM order
    QString folder;         // the ports folder looked in; empty when it was refused
    // Why the ports folder was refused, or why $XDG_RUNTIME_DIR was passed over; empty when
    // all is well.
    QString folderMessage;

    bool anyUsable() const;
    QList<Entry> unusable() const;
};

// Lists every COM number that names a device; each device is opened and closed again. What
// the listing shows is what the numbers stand for when a port is opened next (see
// SerialControl::setPortOpen).
Listing list();

} // namespace PortListing
