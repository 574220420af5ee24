// Listing, opening and closing the COM port.
#include "app/frmserialdata.h"

#include <QComboBox>

#include "link/comports.h"

bool frmSerialData::ListComPorts()
{
    bool found = false;
    const auto devices = ComPorts::portMap();
    for (int n = ComPorts::FirstPort; n <= ComPorts::LastPort; ++n) {
        if (!devices.contains(n) || !link->canOpen(n))
            continue;
        lstPCCOM->addItem(QStringLiteral("COM%1").arg(n));
        lstPCCOM->setItemData(lstPCCOM->count() - 1, devices.value(n), Qt::ToolTipRole);
        found = true;
    }
    lstPCCOM->setCurrentIndex(-1);
    return found;
}

bool frmSerialData::OpenComPort(int port, qint32 bitRate)
{
    QString error;
    link->openPort(port, bitRate, &error);
    if (!error.isEmpty())
        MsgBox(QStringLiteral("Com%1 is not available.\r\n%2").arg(QString::number(link->MSComm1->CommPort()), error));
    return link->portOpen();
}

void frmSerialData::CloseComPort()
{
    link->closePort();
}

int frmSerialData::PortNumberOf(const QString &portName)
{
    bool ok = false;
    const int n = portName.mid(3).toInt(&ok);
    return ok ? n : 0;
}
