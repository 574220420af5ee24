#pragma once

#include <QList>
#include <QString>

#include "link/comports.h"

// The COM numbers that name a device right now, and whether each can be used.
namespace PortListing {

struct Entry {
    ComPorts::Port port;   // what the number names: opened as such once chosen
    bool usable = false;
    QString problem;       // when not usable: why, naming the COM number and the device, and what to do

    int number() const { return port.number; }
    QString name() const { return port.name(); }
};

struct Listing {
    QList<Entry> entries;   // in ascending COM order
    QString folder;         // the ports folder looked in; empty when it was refused
    // Why the ports folder was refused, or why $XDG_RUNTIME_DIR was passed over; empty when
    // all is well.
    QString folderMessage;

    bool anyUsable() const;
    QList<Entry> unusable() const;
    // The entry for COM `number`; an invalid port when the listing has none.
    Entry entry(int number) const;
};

// How a listing judges each device.
enum class Check {
    // By what can be seen from outside (missing, no serial device, no permission, a lock
    // file of a process that holds it): nothing is opened, so nothing another program
    // waits to read is taken and no modem line moves. A program that holds a device
    // without a lock file shows when the port is opened.
    WithoutOpening,
    // Each device is also opened and closed again, and nothing more (start-up, once).
    Opening,
};

Listing list(Check check = Check::WithoutOpening);

} // namespace PortListing
