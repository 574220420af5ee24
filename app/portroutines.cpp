// Listing, opening and closing the COM port.
#include "app/frmserialdata.h"

#include <QComboBox>

#include "link/portlisting.h"

bool frmSerialData::ListComPorts()
{
    bool found = false;
    for (const PortListing::Entry &port : PortListing::list(session->link())) {
        if (!port.usable)
            continue;
        lstPCCOM->addItem(port.name());
        lstPCCOM->setItemData(lstPCCOM->count() - 1, port.path, Qt::ToolTipRole);
        found = true;
    }
    lstPCCOM->setCurrentIndex(-1);
    return found;
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
