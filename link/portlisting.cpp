#include "link/portlisting.h"

#include "link/comports.h"
#include "link/serialcontrol.h"

namespace PortListing {

bool Listing::anyUsable() const
{
    for (const Entry &entry : entries)
        if (entry.usable)
            return true;
    return false;
}

QList<Entry> Listing::unusable() const
{
    QList<Entry> list;
    for (const Entry &entry : entries)
        if (!entry.usable)
            list << entry;
    return list;
}

Listing list()
{
    Listing listing;
    const ComPorts::Folder folder = ComPorts::folder();
    listing.folder = folder.path;
    listing.folderMessage = folder.problem.isEmpty() ? folder.notice
                                                     : (folder.notice.isEmpty() ? folder.problem
                                                                                : folder.notice + QLatin1Char(' ') + folder.problem);
    const auto ports = ComPorts::ports();
    ComPorts::noteListed(ports);
    for (const ComPorts::Port &port : ports) {
        Entry entry;
        entry.number = port.number;
        entry.path = port.path;
        entry.device = port.device;
        entry.viaLink = port.viaLink;
        entry.usable = SerialControl::probe(port, &entry.problem);
        listing.entries << entry;
    }
    return listing;
}

} // namespace PortListing
