#pragma once

#include <QList>
#include <QString>

class KavoLink;

// The COM numbers that name a device right now, and whether each can be opened.
namespace PortListing {

struct Entry {
    int number = 0;
    QString path;      // what the number names: a link in the ports folder, or a device
    QString device;    // the device behind it (on Windows the system's own name)
    bool usable = false;
    QString problem;   // when not usable: why, in words for the user

    QString name() const { return QStringLiteral("COM%1").arg(number); }
};

// In ascending COM order. Each port is opened and closed again through `link`, which must
// not be in use.
QList<Entry> list(KavoLink &link);

} // namespace PortListing
