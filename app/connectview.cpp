// The Open/Close button: the port and rate the user chose go to the session, which finds
// the module; the window shows what it found and switches to the connected state.
#include "app/frmserialdata.h"
#include "app/readabletext.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>

void frmSerialData::setConnectedState(bool isConnected)
{
    cmdOpenCOM->setText(isConnected ? QStringLiteral("Close") : QStringLiteral("Open"));
    lstPCCOM->setEnabled(!isConnected);
    lstPCBPS->setEnabled(!isConnected);
    updateButtons();
}

void frmSerialData::clearModuleValues()
{
    ReadableText::show(lblVersion, QString());
    for (QLabel *box : {lblStatus, lblCapacity, lblFreeSpace, outKAVOBPS, outWriteTimeout, outInputStyle, outFileOffset,
                        outBusyIndicator, outVolume, outLoopCount, outBassBoost, outUninterrupted})
        box->clear();
    // Back to the designed start, raising no handler: the controls show nothing of a module.
    for (QComboBox *list : {lstKAVOBPS, lstInputStyle}) {
        const QSignalBlocker quiet(list);
        list->setCurrentIndex(-1);
    }
    for (QScrollBar *spinner : {vscWriteTimeout, vscFileOffset, vscLoopCount, vscBBFreq, vscBBBoost}) {
        const QSignalBlocker quiet(spinner);
        spinner->setValue(spinner->maximum());
    }
    for (QScrollBar *spinner : {vscVolumeL, vscVolumeR}) {
        const QSignalBlocker quiet(spinner);
        spinner->setValue(0);
    }
    for (QLineEdit *box : {txtWriteTimeout, txtFileOffset, txtVolumeL, txtVolumeR, txtLoopCount, txtBBFreq, txtBBBoost})
        box->clear();
    // "Same as L" is the user's choice, not the module's, and stays.
    for (QCheckBox *box : {chkBusyIndicator, chkBassBoost, chkUninterrupted}) {
        const QSignalBlocker quiet(box);
        box->setChecked(false);
    }
    m_settingsComplete = false;
    updateButtons();
}

void frmSerialData::cmdOpenCOM_Click()
{
    // Open/Close, Read, Write and Play stay disabled until the click has run its course.
    OperationGuard operation(this, cmdOpenCOM);
    if (!operation.acquired())
        return;

    // Closing: nothing is sent to the module.
    if (connected()) {
        setConnectedState(false);
        CloseComPort();
        clearModuleValues();
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

    // Nothing of an earlier module stays to be written to this one.
    clearModuleValues();
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
    if (!session->portOpen() || session->aborted())
        return;
    // The port list may have been changed while the module answered on the port chosen
    // before: once connected it shows the port that is open, as the rate list its rate.
    if (const int open = lstPCCOM->findText(QStringLiteral("COM%1").arg(session->commPort())); open >= 0)
        lstPCCOM->setCurrentIndex(open);
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
    // The boxes follow KavoSession::cardInfoRead.
    const CardOutcome outcome = session->readCardInfo();
    if (!outcome.aborted)
        showMessages(outcome.messages);
}
