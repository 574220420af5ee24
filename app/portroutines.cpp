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
    QString notice;
    const PortListing::Listing listing = PortList::fill(lstPCCOM, &notice);
    if (!notice.isEmpty() && listing.anyUsable())
        ShowStatus(notice);
    return listing.anyUsable();
}

bool frmSerialData::OpenComPort(int port, qint32 bitRate)
{
    const PortOpening opening = session->openPort(port, bitRate);
    if (!opening.message.isEmpty())
        MsgBox(opening.message);
    return opening.open;
}

void frmSerialData::CloseComPort()
{
    session->closePort();
}

int frmSerialData::PortNumberOf(const QString &portName)
{
    return KavoSession::portNumberOf(portName);
}
