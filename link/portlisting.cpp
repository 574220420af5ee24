#include "link/portlisting.h"

#include "link/devicecheck.h"

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

Entry Listing::entry(int number) const
{
    for (const Entry &e : entries)
        if (e.number() == number)
            return e;
    return Entry();
}

Listing list(Check check)
{
    Listing listing;
    const ComPorts::Folder folder = ComPorts::folder();
    listing.folder = folder.path;
    listing.folderMessage = folder.problem.isEmpty() ? folder.notice
                                                     : (folder.notice.isEmpty() ? folder.problem
                                                                                : folder.notice + QLatin1Char(' ') + folder.problem);
    for (const ComPorts::Port &port : ComPorts::ports()) {
        Entry entry;
        entry.port = port;
        entry.problem = check == Check::Opening ? DeviceCheck::problemOpening(port)
                                                : DeviceCheck::problemWithoutOpening(port);
        entry.usable = entry.problem.isEmpty();
        listing.entries << entry;
    }
    return listing;
}

} // namespace PortListing
