// Listing, opening and closing the COM port.
#include "app/frmserialdata.h"

#include <QComboBox>

#include "app/portlist.h"

// Ports that exist but cannot be opened are listed too, greyed out, with the reason as their
// tool-tip. The list is listed again each time the user opens it while nothing is connected.
bool frmSerialData::ListComPorts()
{
    PortList::listOnOpen(
        lstPCCOM, [this] { return !m_closing && !session->portOpen() && !operationRunning(); },
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

bool frmSerialData::OpenComPort(int port, qint32 bitRate)
{
    // The device the list named for the number, or what the number names now when the list
    // has no such entry.
    ComPorts::Port chosen = PortList::lastListing(lstPCCOM).entry(port).port;
    if (!chosen.valid())
        chosen = ComPorts::port(port);
    if (!chosen.valid())
        chosen.number = port;
    const PortOpening opening = session->openPort(chosen, bitRate);
    if (!opening.message.isEmpty())
        MsgBox(opening.message);
    return opening.open;
}

void frmSerialData::CloseComPort()
{
    session->closePort();
}
