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
    // Open/Close, Read, Write and Play stay disabled until the click has run its course.
    OperationGuard operation(this);
    if (!operation.acquired())
        return;

    // Closing: nothing is sent to the module.
    if (connected()) {
        setConnectedState(false);
        CloseComPort();
        ShowStatus(QStringLiteral("Connection Closed"));
        return;
    }

    if (lstPCCOM->currentIndex() < 0) {
        MsgBox(QStringLiteral("Please select a COM port"));
        return;
    }

    // The lists stay usable during the attempt: the port name and the rate are read
    // from them at the moment they are used.
    const auto portName = [this] { return lstPCCOM->currentText(); };
    const auto showMismatch = [&](const QString &code) {
        MsgBox(portName() + QStringLiteral(" is not connected to a Kavo (SN reported: ") + code
               + QStringLiteral(" <> ") + IdentityCode + QStringLiteral(")"));
    };
    const auto showTimeOut = [&] {
        MsgBox(portName()
               + QStringLiteral(" is not connected to a Kavo or there was a time-out trying to connect to the Kavo"));
    };
    // A lost port or a closing window ends the attempt without further messages: the
    // status line has told the user already.
    const auto aborted = [this] { return link->operationAborted(); };

    if (chkAutoBitRate->isChecked()) {
        for (int i = 0; i < lstPCBPS->count(); ++i) {
            const QString rate = lstPCBPS->itemText(i);
            if (!OpenComPort(PortNumberOf(portName()), rate.toInt()))
                break;
            ShowStatus(QStringLiteral("Searching for Kavo at ") + rate + QStringLiteral(" bps"));
            if (!link->ProbeDevice()) {
                CloseComPort();
                if (aborted())
                    return;
                continue;
            }
            // The module answered at this rate: the search ends here, whatever its identity.
            lstPCBPS->setCurrentIndex(i);
            const QString code = ReadVersion();
            if (aborted())
                return;
            if (code != IdentityCode) {
                showMismatch(code);
                CloseComPort();
            }
            break;
        }
        if (!link->portOpen())
            showTimeOut();
    } else if (lstPCBPS->currentIndex() < 0) {
        MsgBox(QStringLiteral("Please select a bit rate for ") + portName());
    } else {
        ShowStatus(QStringLiteral("Opening ") + portName());
        if (OpenComPort(PortNumberOf(portName()), lstPCBPS->currentText().toInt())) {
            ShowStatus(QStringLiteral("Searching for Kavo at ") + lstPCBPS->currentText() + QStringLiteral(" bps"));
            if (link->ProbeDevice()) {
                const QString code = ReadVersion();
                if (aborted())
                    return;
                if (code != IdentityCode) {
                    showMismatch(code);
                    CloseComPort();
                }
            } else {
                if (aborted())
                    return;
                showTimeOut();
                CloseComPort();
            }
        }
    }

    // The connected check.
    if (!link->portOpen() || aborted())
        return;
    ShowCardInfo();
    if (aborted())
        return;
    ReadAllSettings();
    // The port may have gone while the settings were read; then the window stays
    // not connected and the status line says why.
    if (link->portOpen() && !aborted())
        setConnectedState(true);
}
