// The Open/Close button: opening the chosen port, finding the module at the chosen bit
// rate or at every rate in turn, checking its identity, and the connected state.
#include "app/frmserialdata.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>

namespace {
const QString IdentityCode = QStringLiteral("KAV1");
}

void frmSerialData::setConnectedState(bool isConnected)
{
    cmdOpenCOM->setText(isConnected ? QStringLiteral("Close") : QStringLiteral("Open"));
    lstPCCOM->setEnabled(!isConnected);
    lstPCBPS->setEnabled(!isConnected);
    updateButtons();
}

void frmSerialData::cmdOpenCOM_Click()
{
    OperationGuard operation(this);
    if (!operation.acquired())
        return;

    if (connected()) {
        CloseComPort();
        setConnectedState(false);
        ShowStatus(QStringLiteral("Connection Closed"));
        return;
    }

    if (lstPCCOM->currentIndex() < 0) {
        MsgBox(QStringLiteral("Please select a COM port"));
        return;
    }
    const QString portName = lstPCCOM->currentText();
    const QString mismatch = portName + QStringLiteral(" is not connected to a Kavo (SN reported: %1 <> ")
                             + IdentityCode + QStringLiteral(")");
    const QString timeOut = portName
        + QStringLiteral(" is not connected to a Kavo or there was a time-out trying to connect to the Kavo");

    if (chkAutoBitRate->isChecked()) {
        for (int i = 0; i < lstPCBPS->count(); ++i) {
            const int port = PortNumberOf(lstPCCOM->currentText());
            if (!OpenComPort(port, lstPCBPS->itemText(i).toInt()))
                break;
            ShowStatus(QStringLiteral("Searching for Kavo at ") + lstPCBPS->itemText(i) + QStringLiteral(" bps"));
            if (!link->ProbeDevice()) {
                CloseComPort();
                if (link->operationAborted())
                    break;
                continue;
            }
            lstPCBPS->setCurrentIndex(i);
            const QString code = ReadVersion();
            if (code != IdentityCode) {
                MsgBox(mismatch.arg(code));
                CloseComPort();
            }
            break;
        }
        if (!link->portOpen())
            MsgBox(timeOut);
    } else {
        if (lstPCBPS->currentIndex() < 0) {
            MsgBox(QStringLiteral("Please select a bit rate for ") + portName);
        } else {
            ShowStatus(QStringLiteral("Opening ") + portName);
            if (OpenComPort(PortNumberOf(portName), lstPCBPS->currentText().toInt())) {
                ShowStatus(QStringLiteral("Searching for Kavo at ") + lstPCBPS->currentText() + QStringLiteral(" bps"));
                if (link->ProbeDevice()) {
                    const QString code = ReadVersion();
                    if (code != IdentityCode) {
                        MsgBox(mismatch.arg(code));
                        CloseComPort();
                    }
                } else {
                    MsgBox(timeOut);
                    CloseComPort();
                }
            }
        }
    }

    // The connected check.
    if (link->portOpen() && !link->operationAborted()) {
        ShowCardInfo();
        ReadAllSettings();
        if (link->portOpen())
            setConnectedState(true);
    }
}
