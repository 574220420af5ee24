#include "link/portlisting.h"

#include <QFileInfo>

#include "link/comports.h"
#include "link/kavolink.h"

namespace PortListing {

QList<Entry> list(KavoLink &link)
{
    QList<Entry> entries;
    const auto devices = ComPorts::portMap();
    for (auto it = devices.cbegin(); it != devices.cend(); ++it) {
        Entry entry;
        entry.number = it.key();
        entry.path = it.value();
        const QFileInfo info(entry.path);
        entry.device = info.isSymLink() ? (info.exists() ? info.canonicalFilePath() : info.symLinkTarget()) : entry.path;
        entry.usable = link.canOpen(entry.number, &entry.problem);
        entries << entry;
    }
    return entries;
}

} // namespace PortListing
