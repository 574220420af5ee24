// The Open/Close button: the port and rate the user chose go to the session, which finds
// the module; the window shows what it found and switches to the connected state.
#include "app/frmserialdata.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

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

    ConnectRequest request;
    // The lists stay usable during the attempt: the port name is read from its list at
    // the moment it is used.
    request.portName = [this] { return lstPCCOM->currentText(); };
    for (int i = 0; i < lstPCBPS->count(); ++i)
        request.rates << lstPCBPS->itemText(i);
    request.automatic = chkAutoBitRate->isChecked();
    request.chosen = lstPCBPS->currentIndex();
    if (!request.automatic && request.chosen < 0) {
        MsgBox(QStringLiteral("Please select a bit rate for ") + lstPCCOM->currentText());
        return;
    }

    const ConnectOutcome outcome = session->connectModule(request);
    // A lost port or a closing window ends the attempt without further messages: the
    // status line has told the user already.
    if (outcome.aborted())
        return;
    showMessages(outcome.messages);

    // The connected check.
    if (!outcome.connected() || !session->portOpen() || session->aborted())
        return;
    ShowCardInfo();
    if (session->aborted())
        return;
    ReadAllSettings();
    // The port may have gone while the settings were read; then the window stays
    // not connected and the status line says why.
    if (session->portOpen() && !session->aborted())
        setConnectedState(true);
}

QString frmSerialData::ReadVersion()
{
    return session->readVersion().identity;
}

void frmSerialData::ShowCardInfo()
{
    lblStatus->clear();
    lblCapacity->clear();
    lblFreeSpace->clear();
    const CardOutcome outcome = session->readCardInfo();
    if (outcome.aborted)
        return;
    lblStatus->setText(outcome.info.status);
    lblCapacity->setText(outcome.info.capacity);
    lblFreeSpace->setText(outcome.info.freeSpace);
}
