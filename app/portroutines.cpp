// Listing the COM ports, and closing the one that is open.
#include <QComboBox>

#include "app/onsession.h"
#include "app/portlist.h"

// Ports that exist but cannot be used are listed too, greyed out, with the reason as their
// tool-tip. The list is listed again, opening nothing, each time the user opens it while
// nothing is connected.
bool frmSerialData::ListComPorts()
{
    PortList::listOnOpen(
        lstPCCOM, [this] { return !m_closing && !connected() && !operationRunning(); },
        [this](const QString &notice) {
            if (!m_closing)
                ShowStatus(notice);
        });
    // At start-up each port is also opened once, to see whether it opens; later listings
    // open nothing.
    QString notice;
    const PortListing::Listing listing = PortList::fill(lstPCCOM, &notice, PortListing::Check::Opening);
    if (!notice.isEmpty() && listing.anyUsable())
        ShowStatus(notice);
    return listing.anyUsable();
}

void frmSerialData::CloseComPort()
{
    // The port belongs to the session's thread: it closes there.
    m_worker->post([](KavoSession &session) { session.closePort(); });
}
